#include "engine/common/engine_error.h"

#include <charconv>

namespace kvtengine {

kvt::Error EngineError(std::uint32_t n, const char* source, std::string description) {
  return kvt::ObjectError(n, source, std::move(description));
}

void CheckSchemaVersion(const char* source, const std::string& where, const std::string& version) {
  int v = 0;
  const auto [end, ec] = std::from_chars(version.data(), version.data() + version.size(), v);
  if (ec != std::errc() || end != version.data() + version.size() || v < 1) {
    throw EngineError(kNotOurDatabase, source,
                      where + " is not a kvtfields database (schema version '" + version + "')");
  }
  if (v > kSchemaVersion) {
    throw EngineError(kNewerSchema, source,
                      where + " was written by a newer kvtfields (schema version " + version +
                          "); this program reads up to version " + std::to_string(kSchemaVersion) +
                          " and leaves it untouched: use the " + "newer program");
  }
}

}  // namespace kvtengine
