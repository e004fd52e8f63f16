// FieldType: creating, configuring and binding the caption label and the input control.
#include "kvtfields/field/field_type.h"

#include "kvtfields/field/control_kinds.h"
#include "runtime/class_registry.h"
#include "runtime/error.h"

namespace kvtfields {
namespace {

constexpr const char* kSource = "kvtFields.FieldType";

// Replaces the form's control of a name with a new one of class `cls` (null: only removes).
// Removing ignores every error: there may be no control of that name.
kvt::ObjectRef ReplaceOnForm(const kvt::ObjectRef& form_item, const char* cls,
                             const std::string& name) {
  kvt::ObjectRef controls;
  try {
    controls = kvt::CObj(kvt::GetProperty(form_item, member::kControls));
    // A collection that can tell spares the failed removal of a control that is not there.
    auto* lookup = dynamic_cast<IControlLookup*>(controls.get());
    if (!lookup || lookup->Contains(name)) kvt::CallMethod(controls, member::kRemove, name);
  } catch (const kvt::Error&) {
  }
  if (!cls) return nullptr;
  if (!controls) controls = kvt::CObj(kvt::GetProperty(form_item, member::kControls));  // raises
  return kvt::CObj(kvt::CallMethod(controls, member::kAdd, cls, name));
}

}  // namespace

std::int32_t FieldType::ControlType(std::optional<kvt::ObjectRef> /*form_item*/) const {
  return mControlType;
}

void FieldType::LetControlType(std::optional<kvt::ObjectRef> form_item, std::int32_t value) {
  if (value == mControlType) return;
  mControlType = value;  // stored first: AddControl below builds the new kind
  SetLinkedControl(AddControl(form_item.value_or(nullptr)));
}

kvt::ObjectRef FieldType::AddLabel(kvt::ObjectRef form_item) {
  EnsureInitialized();
  kvt::ObjectRef label = ReplaceOnForm(form_item, kLabelClass, "Label_" + mFieldName);
  SetupLabel(label);
  return label;
}

void FieldType::SetupLabel(const kvt::ObjectRef& label) {
  auto* l = dynamic_cast<ILabelControl*>(label.get());
  if (!l) throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch, "not a label", kSource);
  l->LetCaption(mLabel + ": ");
  l->LetAutoSize(true);
  l->LetBackStyle(0);  // transparent
  l->LetToolTipText(mDescr);
  l->LetTag("Label_" + mFieldName);
}

kvt::ObjectRef FieldType::AddControl(kvt::ObjectRef form_item) {
  EnsureInitialized();
  // An unknown kind gets no control, which fails in PrepareControl.
  const Kind* kind = KindOf(mControlType);
  kvt::ObjectRef control = ReplaceOnForm(form_item, kind ? kind->class_name : nullptr, mFieldName);
  PrepareControl(control);
  return control;
}

void FieldType::PrepareControl(const kvt::ObjectRef& control) {
  ConfigureControl(control);
  LoadCodeList(control);
}

void FieldType::ConfigureControl(const kvt::ObjectRef& control) {
  std::int32_t height = kDefaultControlHeight;
  if (mVisualProperty->HasVisualProperty() && mVisualProperty->Height() != 0) {
    height = mVisualProperty->Height();
  }
  const std::int32_t width = mVisualProperty->Width();
  if (const Kind* kind = KindOf(mControlType)) (this->*kind->configure)(control, width, height);
  kvt::LetProperty(control, member::kToolTipText, mDescr);
  kvt::LetProperty(control, member::kTag, mFieldName);
}

void FieldType::ConfigureTextBox(const kvt::ObjectRef& control, std::int32_t width,
                                 std::int32_t height) {
  kvt::LetProperty(control, member::kHeight, height);
  kvt::LetProperty(control, member::kMaxLength, mMaxLen);
  if (width != 0) kvt::LetProperty(control, member::kWidth, width);
  if (mVisualProperty->HasVisualProperty()) {
    kvt::LetProperty(control, member::kMultiLine, mVisualProperty->MultiLine());
  }
  if (mAutoComplete) AttachAutoCompleter(control);
}

void FieldType::ConfigureCombo(const kvt::ObjectRef& control, std::int32_t width,
                               std::int32_t /*height*/) {
  if (width != 0) kvt::LetProperty(control, member::kWidth, width);
  kvt::LetProperty(control, member::kVisibleDescription, mVisualProperty->ShowComboLabel());
  if (mVisualProperty->HasVisualProperty()) {
    kvt::LetProperty(control, member::kBehavior, mVisualProperty->MultiLine() ? 2 : 1);
  }
}

void FieldType::ConfigureCalendar(const kvt::ObjectRef& control, std::int32_t width,
                                  std::int32_t height) {
  kvt::LetProperty(control, member::kHeight, height);
  if (width != 0) kvt::LetProperty(control, member::kWidth, width);
  kvt::LetProperty(control, member::kFormat, 3);  // custom format
  kvt::LetProperty(control, member::kCustomFormat, "dd/MM/yyyy");
  kvt::LetProperty(control, member::kCheckBox, true);  // the picker can hold no date
}

void FieldType::ConfigureFileLinker(const kvt::ObjectRef& control, std::int32_t width,
                                    std::int32_t height) {
  kvt::LetProperty(control, member::kHeight, height);
  if (width != 0) kvt::LetProperty(control, member::kWidth, width);
}

void FieldType::AttachAutoCompleter(const kvt::ObjectRef& control) {
  auto made = kvt::CreateObject(kAutoCompleterProgId);
  mAutoCompleter = std::dynamic_pointer_cast<IAutoCompleter>(made);
  if (!mAutoCompleter) {
    throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch,
                            std::string(kAutoCompleterProgId) + " is not an autocomplete class",
                            kSource);
  }
  auto connection = mDBEngine->Connection();
  if (!connection) throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "Connection", kSource);
  mAutoCompleter->Attach(connection->AdoConnection(), "SYS_AUTOCOMPLETE",
                         mArchive + "-" + mFieldName, control);
  mAutoCompleter->LetMatchCase(false);
  mAutoCompleter->LetLearnNewValues(true);
}

void FieldType::SetLinkedControl(kvt::ObjectRef the_control) {
  EnsureInitialized();
  if (const Kind* kind = KindOf(mControlType)) {
    auto* input = dynamic_cast<IInputControl*>(the_control.get());
    if (!input || !kind->offers(*input)) {
      throw kvt::ObjectError(kErrWrongControl, kSource,
                             "Incongruence between control type and istance type");
    }
    auto subs = Subscribe(*input);
    if (kind->subscribe_more) (this->*kind->subscribe_more)(*input, subs);
    (this->*kind->bound).Bind(the_control, input, std::move(subs));
  }
  // A control the field made itself carries its name as tag and is not set up twice.
  if (kvt::CStr(kvt::GetProperty(the_control, member::kTag)) != mFieldName) {
    PrepareControl(the_control);
  }
}

void FieldType::SubscribeCodeMaintenance(IInputControl& combo,
                                         std::vector<kvt::Subscription>& subs) {
  auto& codes = dynamic_cast<ICodeComboControl&>(combo).CodeMaintenance();
  std::weak_ptr<kvt::Object> weak = weak_from_this();
  subs.push_back(codes.CodeAdded.Subscribe(
      [weak](const std::string& code, const std::string& descr, const kvt::Variant&) {
        if (auto self = weak.lock()) static_cast<FieldType&>(*self).OnCodeAdded(code, descr);
      }));
  subs.push_back(codes.CodeDeleted.Subscribe(
      [weak](const std::string& code, const kvt::Variant&, const kvt::Variant&) {
        if (auto self = weak.lock()) static_cast<FieldType&>(*self).OnCodeDeleted(code);
      }));
}

void FieldType::SubscribeDateEdit(IInputControl& picker, std::vector<kvt::Subscription>& subs) {
  std::weak_ptr<kvt::Object> weak = weak_from_this();
  subs.push_back(
      dynamic_cast<IDatePickerControl&>(picker).UserEdit().Subscribe([weak](const kvt::Variant&) {
        if (auto self = weak.lock()) static_cast<FieldType&>(*self).OnDateEdit();
      }));
}

const kvt::ObjectRef& FieldType::CurrentControl() const {
  static const kvt::ObjectRef kNone;
  const Kind* kind = KindOf(mControlType);
  return kind ? (this->*kind->bound).Object() : kNone;
}

const kvt::ObjectRef& FieldType::RequireControl() const {
  const kvt::ObjectRef& c = CurrentControl();
  if (!c) {
    throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet,
                            "field '" + mFieldName + "' has no control", kSource);
  }
  return c;
}

kvt::ObjectRef FieldType::LinkedControl() {
  EnsureInitialized();
  return CurrentControl();
}

void FieldType::SetLinkedLabel(kvt::ObjectRef the_label) {
  EnsureInitialized();
  if (!dynamic_cast<ILabelControl*>(the_label.get())) {
    throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch, "LinkedLabel needs a label", kSource);
  }
  mLinkedLabel = the_label;
  if (kvt::CStr(kvt::GetProperty(the_label, member::kTag)) != "Label_" + mFieldName)
    SetupLabel(the_label);
}

kvt::ObjectRef FieldType::LinkedLabel() {
  EnsureInitialized();
  return mLinkedLabel;
}

}  // namespace kvtfields
