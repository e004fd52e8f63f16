// Where a script engine reads an archive's script from: database engines that keep scripts
// offer this interface beside the component's engine contract.
#pragma once

#include <string>

#include "runtime/variant.h"

namespace kvtfields {

class IScriptSource {
 public:
  virtual ~IScriptSource() = default;
  /// The source text of a script set, or Null when the set has none.
  virtual kvt::Variant GetScript(const std::string& script_set) = 0;
};

}  // namespace kvtfields
