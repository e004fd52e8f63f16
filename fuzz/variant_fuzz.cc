// Variant conversions and comparisons: every pair of values either converts or raises the
// runtime's own error; no conversion may overflow or read past a value.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "runtime/error.h"
#include "runtime/variant.h"

namespace {

// One value from the input: a kind byte, then its payload.
kvt::Variant Take(const std::uint8_t*& data, std::size_t& size) {
  if (size == 0) return {};
  const std::uint8_t kind = *data++;
  --size;
  double number = 0;
  std::uint32_t bits = 0;
  if (size >= sizeof number) std::memcpy(&number, data, sizeof number);
  if (size >= sizeof bits) std::memcpy(&bits, data, sizeof bits);
  switch (kind % 9) {
    case 0:
      return {};
    case 1:
      return kvt::Variant::Null();
    case 2:
      return kvt::Variant(size > 0 && data[0] % 2 == 1);
    case 3:
      return kvt::Variant(static_cast<std::int16_t>(bits & 0xffff));
    case 4:
      return kvt::Variant(static_cast<std::int32_t>(bits));
    case 5:
      return kvt::Variant(number);
    case 6:
      return kvt::Variant(kvt::Date{number});
    default: {
      const std::size_t n = size < 24 ? size : 24;
      std::string text(reinterpret_cast<const char*>(data), n);
      data += n;
      size -= n;
      return kvt::Variant(text);
    }
  }
}

template <class F>
void Try(F&& f) {
  try {
    f();
  } catch (const kvt::Error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const kvt::Variant a = Take(data, size);
  const kvt::Variant b = Take(data, size);
  Try([&] { (void)kvt::CStr(a); });
  Try([&] { (void)kvt::CInt(a); });
  Try([&] { (void)kvt::CLng(a); });
  Try([&] { (void)kvt::CDbl(a); });
  Try([&] { (void)kvt::CBool(a); });
  Try([&] { (void)kvt::CDate(a); });
  Try([&] { (void)kvt::Equals(a, b); });
  Try([&] { (void)kvt::EqualsText(a, kvt::CStr(b)); });
  Try([&] { (void)kvt::JoinText(a); });
  return 0;
}
