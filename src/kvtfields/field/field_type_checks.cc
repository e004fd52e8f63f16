// FieldType: the input checks of a text field, run when the person leaves it.
#include <array>

#include "kvtfields/field/field_type.h"
#include "runtime/error.h"
#include "runtime/text.h"

namespace kvtfields {

void FieldType::OnTextValidate(bool& cancel) {
  const kvt::ObjectRef& box = RequireControl();
  const std::string text = kvt::CStr(kvt::GetProperty(box, member_id::kTextBoxText));
  if (text.empty()) return;  // nothing typed: no rule, no script, no callback
  for (const auto& [message, kind] : TextRuleFailures(text)) {
    ReportInputError(message, kind);
    cancel = true;
  }
  // The case is converted whether or not a rule failed.
  if (mCharFormat == 1) {
    kvt::LetProperty(box, member_id::kTextBoxText, kvt::ToUpper(text));
  } else if (mCharFormat == 2) {
    kvt::LetProperty(box, member_id::kTextBoxText, kvt::ToLower(text));
  }
  RaiseScriptEvent("valida", cancel);
  if (!cancel) RaiseCallBack("Validate");
}

std::vector<std::pair<std::string, std::int32_t>> FieldType::TextRuleFailures(
    const std::string& text) const {
  std::vector<std::pair<std::string, std::int32_t>> failures;
  if (text.empty()) return failures;
  if (mMinLen != 0 && kvt::CharLength(text) < static_cast<std::size_t>(std::max<int>(mMinLen, 0))) {
    failures.emplace_back("Il campo \"" + mLabel + "\" ammette solo dati più " + "lunghi di " +
                              std::to_string(mMinLen) + " caratteri",
                          0);
  }
  if (mDataFormat == 1 && !kvt::IsNumeric(kvt::Variant(text))) {
    failures.emplace_back("Il campo \"" + mLabel + "\" ammette solo valori numerici", 1);
  }
  return failures;
}

void FieldType::ReportInputError(const std::string& message, std::int32_t kind) {
  // Owner, collection, coordinator and error list are fetched afresh for every report.
  auto owner = GetCallBack();
  if (!owner) return;
  kvt::ObjectRef fields = owner->callback->FieldsCollectionObj();
  auto* source = dynamic_cast<internal::CoordinatorSource*>(fields.get());
  if (!source) return;
  kvt::ObjectRef coordinator = source->Coordinator();
  if (!coordinator) return;
  kvt::ObjectRef errors = kvt::CObj(kvt::GetProperty(coordinator, member::kErrori));
  std::array<kvt::Variant, 3> args{kvt::Variant(message), kvt::Variant(kind),
                                   kvt::Variant(mFieldName)};
  kvt::Invoke(errors, member::kAggiungiUnErrore, kvt::MemberKind::kMethod, args);
}

}  // namespace kvtfields
