// FieldType: the handlers of the control's events. Each turns an event into its fixed
// sequence: colour, script event under its Italian name, callback to the owner.
#include <array>

#include "kvtfields/contracts/script_engine.h"
#include "kvtfields/field/field_type.h"
#include "runtime/error.h"
#include "runtime/text.h"

namespace kvtfields {
namespace {
constexpr const char* kSource = "kvtFields.FieldType";

// Runs one step whose errors are to be ignored.
template <class F>
void Quietly(F&& step) {
  try {
    step();
  } catch (const kvt::Error&) {
  }
}
}  // namespace

std::vector<kvt::Subscription> FieldType::Subscribe(IInputControl& control) {
  // Handlers hold the field weakly and keep it alive for their own run: a handler may
  // rebuild the form, and the field must not vanish under it.
  std::weak_ptr<kvt::Object> weak = weak_from_this();
  auto with = [weak](auto method) {
    return [weak, method](auto&&... args) {
      if (auto self = weak.lock()) (static_cast<FieldType&>(*self).*method)(args...);
    };
  };
  const bool text = dynamic_cast<ITextBoxControl*>(&control) != nullptr;
  InputEvents& ev = control.Events();
  std::vector<kvt::Subscription> subs;
  subs.reserve(6);  // the four input events and, for combo and date picker, their own
  subs.push_back(ev.GotFocus.Subscribe(with(&FieldType::OnGotFocus)));
  subs.push_back(ev.LostFocus.Subscribe(with(&FieldType::OnLostFocus)));
  subs.push_back(ev.Change.Subscribe(with(&FieldType::OnChange)));
  subs.push_back(ev.Validate.Subscribe(text ? with(&FieldType::OnTextValidate)
                                            : with(&FieldType::OnValidate)));
  return subs;
}

std::optional<FieldType::CallBack> FieldType::GetCallBack() const {
  if (!mCallBackPtr.IsSet()) return std::nullopt;
  kvt::ObjectRef owner = mCallBackPtr.Get();  // an owner that is gone raises 91
  auto* cb = mCallBackFacet;
  if (!cb) {
    throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch,
                            owner->Class().Name() + " is not an IFieldTypeEventCallBack", kSource);
  }
  return CallBack{std::move(owner), cb};
}

void FieldType::RaiseCallBack(const std::string& event_name) {
  auto owner = GetCallBack();
  if (!owner) return;
  owner->callback->EventCallback(shared_from_this(), event_name);
}

void FieldType::RaiseScriptEvent(const std::string& event_name, bool& cancel) {
  kvt::Variant value = Value();
  using Op = void (IScriptEngine::*)(const std::string&, kvt::Variant&, kvt::ObjectRef&);
  Op op = nullptr;
  const bool validate = event_name == "valida";
  if (event_name == "ingresso") op = &IScriptEngine::FieldEnter;
  if (event_name == "uscita") op = &IScriptEngine::FieldExit;
  if (event_name == "modificato") op = &IScriptEngine::FieldChange;
  if (op || validate) {
    if (auto owner = GetCallBack()) {
      kvt::ObjectRef engine_obj = owner->callback->ScriptEngine();
      kvt::ObjectRef fields = owner->callback->FieldsCollectionObj();
      if (!engine_obj)
        throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "ScriptEngine", kSource);
      auto* engine = dynamic_cast<IScriptEngine*>(engine_obj.get());
      if (!engine) {
        throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch,
                                engine_obj->Class().Name() + " is not a script engine", kSource);
      }
      if (validate) {
        engine->FieldValidate(mFieldName, value, fields, cancel);
      } else {
        (engine->*op)(mFieldName, value, fields);
      }
    }
  }
  // Only what the script changed is written back; a Null comparison counts as equal.
  if (kvt::Equals(Value(), value) == kvt::Tri::kFalse) LetValue(value);
}

void FieldType::HighlightControl(const kvt::ObjectRef& control, bool entering,
                                 std::int32_t& color) {
  if (entering) {
    Quietly([&] { mSavedBackColor = kvt::CLng(kvt::GetProperty(control, member::kBackColor)); });
    Quietly([&] { kvt::LetProperty(control, member::kBackColor, color); });
    Quietly([&] { kvt::LetProperty(control, member::kSelStart, 0); });
    Quietly([&] {
      const auto length = kvt::CharLength(kvt::CStr(kvt::GetDefaultValue(control)));
      kvt::LetProperty(control, member::kSelLength, static_cast<std::int32_t>(length));
    });
  } else {
    Quietly([&] {
      kvt::LetProperty(control, member::kBackColor,
                       color == kHighlightColor ? mSavedBackColor : color);
    });
  }
}

void FieldType::OnGotFocus() {
  std::int32_t color = kHighlightColor;
  HighlightControl(CurrentControl(), true, color);
  bool cancel = false;
  RaiseScriptEvent("ingresso", cancel);
  RaiseCallBack("GotFocus");
}

void FieldType::OnLostFocus() {
  std::int32_t color = kHighlightColor;
  HighlightControl(CurrentControl(), false, color);
  bool cancel = false;
  RaiseScriptEvent("uscita", cancel);
  if (mValueChanged) RaiseCallBack("GlobalChange");
  mValueChanged = false;
}

void FieldType::OnChange() {
  mValueChanged = true;
  bool cancel = false;
  RaiseScriptEvent("modificato", cancel);
  RaiseCallBack("SingleChange");
}

void FieldType::OnValidate(bool& cancel) {
  RaiseScriptEvent("valida", cancel);
  if (!cancel) RaiseCallBack("Validate");
}

void FieldType::OnDateEdit() {
  mValueChanged = true;
}

void FieldType::OnCodeAdded(const std::string& code, const std::string& description) {
  const auto first = code.find_first_not_of(' ');
  if (first == std::string::npos) return;  // empty or only spaces
  mDBEngine->AddCode(mArchive, mFieldName, code, description);
  const kvt::ObjectRef combo = mctlComboBox.Object();
  LoadCodeList(combo);
  kvt::LetProperty(combo, member_id::kComboValue, code);  // selects it, spaces and all
}

void FieldType::OnCodeDeleted(const std::string& code) {
  mDBEngine->DeleteCode(mArchive, mFieldName, code);
  LoadCodeList(mctlComboBox.Object());
}

}  // namespace kvtfields
