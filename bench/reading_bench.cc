// Reading pages:
// - BM_OcrPage: one generated 300-dpi page of an Italian invoice read by the program (one OCR
//   thread) against the `tesseract` program on the same image, one thread, in the same run:
//   vs_tesseract_cli; words_right, the share of the PDF's words the scan gave back, and
//   cli_words_right the same of the program's.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "document_generator.h"
#include "reading/page_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, int> Counted(const kvtfiles::FileReading& r) {
  std::map<std::string, int> out;
  for (const auto& p : r.pages) {
    for (const auto& w : p.words) ++out[w.text];
  }
  return out;
}

void BM_OcrPage(benchmark::State& state) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("kvt-ocr-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const kvttestdata::Document d = kvttestdata::MakeDocument(3, 1);  // a one-page invoice
  const std::string pdf = (dir / "pagina.pdf").string(), tiff = (dir / "pagina.tif").string();
  kvttestdata::WritePdf(d, pdf);
  auto pages = kvttestdata::Scan(d, 300, 9);
  pages.resize(1);
  kvttestdata::WriteTiff(pages, 300, tiff);
  const std::string scan = Bytes(tiff);
  kvtread::Ocr ocr;
  const auto truth = Counted(kvtread::ReadPages(Bytes(pdf), ocr));
  setenv("OMP_THREAD_LIMIT", "1", 1);
  const std::string cli =
      "tesseract '" + tiff + "' '" + (dir / "out").string() + "' -l ita >/dev/null 2>&1";
  std::vector<double> ours, theirs;
  kvtfiles::FileReading read;
  for (auto _ : state) {
    for (int r = 0; r < 3; ++r) {
      auto start = Clock::now();
      read = kvtread::ReadPages(scan, ocr);
      ours.push_back(std::chrono::duration<double>(Clock::now() - start).count());
      start = Clock::now();
      if (std::system(cli.c_str()) != 0) state.SkipWithError("the tesseract program failed");
      theirs.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
  }
  const auto got = Counted(read);
  int all = 0, right = 0;
  for (const auto& [word, n] : truth) {
    all += n;
    const auto it = got.find(word);
    right += it == got.end() ? 0 : std::min(n, it->second);
  }
  state.counters["vs_tesseract_cli"] = Median(ours) / Median(theirs);
  state.counters["page_ms"] = Median(ours) * 1000;
  state.counters["cli_ms"] = Median(theirs) * 1000;
  state.counters["words_right"] = all ? static_cast<double>(right) / all : 0;
  // The tesseract program's words, as right: the same model reads the same page.
  std::map<std::string, int> cli_got;
  std::ifstream out(dir / "out.txt");
  for (std::string w; out >> w;) ++cli_got[w];
  int cli_right = 0;
  for (const auto& [word, n] : truth) {
    const auto it = cli_got.find(word);
    cli_right += it == cli_got.end() ? 0 : std::min(n, it->second);
  }
  state.counters["cli_words_right"] = all ? static_cast<double>(cli_right) / all : 0;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_OcrPage)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);  // the test documents are drawn with fonts
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
