// Values as the PostgreSQL engine stores them (jsonb text): any text read back from a column
// becomes a value without crashing, and any text stored comes back byte for byte.
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/postgresql/pg_database.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  (void)kvtpg::FromJson(text);  // whatever somebody put into the column
  const kvtpg::Param json = kvtpg::ToJson(kvt::Variant(text));
  if (!json) __builtin_trap();
  const kvt::Variant back = kvtpg::FromJson(*json);
  if (!back.IsString() || back.AsString() != text) __builtin_trap();
  (void)kvtpg::ArrayLiteral({json, std::nullopt, kvtpg::Param(text)});
  return 0;
}
