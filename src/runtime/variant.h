// Variant: the one value type of late-bound calls, field values and script results.
#pragma once

#include <compare>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kvt {

class Object;
/// A counted reference to an automation object; a null reference is Nothing.
using ObjectRef = std::shared_ptr<Object>;

/// A date as a day serial: whole days since 30/12/1899, the fraction is the time of day.
struct Date {
  double serial = 0;
  auto operator<=>(const Date&) const = default;
};

/// The kinds a Variant can hold, numbered as the automation platform numbers them.
enum class VarType : int {
  kEmpty = 0,
  kNull = 1,
  kInteger = 2,
  kLong = 3,
  kDouble = 5,
  kDate = 7,
  kString = 8,
  kObject = 9,
  kBoolean = 11,
  kArray = 8192,
};

/// Result of a comparison that can be Null. An `If` on kNull takes the false branch.
enum class Tri { kFalse, kTrue, kNull };

class Variant {
 public:
  using Array = std::vector<Variant>;

  Variant() noexcept = default;  // Empty
  Variant(bool b) noexcept : v_(b) {}
  Variant(std::int16_t i) noexcept : v_(i) {}
  Variant(std::int32_t l) noexcept : v_(l) {}
  Variant(double d) noexcept : v_(d) {}
  Variant(Date d) noexcept : v_(d) {}
  Variant(std::string s) noexcept : v_(std::move(s)) {}
  Variant(std::string_view s) : v_(std::string(s)) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(ObjectRef o) noexcept : v_(std::move(o)) {}
  template <class T>
  requires std::is_convertible_v<T*, Object*> Variant(std::shared_ptr<T> o)
  noexcept : v_(ObjectRef(std::move(o))) {}
  Variant(Array a) : v_(std::make_shared<const Array>(std::move(a))) {}

  static Variant Null() noexcept;
  static Variant Nothing() noexcept { return Variant(ObjectRef()); }

  VarType Type() const noexcept;
  bool IsEmpty() const noexcept { return v_.index() == 0; }
  bool IsNull() const noexcept { return v_.index() == 1; }
  bool IsObject() const noexcept { return std::holds_alternative<ObjectRef>(v_); }
  /// An Object variant whose reference is null.
  bool IsNothing() const noexcept;
  bool IsString() const noexcept { return std::holds_alternative<std::string>(v_); }
  bool IsArray() const noexcept { return std::holds_alternative<ArrayRef>(v_); }
  /// Boolean, Integer, Long, Double or Date.
  bool IsNumber() const noexcept;

  // Exact accessors: the caller has checked Type(). A wrong kind raises error 13.
  bool AsBool() const;
  std::int16_t AsInteger() const;
  std::int32_t AsLong() const;
  double AsDouble() const;
  Date AsDate() const;
  const std::string& AsString() const;
  const ObjectRef& AsObject() const;
  const Array& AsArray() const;

  /// Name of the kind, as TypeName shows it ("Empty", "String", "Long" ...).
  std::string TypeName() const;

 private:
  struct NullTag {
    bool operator==(const NullTag&) const = default;
  };
  using ArrayRef = std::shared_ptr<const Array>;
  std::variant<std::monostate, NullTag, bool, std::int16_t, std::int32_t, double, Date, std::string,
               ObjectRef, ArrayRef>
      v_;
};

// Strict conversions. Null raises 94, text or kinds that do not convert raise 13, values out
// of the target's range raise 6; integers round half to even; Boolean True is -1.

std::string CStr(const Variant& v);
std::int16_t CInt(const Variant& v);
std::int32_t CLng(const Variant& v);
bool CBool(const Variant& v);
double CDbl(const Variant& v);
Date CDate(const Variant& v);
/// The object a variant holds; Nothing is returned as a null reference; other kinds raise 13.
ObjectRef CObj(const Variant& v);

/// The text of `v` joined with "": Empty and Null give "", anything else CStr.
std::string JoinText(const Variant& v);

/// True when `v` converts to a number: Empty, Boolean, numbers, and locale-numeric text.
bool IsNumeric(const Variant& v);

/// Equality of two variants: Null with anything is Null; Empty equals "" and 0; numbers (Date
/// and Boolean included) compare as numbers; strings compare exactly; a number and a string are
/// never equal; objects are equal when they are the same object. Arrays raise 13.
Tri Equals(const Variant& a, const Variant& b);

/// Equality with a text literal: Null gives Null; otherwise the variant's text is compared.
Tri EqualsText(const Variant& a, std::string_view literal);

// Dates.

/// Day serial of a calendar date; raises 5 for an impossible date.
Date MakeDate(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
/// Text of a date as dd/mm/yyyy, with " hh:mm:ss" when it has a time of day.
std::string FormatDate(Date d);  // raises 6 for a date outside the years 100 to 9999
/// Parses "d/m/yyyy" with an optional " h:mm[:ss]", or ISO "yyyy-mm-dd[ hh:mm[:ss]]".
bool ParseDate(std::string_view text, Date* out);
/// Today's date (no time of day), by the machine's clock.
Date Today();

}  // namespace kvt
