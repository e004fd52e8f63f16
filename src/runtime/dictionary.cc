#include "runtime/dictionary.h"

#include "runtime/class_builder.h"
#include "runtime/error.h"

namespace kvt {

const ClassInfo& Dictionary::StaticClass() {
  static const ClassInfo info = ClassBuilder<Dictionary>("Dictionary")
                                    .Method<&Dictionary::Add>("Add")
                                    .Params({"Key", "Item"})
                                    .Get<&Dictionary::Item>("Item")
                                    .Default()
                                    .Params({"Key"})
                                    .Let<&Dictionary::LetItem>("Item")
                                    .Params({"Key", "Item"})
                                    .Set<&Dictionary::LetItem>("Item")
                                    .Params({"Key", "Item"})
                                    .Method<&Dictionary::Exists>("Exists")
                                    .Params({"Key"})
                                    .Method<&Dictionary::Keys>("Keys")
                                    .Method<&Dictionary::Items>("Items")
                                    .Get<&Dictionary::Count>("Count")
                                    .Method<&Dictionary::Remove>("Remove")
                                    .Params({"Key"})
                                    .Method<&Dictionary::RemoveAll>("RemoveAll")
                                    .Build();
  return info;
}

void Dictionary::Add(const std::string& key, const Variant& item) {
  if (index_.contains(key)) throw RuntimeError(ErrorCode::kDuplicateKey, "'" + key + "'");
  index_.emplace(key, entries_.size());
  entries_.emplace_back(key, item);
}

const Variant* Dictionary::Find(std::string_view key) const {
  auto it = index_.find(key);
  return it == index_.end() ? nullptr : &entries_[it->second].second;
}

Variant Dictionary::Item(const std::string& key) const {
  const Variant* v = Find(key);
  return v ? *v : Variant();
}

void Dictionary::LetItem(const std::string& key, const Variant& item) {
  auto it = index_.find(key);
  if (it == index_.end()) {
    Add(key, item);
  } else {
    entries_[it->second].second = item;
  }
}

bool Dictionary::Exists(const std::string& key) const {
  return index_.contains(key);
}

std::vector<Variant> Dictionary::Keys() const {
  std::vector<Variant> out;
  out.reserve(entries_.size());
  for (const auto& e : entries_) out.emplace_back(e.first);
  return out;
}

std::vector<Variant> Dictionary::Items() const {
  std::vector<Variant> out;
  out.reserve(entries_.size());
  for (const auto& e : entries_) out.push_back(e.second);
  return out;
}

void Dictionary::Remove(const std::string& key) {
  auto it = index_.find(key);
  if (it == index_.end()) throw RuntimeError(ErrorCode::kElementNotFound, "'" + key + "'");
  const std::size_t pos = it->second;
  index_.erase(it);
  entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(pos));
  for (auto& [k, i] : index_) {
    if (i > pos) --i;
  }
}

void Dictionary::RemoveAll() {
  entries_.clear();
  index_.clear();
}

}  // namespace kvt
