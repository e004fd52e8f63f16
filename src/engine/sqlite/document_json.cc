#include "engine/sqlite/document_json.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "engine/common/json_text.h"
#include "runtime/text.h"
#include "runtime/variant.h"

namespace kvtsqlite {

// Every digit, and a point or exponent always, so that SQLite reads it back a double.
void AppendJsonDouble(std::string& out, double d) {
  if (std::isnan(d)) {
    out += "null";  // SQLite stores no NaN either
    return;
  }
  if (std::isinf(d)) {
    out += d > 0 ? "9e999" : "-9e999";  // what SQLite's own JSON writes for them
    return;
  }
  char text[32];
  const int n = std::snprintf(text, sizeof text, "%.17g", d);
  out.append(text, static_cast<std::size_t>(n));
  if (std::string_view(text, static_cast<std::size_t>(n)).find_first_of(".e") ==
      std::string_view::npos) {
    out += ".0";
  }
}

void AppendJsonName(std::string& out, std::string_view name) {
  // Most names and values need no escape: appended whole.
  if (std::none_of(name.begin(), name.end(), [](char c) {
        return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
      })) {
    out += '"';
    out += name;
    out += '"';
    return;
  }
  out += kvt::QuotedText(name);
}

namespace {
constexpr std::string_view kHexOpen = "{\"hex\":\"";
constexpr std::string_view kHexClose = "\"}";

}  // namespace

bool WrittenAsObject(std::string_view text) {
  return text.find('\0') != std::string_view::npos || text.starts_with(kHexOpen);
}

void AppendJsonText(std::string& out, std::string_view text) {
  if (!WrittenAsObject(text)) return AppendJsonName(out, text);
  out += kHexOpen;
  kvtengine::AppendHex(out, text);
  out += kHexClose;
}

bool DecodeJsonText(std::string_view json_value, std::string& text) {
  if (json_value.size() < kHexOpen.size() + kHexClose.size() || !json_value.starts_with(kHexOpen) ||
      !json_value.ends_with(kHexClose)) {
    return false;
  }
  return kvtengine::ReadHex(
      json_value.substr(kHexOpen.size(), json_value.size() - kHexOpen.size() - kHexClose.size()),
      text);
}

void AppendJson(std::string& out, const kvt::Variant& value) {
  switch (value.Type()) {
    case kvt::VarType::kEmpty:
    case kvt::VarType::kNull:
      out += "null";
      break;
    case kvt::VarType::kBoolean:
      out += value.AsBool() ? '1' : '0';
      break;
    case kvt::VarType::kInteger:
    case kvt::VarType::kLong:
      out += std::to_string(kvt::CLng(value));
      break;
    case kvt::VarType::kDouble:
      AppendJsonDouble(out, value.AsDouble());
      break;
    default:
      AppendJsonText(out, kvt::CStr(value));  // dates as their text, like a person reads them
  }
}

namespace {

// The JSON number at s[i] as the text of the value SQLite's json_each gives (a whole number
// that fits 64 bits an integer, anything else a double), `i` past it.
bool ScanNumber(std::string_view s, std::size_t& i, std::string& out) {
  const std::size_t from = i;
  bool whole = true;
  if (i < s.size() && s[i] == '-') ++i;
  const std::size_t digits = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  if (i == digits || (s[digits] == '0' && i - digits > 1)) return false;
  if (i < s.size() && s[i] == '.') {
    whole = false;
    const std::size_t fraction = ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == fraction) return false;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    whole = false;
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    const std::size_t exponent = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    if (i == exponent) return false;
  }
  const std::string token(s.substr(from, i - from));
  kvt::Variant v;
  if (whole) {
    errno = 0;
    char* end = nullptr;
    const long long n = std::strtoll(token.c_str(), &end, 10);
    if (errno != 0) return false;  // beyond 64 bits: SQLite makes it a double
    if (n >= std::numeric_limits<std::int32_t>::min() &&
        n <= std::numeric_limits<std::int32_t>::max()) {
      v = kvt::Variant(static_cast<std::int32_t>(n));
    } else {
      v = kvt::Variant(static_cast<double>(n));
    }
  } else {
    v = kvt::Variant(std::strtod(token.c_str(), nullptr));
  }
  out += kvt::JoinText(v);
  return true;
}

}  // namespace

bool ScanDocumentTexts(std::string_view s, std::string& buffer,
                       std::vector<std::pair<std::size_t, std::size_t>>& ends) {
  const std::size_t buffer_was = buffer.size(), ends_were = ends.size();
  auto fail = [&] {
    buffer.resize(buffer_was);
    ends.resize(ends_were);
    return false;
  };
  std::size_t i = 0;
  if (s.size() < 2 || s[0] != '{') return fail();
  ++i;
  if (s[i] == '}') return i + 1 == s.size() ? true : fail();
  while (true) {
    if (i >= s.size() || s[i] != '"' || !kvtengine::ReadJsonString(s, i, buffer)) return fail();
    const std::size_t name_end = buffer.size();
    if (i >= s.size() || s[i++] != ':' || i >= s.size()) return fail();
    const char c = s[i];
    if (c == '"') {
      if (!kvtengine::ReadJsonString(s, i, buffer)) return fail();
      // A plain string that reads as the hex object is decoded elsewhere: left to SQLite.
      if (std::string_view(buffer).substr(name_end).starts_with(kHexOpen)) return fail();
    } else if (c == '{') {
      const std::size_t close = s.find('}', i);
      std::string text;
      if (close == std::string_view::npos || !DecodeJsonText(s.substr(i, close + 1 - i), text)) {
        return fail();
      }
      buffer += text;
      i = close + 1;
    } else if (s.substr(i, 4) == "null") {
      i += 4;
    } else if (c == '-' || (c >= '0' && c <= '9')) {
      if (!ScanNumber(s, i, buffer)) return fail();
    } else {
      return fail();  // true, false, an array: not written here
    }
    ends.emplace_back(name_end, buffer.size());
    if (i >= s.size()) return fail();
    if (s[i] == '}') return i + 1 == s.size() ? true : fail();
    if (s[i++] != ',') return fail();
  }
}

}  // namespace kvtsqlite
