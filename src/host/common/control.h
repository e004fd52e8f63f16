// The base of every control of a window system: the members all desktop controls share (name,
// tag, geometry, colours, font, tab order, focus) and their member table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/common/keystroke.h"
#include "host/common/units.h"
#include "kvtfields/contracts/controls.h"
#include "runtime/class_builder.h"
#include "runtime/object.h"
#include "runtime/weak_ref.h"

namespace kvthost {

class Form;

/// A control's font.
class Font final : public kvt::Object {
  KVT_OBJECT()

 public:
  std::string Name() const { return name_; }
  void LetName(const std::string& v) {
    name_ = v;
    Changed();
  }
  double Size() const { return size_; }
  void LetSize(double v) {
    size_ = v;
    Changed();
  }
  bool Bold() const { return bold_; }
  void LetBold(bool v) {
    bold_ = v;
    Changed();
  }
  bool Italic() const { return italic_; }
  void LetItalic(bool v) {
    italic_ = v;
    Changed();
  }
  /// Called after every change (the control shows its font anew).
  std::function<void()> on_change;

 private:
  void Changed() {
    if (on_change) on_change();
  }
  std::string name_ = "MS Sans Serif";
  double size_ = 8.25;
  bool bold_ = false;
  bool italic_ = false;
};

class Control : public kvt::Object {
 public:
  /// What changed on a control, for a window system that shows it (Qt's widget follows).
  enum class Aspect {
    kGeometry,  // Left, Top, Width, Height
    kVisible,
    kEnabled,
    kColors,  // BackColor, ForeColor
    kToolTip,
    kFont,
    kContent,     // text, caption, value, the panels' texts
    kSelection,   // selected text or entry
    kList,        // a combo's entries
    kAppearance,  // settings that change how the control looks or takes input
  };

  // Members every control has.
  std::string Name() const { return name_; }
  std::string Tag() const { return tag_; }
  void LetTag(const std::string& v) { tag_ = v; }
  std::string ToolTipText() const { return tool_tip_; }
  void LetToolTipText(const std::string& v) {
    tool_tip_ = v;
    NotifyChanged(Aspect::kToolTip);
  }
  std::int32_t Left() const { return left_; }
  void LetLeft(std::int32_t v) {
    left_ = v;
    NotifyChanged(Aspect::kGeometry);
  }
  std::int32_t Top() const { return top_; }
  void LetTop(std::int32_t v) {
    top_ = v;
    NotifyChanged(Aspect::kGeometry);
  }
  std::int32_t Width() const { return width_; }
  virtual void LetWidth(std::int32_t v);
  std::int32_t Height() const { return height_; }
  virtual void LetHeight(std::int32_t v);
  bool Visible() const { return visible_; }
  void LetVisible(bool v);
  bool Enabled() const { return enabled_; }
  void LetEnabled(bool v);
  /// Position in the form's tab order; setting N moves the control to N and shifts the
  /// controls from N onward up by one.
  std::int16_t TabIndex() const;
  void LetTabIndex(std::int16_t v);
  bool TabStop() const { return tab_stop_; }
  void LetTabStop(bool v) { tab_stop_ = v; }
  std::int32_t BackColor() const { return back_color_; }
  void LetBackColor(std::int32_t v) {
    back_color_ = v;
    NotifyChanged(Aspect::kColors);
  }
  std::int32_t ForeColor() const { return fore_color_; }
  void LetForeColor(std::int32_t v) {
    fore_color_ = v;
    NotifyChanged(Aspect::kColors);
  }
  kvt::ObjectRef Font() const;
  /// The form, or Nothing once the control was removed from it.
  kvt::ObjectRef Parent() const;
  /// Moves the focus here (validating the control that has it); error 5 when the control
  /// cannot take the focus.
  void SetFocus();

  // Window-system side.
  /// The class name the control was created under ("VB.Label" ...).
  const std::string& ClassName() const { return class_name_; }
  std::shared_ptr<Form> OwnerForm() const { return form_.Resolve(); }
  bool HasFocus() const;
  /// Controls that never take the focus (labels, status bars) answer false.
  virtual bool Focusable() const { return true; }
  bool CanTakeFocus() const { return Focusable() && visible_ && enabled_ && tab_stop_; }
  /// The focus and validate events, raised by the form; null for controls without them.
  virtual kvtfields::InputEvents* FocusEvents() { return nullptr; }
  /// A character typed while the control has the focus (8 is Backspace, 13 Enter).
  virtual void TypeCharacter(char32_t) {}

  // How the form routes the person's keys (Form::RouteKey) to the control.
  /// True when typed characters go through the control (text boxes, the file link); false when
  /// the control's own editor takes its keys (the combo's box, the date editor).
  virtual bool TakesTypedText() const { return false; }
  /// A key the form left to the control's own editor. A window system's widget has had it
  /// already; without one (headless) the control edits its own state here.
  virtual void EditorKey(const Keystroke&) {}
  /// Enter on a control that does not take typed text; true when the control acted on it.
  virtual bool Enter() { return false; }
  /// Insert on such a control; true when it acted (the combo adds the code typed in its box).
  virtual bool Insert() { return false; }
  /// Shift+Delete (the combo deletes the code in its box).
  virtual void ShiftDelete() {}
  /// The focus is about to leave: what the person typed but did not confirm is settled. False
  /// when it cannot be (text that is no code, a date that does not exist): what was typed stays,
  /// the control says why (Note) and the focus stays with it.
  virtual bool Commit() { return true; }
  /// True while the control holds input the person typed but did not confirm (text in a
  /// combo's box, a date being typed): unsaved work as much as a changed value.
  virtual bool Pending() const { return false; }
  /// Widget hook: reads the selection the person made in the widget into the control before
  /// the control is typed into. Without a widget the control's own selection holds.
  virtual void ReadSelection() {}
  /// Ctrl+Z: undoes the person's last edit; false when there is none.
  virtual bool Undo() { return false; }
  /// The focus arrived and the field's entry handlers ran: the value now is the one Esc restores.
  virtual void MarkEntry() {}
  /// The focus has left: what was offered only while typing here goes.
  virtual void AfterLeaving() {}
  /// Esc: puts back the value the control had on entry; false when it still has it.
  virtual bool RevertToEntry() { return false; }
  /// One line describing the control's state for a text picture of the form.
  virtual std::string Describe() const { return {}; }
  /// Tells the form's followers, then the window system, that an aspect changed (objects that
  /// belong to the control, such as its font or a status bar's panels, call it too).
  void NotifyChanged(Aspect aspect);

  template <class C>
  static kvt::ClassBuilder<C>& DescribeCommon(kvt::ClassBuilder<C>& b) {
    return b.template Get<&Control::Name>("Name")
        .template Get<&Control::Tag>("Tag")
        .template Let<&Control::LetTag>("Tag")
        .template Get<&Control::ToolTipText>("ToolTipText")
        .template Let<&Control::LetToolTipText>("ToolTipText")
        .template Get<&Control::Left>("Left")
        .template Let<&Control::LetLeft>("Left")
        .template Get<&Control::Top>("Top")
        .template Let<&Control::LetTop>("Top")
        .template Get<&Control::Width>("Width")
        .template Let<&Control::LetWidth>("Width")
        .template Get<&Control::Height>("Height")
        .template Let<&Control::LetHeight>("Height")
        .template Get<&Control::Visible>("Visible")
        .template Let<&Control::LetVisible>("Visible")
        .template Get<&Control::Enabled>("Enabled")
        .template Let<&Control::LetEnabled>("Enabled")
        .template Get<&Control::TabIndex>("TabIndex")
        .template Let<&Control::LetTabIndex>("TabIndex")
        .template Get<&Control::TabStop>("TabStop")
        .template Let<&Control::LetTabStop>("TabStop")
        .template Get<&Control::BackColor>("BackColor")
        .template Let<&Control::LetBackColor>("BackColor")
        .template Get<&Control::ForeColor>("ForeColor")
        .template Let<&Control::LetForeColor>("ForeColor")
        .template Get<&Control::Font>("Font")
        .template Get<&Control::Parent>("Parent")
        .template Method<&Control::SetFocus>("SetFocus");
  }

 protected:
  Control(std::int32_t width, std::int32_t height) : width_(width), height_(height) {}
  /// The control's enabled state changed (the file link keeps its lock flag in step).
  virtual void OnEnabledChanged() {}
  /// An aspect of the control changed; a window system that shows the control follows it. The
  /// headless one has nothing to show. Called before the control raises its own events.
  virtual void OnChanged(Aspect) {}
  /// Says something to the person about their input, through the form's on_note.
  void Note(const std::string& text);

 private:
  friend class Form;
  friend class ControlsCollection;
  std::string class_name_;
  std::string name_;
  std::string tag_;
  std::string tool_tip_;
  std::int32_t left_ = 0, top_ = 0, width_, height_;
  bool visible_ = true;
  bool enabled_ = true;
  bool tab_stop_ = true;
  std::int16_t detached_tab_index_ = 0;  // kept when the control is not on a form
  std::uint64_t creation_ = 0;           // the form's creation number
  double tab_key_ = 0;                   // the form's order key
  std::int32_t back_color_ = kWhite;
  std::int32_t fore_color_ = kBlack;
  mutable std::shared_ptr<kvthost::Font> font_;  // made when first asked for
  kvt::WeakRef<Form> form_;
};

}  // namespace kvthost
