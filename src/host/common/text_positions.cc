#include "host/common/text_positions.h"

#include "runtime/text.h"

namespace kvthost {

int ShownPosition(const std::string& text, std::int32_t chars) {
  int shown = 0;
  std::size_t i = 0;
  for (std::int32_t n = 0; n < chars && i < text.size(); ++n) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;  // "\r" of "\r\n": the widget shows the pair as one "\n"
      continue;
    }
    const char32_t c = kvt::NextCodePoint(text, i);
    shown += c > 0xFFFF ? 2 : 1;
  }
  return shown;
}

std::int32_t ControlPosition(const std::string& text, int shown) {
  std::int32_t chars = 0;
  std::size_t i = 0;
  int at = 0;
  while (at < shown && i < text.size()) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      ++chars;
      continue;
    }
    const char32_t c = kvt::NextCodePoint(text, i);
    at += c > 0xFFFF ? 2 : 1;
    ++chars;
  }
  return chars;
}

}  // namespace kvthost
