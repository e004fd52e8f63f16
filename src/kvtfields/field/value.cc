// FieldType: value, lock and clear, read and written through the control's member ids.
#include "kvtfields/field/field_type.h"

#include "runtime/error.h"

namespace kvtfields {

namespace id = member_id;

kvt::Variant FieldType::Value() {
  EnsureInitialized();
  switch (mControlType) {
    case kTextBox:
      return kvt::CStr(kvt::GetProperty(RequireControl(), id::kTextBoxText));
    case kComboBox:
      return kvt::CStr(kvt::GetProperty(RequireControl(), id::kComboValue));
    case kFileLinker:
      return kvt::CStr(kvt::GetProperty(RequireControl(), id::kFileLinkerText));
    case kCalendar:
      return kvt::GetProperty(RequireControl(), id::kDatePickerValue);
    default:
      return kvt::Variant();
  }
}

void FieldType::LetValue(kvt::Variant vdata) {
  EnsureInitialized();
  kvt::DispId member;
  switch (mControlType) {
    case kTextBox:
      member = id::kTextBoxText;
      break;
    case kComboBox:
      member = id::kComboValue;
      break;
    case kFileLinker:
      member = id::kFileLinkerText;
      break;
    case kCalendar: {
      const kvt::ObjectRef& picker = RequireControl();
      const kvt::Variant current = kvt::GetProperty(picker, id::kDatePickerValue);
      // A Null comparison counts as equal: clearing a date through Null is no change.
      if ((current.IsNull() && !vdata.IsNull()) ||
          kvt::Equals(current, vdata) == kvt::Tri::kFalse) {
        mValueChanged = true;
      }
      const bool empty = kvt::EqualsText(vdata, "") == kvt::Tri::kTrue;
      kvt::LetProperty(picker, id::kDatePickerValue, empty ? kvt::Variant::Null() : vdata);
      return;
    }
    default:
      return;
  }
  const kvt::ObjectRef& control = RequireControl();
  const kvt::Variant current(kvt::CStr(kvt::GetProperty(control, member)));
  if (kvt::Equals(current, vdata) == kvt::Tri::kFalse) mValueChanged = true;
  // Written whether or not it changed; Null cannot become text and fails here.
  kvt::LetProperty(control, member, kvt::CStr(vdata));
}

bool FieldType::Locked() {
  EnsureInitialized();
  switch (mControlType) {
    case kTextBox:
      return kvt::CBool(kvt::GetProperty(RequireControl(), id::kTextBoxLocked));
    case kComboBox:
      return kvt::CBool(kvt::GetProperty(RequireControl(), id::kComboLocked));
    case kCalendar:
      return !kvt::CBool(kvt::GetProperty(RequireControl(), id::kDatePickerEnabled));
    case kFileLinker:
      return !kvt::CBool(kvt::GetProperty(RequireControl(), id::kFileLinkerEnabled));
    default:
      return false;
  }
}

void FieldType::LetLocked(bool vdata) {
  EnsureInitialized();
  switch (mControlType) {
    case kTextBox:
      kvt::LetProperty(RequireControl(), id::kTextBoxLocked, vdata);
      break;
    case kComboBox:
      kvt::LetProperty(RequireControl(), id::kComboLocked, vdata);
      break;
    case kCalendar:
      kvt::LetProperty(RequireControl(), id::kDatePickerEnabled, !vdata);
      break;
    // The file link is locked through its lock flag, read back through its enabled flag.
    case kFileLinker:
      kvt::LetProperty(RequireControl(), id::kFileLinkerLocked, vdata);
      break;
    default:
      break;
  }
}

void FieldType::ClearControlValue() {
  EnsureInitialized();
  switch (mControlType) {
    case kTextBox:
      kvt::LetProperty(RequireControl(), id::kTextBoxText, "");
      break;
    case kComboBox: {
      const kvt::ObjectRef& combo = RequireControl();
      if (kvt::CInt(kvt::GetProperty(combo, id::kComboListCount)) > 0) {
        kvt::LetProperty(combo, id::kComboListIndex, kvt::Variant(std::int16_t{0}));
      }
      break;
    }
    case kCalendar:
      kvt::LetProperty(RequireControl(), id::kDatePickerValue, kvt::Variant::Null());
      break;
    case kFileLinker:
      kvt::LetProperty(RequireControl(), id::kFileLinkerText, "");
      break;
    default:
      break;
  }
}

void FieldType::NotifyAfterSave() {
  if (mAutoComplete && mControlType == kTextBox && mAutoCompleter) mAutoCompleter->NotifySaved("");
}

}  // namespace kvtfields
