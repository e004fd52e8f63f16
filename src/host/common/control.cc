#include "host/common/control.h"

#include "host/common/form.h"
#include "runtime/error.h"

namespace kvthost {

const kvt::ClassInfo& Font::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<Font>("StdFont")
                                         .Get<&Font::Name>("Name")
                                         .Let<&Font::LetName>("Name")
                                         .Get<&Font::Size>("Size")
                                         .Let<&Font::LetSize>("Size")
                                         .Get<&Font::Bold>("Bold")
                                         .Let<&Font::LetBold>("Bold")
                                         .Get<&Font::Italic>("Italic")
                                         .Let<&Font::LetItalic>("Italic")
                                         .Build();
  return info;
}

void Control::LetWidth(std::int32_t v) {
  if (v < 0) throw kvt::Error(kInvalidPropertyValue, kHostSource, "Invalid property value: size");
  width_ = v;
  NotifyChanged(Aspect::kGeometry);
}

void Control::LetHeight(std::int32_t v) {
  if (v < 0) throw kvt::Error(kInvalidPropertyValue, kHostSource, "Invalid property value: size");
  height_ = v;
  NotifyChanged(Aspect::kGeometry);
}

void Control::LetVisible(bool v) {
  visible_ = v;
  NotifyChanged(Aspect::kVisible);
  if (!v) {
    // A hidden control cannot keep the focus.
    if (auto f = form_.Resolve(); f && f->Active().get() == this) f->SetActive(nullptr);
  }
}

void Control::LetEnabled(bool v) {
  if (enabled_ == v) return;
  enabled_ = v;
  if (!v) {
    if (auto f = form_.Resolve(); f && f->Active().get() == this) f->SetActive(nullptr);
  }
  OnEnabledChanged();
  NotifyChanged(Aspect::kEnabled);
}

std::int16_t Control::TabIndex() const {
  if (auto f = form_.Resolve()) return f->TabIndexOf(*this);
  return detached_tab_index_;
}

void Control::LetTabIndex(std::int16_t v) {
  if (v < 0) {
    throw kvt::Error(kInvalidPropertyValue, kHostSource, "Invalid property value: TabIndex");
  }
  if (auto f = form_.Resolve()) {
    f->SetTabIndex(*this, v);
  } else {
    detached_tab_index_ = v;
  }
}

kvt::ObjectRef Control::Font() const {
  if (!font_) {
    font_ = std::make_shared<kvthost::Font>();
    // The font holds its control weakly: no cycle between the two.
    std::weak_ptr<kvt::Object> weak = std::const_pointer_cast<kvt::Object>(shared_from_this());
    font_->on_change = [weak] {
      if (auto self = weak.lock()) static_cast<Control&>(*self).NotifyChanged(Aspect::kFont);
    };
  }
  return font_;
}

kvt::ObjectRef Control::Parent() const {
  return form_.Resolve();
}

bool Control::HasFocus() const {
  auto f = form_.Resolve();
  return f && f->Active().get() == this;
}

void Control::NotifyChanged(Aspect aspect) {
  if (auto f = form_.Resolve()) {
    ++f->changes_;
    if (f->on_control_changed) f->on_control_changed(*this, aspect);
  }
  OnChanged(aspect);
}

void Control::Note(const std::string& text) {
  auto f = form_.Resolve();
  if (!f) return;
  f->last_note_ = text;
  ++f->notes_;
  if (f->on_note) f->on_note(*this, text);
}

void Control::SetFocus() {
  auto f = form_.Resolve();
  if (!f || !CanTakeFocus()) {
    throw kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall,
                            "'" + name_ + "' cannot take the focus", kHostSource);
  }
  f->MoveFocus(std::static_pointer_cast<Control>(shared_from_this()));
}

}  // namespace kvthost
