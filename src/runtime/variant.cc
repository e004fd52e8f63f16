#include "runtime/variant.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

#include "runtime/error.h"
#include "runtime/object.h"
#include "runtime/text.h"

namespace kvt {
namespace {

[[noreturn]] void Mismatch(const Variant& v, const char* target) {
  throw RuntimeError(ErrorCode::kTypeMismatch,
                     std::string("cannot convert ") + v.TypeName() + " to " + target);
}

[[noreturn]] void NullUse() {
  throw RuntimeError(ErrorCode::kInvalidUseOfNull);
}

// The value of an object's default member; Nothing raises 91.
Variant DefaultOf(const ObjectRef& o) {
  if (!o) throw RuntimeError(ErrorCode::kObjectNotSet);
  return GetDefaultValue(o);
}

double ToNumber(const Variant& v, const char* target) {
  switch (v.Type()) {
    case VarType::kEmpty:
      return 0;
    case VarType::kNull:
      NullUse();
    case VarType::kBoolean:
      return v.AsBool() ? -1 : 0;
    case VarType::kInteger:
      return v.AsInteger();
    case VarType::kLong:
      return v.AsLong();
    case VarType::kDouble:
      return v.AsDouble();
    case VarType::kDate:
      return v.AsDate().serial;
    case VarType::kString: {
      auto d = ParseLocaleNumber(v.AsString());
      if (!d) {
        throw RuntimeError(ErrorCode::kTypeMismatch,
                           "'" + v.AsString() + "' is not a number (" + target + ")");
      }
      return *d;
    }
    case VarType::kObject:
      return ToNumber(DefaultOf(v.AsObject()), target);
    case VarType::kArray:
      break;
  }
  Mismatch(v, target);
}

template <class Int>
Int ToInteger(const Variant& v, const char* target) {
  if constexpr (std::is_same_v<Int, std::int32_t>) {
    if (v.Type() == VarType::kLong) return v.AsLong();
  }
  if (v.Type() == VarType::kInteger) return v.AsInteger();
  const double d = ToNumber(v, target);
  const double r = std::nearbyint(d);  // the default rounding mode: half to even
  if (!(r >= static_cast<double>(std::numeric_limits<Int>::min()) &&
        r <= static_cast<double>(std::numeric_limits<Int>::max()))) {
    throw RuntimeError(ErrorCode::kOverflow, std::string(target));
  }
  return static_cast<Int>(r);
}

constexpr double kMinDateSerial = -657434;        // 01/01/100
constexpr double kMaxDateSerial = 2958465.99999;  // 31/12/9999 23:59:59

std::chrono::sys_days Epoch() {
  using namespace std::chrono;
  return sys_days(year(1899) / December / 30);
}

}  // namespace

Variant Variant::Null() noexcept {
  Variant v;
  v.v_ = NullTag{};
  return v;
}

VarType Variant::Type() const noexcept {
  switch (v_.index()) {
    case 0:
      return VarType::kEmpty;
    case 1:
      return VarType::kNull;
    case 2:
      return VarType::kBoolean;
    case 3:
      return VarType::kInteger;
    case 4:
      return VarType::kLong;
    case 5:
      return VarType::kDouble;
    case 6:
      return VarType::kDate;
    case 7:
      return VarType::kString;
    case 8:
      return VarType::kObject;
    default:
      return VarType::kArray;
  }
}

bool Variant::IsNothing() const noexcept {
  const auto* o = std::get_if<ObjectRef>(&v_);
  return o && !*o;
}

bool Variant::IsNumber() const noexcept {
  auto i = v_.index();
  return i >= 2 && i <= 6;
}

#define KVT_VARIANT_ACCESSOR(Type_, Name, Alt, Label)                             \
  Type_ Variant::Name() const {                                                   \
    if (const auto* p = std::get_if<Alt>(&v_)) return *p;                         \
    throw RuntimeError(ErrorCode::kTypeMismatch,                                  \
                       std::string("expected ") + Label + ", got " + TypeName()); \
  }
KVT_VARIANT_ACCESSOR(bool, AsBool, bool, "Boolean")
KVT_VARIANT_ACCESSOR(std::int16_t, AsInteger, std::int16_t, "Integer")
KVT_VARIANT_ACCESSOR(std::int32_t, AsLong, std::int32_t, "Long")
KVT_VARIANT_ACCESSOR(double, AsDouble, double, "Double")
KVT_VARIANT_ACCESSOR(Date, AsDate, Date, "Date")
KVT_VARIANT_ACCESSOR(const std::string&, AsString, std::string, "String")
KVT_VARIANT_ACCESSOR(const ObjectRef&, AsObject, ObjectRef, "Object")
#undef KVT_VARIANT_ACCESSOR

const Variant::Array& Variant::AsArray() const {
  if (const auto* p = std::get_if<ArrayRef>(&v_)) return **p;
  throw RuntimeError(ErrorCode::kTypeMismatch, "expected Array, got " + TypeName());
}

std::string Variant::TypeName() const {
  switch (Type()) {
    case VarType::kEmpty:
      return "Empty";
    case VarType::kNull:
      return "Null";
    case VarType::kBoolean:
      return "Boolean";
    case VarType::kInteger:
      return "Integer";
    case VarType::kLong:
      return "Long";
    case VarType::kDouble:
      return "Double";
    case VarType::kDate:
      return "Date";
    case VarType::kString:
      return "String";
    case VarType::kObject:
      return IsNothing() ? "Nothing" : AsObject()->Class().Name();
    case VarType::kArray:
      return "Variant()";
  }
  return "Unknown";
}

std::string CStr(const Variant& v) {
  switch (v.Type()) {
    case VarType::kEmpty:
      return {};
    case VarType::kNull:
      NullUse();
    case VarType::kBoolean:
      return v.AsBool() ? "True" : "False";
    case VarType::kInteger:
      return std::to_string(v.AsInteger());
    case VarType::kLong:
      return std::to_string(v.AsLong());
    case VarType::kDouble:
      return FormatLocaleNumber(v.AsDouble());
    case VarType::kDate:
      return FormatDate(v.AsDate());
    case VarType::kString:
      return v.AsString();
    case VarType::kObject:
      return CStr(DefaultOf(v.AsObject()));
    case VarType::kArray:
      break;
  }
  Mismatch(v, "String");
}

std::int16_t CInt(const Variant& v) {
  return ToInteger<std::int16_t>(v, "Integer");
}
std::int32_t CLng(const Variant& v) {
  return ToInteger<std::int32_t>(v, "Long");
}
double CDbl(const Variant& v) {
  return ToNumber(v, "Double");
}

bool CBool(const Variant& v) {
  switch (v.Type()) {
    case VarType::kEmpty:
      return false;
    case VarType::kNull:
      NullUse();
    case VarType::kBoolean:
      return v.AsBool();
    case VarType::kString: {
      const std::string& s = v.AsString();
      if (EqualsIgnoreCase(s, "True")) return true;
      if (EqualsIgnoreCase(s, "False")) return false;
      auto d = ParseLocaleNumber(s);
      if (!d) throw RuntimeError(ErrorCode::kTypeMismatch, "'" + s + "' is not a Boolean");
      return *d != 0;
    }
    case VarType::kObject:
      return CBool(DefaultOf(v.AsObject()));
    case VarType::kArray:
      Mismatch(v, "Boolean");
    default:
      return ToNumber(v, "Boolean") != 0;
  }
}

Date CDate(const Variant& v) {
  switch (v.Type()) {
    case VarType::kNull:
      NullUse();
    case VarType::kDate:
      if (!(v.AsDate().serial >= kMinDateSerial && v.AsDate().serial <= kMaxDateSerial)) {
        throw RuntimeError(ErrorCode::kOverflow, "Date");
      }
      return v.AsDate();
    case VarType::kString: {
      Date d;
      if (!ParseDate(v.AsString(), &d)) {
        throw RuntimeError(ErrorCode::kTypeMismatch, "'" + v.AsString() + "' is not a date");
      }
      return d;
    }
    case VarType::kObject:
      return CDate(DefaultOf(v.AsObject()));
    case VarType::kArray:
      Mismatch(v, "Date");
    default: {
      const double d = ToNumber(v, "Date");
      if (!(d >= kMinDateSerial && d <= kMaxDateSerial)) {
        throw RuntimeError(ErrorCode::kOverflow, "Date");
      }
      return Date{d};
    }
  }
}

ObjectRef CObj(const Variant& v) {
  if (v.IsObject()) return v.AsObject();
  throw RuntimeError(ErrorCode::kObjectRequired, "got " + v.TypeName());
}

std::string JoinText(const Variant& v) {
  if (v.IsEmpty() || v.IsNull()) return {};
  return CStr(v);
}

bool IsNumeric(const Variant& v) {
  switch (v.Type()) {
    case VarType::kEmpty:
    case VarType::kBoolean:
    case VarType::kInteger:
    case VarType::kLong:
    case VarType::kDouble:
      return true;
    case VarType::kString:
      return ParseLocaleNumber(v.AsString()).has_value();
    default:
      return false;
  }
}

Tri Equals(const Variant& a, const Variant& b) {
  if (a.IsNull() || b.IsNull()) return Tri::kNull;
  if (a.IsArray() || b.IsArray()) throw RuntimeError(ErrorCode::kTypeMismatch, "array compare");
  auto tri = [](bool x) { return x ? Tri::kTrue : Tri::kFalse; };
  if (a.IsObject() && b.IsObject()) return tri(a.AsObject() == b.AsObject());
  if (a.IsObject()) return Equals(DefaultOf(a.AsObject()), b);
  if (b.IsObject()) return Equals(a, DefaultOf(b.AsObject()));
  if (a.IsEmpty() && b.IsEmpty()) return Tri::kTrue;
  if (a.IsEmpty()) return Equals(b, a);
  if (b.IsEmpty()) return a.IsString() ? tri(a.AsString().empty()) : tri(CDbl(a) == 0);
  if (a.IsString() && b.IsString()) return tri(a.AsString() == b.AsString());
  if (a.IsString() || b.IsString()) return Tri::kFalse;
  return tri(CDbl(a) == CDbl(b));
}

Tri EqualsText(const Variant& a, std::string_view literal) {
  if (a.IsNull()) return Tri::kNull;
  if (a.IsString()) return a.AsString() == literal ? Tri::kTrue : Tri::kFalse;
  return CStr(a) == literal ? Tri::kTrue : Tri::kFalse;
}

Date MakeDate(int y, int m, int d, int hh, int mm, int ss) {
  using namespace std::chrono;
  // month and day keep only 8 bits: 258 would be taken for 2. Out of range is refused first.
  if (m < 1 || m > 12 || d < 1 || d > 31) {
    throw RuntimeError(ErrorCode::kInvalidProcedureCall, "not a valid date");
  }
  const year_month_day ymd{year(y), month(static_cast<unsigned>(m)), day(static_cast<unsigned>(d))};
  if (!ymd.ok() || y < 100 || y > 9999 || hh < 0 || hh > 23 || mm < 0 || mm > 59 || ss < 0 ||
      ss > 59) {
    throw RuntimeError(ErrorCode::kInvalidProcedureCall, "not a valid date");
  }
  const double days = static_cast<double>((sys_days(ymd) - Epoch()).count());
  const double frac = (hh * 3600 + mm * 60 + ss) / 86400.0;
  // Before the epoch the time of day still counts forward from midnight.
  return Date{days >= 0 ? days + frac : days - frac};
}

std::string FormatDate(Date d) {
  using namespace std::chrono;
  // A date held outside the platform's years (or not a number at all) has no text.
  if (!(d.serial >= kMinDateSerial && d.serial <= kMaxDateSerial)) {
    throw RuntimeError(ErrorCode::kOverflow, "date out of range");
  }
  double whole = std::trunc(d.serial);
  long secs = std::lround(std::fabs(d.serial - whole) * 86400.0);
  if (secs >= 86400) {  // rounding reached midnight
    secs = 0;
    whole += d.serial >= 0 ? 1 : -1;
  }
  const year_month_day ymd{Epoch() + days(static_cast<long>(whole))};
  char buf[48];
  if (secs == 0) {
    std::snprintf(buf, sizeof buf, "%02u/%02u/%04d", unsigned(ymd.day()), unsigned(ymd.month()),
                  int(ymd.year()));
  } else {
    std::snprintf(buf, sizeof buf, "%02u/%02u/%04d %02ld:%02ld:%02ld", unsigned(ymd.day()),
                  unsigned(ymd.month()), int(ymd.year()), secs / 3600, secs / 60 % 60, secs % 60);
  }
  return buf;
}

namespace {
// Reads an unsigned number of 1 to `max_digits` digits.
bool ReadUInt(std::string_view s, std::size_t& i, int max_digits, int* out) {
  int v = 0, n = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9' && n < max_digits) {
    v = v * 10 + (s[i++] - '0');
    ++n;
  }
  *out = v;
  return n > 0;
}
bool Expect(std::string_view s, std::size_t& i, char c) {
  if (i < s.size() && s[i] == c) {
    ++i;
    return true;
  }
  return false;
}
}  // namespace

bool ParseDate(std::string_view text, Date* out) {
  std::string_view s = text;
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  std::size_t i = 0;
  int a = 0, b = 0, c = 0, y = 0, m = 0, d = 0;
  if (!ReadUInt(s, i, 4, &a)) return false;
  const std::size_t first_digits = i;
  if (Expect(s, i, '-')) {  // ISO: yyyy-mm-dd
    if (first_digits != 4 || !ReadUInt(s, i, 2, &b) || !Expect(s, i, '-') ||
        !ReadUInt(s, i, 2, &c)) {
      return false;
    }
    y = a, m = b, d = c;
  } else if (first_digits <= 2 && Expect(s, i, '/')) {  // dd/mm/yyyy
    if (!ReadUInt(s, i, 2, &b) || !Expect(s, i, '/') || !ReadUInt(s, i, 4, &c)) return false;
    d = a, m = b, y = c;
  } else {
    return false;
  }
  int hh = 0, mm = 0, ss = 0;
  if (i < s.size()) {
    if (!(Expect(s, i, ' ') || Expect(s, i, 'T'))) return false;
    if (!ReadUInt(s, i, 2, &hh) || !Expect(s, i, ':') || !ReadUInt(s, i, 2, &mm)) return false;
    if (Expect(s, i, ':') && !ReadUInt(s, i, 2, &ss)) return false;
    if (i != s.size()) return false;
  }
  try {
    *out = MakeDate(y, m, d, hh, mm, ss);
  } catch (const Error&) {
    return false;
  }
  return true;
}

Date Today() {
  using namespace std::chrono;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return MakeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

}  // namespace kvt
