// FieldType: the code list of the field, handed to its control.
#include "kvtfields/field/control_kinds.h"
#include "kvtfields/field/field_type.h"

#include "runtime/error.h"
#include "runtime/record_set.h"

namespace kvtfields {

void FieldType::LoadCodeList(const kvt::ObjectRef& control) {
  const std::string filter =
      "archive = '" + mArchive + "' and fieldType='" + mFieldName + "' order by cod";
  auto rs = mDBEngine->GetCodeList(filter);
  if (!rs)
    throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "GetCodeList", "kvtFields.FieldType");
  // The record set is closed whatever happens, also when a control refuses a value.
  struct CloseAtExit {
    kvt::RecordSet& rs;
    ~CloseAtExit() {
      if (rs.IsOpen()) rs.Close();
    }
  } close_at_exit{*rs};
  if (rs->Bof() && rs->Eof()) return;  // no codes: the control is not touched
  const Kind* kind = KindOf(mControlType);
  if (!kind) return;
  if (kind->first_code_member) {
    kvt::LetProperty(control, kind->first_code_member, rs->Value(0));
    return;
  }
  kvt::LetProperty(control, member::kHaveEmptyElement, true);
  kvt::SetProperty(control, member::kDataRows, rs);  // the record set itself; the combo copies it
  kvt::LetProperty(control, member::kRequeryRecordset, false);
  kvt::LetProperty(control, member::kComboBinding, "COD");
  kvt::LetProperty(control, member::kLabelBinding, "VALUE");
  kvt::CallMethod(control, member::kRefill);
}

}  // namespace kvtfields
