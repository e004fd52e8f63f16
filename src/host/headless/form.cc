#include "host/headless/form.h"

#include <algorithm>

#include "runtime/class_registry.h"
#include "runtime/error.h"
#include "runtime/text.h"

namespace kvthost {
namespace {
constexpr const char* kSource = "kvtHost";

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
  form->controls_in_order_.push_back(control);
  form->by_name_.emplace(name, control);
  form->tab_order_.push_back(control);
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
  if (i < 0 || static_cast<std::size_t>(i) >= form->controls_in_order_.size()) {
    throw kvt::RuntimeError(kvt::ErrorCode::kSubscriptOutOfRange, std::to_string(i), kSource);
  }
  return form->controls_in_order_[static_cast<std::size_t>(i)];
}

std::int32_t ControlsCollection::Count() const {
  return static_cast<std::int32_t>(form_.Get()->controls_in_order_.size());
}

bool ControlsCollection::Contains(std::string_view name) const {
  auto form = form_.Resolve();
  return form && form->FindControl(name) != nullptr;
}

std::vector<kvt::Variant> ControlsCollection::EnumerateItems() const {
  std::vector<kvt::Variant> out;
  for (const auto& c : form_.Get()->controls_in_order_) out.emplace_back(kvt::ObjectRef(c));
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
  f->controls_ = std::make_shared<ControlsCollection>(f);
  return f;
}

Form::~Form() {
  // Controls that outlive the form (a field may still hold one) must not point back to it.
  for (auto& c : controls_in_order_) c->form_.Reset();
}

void Form::LetScaleWidth(std::int32_t v) {
  if (v <= 0) throw HostError(kInvalidPropertyValue, "Invalid property value: ScaleWidth");
  scale_width_ = v;
}

void Form::LetScaleHeight(std::int32_t v) {
  if (v <= 0) throw HostError(kInvalidPropertyValue, "Invalid property value: ScaleHeight");
  scale_height_ = v;
}

void Form::Unload() {
  active_.reset();
  while (!controls_in_order_.empty()) Detach(controls_in_order_.back());
  visible_ = false;
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
  if (active_ == c) active_.reset();
  by_name_.erase(c->name_);
  std::erase(controls_in_order_, c);
  std::erase(tab_order_, c);
  c->form_.Reset();
}

std::int16_t Form::TabIndexOf(const Control& c) const {
  for (std::size_t i = 0; i < tab_order_.size(); ++i) {
    if (tab_order_[i].get() == &c) return static_cast<std::int16_t>(i);
  }
  return 0;
}

void Form::SetTabIndex(const Control& c, std::int16_t index) {
  auto it = std::find_if(tab_order_.begin(), tab_order_.end(),
                         [&](const auto& p) { return p.get() == &c; });
  if (it == tab_order_.end()) return;
  auto keep = *it;
  tab_order_.erase(it);
  const auto pos = std::min<std::size_t>(static_cast<std::size_t>(index), tab_order_.size());
  tab_order_.insert(tab_order_.begin() + static_cast<std::ptrdiff_t>(pos), std::move(keep));
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
      if (cancel) return false;  // the control keeps the focus
    }
    if (active_ != leaving) return active_ == target;  // a handler moved the focus itself
    active_ = target;
    if (auto* ev = leaving->FocusEvents()) ev->LostFocus.Emit();
    if (active_ != target) return false;
  } else {
    active_ = target;
  }
  if (auto* ev = target->FocusEvents()) ev->GotFocus.Emit();
  return true;
}

bool Form::Tab(bool backward) {
  const auto n = tab_order_.size();
  if (n == 0) return false;
  std::size_t start = n - 1;  // so that the first candidate is position 0
  if (active_) {
    start = TabIndexOf(*active_);
  } else if (backward) {
    start = 0;
  }
  for (std::size_t step = 1; step <= n; ++step) {
    const std::size_t i = backward ? (start + n - step) % n : (start + step) % n;
    const auto& c = tab_order_[i];
    if (c->CanTakeFocus()) return c == active_ || MoveFocus(c);
  }
  return false;
}

void Form::PressKey(std::int16_t key_code, std::int16_t shift) {
  if (key_preview_) KeyDown.Emit(key_code, shift);
  if (key_code == 0) return;
  if (key_code == kKeyTab) {
    Tab((shift & kShiftMask) != 0);
  } else if (key_code == kKeyReturn) {
    TypeCharacter(U'\r');
  } else if (key_code == 8) {
    TypeCharacter(8);
  }
}

void Form::TypeText(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = kvt::NextCodePoint(text, i);
    if (c == U'\t') {
      PressKey(kKeyTab);
    } else if (c == U'\n' || c == U'\r') {
      PressKey(kKeyReturn);
    } else {
      TypeCharacter(c);
    }
  }
}

void Form::TypeCharacter(char32_t c) {
  std::int32_t code = static_cast<std::int32_t>(c);
  if (key_preview_) KeyPress.Emit(code);
  if (code == 0 || !active_) return;
  auto target = active_;  // a handler may move the focus; the character goes where it was
  target->TypeCharacter(static_cast<char32_t>(code));
}

}  // namespace kvthost
