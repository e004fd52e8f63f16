// Numbers and dates as the user's locale writes them, read from any text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/error.h"
#include "runtime/text.h"
#include "runtime/variant.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)kvt::ParseLocaleNumber(text);
  kvt::Date d;
  if (kvt::ParseDate(text, &d)) (void)kvt::FormatDate(d);
  (void)kvt::IsNumeric(kvt::Variant(text));
  (void)kvt::ToUpper(text);
  (void)kvt::ToLower(text);
  (void)kvt::CharLength(text);
  try {
    (void)kvt::CDate(kvt::Variant(text));
  } catch (const kvt::Error&) {
  }
  return 0;
}
