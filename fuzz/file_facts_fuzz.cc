// A document's file from anywhere: its pages are counted (a PDF in pieces of any size, a TIFF's
// chain of directories) without a hang, a crash or a count out of bounds, and a reference text
// reads back as written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/files/file_facts.h"
#include "engine/files/stored_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The first byte sets the size of the pieces the PDF counter is fed.
  const std::size_t piece = size == 0 ? 1 : 1 + data[0] % 64;
  kvtfiles::PdfPageCounter pdf;
  for (std::size_t at = 0; at < size; at += piece) pdf.Feed(bytes.substr(at, piece));
  if (pdf.Pages() < 0 || pdf.Pages() > 10'000'000) __builtin_trap();

  const std::int32_t tiff = kvtfiles::TiffPages(kvtfiles::ReadAtBytes(bytes), size);
  if (tiff < 0 || tiff > kvtfiles::kMaxTiffPages) __builtin_trap();

  if (const auto ref = kvtfiles::ParseFileRef(bytes)) {
    if (kvtfiles::FileRefText(*ref) != bytes) __builtin_trap();
  }
  return 0;
}
