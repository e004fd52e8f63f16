// Writes test documents: make-test-documents DIR [COUNT [SEED]] writes COUNT (default 9)
// invoices, delivery notes and letters as PDFs and 200 dpi scans into DIR, with verita.json;
// make-test-documents --pila DIR [COUNT [SEED]] a day's stack of COUNT (default 50) suppliers'
// documents scanned at 300 dpi with blank sheets between, DIR/pila.pdf, with verita.json.
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "document_generator.h"
#include "scanned_stack.h"

int main(int argc, char** argv) {
  const bool stack = argc > 1 && std::strcmp(argv[1], "--pila") == 0;
  const int at = stack ? 2 : 1;
  if (argc <= at) {
    std::fprintf(stderr, "usage: make-test-documents [--pila] DIR [COUNT [SEED]]\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  const std::string dir = argv[at];
  const int count = argc > at + 1 ? std::atoi(argv[at + 1]) : stack ? 50 : 9;
  const std::uint64_t seed = argc > at + 2 ? std::strtoull(argv[at + 2], nullptr, 10) : 1;
  std::filesystem::create_directories(dir);
  try {
    if (stack) {
      const auto written = kvttestdata::WriteStackPdf(dir + "/pila.pdf", count, seed);
      std::ofstream truth(dir + "/verita.json");
      truth << kvttestdata::StackTruthJson(written);
      if (!truth.flush()) throw std::runtime_error("cannot write " + dir + "/verita.json");
      std::printf("%zu documenti, %d pagine in %s/pila.pdf (verita.json)\n",
                  written.documents.size(), written.pages, dir.c_str());
      return 0;
    }
    const auto written = kvttestdata::WriteSet(dir, count, seed);
    std::printf("%zu documenti in %s (verita.json)\n", written.size(), dir.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-test-documents: %s\n", e.what());
    return 1;
  }
  return 0;
}
