// Dictionary: string keys compared exactly (letter case matters), insertion order, and no
// entry added by a lookup that misses. Reachable late-bound as "Scripting.Dictionary" would be.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "runtime/object.h"

namespace kvt {

class Dictionary : public Object, public Enumerable {
  KVT_OBJECT()

 public:
  static std::shared_ptr<Dictionary> Create() { return std::make_shared<Dictionary>(); }

  /// Adds a new entry; a key already present raises 457 and changes nothing.
  void Add(const std::string& key, const Variant& item);
  /// The item of a key; Empty when the key is missing (nothing is added).
  Variant Item(const std::string& key) const;
  /// Replaces the item of a key, or adds the entry when the key is new.
  void LetItem(const std::string& key, const Variant& item);
  bool Exists(const std::string& key) const;
  /// The keys / items, in insertion order.
  std::vector<Variant> Keys() const;
  std::vector<Variant> Items() const;
  std::int32_t Count() const { return static_cast<std::int32_t>(entries_.size()); }
  /// Removes an entry; a missing key raises 32811.
  void Remove(const std::string& key);
  void RemoveAll();

  /// Typed access without copies: the entry of a key or nullptr.
  const Variant* Find(std::string_view key) const;
  const std::vector<std::pair<std::string, Variant>>& Entries() const { return entries_; }

  std::vector<Variant> EnumerateItems() const override { return Keys(); }

 private:
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };
  std::vector<std::pair<std::string, Variant>> entries_;
  std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> index_;
};

}  // namespace kvt
