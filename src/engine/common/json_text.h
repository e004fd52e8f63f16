// The JSON both engines keep values in, read and written the same way: a string's escapes,
// and the bytes of a text no database keeps whole (a NUL, or not UTF-8) as hexadecimal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kvtengine {

/// Decodes the JSON string that starts at s[i] (its opening quote) onto `out` and moves `i`
/// past its closing quote. False for what is no JSON string or what a database would cut or
/// change: a lone surrogate, a raw control character, and a NUL (\u0000) unless `keep_nul`.
bool ReadJsonString(std::string_view s, std::size_t& i, std::string& out, bool keep_nul = false);

/// Appends each byte as two lower-case hexadecimal digits.
void AppendHex(std::string& out, std::string_view bytes);
/// The bytes of an even run of hexadecimal digits (either case); false for anything else.
bool ReadHex(std::string_view hex, std::string& bytes);

}  // namespace kvtengine
