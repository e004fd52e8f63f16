// An archive file of any text: read into an archive or into problems with their places.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "archives/archive_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto read = kvtarchive::ParseArchiveFile(
      std::string_view(reinterpret_cast<const char*>(data), size), "fuzz.toml");
  for (const auto& p : read.problems) {
    if (p.message.empty()) __builtin_trap();
  }
  return 0;
}
