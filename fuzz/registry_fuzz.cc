// The per-user class registry file, whatever it holds: entries or reported problems.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/class_registry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> problems;
  const auto entries = kvt::ParseUserRegistry(
      std::string_view(reinterpret_cast<const char*>(data), size), "classes.tsv", &problems);
  for (const auto& e : entries) {
    if (e.prog_id.empty() || e.library.empty()) __builtin_trap();
  }
  return 0;
}
