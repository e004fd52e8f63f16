// The contracts are interfaces; this unit checks that each header stands on its own and holds
// the few helpers they share.
#include "kvtfields/contracts/auto_completer.h"
#include "kvtfields/contracts/autocomplete_store.h"
#include "kvtfields/contracts/controls.h"
#include "kvtfields/contracts/db_engine.h"
#include "kvtfields/contracts/host.h"
#include "kvtfields/contracts/layout_control.h"
#include "kvtfields/contracts/script_engine.h"
#include "kvtfields/contracts/script_source.h"
#include "kvtfields/contracts/window.h"

namespace kvtfields {

bool IsStoreTableName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool ok =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace kvtfields
