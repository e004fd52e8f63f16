// Conversions between Variant and the C++ types of typed members, used by the member tables
// (ClassBuilder) so that the late-bound face of a class is generated from its typed methods.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "runtime/error.h"
#include "runtime/object.h"
#include "runtime/variant.h"

namespace kvt {

template <class T>
struct IsSharedPtr : std::false_type {};
template <class T>
struct IsSharedPtr<std::shared_ptr<T>> : std::true_type {
  using element = T;
};

/// Converts a variant to a C++ value with the runtime's strict conversions. An object of the
/// wrong class for a typed reference raises 13; Nothing gives a null reference.
template <class T>
T FromVariant(const Variant& v) {
  if constexpr (std::is_same_v<T, Variant>) {
    return v;
  } else if constexpr (std::is_same_v<T, std::string>) {
    return CStr(v);
  } else if constexpr (std::is_same_v<T, bool>) {
    return CBool(v);
  } else if constexpr (std::is_same_v<T, std::int16_t>) {
    return CInt(v);
  } else if constexpr (std::is_same_v<T, std::int32_t>) {
    return CLng(v);
  } else if constexpr (std::is_same_v<T, double>) {
    return CDbl(v);
  } else if constexpr (std::is_same_v<T, Date>) {
    return CDate(v);
  } else if constexpr (std::is_same_v<T, ObjectRef>) {
    return CObj(v);
  } else if constexpr (IsSharedPtr<T>::value) {
    using E = typename IsSharedPtr<T>::element;
    ObjectRef o = CObj(v);
    if (!o) return nullptr;
    auto typed = std::dynamic_pointer_cast<E>(o);
    if (!typed) {
      throw RuntimeError(ErrorCode::kTypeMismatch,
                         o->Class().Name() + " is not of the expected type");
    }
    return typed;
  } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
    std::vector<std::string> out;
    for (const Variant& e : Enumerate(v)) out.push_back(CStr(e));
    return out;
  } else if constexpr (std::is_same_v<T, std::vector<Variant>>) {
    return Enumerate(v);
  } else {
    static_assert(sizeof(T) == 0, "no variant conversion for this type");
  }
}

/// Wraps a C++ value into a variant.
template <class T>
Variant ToVariant(T&& value) {
  using D = std::remove_cvref_t<T>;
  if constexpr (std::is_same_v<D, Variant> || std::is_same_v<D, std::string> ||
                std::is_same_v<D, bool> || std::is_same_v<D, std::int16_t> ||
                std::is_same_v<D, std::int32_t> || std::is_same_v<D, double> ||
                std::is_same_v<D, Date> || std::is_same_v<D, ObjectRef>) {
    return Variant(std::forward<T>(value));
  } else if constexpr (IsSharedPtr<D>::value) {
    using E = typename IsSharedPtr<D>::element;
    if constexpr (std::is_convertible_v<E*, Object*>) {
      return Variant(ObjectRef(std::forward<T>(value)));
    } else {
      return Variant(std::dynamic_pointer_cast<Object>(value));
    }
  } else if constexpr (std::is_same_v<D, std::vector<std::string>> ||
                       std::is_same_v<D, std::vector<Variant>>) {
    Variant::Array a(value.begin(), value.end());
    return Variant(std::move(a));
  } else {
    static_assert(sizeof(D) == 0, "no variant conversion for this type");
  }
}

/// The type name that the type library shows for a C++ type.
template <class T>
const char* TypeLibName() {
  using D = std::remove_cvref_t<T>;
  if constexpr (std::is_void_v<D>)
    return "";
  else if constexpr (std::is_same_v<D, Variant>)
    return "Variant";
  else if constexpr (std::is_same_v<D, std::string>)
    return "String";
  else if constexpr (std::is_same_v<D, bool>)
    return "Boolean";
  else if constexpr (std::is_same_v<D, std::int16_t>)
    return "Integer";
  else if constexpr (std::is_same_v<D, std::int32_t>)
    return "Long";
  else if constexpr (std::is_same_v<D, double>)
    return "Double";
  else if constexpr (std::is_same_v<D, Date>)
    return "Date";
  else if constexpr (std::is_same_v<D, std::vector<std::string>>)
    return "String()";
  else if constexpr (std::is_same_v<D, std::vector<Variant>>)
    return "Variant()";
  else if constexpr (requires { D::element_type::kTypeLibName; })
    return D::element_type::kTypeLibName;  // a counted reference to a class of the library
  else
    return "Object";
}

}  // namespace kvt
