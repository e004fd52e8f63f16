// Reads the words off a kept file's pages: a PDF's own text where a page has one, otherwise the
// page drawn and read by OCR (Tesseract, Italian), as scans (TIFF of many pages, JPEG, PNG) are.
// Every page within a budget of pixels, characters and time: a page over it is said, not read.
#pragma once

#include <QImage>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/files/page_text.h"

namespace kvtread {

/// What one page may cost.
struct PageBudget {
  std::int64_t max_pixels = 80'000'000;  // a page drawn or decoded larger is not read
  std::chrono::milliseconds ocr_time{30'000};
  int max_pages = 2000;  // pages after these are not read
  int dpi = 300;         // a PDF page without text is drawn at this resolution for OCR
};

/// The reader's name as kept with each reading: a file read by another (an older model) is read
/// again by `archive reindex`.
std::string ReaderName();

/// One OCR engine, for one thread at a time (each worker has its own).
class Ocr {
 public:
  /// Loads the Italian model; raises when it is not installed.
  Ocr();
  ~Ocr();
  Ocr(const Ocr&) = delete;
  Ocr& operator=(const Ocr&) = delete;

  /// A page being read stops (as over its time) once `flag` is true.
  void CancelWhen(const std::atomic<bool>* flag) { cancel_ = flag; }
  /// The words of a grey (8-bit) image of `dpi`, boxes in its pixels; false when the budget's
  /// time ran out.
  bool Read(const unsigned char* grey, int width, int height, int bytes_per_line, int dpi,
            std::chrono::milliseconds budget, kvtfiles::PageText& page);

 private:
  struct Engine;
  std::unique_ptr<Engine> engine_;
  const std::atomic<bool>* cancel_ = nullptr;
};

/// Reads a file's pages from its bytes; `ocr` reads those without text. What cannot be read
/// (not a PDF or an image, damaged, over the budget) is said in `failure`, the pages read before
/// kept.
kvtfiles::FileReading ReadPages(const std::string& bytes, Ocr& ocr, const PageBudget& budget = {});
/// Told of each page read by OCR, as drawn or scanned, on the thread reading it.
using PageSeen = std::function<void(int page, const QImage& scan, int dpi)>;
/// The same with a thread per OCR engine of `ocrs`, the pages read in order; the reading is the
/// one `ocrs`' first alone would give.
kvtfiles::FileReading ReadPages(const std::string& bytes, const std::vector<Ocr*>& ocrs,
                                const PageBudget& budget = {}, const PageSeen& seen = {});
/// The same for the file at `path`, read from there: a stack of any size is never in memory.
kvtfiles::FileReading ReadPagesAt(const std::string& path, const std::vector<Ocr*>& ocrs,
                                  const PageBudget& budget = {}, const PageSeen& seen = {});

}  // namespace kvtread
