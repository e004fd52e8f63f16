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
#include "runtime/text.h"

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

std::vector<std::string> IAutoCompleteStore::StartingWith(const std::string& table,
                                                          const std::string& key,
                                                          const std::string& prefix,
                                                          bool match_case, std::size_t limit) {
  const std::string wanted = match_case ? prefix : kvt::ToLower(prefix);
  return LookUp(
      table, key,
      [&](std::string_view value) {
        return match_case ? value.starts_with(wanted)
                          : kvt::ToLower(std::string(value)).starts_with(wanted);
      },
      limit);
}

}  // namespace kvtfields
