// The code-list filter grammar: any text either parses into whitelisted columns and bound
// literals, or is refused with the engine's filter error; nothing else may happen.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/common/code_filter.h"
#include "engine/common/engine_error.h"
#include "runtime/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const kvtengine::CodeFilter f = kvtengine::ParseCodeFilter(text);
    (void)f.Sql();
  } catch (const kvt::Error& e) {
    if (e.Number() != kvt::kObjectErrorBase + kvtengine::kBadFilter) __builtin_trap();
  }
  return 0;
}
