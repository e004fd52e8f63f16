// The barcodes printed on a scanned page: a separator sheet between the documents of a stack
// says so with one. What a code holds is somebody else's text: it is kept clean and short.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvtread {

/// The longest text kept of a barcode.
inline constexpr std::size_t kMostBarcodeBytes = 200;

/// The text of the barcode on a grey image (`width` × `height`, `stride` bytes a row) (one: a
/// separator sheet holds one), cleaned as a page's words are (no control, blank or bidi
/// character) and cut to kMostBarcodeBytes; none when there is none or it is empty.
std::vector<std::string> Barcodes(const unsigned char* grey, int width, int height, int stride);

/// True when one of `codes` matches `pattern`, written as a person writes one: `*` any run of
/// characters, `?` any one, the rest itself.
bool AnyMatches(const std::vector<std::string>& codes, std::string_view pattern);

}  // namespace kvtread
