// Automation objects: counted objects that describe their members once, in a static member
// table, and the late-bound calls (by name or by member id) that go through those tables.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "runtime/text.h"
#include "runtime/variant.h"

namespace kvt {

class ClassInfo;

/// Member id (dispatch id). Id 0 is the default member.
using DispId = std::int32_t;
inline constexpr DispId kDefaultMember = 0;
inline constexpr DispId kNoMember = -1;

/// What a member of a member table does.
enum class MemberKind : std::uint8_t { kMethod = 0, kGet = 1, kLet = 2, kSet = 3 };

/// The base of every automation object. Objects are held through ObjectRef (counted); back
/// references use WeakRef. Each concrete class returns its static member table from Class().
class Object : public std::enable_shared_from_this<Object> {
 public:
  virtual ~Object();
  Object(const Object&) = delete;
  Object& operator=(const Object&) = delete;

  /// The member table of the object's class.
  virtual const ClassInfo& Class() const = 0;

  /// Members that exist only at run time (a form's controls reached as `Form.SB`): called by
  /// late binding when the member table has no such name. Returns false when not handled.
  virtual bool InvokeDynamic(std::string_view name, MemberKind kind, std::span<Variant> args,
                             Variant& result);

 protected:
  Object();
};

/// Declares the member table of a concrete class; define StaticClass() with a ClassBuilder.
#define KVT_OBJECT()                               \
 public:                                           \
  static const ::kvt::ClassInfo& StaticClass();    \
  const ::kvt::ClassInfo& Class() const override { \
    return StaticClass();                          \
  }

/// Calls one member on an object: `args` holds the arguments in order (for a let or set the
/// value is the last one); by-reference arguments are written back into `args`.
using Invoker = Variant (*)(Object& self, std::span<Variant> args);

/// One parameter of a member, as the type library shows it.
struct ParamInfo {
  std::string name;
  std::string type;  // "String", "Long", "Variant", "Object" ...
  bool optional = false;
  bool by_ref = false;
};

/// One slot of a class's member table.
struct MemberInfo {
  std::string name;
  MemberKind kind = MemberKind::kMethod;
  DispId id = kNoMember;
  std::vector<ParamInfo> params;  // for let and set, the last one is the value
  std::string result_type;        // empty for none
  std::size_t min_args = 0;
  Invoker invoke = nullptr;
};

/// The member table of a class, in slot order, with lookups by name (letter case ignored) and
/// by member id. Immutable once built (see ClassBuilder).
class ClassInfo {
 public:
  ClassInfo() = default;
  ClassInfo(std::string name, std::vector<MemberInfo> members);

  const std::string& Name() const noexcept { return name_; }
  const std::vector<MemberInfo>& Members() const noexcept { return members_; }

  /// The member of that name and kind, or nullptr.
  const MemberInfo* Find(std::string_view name, MemberKind kind) const noexcept;
  /// The member of that id and kind, or nullptr.
  const MemberInfo* Find(DispId id, MemberKind kind) const noexcept;
  /// The member id of a name, or kNoMember.
  DispId IdOf(std::string_view name) const noexcept;

 private:
  struct Group {
    DispId id = kNoMember;
    std::array<std::int16_t, 4> by_kind{-1, -1, -1, -1};  // index into members_
  };
  const MemberInfo* Pick(const Group& g, MemberKind kind) const noexcept;

  std::string name_;
  std::vector<MemberInfo> members_;
  std::vector<Group> groups_;
  std::unordered_map<std::string, std::size_t, IgnoreCaseHash, IgnoreCaseEqual> by_name_;
  std::vector<std::pair<DispId, std::size_t>> by_id_;  // sorted by id
};

// Late-bound calls. A null target raises 91; a member the class lacks raises 438; a wrong
// number of arguments raises 450, a missing required one 449. Errors of the member pass out.
//
// kMethod calls a method, or a property get when there is no method of that name (what
// `obj.Name(args)` does); kGet reads a property, or calls a method; kLet writes a value
// (through a property set when only that exists and the value is an object); kSet assigns an
// object reference.

Variant Invoke(const ObjectRef& target, std::string_view name, MemberKind kind,
               std::span<Variant> args);
Variant Invoke(const ObjectRef& target, DispId id, MemberKind kind, std::span<Variant> args);

/// The object held by a variant, for a late-bound call: Nothing raises 91, a non-object 424.
const ObjectRef& TargetOf(const Variant& v);

/// The value of the object's default member (member id 0).
Variant GetDefaultValue(const ObjectRef& target);

template <class... A>
Variant CallMethod(const ObjectRef& target, std::string_view name, A&&... args) {
  std::array<Variant, sizeof...(A)> a{Variant(std::forward<A>(args))...};
  return Invoke(target, name, MemberKind::kMethod, a);
}

template <class... A>
Variant GetProperty(const ObjectRef& target, std::string_view name, A&&... index) {
  std::array<Variant, sizeof...(A)> a{Variant(std::forward<A>(index))...};
  return Invoke(target, name, MemberKind::kGet, a);
}

/// Writes `value` to a property; optional index arguments come before the value.
template <class... A>
void LetProperty(const ObjectRef& target, std::string_view name, Variant value, A&&... index) {
  std::array<Variant, sizeof...(A) + 1> a{Variant(std::forward<A>(index))..., std::move(value)};
  Invoke(target, name, MemberKind::kLet, a);
}

template <class... A>
void SetProperty(const ObjectRef& target, std::string_view name, ObjectRef value, A&&... index) {
  std::array<Variant, sizeof...(A) + 1> a{Variant(std::forward<A>(index))...,
                                          Variant(std::move(value))};
  Invoke(target, name, MemberKind::kSet, a);
}

inline Variant GetProperty(const ObjectRef& target, DispId id) {
  return Invoke(target, id, MemberKind::kGet, {});
}

inline void LetProperty(const ObjectRef& target, DispId id, Variant value) {
  std::array<Variant, 1> a{std::move(value)};
  Invoke(target, id, MemberKind::kLet, a);
}

/// The items of an array, or of an object that can be enumerated (see Enumerable).
std::vector<Variant> Enumerate(const Variant& v);

/// Implemented by objects whose items can be enumerated late-bound (`For Each`).
class Enumerable {
 public:
  virtual ~Enumerable() = default;
  virtual std::vector<Variant> EnumerateItems() const = 0;
};

}  // namespace kvt
