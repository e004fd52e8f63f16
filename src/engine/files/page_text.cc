#include "engine/files/page_text.h"

#include <charconv>

namespace kvtfiles {

std::string PageText::Text() const {
  std::string out;
  for (const Word& w : words) {
    if (!out.empty()) out += ' ';
    out += w.text;
  }
  return out;
}

std::string SearchedText(const FileReading& reading) {
  std::string out;
  for (const PageText& page : reading.pages) {
    std::string text = page.Text();
    if (out.size() + text.size() + 1 > kMaxFileChars) break;
    out += text;
    out += '\n';
  }
  return out;
}

std::string EncodeWords(const std::vector<Word>& words) {
  std::string out;
  for (const Word& w : words) {
    std::string text = CleanWord(w.text);  // a line per word: no blank or line break in it
    if (text.empty()) continue;
    for (const std::int32_t n : {w.x, w.y, w.width, w.height, w.confidence}) {
      out += std::to_string(n);
      out += ' ';
    }
    out += text;
    out += '\n';
  }
  return out;
}

bool DecodeWords(std::string_view text, std::vector<Word>& words) {
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    Word w;
    for (std::int32_t* n : {&w.x, &w.y, &w.width, &w.height, &w.confidence}) {
      const auto [next, ec] = std::from_chars(line.data(), line.data() + line.size(), *n);
      if (ec != std::errc() || next == line.data() + line.size() || *next != ' ') return false;
      line.remove_prefix(static_cast<std::size_t>(next - line.data()) + 1);
    }
    if (w.width < 0 || w.height < 0 || w.confidence < 0 || w.confidence > 100) return false;
    w.text = std::string(line);
    words.push_back(std::move(w));
  }
  return true;
}

namespace {

// The length of the UTF-8 sequence starting with `lead`; 0 for a byte that starts none.
std::size_t SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

}  // namespace

std::string CleanWord(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = SequenceLength(c);
    bool valid = n != 0 && i + n <= text.size();
    for (std::size_t k = 1; valid && k < n; ++k) {
      valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    }
    if (!valid) {  // not UTF-8: dropped, a byte at a time
      ++i;
      continue;
    }
    bool keep = true;
    if (n == 1) {
      keep = c > 0x20 && c != 0x7F;
    } else if (n == 2) {
      const auto c2 = static_cast<unsigned char>(text[i + 1]);
      keep = !(c == 0xC2 && (c2 < 0xA0 || c2 == 0xA0 || c2 == 0xAD));  // C1, nbsp, soft hyphen
    } else if (n == 3 && c == 0xE2) {
      const auto c2 = static_cast<unsigned char>(text[i + 1]);
      const auto c3 = static_cast<unsigned char>(text[i + 2]);
      const unsigned cp = 0x2000u + ((c2 & 0x3Fu) << 6) + (c3 & 0x3Fu);
      // zero-width and directional marks, line and paragraph separators, the bidi controls
      keep = !((cp >= 0x2000 && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202F) ||
               (cp >= 0x2060 && cp <= 0x206F));
    } else if (n == 3 && c == 0xEF) {
      keep = !(static_cast<unsigned char>(text[i + 1]) == 0xBB &&
               static_cast<unsigned char>(text[i + 2]) == 0xBF);  // a byte-order mark
    }
    if (keep) out.append(text.substr(i, n));
    i += n;
  }
  return out;
}

std::string FoldAccents(std::string_view text) {
  // U+00C0 to U+00FF, each letter without its accent ('\0': kept as it is).
  static constexpr char kLatin1[] =
      "AAAAAAACEEEEIIII"     // À-Ï (Æ stays A, as the index reads it)
      "DNOOOOO\0OUUUUY\0\0"  // Ð-ß
      "aaaaaaaceeeeiiii"     // à-ï
      "dnooooo\0ouuuuy\0y";  // ð-ÿ
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == 0xC3 && i + 1 < text.size()) {
      const auto c2 = static_cast<unsigned char>(text[i + 1]);
      if (c2 >= 0x80 && c2 <= 0xBF && kLatin1[c2 - 0x80] != '\0') {
        out += kLatin1[c2 - 0x80];
        ++i;
        continue;
      }
    }
    out += static_cast<char>(c);
  }
  return out;
}

}  // namespace kvtfiles
