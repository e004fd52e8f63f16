// Reading pages:
// - BM_OcrPage: one generated 300-dpi page of an Italian invoice read by the program (one OCR
//   thread) against the `tesseract` program on the same image, one thread, in the same run:
//   vs_tesseract_cli; words_right, the share of the PDF's words the scan gave back, and
//   cli_words_right the same of the program's.
// - BM_IntakeStack/200: a stack of 200 scanned pages (the generator's invoices, delivery notes
//   and letters at 300 dpi, specked and skewed, a blank sheet after each document, as a
//   scanner's PDF of JPEG pages) taken into an archive: kept, read by a worker per core, split
//   at the blank sheets, each document's pages cut into a file of its own. vs_ocr_alone: its
//   time against 200 × one page's OCR time ÷ the workers, that time the mean of the stack's
//   first twelve pages each read alone (a scan of one page, one thread) in the same run;
//   peak_rss_mb; lost and doubled: pages the ledger misses or holds twice.
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

#include <sys/resource.h>

#include <QFile>
#include <memory>
#include <thread>

#include "document_generator.h"
#include "engine/sqlite/sqlite_engine.h"
#include "reading/intake.h"
#include "reading/page_reader.h"
#include "reading/scans_pdf.h"

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

double PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

// The stack as a scanner writes it, a page at a time; returns its pages. Its first `sample`
// pages are written alone too (sample-N.tif), to be read one by one.
int WriteStack(const std::filesystem::path& dir, int pages, int sample) {
  QFile out(QString::fromStdString((dir / "pila.pdf").string()));
  if (!out.open(QIODevice::WriteOnly)) return 0;
  kvtread::ScansPdf pdf(out);
  QImage blank(2480, 3508, QImage::Format_Grayscale8);  // A4 at 300 dpi
  blank.fill(244);
  for (int i = 0; i < 60; ++i) blank.setPixel(97 * i % 2480, 131 * i % 3508, 60);
  int written = 0;
  auto add = [&](const QImage& page) {
    if (written < sample) {
      kvttestdata::WriteTiff({page}, 300,
                             (dir / ("sample-" + std::to_string(written) + ".tif")).string());
    }
    pdf.Add(kvtread::EncodePage(page, 300));
    ++written;
  };
  for (int n = 1; written < pages; ++n) {
    if (n > 1) add(blank);
    for (const auto& page :
         kvttestdata::Scan(kvttestdata::MakeDocument(17, n), 300, static_cast<std::uint64_t>(n))) {
      add(page);
    }
  }
  pdf.Finish();
  return written;
}

void BM_IntakeStack(benchmark::State& state) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("kvt-intake-bench-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string stack = (dir / "pila.pdf").string();
  constexpr int kSample = 12;
  const int pages = WriteStack(dir, static_cast<int>(state.range(0)), kSample);
  const int workers = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  std::vector<std::unique_ptr<kvtread::Ocr>> ocrs;
  std::vector<kvtread::Ocr*> readers;
  for (int i = 0; i < workers; ++i) {
    readers.push_back(ocrs.emplace_back(std::make_unique<kvtread::Ocr>()).get());
  }
  // The stack's first pages (documents and separators as they come) read alone, one thread,
  // each as a scan of one page: the pace of one page the stack is measured against.
  double alone = 0;
  for (int i = 0; i < kSample; ++i) {
    const std::string one = Bytes((dir / ("sample-" + std::to_string(i) + ".tif")).string());
    const auto start = Clock::now();
    kvtread::ReadPages(one, *readers.front());
    alone += std::chrono::duration<double>(Clock::now() - start).count();
  }
  alone /= kSample;
  double took = 0;
  int lost = 0, doubled = 0, documents = 0;
  for (auto _ : state) {
    const std::string db = (dir / "archivio.kvtdb").string();
    std::filesystem::remove(db);
    auto engine = kvtsqlite::SqliteEngine::Open(db, true);
    const auto start = Clock::now();
    const auto in =
        kvtread::TakeIn(*engine, readers, "Fatture", stack, kvtread::Split::kBlankPages);
    took = std::chrono::duration<double>(Clock::now() - start).count();
    documents = in.documents;
    std::vector<int> seen(static_cast<std::size_t>(pages) + 1, 0);
    for (const auto& i : engine->IntakeLedger("Fatture")) {
      for (int p = i.first_page; p < i.first_page + i.pages && p <= pages; ++p) ++seen[p];
    }
    for (int p = 1; p <= pages; ++p) {
      lost += seen[static_cast<std::size_t>(p)] == 0;
      doubled += seen[static_cast<std::size_t>(p)] > 1;
    }
  }
  const double ocr_alone = pages * alone / workers;
  state.counters["vs_ocr_alone"] = took / ocr_alone;
  state.counters["seconds"] = took;
  state.counters["page_ocr_ms"] = alone * 1000;
  state.counters["pages"] = pages;
  state.counters["documents"] = documents;
  state.counters["workers"] = workers;
  state.counters["peak_rss_mb"] = PeakRssMb();
  state.counters["lost"] = lost;
  state.counters["doubled"] = doubled;
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_IntakeStack)->Arg(200)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QGuiApplication app(argc, argv);  // the test documents are drawn with fonts
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
