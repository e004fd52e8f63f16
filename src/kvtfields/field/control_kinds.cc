#include "kvtfields/field/control_kinds.h"

namespace kvtfields {
namespace {

namespace id = member_id;

template <class I>
bool Offers(IInputControl& control) {
  return dynamic_cast<I*>(&control) != nullptr;
}

}  // namespace

const FieldType::Kind* FieldType::KindOf(std::int32_t control_type) {
  using E = Kind::Empty;
  static const Kind kKinds[] = {
      {kTextBoxClass, &FieldType::mctlTextBox, &Offers<ITextBoxControl>, nullptr, id::kTextBoxText,
       true, id::kTextBoxLocked, false, id::kTextBoxLocked, false, E::kText, member::kText,
       &FieldType::ConfigureTextBox},
      {kComboClass, &FieldType::mctlComboBox, &Offers<ICodeComboControl>,
       &FieldType::SubscribeCodeMaintenance, id::kComboValue, true, id::kComboLocked, false,
       id::kComboLocked, false, E::kFirstEntry, nullptr, &FieldType::ConfigureCombo},
      {kDatePickerClass, &FieldType::mctlCalendar, &Offers<IDatePickerControl>,
       &FieldType::SubscribeDateEdit, id::kDatePickerValue, false, id::kDatePickerEnabled, true,
       id::kDatePickerEnabled, true, E::kNoDate, member::kValue, &FieldType::ConfigureCalendar},
      // The file link is locked through its lock flag and read back through its enabled flag.
      {kFileLinkerClass, &FieldType::mctlFileLinker, &Offers<IFileLinkerControl>, nullptr,
       id::kFileLinkerText, true, id::kFileLinkerEnabled, true, id::kFileLinkerLocked, false,
       E::kText, member::kText, &FieldType::ConfigureFileLinker},
  };
  if (control_type < kTextBox || control_type > kFileLinker) return nullptr;
  return &kKinds[control_type];
}

}  // namespace kvtfields
