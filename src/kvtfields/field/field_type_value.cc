// FieldType: value, lock and clear, read and written through the control's member ids.
#include "kvtfields/field/control_kinds.h"
#include "kvtfields/field/field_type.h"
#include "runtime/error.h"

namespace kvtfields {

kvt::Variant FieldType::Value() {
  EnsureInitialized();
  const Kind* kind = KindOf(mControlType);
  if (!kind) return kvt::Variant();
  kvt::Variant value = kvt::GetProperty(RequireControl(), kind->value);
  return kind->value_is_text ? kvt::Variant(kvt::CStr(value)) : value;
}

void FieldType::LetValue(kvt::Variant vdata) {
  EnsureInitialized();
  const Kind* kind = KindOf(mControlType);
  if (!kind) return;
  const kvt::ObjectRef& control = RequireControl();
  if (!kind->value_is_text) {  // the date picker
    const kvt::Variant current = kvt::GetProperty(control, kind->value);
    // A Null comparison counts as equal: clearing a date through Null is no change.
    if ((current.IsNull() && !vdata.IsNull()) || kvt::Equals(current, vdata) == kvt::Tri::kFalse) {
      mValueChanged = true;
    }
    const bool empty = kvt::EqualsText(vdata, "") == kvt::Tri::kTrue;
    kvt::LetProperty(control, kind->value, empty ? kvt::Variant::Null() : vdata);
    return;
  }
  const kvt::Variant current(kvt::CStr(kvt::GetProperty(control, kind->value)));
  if (kvt::Equals(current, vdata) == kvt::Tri::kFalse) mValueChanged = true;
  // Written whether or not it changed; Null cannot become text and fails here.
  kvt::LetProperty(control, kind->value, kvt::CStr(vdata));
}

bool FieldType::Locked() {
  EnsureInitialized();
  const Kind* kind = KindOf(mControlType);
  if (!kind) return false;
  const bool flag = kvt::CBool(kvt::GetProperty(RequireControl(), kind->lock_read));
  return kind->lock_read_inverted ? !flag : flag;
}

void FieldType::LetLocked(bool vdata) {
  EnsureInitialized();
  const Kind* kind = KindOf(mControlType);
  if (!kind) return;
  kvt::LetProperty(RequireControl(), kind->lock_write, kind->lock_write_inverted ? !vdata : vdata);
}

void FieldType::ClearControlValue() {
  EnsureInitialized();
  const Kind* kind = KindOf(mControlType);
  if (!kind) return;
  const kvt::ObjectRef& control = RequireControl();
  switch (kind->empty) {
    case Kind::Empty::kText:
      kvt::LetProperty(control, kind->value, "");
      break;
    case Kind::Empty::kFirstEntry:  // the combo's empty first entry, when it has a list
      if (kvt::CInt(kvt::GetProperty(control, member_id::kComboListCount)) > 0) {
        kvt::LetProperty(control, member_id::kComboListIndex, kvt::Variant(std::int16_t{0}));
      }
      break;
    case Kind::Empty::kNoDate:
      kvt::LetProperty(control, kind->value, kvt::Variant::Null());
      break;
  }
}

void FieldType::NotifyAfterSave() {
  if (mAutoComplete && mControlType == kTextBox && mAutoCompleter) mAutoCompleter->NotifySaved("");
}

}  // namespace kvtfields
