#include "host/common/form.h"

#include <algorithm>
#include <cmath>

#include "host/common/standard_controls.h"
#include "runtime/class_registry.h"
#include "runtime/error.h"
#include "runtime/text.h"

namespace kvthost {
namespace {
constexpr const char* kSource = kHostSource;

kvt::Error HostError(std::uint32_t number, const std::string& text) {
  return kvt::Error(number, kSource, text);
}

}  // namespace

const kvt::ClassInfo& ControlsCollection::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<ControlsCollection>("Controls")
                                         .Method<&ControlsCollection::Add>("Add")
                                         .Params({"ProgID", "Name"})
                                         .Method<&ControlsCollection::Remove>("Remove")
                                         .Params({"Name"})
                                         .Get<&ControlsCollection::Item>("Item")
                                         .Default()
                                         .Params({"Index"})
                                         .Get<&ControlsCollection::Count>("Count")
                                         .Build();
  return info;
}

kvt::ObjectRef ControlsCollection::Add(const std::string& class_name, const std::string& name) {
  auto form = form_.Get();
  if (name.empty()) throw HostError(kInvalidPropertyValue, "a control needs a name");
  if (form->FindControl(name)) {
    throw HostError(kDuplicateControlName,
                    "There is already a control with the name '" + name + "'");
  }
  kvt::ObjectRef made = kvt::CreateObject(class_name);
  auto control = std::dynamic_pointer_cast<Control>(made);
  if (!control) {
    throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch,
                            "'" + class_name + "' is not a control of this window system", kSource);
  }
  control->class_name_ = class_name;
  control->name_ = name;
  control->form_ = form;
  control->creation_ = form->next_creation_++;
  form->by_creation_.emplace(control->creation_, control);
  form->by_name_.emplace(std::string_view(control->name_), control);
  const double last = form->tab_order_.empty() ? 0.0 : form->tab_order_.rbegin()->first;
  form->PlaceInTabOrder(*control, last + 1.0);  // a new control comes last
  ++form->changes_;                             // a follower of the form sees it came
  form->OnControlAdded(*control);
  return made;
}

void ControlsCollection::Remove(const std::string& name) {
  auto form = form_.Get();
  auto c = form->FindControl(name);
  if (!c) throw HostError(kControlNotFound, "Control '" + name + "' not found");
  form->Detach(c);
}

kvt::ObjectRef ControlsCollection::Item(const kvt::Variant& index) const {
  auto form = form_.Get();
  if (index.IsString()) {
    auto c = form->FindControl(index.AsString());
    if (!c) throw HostError(kControlNotFound, "Control '" + index.AsString() + "' not found");
    return c;
  }
  const auto i = kvt::CLng(index);
  if (i < 0 || static_cast<std::size_t>(i) >= form->by_creation_.size()) {
    throw kvt::RuntimeError(kvt::ErrorCode::kSubscriptOutOfRange, std::to_string(i), kSource);
  }
  return std::next(form->by_creation_.begin(), i)->second;
}

std::int32_t ControlsCollection::Count() const {
  return static_cast<std::int32_t>(form_.Get()->by_creation_.size());
}

bool ControlsCollection::Contains(std::string_view name) const {
  auto form = form_.Resolve();
  return form && form->FindControl(name) != nullptr;
}

std::vector<kvt::Variant> ControlsCollection::EnumerateItems() const {
  std::vector<kvt::Variant> out;
  for (const auto& [n, c] : form_.Get()->by_creation_) out.emplace_back(kvt::ObjectRef(c));
  return out;
}

const kvt::ClassInfo& Form::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<Form>("Form")
                                         .Get<&Form::Name>("Name")
                                         .Get<&Form::Caption>("Caption")
                                         .Let<&Form::LetCaption>("Caption")
                                         .Get<&Form::ScaleWidth>("ScaleWidth")
                                         .Let<&Form::LetScaleWidth>("ScaleWidth")
                                         .Get<&Form::ScaleHeight>("ScaleHeight")
                                         .Let<&Form::LetScaleHeight>("ScaleHeight")
                                         .Get<&Form::KeyPreview>("KeyPreview")
                                         .Let<&Form::LetKeyPreview>("KeyPreview")
                                         .Get<&Form::Visible>("Visible")
                                         .Let<&Form::LetVisible>("Visible")
                                         .Get<&Form::Controls>("Controls")
                                         .Get<&Form::ActiveControl>("ActiveControl")
                                         .Method<&Form::Show>("Show")
                                         .Method<&Form::Hide>("Hide")
                                         .Method<&Form::Unload>("Unload")
                                         .Build();
  return info;
}

Form::Form(std::string name) : name_(std::move(name)), caption_(name_) {}

std::shared_ptr<Form> Form::Create(std::string name) {
  std::shared_ptr<Form> f(new Form(std::move(name)));
  Attach(f);
  return f;
}

void Form::Attach(const std::shared_ptr<Form>& form) {
  form->controls_ = std::make_shared<ControlsCollection>(form);
}

void Form::SetActive(std::shared_ptr<Control> control) {
  if (active_ == control) return;
  active_ = std::move(control);
  OnActiveChanged();
  if (on_active_changed) on_active_changed();
}

Form::~Form() {
  // Controls that outlive the form (a field may still hold one) must not point back to it.
  for (auto& [n, c] : by_creation_) c->form_.Reset();
}

void Form::LetScaleWidth(std::int32_t v) {
  if (v <= 0) throw HostError(kInvalidPropertyValue, "Invalid property value: ScaleWidth");
  scale_width_ = v;
  OnFormChanged(FormAspect::kScale);
}

void Form::LetScaleHeight(std::int32_t v) {
  if (v <= 0) throw HostError(kInvalidPropertyValue, "Invalid property value: ScaleHeight");
  scale_height_ = v;
  OnFormChanged(FormAspect::kScale);
}

void Form::Unload() {
  SetActive(nullptr);
  while (!by_creation_.empty()) Detach(by_creation_.rbegin()->second);
  OnUnloading();
  LetVisible(false);
  Unloaded.Emit();
}

bool Form::InvokeDynamic(std::string_view name, kvt::MemberKind kind, std::span<kvt::Variant> args,
                         kvt::Variant& result) {
  // A control is reachable as a member of its form (`Form.SB`).
  if ((kind != kvt::MemberKind::kGet && kind != kvt::MemberKind::kMethod) || !args.empty()) {
    return false;
  }
  auto c = FindControl(name);
  if (!c) return false;
  result = kvt::Variant(kvt::ObjectRef(c));
  return true;
}

std::shared_ptr<Control> Form::FindControl(std::string_view name) const {
  auto it = by_name_.find(name);
  return it == by_name_.end() ? nullptr : it->second;
}

void Form::Detach(std::shared_ptr<Control> c) {
  if (active_ == c) SetActive(nullptr);
  by_name_.erase(c->name_);
  tab_order_.erase(c->tab_key_);
  by_creation_.erase(c->creation_);
  c->form_.Reset();
  ++changes_;
  OnControlRemoved(*c);
}

std::vector<std::shared_ptr<Control>> Form::ControlList() const {
  std::vector<std::shared_ptr<Control>> out;
  out.reserve(by_creation_.size());
  for (const auto& [n, c] : by_creation_) out.push_back(c);
  return out;
}

std::vector<std::shared_ptr<Control>> Form::TabOrder() const {
  std::vector<std::shared_ptr<Control>> out;
  out.reserve(tab_order_.size());
  for (const auto& [k, c] : tab_order_)
    out.push_back(std::static_pointer_cast<Control>(c->shared_from_this()));
  return out;
}

std::int16_t Form::TabIndexOf(const Control& c) const {
  auto it = tab_order_.find(c.tab_key_);
  if (it == tab_order_.end()) return 0;
  return static_cast<std::int16_t>(std::distance(tab_order_.begin(), it));
}

void Form::PlaceInTabOrder(Control& c, double key) {
  c.tab_key_ = key;
  tab_order_.emplace(key, &c);
}

void Form::SetTabIndex(Control& c, std::int16_t index) {
  if (tab_order_.erase(c.tab_key_) == 0) return;
  // The new key lies between the keys of the controls now at index - 1 and index.
  const auto pos = std::min<std::size_t>(static_cast<std::size_t>(index), tab_order_.size());
  auto after = std::next(tab_order_.begin(), static_cast<std::ptrdiff_t>(pos));
  double key;
  if (tab_order_.empty()) {
    key = 0;
  } else if (after == tab_order_.begin()) {
    key = after->first - 1.0;
  } else if (after == tab_order_.end()) {
    key = std::prev(after)->first + 1.0;
  } else {
    key = (std::prev(after)->first + after->first) / 2;
    if (key <= std::prev(after)->first || key >= after->first) {
      // The keys ran out of room between two neighbours: number them afresh, then retry.
      std::map<double, Control*> renumbered;
      double k = 0;
      for (auto& [old, ctl] : tab_order_) {
        ctl->tab_key_ = k;
        renumbered.emplace(k, ctl);
        k += 1.0;
      }
      tab_order_ = std::move(renumbered);
      PlaceInTabOrder(c, tab_order_.rbegin()->first + 1.0);
      return SetTabIndex(c, index);
    }
  }
  PlaceInTabOrder(c, key);
}

bool Form::MoveFocus(const std::shared_ptr<Control>& target) {
  if (!target || target == active_) return true;
  if (!target->CanTakeFocus() || target->OwnerForm().get() != this) {
    throw kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall,
                            "'" + target->Name() + "' cannot take the focus", kSource);
  }
  if (auto leaving = active_) {
    if (auto* ev = leaving->FocusEvents()) {
      bool cancel = false;
      ev->Validate.Emit(cancel);
      if (cancel) {
        RefusedLeaving();
        if (on_focus_refused) on_focus_refused(*leaving);
        return false;  // the control keeps the focus
      }
    }
    if (active_ != leaving) return active_ == target;  // a handler moved the focus itself
    SetActive(target);
    leaving->AfterLeaving();
    if (auto* ev = leaving->FocusEvents()) ev->LostFocus.Emit();
    if (active_ != target) return false;
  } else {
    SetActive(target);
  }
  if (auto* ev = target->FocusEvents()) ev->GotFocus.Emit();
  if (active_ == target) target->MarkEntry();  // what its entry handlers left is the entry value
  return true;
}

bool Form::RevertFocused() {
  return active_ && active_->RevertToEntry();
}

bool Form::Tab(bool backward) {
  if (tab_order_.empty()) return false;
  // Walk from the focused control (or from an end) around the tab order once.
  auto it = active_ ? tab_order_.find(active_->tab_key_) : tab_order_.end();
  for (std::size_t step = 0; step < tab_order_.size(); ++step) {
    if (backward) {
      if (it == tab_order_.begin()) it = tab_order_.end();
      --it;
    } else {
      if (it != tab_order_.end()) ++it;
      if (it == tab_order_.end()) it = tab_order_.begin();
    }
    Control* c = it->second;
    if (c->CanTakeFocus()) {
      if (c == active_.get()) return true;
      return MoveFocus(std::static_pointer_cast<Control>(c->shared_from_this()));
    }
  }
  return false;
}

std::int16_t Form::PreviewKeyDown(std::int16_t key_code, std::int16_t& shift) {
  if (key_preview_) KeyDown.Emit(key_code, shift);
  return key_code;
}

std::int32_t Form::PreviewKeyPress(std::int32_t character) {
  if (key_preview_) KeyPress.Emit(character);
  return character;
}

bool Form::Click(const std::shared_ptr<Control>& target) {
  if (!target || active_ == target || !target->CanTakeFocus()) return true;
  if (active_ && !active_->Commit()) return false;
  return MoveFocus(target);
}

namespace {
// Less than a person takes to see a refusal and type again: what comes sooner was typed ahead.
constexpr std::uint64_t kTypeAheadMs = 400;
}  // namespace

void Form::RefusedLeaving() {
  if (key_at_ == 0 || !active_) return;
  refused_ = active_;
  refused_at_ = key_at_;
}

bool Form::TypedAhead(const Keystroke& key, const Control* control) const {
  if (key.at_ms == 0 || key.Command() || key.text.empty() || !control) return false;
  const char32_t c = key.Character();
  if (c < 32 || kvt::IsControlCharacter(c)) return false;
  return refused_.lock().get() == control && control == active_.get() && key.at_ms >= refused_at_ &&
         key.at_ms - refused_at_ < kTypeAheadMs;
}

void Form::RouteKey(const Keystroke& key, Control* control, bool& consumed) {
  consumed = false;
  // A key a handler sends meanwhile (Enter made a Tab) counts as pressed with this one.
  struct KeyTime {
    std::uint64_t& at;
    std::uint64_t was;
    ~KeyTime() { at = was; }
  } key_time{key_at_, key_at_};
  if (key.at_ms != 0) key_at_ = key.at_ms;
  if (TypedAhead(key, control)) {
    // Typed before the person could see why the field keeps the focus: meant for the next
    // field, not this one.
    consumed = true;
    return;
  }
  if (multi_line_takes_enter_ && key.Is(kKeyReturn) && key.shift == 0 && control &&
      control == active_.get()) {
    // Before key preview: a window that turns Enter into Tab or Save must not take the
    // memo's new line.
    if (auto* box = dynamic_cast<TextBoxBase*>(control); box && box->MultiLine()) {
      consumed = true;
      control->ReadSelection();
      control->TypeCharacter(U'\r');
      return;
    }
  }
  // Values offered under a text box are the person's by keys before the window sees them:
  // Down and Up mark one, Esc closes them, Enter or Tab takes the one marked and goes on.
  if (auto* box = dynamic_cast<TextBoxBase*>(control); box && control == active_.get() &&
                                                       !box->Suggestions().empty() &&
                                                       (key.shift & (kCtrlMask | kAltMask)) == 0) {
    if (key.Is(kvtfields::key::kDown) || key.Is(kvtfields::key::kUp)) {
      consumed = true;
      box->MarkSuggestion(key.Is(kvtfields::key::kDown) ? 1 : -1);
      return;
    }
    if (key.Is(kvtfields::key::kEscape)) {
      consumed = true;
      box->ShowSuggestions({});
      return;
    }
    if ((key.Is(kKeyReturn) || key.Is(kKeyTab)) && box->MarkedSuggestion() >= 0) {
      box->AcceptSuggestion(box->MarkedSuggestion());
    }
  }
  std::int16_t shift = key.shift;
  const auto focused_before = active_;
  if (key.code != 0 && PreviewKeyDown(key.code, shift) == 0) {
    consumed = true;  // a key handler swallowed it
    return;
  }
  if (active_ != focused_before) {
    consumed = true;  // a key handler moved the focus: the key was its
    return;
  }
  if (key.Is(kKeyTab)) {
    // Consumed even when a handler fails: the toolkit's own Tab would pass the form's rules.
    consumed = true;
    if (active_ && !active_->Commit()) {
      RefusedLeaving();
      return;  // what was typed cannot be taken: it stays
    }
    Tab(key.Shift() || (shift & kShiftMask) != 0);
    return;
  }
  if (!control) return;
  if (key.Is(kvtfields::key::kEscape)) {
    consumed = RevertFocused();  // the field's value on entry; the window may do more
    return;
  }
  const bool command = (shift & (kCtrlMask | kAltMask)) != 0;
  const char32_t typed = key.Character();
  const bool printable = typed >= 32 && !kvt::IsControlCharacter(typed);
  if (key.Is(kvtfields::key::kDelete) && (shift & kShiftMask)) {
    consumed = true;
    control->ShiftDelete();
    return;
  }
  if (!control->TakesTypedText()) {
    // The control's editor takes its keys; Enter and a typed character are previewed first.
    if (key.Is(kvtfields::key::kInsert)) {
      consumed = control->Insert();
    } else if (key.Is(kKeyReturn)) {
      consumed = PreviewKeyPress(kKeyReturn) == 0;
      if (!consumed) consumed = control->Enter();
    } else if (!command && printable) {
      consumed = PreviewKeyPress(static_cast<std::int32_t>(typed)) == 0;
      auto* picker = dynamic_cast<DatePicker*>(control);
      if (!consumed && picker && (typed == U'+' || typed == U'-')) {
        // A day later or earlier, from today when there is no date yet.
        consumed = true;
        const kvt::Variant v = picker->Value();
        const double day = std::floor(v.IsNull() ? kvt::Today().serial : v.AsDate().serial);
        picker->PickDate(kvt::Variant(kvt::Date{day + (typed == U'+' ? 1 : -1)}));
      }
    }
    return;
  }
  // Text controls: what the person types goes through the control.
  if (key.Is(kKeyReturn) || key.Is(kKeyBack)) {
    consumed = true;
    control->ReadSelection();
    TypeCharacter(key.Is(kKeyReturn) ? U'\r' : static_cast<char32_t>(kKeyBack));
    return;
  }
  if (key.Is(kvtfields::key::kDelete)) {
    // Forward delete: the selection, or the character after the caret.
    consumed = true;
    control->ReadSelection();
    if (auto* box = dynamic_cast<TextBoxBase*>(control); box && box->SelLength() == 0) {
      box->LetSelLength(1);
    }
    TypeCharacter(kKeyBack);
    return;
  }
  switch (key.command) {
    case EditCommand::kPaste:
      consumed = true;
      control->ReadSelection();
      if (auto* box = dynamic_cast<TextBoxBase*>(control)) {
        box->PasteText(key.pasted);  // one change, as a text box pastes
      } else {
        for (std::size_t i = 0; i < key.pasted.size();) {
          const char32_t c = kvt::NextCodePoint(key.pasted, i);
          if (c != U'\r' && c != U'\n' && c != U'\t') TypeCharacter(c);
        }
      }
      return;
    case EditCommand::kUndo:
      consumed = true;
      control->Undo();
      return;
    case EditCommand::kCut:
    case EditCommand::kRedo:
      consumed = true;  // edits the control does not make are not made
      return;
    case EditCommand::kSelectAll:
    case EditCommand::kCopy:
      return;  // the editor selects and copies; the control reads the selection when typed into
    case EditCommand::kNone:
      break;
  }
  if (printable) {
    // A character typed with Ctrl or Alt is a command, never text: the editor must not insert
    // it behind the control's back.
    consumed = true;
    if (command) return;
    control->ReadSelection();
    for (char32_t c : key.text) TypeCharacter(c);
  }
}

void Form::PressKeystroke(const Keystroke& key) {
  auto target = active_;
  bool consumed = false;
  RouteKey(key, target.get(), consumed);
  if (!consumed && target && active_ == target) target->EditorKey(key);
}

void Form::PressKey(std::int16_t key_code, std::int16_t shift) {
  PressKeystroke(PressedKeystroke(key_code, shift));
}

void Form::TypeText(std::string_view text) {
  for (std::size_t i = 0; i < text.size();)
    PressKeystroke(TypingKeystroke(kvt::NextCodePoint(text, i)));
}

void Form::TypeCharacter(char32_t c) {
  const std::int32_t code = PreviewKeyPress(static_cast<std::int32_t>(c));
  if (code == 0 || !active_) return;
  auto target = active_;  // a handler may move the focus; the character goes where it was
  target->TypeCharacter(static_cast<char32_t>(code));
}

std::string Form::FailureText(const std::exception& e) {
  if (const auto* err = dynamic_cast<const kvt::Error*>(&e)) {
    return err->Description() + "\n\n" + err->Source() + ", " + std::to_string(err->Number());
  }
  return e.what();
}

}  // namespace kvthost
