#include "runtime/text.h"

#include <unicode/dcfmtsym.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "runtime/error.h"

namespace kvt {
namespace {

// Everything derived from the locale, computed once per SetLocale.
struct LocaleState {
  std::string id;
  icu::Locale locale;
  std::string decimal;
  std::string grouping;
};

std::string SymbolText(const icu::DecimalFormatSymbols& symbols,
                       icu::DecimalFormatSymbols::ENumberFormatSymbol which) {
  std::string out;
  symbols.getSymbol(which).toUTF8String(out);
  return out;
}

std::unique_ptr<LocaleState> MakeState(std::string_view id) {
  auto state = std::make_unique<LocaleState>();
  state->id = std::string(id);
  state->locale = icu::Locale::createFromName(state->id.c_str());
  if (state->locale.isBogus() || std::string_view(state->locale.getLanguage()).empty()) {
    throw RuntimeError(ErrorCode::kInvalidProcedureCall, "unknown locale '" + state->id + "'");
  }
  UErrorCode status = U_ZERO_ERROR;
  icu::DecimalFormatSymbols symbols(state->locale, status);
  if (U_FAILURE(status)) {
    throw RuntimeError(ErrorCode::kInvalidProcedureCall, "unknown locale '" + state->id + "'");
  }
  state->decimal = SymbolText(symbols, icu::DecimalFormatSymbols::kDecimalSeparatorSymbol);
  state->grouping = SymbolText(symbols, icu::DecimalFormatSymbols::kGroupingSeparatorSymbol);
  return state;
}

bool IsBlank(std::string_view s, std::size_t i, std::size_t* width) {
  if (s[i] == ' ' || s[i] == '\t') {
    *width = 1;
    return true;
  }
  // U+00A0 and U+202F: the no-break spaces some locales print.
  if (s.substr(i, 2) == "\xC2\xA0" || s.substr(i, 3) == "\xE2\x80\xAF") {
    *width = s[i] == '\xC2' ? 2 : 3;
    return true;
  }
  return false;
}

std::string_view Trim(std::string_view s) {
  std::size_t w = 0;
  while (!s.empty() && IsBlank(s, 0, &w)) s.remove_prefix(w);
  for (bool again = true; again && !s.empty();) {
    again = false;
    for (std::size_t back : {1u, 2u, 3u}) {
      if (s.size() >= back && IsBlank(s, s.size() - back, &w) && w == back) {
        s.remove_suffix(back);
        again = true;
        break;
      }
    }
  }
  return s;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The state lives in one function-local object so that SetLocale can replace it.
std::unique_ptr<LocaleState>& Slot() {
  static std::unique_ptr<LocaleState> state = MakeState("it_IT");
  return state;
}

}  // namespace

void SetLocale(std::string_view locale_id) {
  Slot() = MakeState(locale_id);
}

const std::string& CurrentLocale() {
  return Slot()->id;
}
const std::string& DecimalSeparator() {
  return Slot()->decimal;
}
const std::string& GroupingSeparator() {
  return Slot()->grouping;
}

std::optional<double> ParseLocaleNumber(std::string_view text) {
  const LocaleState& st = *Slot();
  std::string_view s = Trim(text);
  std::string plain;  // the number rewritten in the C locale's notation
  plain.reserve(s.size());
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    if (s[i] == '-') plain.push_back('-');
    ++i;
  }
  std::size_t digits = 0;
  bool last_was_digit = false;
  // Digits between grouping separators: a separator stands only between digits, and groups
  // of three digits after the first make it a thousands separator ("1.234.567").
  std::vector<std::size_t> groups{0};
  while (i < s.size()) {
    if (IsDigit(s[i])) {
      plain.push_back(s[i]);
      ++i;
      ++digits;
      ++groups.back();
      last_was_digit = true;
    } else if (last_was_digit && !st.grouping.empty() && s.substr(i).starts_with(st.grouping) &&
               i + st.grouping.size() < s.size() && IsDigit(s[i + st.grouping.size()])) {
      i += st.grouping.size();
      groups.push_back(0);
      last_was_digit = false;
    } else {
      break;
    }
  }
  const bool regular = groups.front() <= 3 && std::all_of(groups.begin() + 1, groups.end(),
                                                          [](std::size_t n) { return n == 3; });
  const bool has_decimal = i < s.size() && s.substr(i).starts_with(st.decimal);
  if (groups.size() > 1 && !regular) {
    // Not every three digits, so no thousands separator: one such mark with no decimal part
    // after it is the other notation's decimal point ("12.50" is twelve and a half, never
    // 1.250); anything else cannot be read with confidence.
    if (groups.size() != 2 || has_decimal) return std::nullopt;
    plain.insert(plain.size() - groups.back(), 1, '.');
  } else if (has_decimal) {
    i += st.decimal.size();
    plain.push_back('.');
    while (i < s.size() && IsDigit(s[i])) {
      plain.push_back(s[i++]);
      ++digits;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    plain.push_back('e');
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) plain.push_back(s[i++]);
    std::size_t exp_digits = 0;
    while (i < s.size() && IsDigit(s[i])) {
      plain.push_back(s[i++]);
      ++exp_digits;
    }
    if (exp_digits == 0) return std::nullopt;
  }
  if (i != s.size()) return std::nullopt;
  double value = 0;
  auto [end, ec] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
  if (ec != std::errc() || end != plain.data() + plain.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::string FormatLocaleNumber(double value) {
  if (value == 0) return "0";  // also for -0
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15G", value);
  std::string out;
  for (const char* p = buf; *p; ++p) {
    if (*p == '.') {
      out += Slot()->decimal;
    } else {
      out.push_back(*p);
    }
  }
  return out;
}

namespace {
template <class Fn>
std::string ConvertCase(std::string_view text, Fn fn) {
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(
      icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
  fn(u, Slot()->locale);
  std::string out;
  u.toUTF8String(out);
  return out;
}
}  // namespace

std::string ToUpper(std::string_view text) {
  return ConvertCase(text, [](icu::UnicodeString& u, const icu::Locale& l) { u.toUpper(l); });
}

std::string QuotedText(std::string_view text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string ToLower(std::string_view text) {
  return ConvertCase(text, [](icu::UnicodeString& u, const icu::Locale& l) { u.toLower(l); });
}

std::size_t CharLength(std::string_view text) {
  std::size_t count = 0;
  int32_t i = 0;
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  const auto n = static_cast<int32_t>(text.size());
  while (i < n) {
    UChar32 c;
    U8_NEXT(s, i, n, c);
    (void)c;
    ++count;
  }
  return count;
}

char32_t NextCodePoint(std::string_view text, std::size_t& i) {
  const auto* s = reinterpret_cast<const uint8_t*>(text.data());
  auto pos = static_cast<int32_t>(i);
  const auto n = static_cast<int32_t>(text.size());
  UChar32 c;
  U8_NEXT(s, pos, n, c);
  if (c < 0) {  // malformed: the byte stands for itself
    c = s[i];
    pos = static_cast<int32_t>(i) + 1;
  }
  i = static_cast<std::size_t>(pos);
  return static_cast<char32_t>(c);
}

void AppendCodePoint(std::string& text, char32_t c) {
  uint8_t buf[U8_MAX_LENGTH];
  int32_t len = 0;
  UBool error = false;
  U8_APPEND(buf, len, U8_MAX_LENGTH, static_cast<UChar32>(c), error);
  if (error) return;
  text.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(len));
}

bool IsControlCharacter(char32_t c) noexcept {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

std::string Printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t start = i;
    const char32_t c = NextCodePoint(text, i);
    if (c == U'\n' || !IsControlCharacter(c)) {
      out.append(text, start, i - start);
      continue;
    }
    char buf[16];
    if (i - start == 1) {
      std::snprintf(buf, sizeof buf, "\\x%02X", static_cast<unsigned>(c));
    } else {
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
    }
    out += buf;
  }
  return out;
}

std::string OneLine(std::string_view text) {
  std::string out;
  for (char c : Printable(text)) {
    if (c == '\n') {
      out += "\\x0A";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::size_t ByteOffsetOfChar(std::string_view text, std::size_t index) {
  std::size_t i = 0;
  for (std::size_t k = 0; k < index && i < text.size(); ++k) NextCodePoint(text, i);
  return i;
}

}  // namespace kvt
