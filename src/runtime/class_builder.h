// ClassBuilder: builds a class's member table from its typed methods, so that the typed C++
// face and the late-bound face come from one definition.
//
//   const kvt::ClassInfo& Dictionary::StaticClass() {
//     static const kvt::ClassInfo info = kvt::ClassBuilder<Dictionary>("Dictionary")
//         .Method<&Dictionary::Add>("Add").Params({"Key", "Item"})
//         .Get<&Dictionary::Item>("Item").Default()
//         .Build();
//     return info;
//   }
//
// Parameter kinds follow the method's signature: `T` or `const T&` by value, `T&` by reference
// (written back to the caller's argument), `std::optional<T>` optional.
#pragma once

#include <initializer_list>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "runtime/marshal.h"
#include "runtime/object.h"
#include "runtime/text.h"

namespace kvt {
namespace detail {

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<std::optional<T>> : std::true_type {
  using inner = T;
};

// Holds one argument for the duration of a call.
template <class P>
class ArgHolder {
  using D = std::remove_cvref_t<P>;
  static constexpr bool kByRef =
      std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>;

 public:
  // `present` is false for an optional argument the caller left out.
  ArgHolder(std::span<Variant> args, std::size_t i, bool present) : args_(args), i_(i) {
    if constexpr (IsOptional<D>::value) {
      if (present) value_ = FromVariant<typename IsOptional<D>::inner>(args[i]);
    } else if constexpr (std::is_same_v<D, Variant>) {
      // Variants are passed through without a copy; by-reference writes land in args[i].
    } else {
      value_ = FromVariant<D>(args[i]);
    }
  }

  decltype(auto) Get() {
    if constexpr (std::is_same_v<D, Variant>) {
      return static_cast<Variant&>(args_[i_]);
    } else {
      return static_cast<D&>(value_);
    }
  }

  void WriteBack() {
    if constexpr (kByRef && !std::is_same_v<D, Variant> && !IsOptional<D>::value) {
      args_[i_] = ToVariant(value_);
    }
  }

 private:
  std::span<Variant> args_;
  std::size_t i_;
  [[no_unique_address]] std::conditional_t<std::is_same_v<D, Variant>, std::monostate, D> value_{};
};

template <class P>
ParamInfo DescribeParam() {
  using D = std::remove_cvref_t<P>;
  ParamInfo p;
  if constexpr (IsOptional<D>::value) {
    p.type = TypeLibName<typename IsOptional<D>::inner>();
    p.optional = true;
  } else {
    p.type = TypeLibName<D>();
  }
  p.by_ref = std::is_lvalue_reference_v<P> && !std::is_const_v<std::remove_reference_t<P>>;
  return p;
}

template <class C, class Owner, class R, class... A>
struct MethodTraits {
  using Result = R;
  static std::vector<ParamInfo> Params() { return {DescribeParam<A>()...}; }
  // Optional parameters trail a method's list; a let's optional index arguments stand before
  // its value. Either way the required ones are the ones not optional.
  static std::size_t MinArgs() {
    return (std::size_t{0} + ... + (IsOptional<std::remove_cvref_t<A>>::value ? 0u : 1u));
  }
  // Where parameter I finds its argument. For a let or set the value is always the last
  // argument, and optional index arguments before it may be left out.
  template <bool kValueLast>
  static std::pair<std::size_t, bool> Slot(std::size_t i, std::size_t given) {
    constexpr std::size_t n = sizeof...(A);
    if constexpr (kValueLast) {
      if (i + 1 == n) return {given - 1, true};
      return {i, i + 1 < given};
    } else {
      return {i, i < given};
    }
  }
  template <auto Fn, bool kValueLast, std::size_t... I>
  static Variant Call(Object& self, [[maybe_unused]] std::span<Variant> args,
                      std::index_sequence<I...>) {
    auto& obj = static_cast<C&>(self);
    std::tuple<ArgHolder<A>...> holders{ArgHolder<A>(args, Slot<kValueLast>(I, args.size()).first,
                                                     Slot<kValueLast>(I, args.size()).second)...};
    if constexpr (std::is_void_v<R>) {
      (static_cast<Owner&>(obj).*Fn)(std::get<I>(holders).Get()...);
      (std::get<I>(holders).WriteBack(), ...);
      return Variant();
    } else {
      Variant result = ToVariant((static_cast<Owner&>(obj).*Fn)(std::get<I>(holders).Get()...));
      (std::get<I>(holders).WriteBack(), ...);
      return result;
    }
  }
  template <auto Fn, bool kValueLast>
  static Variant Invoke(Object& self, std::span<Variant> args) {
    return Call<Fn, kValueLast>(self, args, std::index_sequence_for<A...>{});
  }
};

// A member function's traits from its exact type: plain, const, noexcept, const noexcept.
template <class C, class F>
struct MemberOf;
template <class C, class Owner, class R, class... A>
struct MemberOf<C, R (Owner::*)(A...)> : MethodTraits<C, Owner, R, A...> {};
template <class C, class Owner, class R, class... A>
struct MemberOf<C, R (Owner::*)(A...) const> : MethodTraits<C, Owner, R, A...> {};
template <class C, class Owner, class R, class... A>
struct MemberOf<C, R (Owner::*)(A...) noexcept> : MethodTraits<C, Owner, R, A...> {};
template <class C, class Owner, class R, class... A>
struct MemberOf<C, R (Owner::*)(A...) const noexcept> : MethodTraits<C, Owner, R, A...> {};

template <class C, auto Fn>
struct Member : MemberOf<C, decltype(Fn)> {};

}  // namespace detail

/// First member id given to members without an explicit one.
inline constexpr DispId kFirstAutoId = 0x60030000;

template <class C>
class ClassBuilder {
 public:
  explicit ClassBuilder(std::string name) : name_(std::move(name)) {}

  template <auto Fn>
  ClassBuilder& Method(std::string_view name) {
    return Add<Fn>(name, MemberKind::kMethod);
  }
  template <auto Fn>
  ClassBuilder& Get(std::string_view name) {
    return Add<Fn>(name, MemberKind::kGet);
  }
  template <auto Fn>
  ClassBuilder& Let(std::string_view name) {
    return Add<Fn>(name, MemberKind::kLet);
  }
  template <auto Fn>
  ClassBuilder& Set(std::string_view name) {
    return Add<Fn>(name, MemberKind::kSet);
  }
  /// A property declared once: its get, then its let. Params, ByRef and ParamType that follow
  /// apply to both; the let's value, its last parameter, is named "vdata".
  template <auto GetFn, auto LetFn>
  ClassBuilder& Property(std::string_view name) {
    Add<GetFn>(name, MemberKind::kGet);
    const std::size_t from = last_from_;
    Add<LetFn>(name, MemberKind::kLet);
    last_from_ = from;
    auto& let_params = members_.back().params;
    if (!let_params.empty()) let_params.back().name = "vdata";
    return *this;
  }

  /// Gives the last member (and every member of its name) an explicit member id.
  ClassBuilder& Id(DispId id) { return Renumber(std::string(members_.back().name), id); }
  /// Gives every member of a name an explicit member id (for members added by a shared
  /// description that one class numbers differently).
  ClassBuilder& Renumber(std::string_view name, DispId id) {
    for (auto& m : members_) {
      if (EqualsIgnoreCase(m.name, name)) m.id = id;
    }
    return *this;
  }
  /// Makes the last member's name the default member (id 0).
  ClassBuilder& Default() { return Id(kDefaultMember); }
  /// Names the parameters of the last member (of both members of a property), in order.
  ClassBuilder& Params(std::initializer_list<const char*> names) {
    for (std::size_t m = last_from_; m < members_.size(); ++m) {
      auto& params = members_[m].params;
      std::size_t i = 0;
      for (const char* n : names) {
        if (i < params.size()) params[i++].name = n;
      }
    }
    return *this;
  }

  /// Marks named parameters of the last member as passed by reference, the automation way: the
  /// caller hands over its variable. Where the callee only reads it, the C++ signature takes
  /// `const&` and this mark is all that says "by reference"; a parameter the callee writes back
  /// to is a non-const reference and is marked by its type alone.
  ClassBuilder& ByRef(std::initializer_list<std::string_view> names) {
    for (std::string_view n : names) {
      bool found = false;
      for (std::size_t m = last_from_; m < members_.size(); ++m) {
        for (auto& p : members_[m].params) {
          if (p.name == n) p.by_ref = found = true;
        }
      }
      if (!found) throw std::logic_error("ByRef names no parameter: " + std::string(n));
    }
    return *this;
  }

  /// Names the class of the last member's result where its C++ type says only "an object".
  ClassBuilder& ResultType(const char* type) {
    members_.back().result_type = type;
    return *this;
  }
  /// The same for a named parameter of the last member.
  ClassBuilder& ParamType(std::string_view name, const char* type) {
    bool found = false;
    for (std::size_t m = last_from_; m < members_.size(); ++m) {
      for (auto& p : members_[m].params) {
        if (p.name == name) p.type = type, found = true;
      }
    }
    if (!found) throw std::logic_error("ParamType names no parameter: " + std::string(name));
    return *this;
  }

  ClassInfo Build() { return ClassInfo(std::move(name_), std::move(members_)); }

 private:
  template <auto Fn>
  ClassBuilder& Add(std::string_view name, MemberKind kind) {
    using M = detail::Member<C, Fn>;
    MemberInfo m;
    m.name = std::string(name);
    m.kind = kind;
    m.id = IdFor(name);
    m.params = M::Params();
    m.result_type = TypeLibName<typename M::Result>();
    m.min_args = M::MinArgs();
    if (kind == MemberKind::kLet || kind == MemberKind::kSet) {
      m.invoke = &M::template Invoke<Fn, true>;
    } else {
      m.invoke = &M::template Invoke<Fn, false>;
    }
    last_from_ = members_.size();
    members_.push_back(std::move(m));
    return *this;
  }

  // Names are looked up without regard to case, as late binding finds them: "value" and
  // "Value" are one member and share its id.
  DispId IdFor(std::string_view name) {
    for (const auto& m : members_) {
      if (EqualsIgnoreCase(m.name, name)) return m.id;
    }
    return next_id_++;
  }

  std::string name_;
  std::vector<MemberInfo> members_;
  std::size_t last_from_ = 0;  // the first member of the last declaration
  DispId next_id_ = kFirstAutoId;
};

}  // namespace kvt
