#include "engine/common/json_text.h"

#include <algorithm>

#include "runtime/text.h"

namespace kvtengine {
namespace {

bool Hex4(std::string_view s, std::size_t& i, char32_t& code) {
  if (i + 4 > s.size()) return false;
  code = 0;
  for (int k = 0; k < 4; ++k) {
    const int d = kvt::HexDigitValue(s[i++]);
    if (d < 0) return false;
    code = code * 16 + static_cast<char32_t>(d);
  }
  return true;
}

}  // namespace

bool ReadJsonString(std::string_view s, std::size_t& i, std::string& out, bool keep_nul) {
  if (i >= s.size() || s[i] != '"') return false;
  ++i;
  while (i < s.size()) {
    const std::size_t j = s.find_first_of("\"\\", i);
    if (j == std::string_view::npos) return false;
    const auto plain = s.substr(i, j - i);
    if (std::any_of(plain.begin(), plain.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
      return false;
    }
    out += plain;
    i = j + 1;
    if (s[j] == '"') return true;
    if (i >= s.size()) return false;
    const char c = s[i++];
    switch (c) {
      case '"':
      case '\\':
      case '/':
        out += c;
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'u': {
        char32_t cp = 0;
        if (!Hex4(s, i, cp) || (cp == 0 && !keep_nul) || (cp >= 0xDC00 && cp <= 0xDFFF)) {
          return false;
        }
        if (cp >= 0xD800 && cp <= 0xDBFF) {
          char32_t low = 0;
          if (i + 2 > s.size() || s[i] != '\\' || s[i + 1] != 'u') return false;
          i += 2;
          if (!Hex4(s, i, low) || low < 0xDC00 || low > 0xDFFF) return false;
          cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        if (cp == 0) {
          out += '\0';
        } else {
          kvt::AppendCodePoint(out, cp);
        }
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

void AppendHex(std::string& out, std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
}

bool ReadHex(std::string_view hex, std::string& bytes) {
  if (hex.size() % 2 != 0) return false;
  std::string out;
  out.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int hi = kvt::HexDigitValue(hex[i]), lo = kvt::HexDigitValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>((hi << 4) | lo);
  }
  bytes = std::move(out);
  return true;
}

}  // namespace kvtengine
