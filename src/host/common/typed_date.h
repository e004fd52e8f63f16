// A date as a person types it into a date box: what it reads as, or why it cannot be taken.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "runtime/variant.h"

namespace kvthost {

/// The reading of a typed date: a date, or the Italian reason why the text is none.
struct TypedDate {
  std::optional<kvt::Date> date;
  std::string refusal;  // set when `date` is not
};

/// Reads "d/m/yyyy", "d/m/yy" (the current century), "d/m" (the current year) or the digits
/// without separators (6 or 8: ddmmyy, ddmmyyyy). A part missing or a day the month does not
/// have is refused with its reason; blanks around the text and the separators are ignored.
TypedDate ReadTypedDate(std::string_view text);

}  // namespace kvthost
