#include "runtime/object.h"

#include <algorithm>
#include <type_traits>

#include "runtime/error.h"

namespace kvt {
Object::Object() = default;
Object::~Object() = default;

bool Object::InvokeDynamic(std::string_view, MemberKind, std::span<Variant>, Variant&) {
  return false;
}

ClassInfo::ClassInfo(std::string name, std::vector<MemberInfo> members)
    : name_(std::move(name)), members_(std::move(members)) {
  for (std::size_t i = 0; i < members_.size(); ++i) {
    const MemberInfo& m = members_[i];
    auto it = by_name_.find(std::string_view(m.name));
    std::size_t g;
    if (it == by_name_.end()) {
      g = groups_.size();
      Group group;
      group.id = m.id;
      groups_.push_back(group);
      by_name_.emplace(m.name, g);
      by_id_.emplace_back(m.id, g);
    } else {
      g = it->second;
    }
    groups_[g].by_kind[static_cast<std::size_t>(m.kind)] = static_cast<std::int16_t>(i);
  }
  std::sort(by_id_.begin(), by_id_.end());
}

const MemberInfo* ClassInfo::Pick(const Group& g, MemberKind kind) const noexcept {
  const auto i = g.by_kind[static_cast<std::size_t>(kind)];
  return i < 0 ? nullptr : &members_[static_cast<std::size_t>(i)];
}

const MemberInfo* ClassInfo::Find(std::string_view name, MemberKind kind) const noexcept {
  auto it = by_name_.find(name);
  return it == by_name_.end() ? nullptr : Pick(groups_[it->second], kind);
}

const MemberInfo* ClassInfo::Find(DispId id, MemberKind kind) const noexcept {
  auto it = std::lower_bound(by_id_.begin(), by_id_.end(), id,
                             [](const auto& e, DispId v) { return e.first < v; });
  if (it == by_id_.end() || it->first != id) return nullptr;
  return Pick(groups_[it->second], kind);
}

DispId ClassInfo::IdOf(std::string_view name) const noexcept {
  auto it = by_name_.find(name);
  return it == by_name_.end() ? kNoMember : groups_[it->second].id;
}

namespace {

// Resolves the member a call of `kind` means, with the fallbacks of late binding.
template <class Key>
const MemberInfo* Resolve(const ClassInfo& cls, Key key, MemberKind kind, std::span<Variant> args) {
  const MemberInfo* m = cls.Find(key, kind);
  if (m) return m;
  switch (kind) {
    case MemberKind::kMethod:
      return cls.Find(key, MemberKind::kGet);
    case MemberKind::kGet:
      return cls.Find(key, MemberKind::kMethod);
    case MemberKind::kLet:
      if (!args.empty() && args.back().IsObject()) return cls.Find(key, MemberKind::kSet);
      return nullptr;
    case MemberKind::kSet:
      return nullptr;
  }
  return nullptr;
}

std::string Describe(std::string_view name) {
  return "'" + std::string(name) + "'";
}
std::string Describe(DispId id) {
  return "member id " + std::to_string(id);
}

template <class Key>
Variant InvokeImpl(const ObjectRef& target, Key key, MemberKind kind, std::span<Variant> args) {
  if (!target) throw RuntimeError(ErrorCode::kObjectNotSet);
  const ClassInfo& cls = target->Class();
  const MemberInfo* m = Resolve(cls, key, kind, args);
  if (!m) {
    if constexpr (std::is_same_v<Key, std::string_view>) {
      Variant result;
      if (target->InvokeDynamic(key, kind, args, result)) return result;
    }
    throw RuntimeError(ErrorCode::kNotSupported, cls.Name() + "." + Describe(key));
  }
  if (args.size() < m->min_args) {
    throw RuntimeError(ErrorCode::kArgumentNotOptional, cls.Name() + "." + m->name);
  }
  if (args.size() > m->params.size()) {
    throw RuntimeError(ErrorCode::kWrongArgumentCount, cls.Name() + "." + m->name);
  }
  return m->invoke(*target, args);
}

}  // namespace

Variant Invoke(const ObjectRef& target, std::string_view name, MemberKind kind,
               std::span<Variant> args) {
  return InvokeImpl(target, name, kind, args);
}

Variant Invoke(const ObjectRef& target, DispId id, MemberKind kind, std::span<Variant> args) {
  return InvokeImpl(target, id, kind, args);
}

const ObjectRef& TargetOf(const Variant& v) {
  if (!v.IsObject()) throw RuntimeError(ErrorCode::kObjectRequired, "got " + v.TypeName());
  if (!v.AsObject()) throw RuntimeError(ErrorCode::kObjectNotSet);
  return v.AsObject();
}

Variant GetDefaultValue(const ObjectRef& target) {
  return Invoke(target, kDefaultMember, MemberKind::kGet, {});
}

std::vector<Variant> Enumerate(const Variant& v) {
  if (v.IsArray()) return v.AsArray();
  if (v.IsObject() && v.AsObject()) {
    if (const auto* e = dynamic_cast<const Enumerable*>(v.AsObject().get())) {
      return e->EnumerateItems();
    }
    throw RuntimeError(ErrorCode::kNotSupported,
                       v.AsObject()->Class().Name() + " cannot be enumerated");
  }
  if (v.IsNothing()) throw RuntimeError(ErrorCode::kObjectNotSet);
  throw RuntimeError(ErrorCode::kTypeMismatch, v.TypeName() + " cannot be enumerated");
}

}  // namespace kvt
