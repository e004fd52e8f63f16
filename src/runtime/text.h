// Text services of the runtime: the one locale setting, locale-aware numbers and letter case
// (through ICU), and character counts of UTF-8 text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kvt {

/// Sets the runtime's locale (an ICU locale id such as "it_IT"); the default is "it_IT".
/// An id that ICU does not know raises error 5.
void SetLocale(std::string_view locale_id);

/// The runtime's locale id.
const std::string& CurrentLocale();

/// The locale's decimal and grouping separators (UTF-8).
const std::string& DecimalSeparator();
const std::string& GroupingSeparator();

/// Parses a number written in the runtime's locale: blanks around it, an optional sign, digits
/// with optional grouping separators between them, an optional decimal part and an optional
/// exponent. Returns nothing when the whole text is not such a number.
std::optional<double> ParseLocaleNumber(std::string_view text);

/// Formats a number as the runtime does when it turns one into text: up to 15 significant
/// digits, the locale's decimal separator, no grouping.
std::string FormatLocaleNumber(double value);

/// Upper and lower case of UTF-8 text under the runtime's locale.
std::string ToUpper(std::string_view text);
std::string ToLower(std::string_view text);
/// Text between double quotes with \", \\, \n, \r, \t and \uXXXX for other control
/// characters: a string both JSON and TOML read back unchanged.
std::string QuotedText(std::string_view text);

/// Number of characters (code points) of UTF-8 text; a malformed byte counts as one character.
std::size_t CharLength(std::string_view text);

/// Decodes the character at byte `i` of UTF-8 text and advances `i` past it; a malformed byte
/// is returned as itself.
char32_t NextCodePoint(std::string_view text, std::size_t& i);
/// Appends a character to UTF-8 text.
void AppendCodePoint(std::string& text, char32_t c);
/// True for characters that change how text is shown instead of showing something: C0 and C1
/// controls, DEL, and the bidirectional embeddings, overrides and isolates.
bool IsControlCharacter(char32_t c) noexcept;
/// The text with every control character but the line feed written visibly (\x1B, \u202E),
/// so that printing it cannot steer a terminal.
std::string Printable(std::string_view text);
/// The value of a hexadecimal digit (either case), or -1 for any other character.
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
/// Printable, and line ends written out too ("\x0A"): a text shown as one line of a listing.
std::string OneLine(std::string_view text);
/// Byte offset of character `index` (clamped to the end of the text).
std::size_t ByteOffsetOfChar(std::string_view text, std::size_t index);

/// ASCII-only case-insensitive comparison, used for member and column names.
inline bool EqualsIgnoreCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = a[i], y = b[i];
    if (x == y) continue;
    // Equal but for case only when both are the same ASCII letter.
    const char lx = static_cast<char>(x | 0x20);
    if (lx != static_cast<char>(y | 0x20) || lx < 'a' || lx > 'z') return false;
  }
  return true;
}

/// Hash and equality for unordered containers keyed by names whose ASCII letter case does not
/// matter; both allow lookups by string_view without a copy.
struct IgnoreCaseHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept {
    std::size_t h = 1469598103934665603ull;  // FNV-1a over the lower-case bytes
    for (char c : s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      h ^= static_cast<unsigned char>(c);
      h *= 1099511628211ull;
    }
    return h;
  }
};
struct IgnoreCaseEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept {
    return EqualsIgnoreCase(a, b);
  }
};

}  // namespace kvt
