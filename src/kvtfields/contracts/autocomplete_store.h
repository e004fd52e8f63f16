// Where the autocomplete class keeps the values it learns. Every database engine offers it as
// the object its connection hands out (`IDBConnection::AdoConnection`), so that the autocomplete
// class needs no engine of its own.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kvtfields {

class IAutoCompleteStore {
 public:
  virtual ~IAutoCompleteStore() = default;
  /// Counts one more use of `value` under `key` in `table` (a plain identifier: letters, digits,
  /// '_'; anything else raises 5). A new value is stored with one use.
  virtual void Learn(const std::string& table, const std::string& key,
                     const std::string& value) = 0;
  /// Up to `limit` values under `key` that `wanted` accepts, most used first, then most
  /// recently learnt, then in text order.
  virtual std::vector<std::string> LookUp(const std::string& table, const std::string& key,
                                          const std::function<bool(std::string_view)>& wanted,
                                          std::size_t limit) = 0;
  /// Up to `limit` values under `key` starting with `prefix` (in any letter case unless
  /// `match_case`), in LookUp's order. A store on a database answers from an index; this one
  /// asks LookUp.
  virtual std::vector<std::string> StartingWith(const std::string& table, const std::string& key,
                                                const std::string& prefix, bool match_case,
                                                std::size_t limit);
  /// StartingWith's answer given to `done` on the windows' thread: at once (this one), or later
  /// from a store that looks up in the background while the person types on.
  virtual void StartingWithLater(const std::string& table, const std::string& key,
                                 const std::string& prefix, bool match_case, std::size_t limit,
                                 std::function<void(std::vector<std::string>)> done) {
    done(StartingWith(table, key, prefix, match_case, limit));
  }
  /// Removes `value` under `key`; a value that is not there is no error.
  virtual void Forget(const std::string& table, const std::string& key,
                      const std::string& value) = 0;
};

/// True when `name` can be a store's table name.
bool IsStoreTableName(std::string_view name);

}  // namespace kvtfields
