#include "host/headless/desktop.h"

#include "runtime/class_registry.h"
#include "runtime/error.h"
#include "runtime/text.h"

namespace kvthost {

namespace {

// The shared controls, as they are: the headless window system shows nothing.
void RegisterControlClasses() {
  auto& reg = kvt::ClassRegistry::Instance();
  reg.Register(kvtfields::kLabelClass, {}, [] { return std::make_shared<Label>(); });
  reg.Register(kvtfields::kPlainTextBoxClass, {}, [] { return std::make_shared<PlainTextBox>(); });
  reg.Register(kvtfields::kTextBoxClass, {}, [] { return std::make_shared<MultiLineTextBox>(); });
  reg.Register(kvtfields::kComboClass, {}, [] { return std::make_shared<CodeCombo>(); });
  reg.Register(kvtfields::kDatePickerClass, {}, [] { return std::make_shared<DatePicker>(); });
  reg.Register(kvtfields::kFileLinkerClass, {}, [] { return std::make_shared<FileLinker>(); });
  reg.Register(kvtfields::kStatusBarClass, {}, [] { return std::make_shared<StatusBar>(); });
}

}  // namespace

std::shared_ptr<Desktop> Desktop::Create() {
  RegisterControlClasses();
  return std::make_shared<Desktop>();
}

std::shared_ptr<Desktop> Desktop::Install() {
  auto desktop = Create();
  desktop->previous_ = kvt::SetPlatform(desktop);
  return desktop;
}

void Desktop::Uninstall() {
  kvt::SetPlatform(previous_);
  previous_.reset();
}

int Desktop::MsgBox(std::string_view prompt, int buttons, std::string_view title) {
  messages_.push_back(Message{std::string(prompt), buttons, std::string(title)});
  if (kvt::MsgBoxButtons(buttons) == kvt::kMsgBoxOkOnly) return kvt::kMsgBoxAnswerOk;
  if (answers.empty()) return kvt::kMsgBoxAnswerCancel;
  const int answer = answers.front();
  answers.pop_front();
  return answer;
}

void Desktop::SendTab() {
  if (auto f = active_.Resolve()) f->PressKey(kKeyTab);
}

kvt::ObjectRef Desktop::CreateWindow(std::string_view name) {
  return NewForm(std::string(name));
}

std::shared_ptr<Form> Desktop::NewForm(const std::string& name) {
  auto f = Form::Create(name);
  active_ = f;
  return f;
}

const kvt::ClassInfo& User::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<User>("User")
                                         .Method<&User::Focus>("Focus")
                                         .Method<&User::Tab>("Tab")
                                         .Method<&User::BackTab>("BackTab")
                                         .Method<&User::Type>("Type")
                                         .Method<&User::Clear>("Clear")
                                         .Method<&User::PressKey>("PressKey")
                                         .Method<&User::PickDate>("PickDate")
                                         .Method<&User::Choose>("Choose")
                                         .Method<&User::AddCode>("AddCode")
                                         .Method<&User::DeleteCode>("DeleteCode")
                                         .Method<&User::Browse>("Browse")
                                         .Method<&User::AcceptSuggestion>("AcceptSuggestion")
                                         .Get<&User::Focused>("Focused")
                                         .Build();
  return info;
}

bool User::Focus(const std::string& control_name) {
  auto in = Enter();
  auto c = form_->FindControl(control_name);
  if (!c) {
    throw kvt::Error(kControlNotFound, kHostSource, "Control '" + control_name + "' not found");
  }
  if (!c->CanTakeFocus()) return form_->MoveFocus(c);  // the error a refused move gives
  return form_->Click(c);
}

bool User::Tab() {
  auto in = Enter();
  const auto before = form_->Active();
  form_->PressKey(kKeyTab);
  return form_->Active() != before;
}
bool User::BackTab() {
  auto in = Enter();
  const auto before = form_->Active();
  form_->PressKey(kKeyTab, kShiftMask);
  return form_->Active() != before;
}
void User::Type(const std::string& text) {
  auto in = Enter();
  form_->TypeText(text);
}
void User::PressKey(std::int16_t key_code, std::int16_t shift) {
  auto in = Enter();
  form_->PressKey(key_code, shift);
}

template <class T>
std::shared_ptr<T> User::FocusedAs(const char* what) const {
  auto c = std::dynamic_pointer_cast<T>(form_->Active());
  if (!c) {
    throw kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall,
                            std::string("the focused control is not ") + what, kHostSource);
  }
  return c;
}

void User::Clear() {
  auto in = Enter();
  // The keys a person presses: select all and Backspace; the link has no selection.
  if (auto box = std::dynamic_pointer_cast<TextBoxBase>(form_->Active())) {
    form_->PressKey(kvtfields::key::kA, kCtrlMask);  // select all
    if (!box->Text().empty()) form_->PressKey(kKeyBack);
  } else if (auto link = std::dynamic_pointer_cast<FileLinker>(form_->Active())) {
    while (!link->Text().empty() && !link->Locked() && link->Enabled()) {
      const std::string before = link->Text();
      form_->PressKey(kKeyBack);
      if (link->Text() == before) break;
    }
  } else if (auto picker = std::dynamic_pointer_cast<DatePicker>(form_->Active())) {
    picker->PickDate(kvt::Variant::Null());
  } else if (auto combo = std::dynamic_pointer_cast<CodeCombo>(form_->Active())) {
    if (!combo->Entries().empty()) combo->Choose("");
  }
}

void User::Paste(const std::string& text) {
  auto in = Enter();
  auto box = std::dynamic_pointer_cast<TextBoxBase>(form_->Active());
  if (!box) {
    throw kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall,
                            "the focused control is not a text box", kHostSource);
  }
  Keystroke paste = PressedKeystroke(kvtfields::key::kV, kCtrlMask);  // a paste command
  paste.pasted = text;
  form_->PressKeystroke(paste);
}

void User::PickDate(const kvt::Variant& date) {
  auto in = Enter();
  FocusedAs<DatePicker>("a date picker")->PickDate(date);
}
void User::Choose(const std::string& code) {
  auto in = Enter();
  FocusedAs<CodeCombo>("a combo")->Choose(code);
}
namespace {

// What a person does to put text into a combo's box: select all, Backspace, type.
void TypeIntoBox(Form& form, const std::string& text) {
  form.PressKey(kvtfields::key::kA, kCtrlMask);  // select all
  form.PressKey(kKeyBack);
  form.TypeText(text);
}

}  // namespace

void User::AddCode(const std::string& code, const std::string& description) {
  auto in = Enter();
  if (FocusedAs<CodeCombo>("a combo")->Locked()) return;
  TypeIntoBox(*form_, description.empty() ? code : code + " - " + description);
  form_->PressKey(kvtfields::key::kInsert);
}
void User::DeleteCode(const std::string& code) {
  auto in = Enter();
  if (FocusedAs<CodeCombo>("a combo")->Locked()) return;
  TypeIntoBox(*form_, code);
  form_->PressKey(kvtfields::key::kDelete, kShiftMask);
}
void User::Browse(const std::string& path) {
  auto in = Enter();
  FocusedAs<FileLinker>("a file link")->Browse(path);
}
void User::AcceptSuggestion(std::int32_t index) {
  auto in = Enter();
  FocusedAs<TextBoxBase>("a text box")->AcceptSuggestion(index);
}

std::string User::Focused() const {
  auto c = form_->Active();
  return c ? c->Name() : std::string();
}

}  // namespace kvthost
