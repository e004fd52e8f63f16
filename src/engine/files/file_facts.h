// What is read off a file's bytes as it is stored: its media type (libmagic, from the first
// bytes) and its page count (a PDF's page tree as the bytes go by, a TIFF's image directories).
// The bytes are untrusted: every count and offset is bounded, nothing loops.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kvtfiles {

/// The media type libmagic reads off a file's first bytes; "application/octet-stream" when it
/// knows none, "application/x-empty" for no bytes.
std::string MediaTypeOf(std::string_view head);

/// Counts a PDF's pages from the bytes given piece by piece: the largest /Count of a /Pages
/// node seen. A page tree kept in compressed object streams is not seen: 0 (not known).
class PdfPageCounter {
 public:
  void Feed(std::string_view piece);
  std::int32_t Pages() const { return pages_; }

 private:
  void Scan(std::string_view window);
  std::string tail_;  // the end of the last piece, for a token cut in two
  std::int32_t pages_ = 0;
};

/// Reads up to `n` bytes at `offset` into `out`; returns how many it read.
using ReadAt = std::function<std::size_t(std::uint64_t offset, char* out, std::size_t n)>;
/// A ReadAt over bytes in memory (which must outlive it).
ReadAt ReadAtBytes(std::string_view bytes);
/// The pages of a TIFF file of `size` bytes (its chain of image directories, a loop or an
/// offset outside the file ending it), or 0 when it is no TIFF; at most kMaxTiffPages.
std::int32_t TiffPages(const ReadAt& read_at, std::uint64_t size);
inline constexpr std::int32_t kMaxTiffPages = 100000;

/// The pages of a file of `media_type`: the PDF counter's, a TIFF's directories, 1 for other
/// images, 0 for anything else.
std::int32_t PagesOf(const std::string& media_type, const PdfPageCounter& pdf,
                     const ReadAt& read_at, std::uint64_t size);

}  // namespace kvtfiles
