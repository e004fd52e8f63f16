// Writes a set of test documents: make-test-documents DIR [COUNT [SEED]] writes COUNT (default
// 9) invoices, delivery notes and letters as PDFs and 200 dpi scans into DIR, with verita.json.
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "document_generator.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make-test-documents DIR [COUNT [SEED]]\n");
    return 2;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);
  const int count = argc > 2 ? std::atoi(argv[2]) : 9;
  const std::uint64_t seed = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1;
  std::filesystem::create_directories(argv[1]);
  const auto written = kvttestdata::WriteSet(argv[1], count, seed);
  std::printf("%zu documenti in %s (verita.json)\n", written.size(), argv[1]);
  return 0;
}
