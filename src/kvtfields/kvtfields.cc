#include "kvtfields/kvtfields.h"

#include "kvtfields/server/type_library.h"
#include "kvtfields/server/version.h"

namespace kvtfields {

const char* FileVersion() noexcept {
  return server::kFileVersion;
}

std::string TypeLibraryJson() {
  return server::TypeLibraryJson();
}

}  // namespace kvtfields
