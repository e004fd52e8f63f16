// A page's barcodes from any picture, and a separator pattern from anyone: the codes taken are
// clean and short, the matching ends, nothing crashes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reading/barcodes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // The first byte the width, the rest the grey pixels, row after row.
  const int width = data[0] + 1;
  const int height = static_cast<int>((size - 1) / static_cast<std::size_t>(width));
  const auto codes = kvtread::Barcodes(data + 1, width, height, width);
  for (const auto& c : codes) {
    if (c.empty() || c.size() > kvtread::kMostBarcodeBytes) __builtin_trap();
    for (const char ch : c) {
      if (static_cast<unsigned char>(ch) <= 0x20 || ch == 0x7F) __builtin_trap();
    }
  }
  // The bytes as both a code and a pattern: the match ends, and a pattern matches itself when
  // it holds no wildcard.
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)kvtread::AnyMatches({text}, text);
  if (text.find_first_of("*?") == std::string::npos && !kvtread::AnyMatches({text}, text)) {
    __builtin_trap();
  }
  (void)kvtread::AnyMatches({text.substr(0, size / 2)}, text.substr(size / 2));
  return 0;
}
