// Scanned pages as a PDF: an image filling each page at its resolution, the way a scanner writes
// one. Pages are encoded on their own (on any thread) and written in order; nothing in the file
// depends on when it was written, so the same pages always give the same bytes.
#pragma once

#include <QIODevice>
#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

namespace kvtread {

/// One page encoded for a PDF: black and white losslessly (1 bit a pixel, Flate), grey and
/// colour as JPEG.
struct EncodedPage {
  enum class Kind { kBits, kGrey, kColour };
  Kind kind = Kind::kGrey;
  int width = 0, height = 0, dpi = 300;
  std::string data;
};
/// Encodes `scan` of `dpi`; raises when the image cannot be encoded.
EncodedPage EncodePage(const QImage& scan, int dpi);

class ScansPdf {
 public:
  /// Writes to `out` (open for writing); every write is checked and a failed one raises.
  explicit ScansPdf(QIODevice& out);
  /// The next page.
  void Add(const EncodedPage& page);
  /// The page tree, the catalogue and the cross-reference table: the file is whole.
  void Finish();

 private:
  // Starts the next object; object 1, the page tree, is written last.
  int Begin();
  void Put(std::string_view text);

  QIODevice& out_;
  std::int64_t written_ = 0;
  std::vector<std::int64_t> offsets_{0};  // object 1's place, filled in by Finish
  std::vector<int> pages_;
};

}  // namespace kvtread
