// What differs between the four kinds of a field's input control, in one table: the class the
// form creates, the field's event-bound variable and the type test that binding makes, the
// events beyond the four every input control raises, the value and lock members with their
// sense, the empty value, where the code list goes and how a new control is configured. Private to
// the field.
#pragma once

#include <vector>

#include "kvtfields/field/field_type.h"

namespace kvtfields {

struct FieldType::Kind {
  enum class Empty { kText, kFirstEntry, kNoDate };

  const char* class_name;
  EventBound<IInputControl> FieldType::*bound;  // mctlTextBox ...
  /// The type test of LinkedControl: does the control offer this kind's interface?
  bool (*offers)(IInputControl& control);
  /// Subscribes the field to the kind's own events; null when it has none.
  void (FieldType::*subscribe_more)(IInputControl& control, std::vector<kvt::Subscription>& subs);
  kvt::DispId value;
  bool value_is_text;  // read as a String; otherwise returned as it comes (a Date or Null)
  kvt::DispId lock_read;
  bool lock_read_inverted;  // Locked is the negation of the member read
  kvt::DispId lock_write;
  bool lock_write_inverted;
  Empty empty;  // what ClearControlValue writes
  /// The member the first code of the list goes to; null for the combo, which takes the list.
  const char* first_code_member;
  /// Sets the kind's own members of a new control: sizes, limits, formats.
  void (FieldType::*configure)(const kvt::ObjectRef& control, std::int32_t width,
                               std::int32_t height);
};

}  // namespace kvtfields
