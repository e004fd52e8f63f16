// A host form as every window system keeps it: its controls collection, the focus chain (tab
// order, validate before the focus leaves, the tab-order rule), key preview and key events. A
// window system shows it; the headless one keeps it in memory only.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/common/control.h"
#include "host/common/keystroke.h"
#include "host/common/units.h"
#include "kvtfields/contracts/window.h"
#include "runtime/event_source.h"
#include "runtime/object.h"
#include "runtime/text.h"
#include "runtime/weak_ref.h"

namespace kvthost {

class Form;

/// A form's `Controls` collection: Add (class name, control name), Remove, Item, Count.
class ControlsCollection final : public kvt::Object,
                                 public kvt::Enumerable,
                                 public kvtfields::IControlLookup {
  KVT_OBJECT()

 public:
  explicit ControlsCollection(const std::shared_ptr<Form>& form) : form_(form) {}
  /// Creates a control of a registered class; a name already used raises 727.
  kvt::ObjectRef Add(const std::string& class_name, const std::string& name);
  /// Removes a control; a name not on the form raises 730.
  void Remove(const std::string& name);
  /// A control by name, or by position (0-based) in creation order.
  kvt::ObjectRef Item(const kvt::Variant& index) const;
  std::int32_t Count() const;
  std::vector<kvt::Variant> EnumerateItems() const override;
  bool Contains(std::string_view name) const override;

 private:
  kvt::WeakRef<Form> form_;
};

class Form : public kvt::Object, public kvtfields::IWindowKeys {
  KVT_OBJECT()

 public:
  /// A new, hidden form with the given name.
  static std::shared_ptr<Form> Create(std::string name);
  ~Form() override;

  // Late-bound members.
  std::string Name() const { return name_; }
  std::string Caption() const { return caption_; }
  void LetCaption(const std::string& v) {
    caption_ = v;
    OnFormChanged(FormAspect::kCaption);
  }
  /// The client area, in twips.
  std::int32_t ScaleWidth() const { return scale_width_; }
  void LetScaleWidth(std::int32_t v);
  std::int32_t ScaleHeight() const { return scale_height_; }
  void LetScaleHeight(std::int32_t v);
  bool KeyPreview() const { return key_preview_; }
  void LetKeyPreview(bool v) { key_preview_ = v; }
  bool Visible() const { return visible_; }
  void LetVisible(bool v) {
    visible_ = v;
    OnFormChanged(FormAspect::kVisible);
  }
  kvt::ObjectRef Controls() const { return controls_; }
  /// The control that has the focus, or Nothing.
  kvt::ObjectRef ActiveControl() const { return active_; }
  void Show() { LetVisible(true); }
  void Hide() { LetVisible(false); }
  /// Closes the form: every control goes, the form is hidden and Unloaded is raised.
  void Unload();

  bool InvokeDynamic(std::string_view name, kvt::MemberKind kind, std::span<kvt::Variant> args,
                     kvt::Variant& result) override;

  // Events.
  /// Key code and shift state; with key preview on, raised before the focused control sees the
  /// key. A handler may change either, 0 swallows the key.
  kvt::EventSource<std::int16_t&, std::int16_t&> KeyDown;
  /// A typed character; with key preview on, raised first. A handler may change it; 0 swallows.
  kvt::EventSource<std::int32_t&> KeyPress;
  kvt::EventSource<> Unloaded;
  kvt::EventSource<std::int16_t&, std::int16_t&>& KeyDownEvent() override { return KeyDown; }
  kvt::EventSource<std::int32_t&>& KeyPressEvent() override { return KeyPress; }

  // Window-system side.
  std::shared_ptr<Control> FindControl(std::string_view name) const;
  /// Controls in creation order / in tab order.
  std::vector<std::shared_ptr<Control>> ControlList() const;
  std::vector<std::shared_ptr<Control>> TabOrder() const;
  std::size_t ControlCount() const { return by_creation_.size(); }
  std::shared_ptr<Control> Active() const { return active_; }

  /// Moves the focus to `target`: the control that has it is validated (a cancel keeps the
  /// focus there and returns false), loses the focus, then `target` gains it.
  bool MoveFocus(const std::shared_ptr<Control>& target);
  /// Moves the focus to the next (or previous) control of the tab order that can take it.
  bool Tab(bool backward = false);
  /// A click on `target`: what the focused control holds unconfirmed is committed, then the
  /// focus moves there. False when validation kept it elsewhere (the click is then refused);
  /// true for the focused control and for controls that take no focus (the click is theirs).
  bool Click(const std::shared_ptr<Control>& target);

  /// The one route of every key the person presses, whatever the window system: key preview
  /// (KeyDown; 0 or a focus moved by a handler spends the key), Tab with a commit, then the
  /// control's keys (see docs/hosts.md). `target` is the control whose editor received the key,
  /// null for the window. `consumed` is set before each step runs, so it is right even when a
  /// handler throws: a consumed key must not be acted on again by the toolkit.
  void RouteKey(const Keystroke& key, Control* target, bool& consumed);
  /// Key preview, for a window system that receives the key itself: with KeyPreview on, raises
  /// KeyDown. Returns the key code that goes on to the control, 0 when a handler swallowed it.
  std::int16_t PreviewKeyDown(std::int16_t key_code, std::int16_t& shift);
  /// The same for a typed character (KeyPress); 0 swallows it.
  std::int32_t PreviewKeyPress(std::int32_t character);
  /// A keystroke without a toolkit: routed, and a key left over goes to the control's editor.
  void PressKeystroke(const Keystroke& key);
  /// A key pressed by the person (letters and digits type their character).
  void PressKey(std::int16_t key_code, std::int16_t shift = 0);
  /// Text typed by the person, key by key, into the focused control.
  void TypeText(std::string_view text);
  /// One character typed into the focused control: key preview (KeyPress), then the control.
  void TypeCharacter(char32_t c);
  /// Esc on the focused control: its value on entry is put back; false when it still had it.
  bool RevertFocused();
  /// With this on, Enter in a multi-line text box is a new line before key preview sees it
  /// (a window whose Enter moves on or saves still lets the person write lines).
  void SetMultiLineTakesEnter(bool on) { multi_line_takes_enter_ = on; }
  /// Told after the focused control changed (a program follows the person).
  std::function<void()> on_active_changed;
  /// Told when validation kept the focus on `control`.
  std::function<void(Control& control)> on_focus_refused;
  /// Told what a control says to the person about what they typed (a code not in the list):
  /// a window shows it in its status bar.
  std::function<void(Control& control, const std::string& note)> on_note;
  /// The last thing a control said to the person (on_note), and how many it has said: a caller
  /// that made a move can tell whether the control explained a refusal.
  const std::string& LastNote() const { return last_note_; }
  std::uint64_t NoteCount() const { return notes_; }
  /// Told after an aspect of one of the form's controls changed (a front end that follows the
  /// form, such as a modified mark, needs no polling).
  std::function<void(Control& control, Control::Aspect aspect)> on_control_changed;
  /// How many changes the form's controls have told: what was read at one count is still what
  /// the controls show while the count stays.
  std::uint64_t ChangeCount() const { return changes_; }
  /// The text a window system shows when a handler of the person's input failed.
  static std::string FailureText(const std::exception& e);

 protected:
  enum class FormAspect { kCaption, kScale, kVisible };
  explicit Form(std::string name);
  /// Completes a form made by a subclass's factory (its controls collection needs the form).
  static void Attach(const std::shared_ptr<Form>& form);
  // What a window system that shows the form follows. The headless one has nothing to show.
  /// A control was added to the form / taken off it (still whole, no longer on the form).
  virtual void OnControlAdded(Control&) {}
  virtual void OnControlRemoved(Control&) {}
  /// The control that has the focus changed (Active()); called before the focus events.
  virtual void OnActiveChanged() {}
  virtual void OnFormChanged(FormAspect) {}
  /// Every control is gone; Unloaded is raised next.
  virtual void OnUnloading() {}

 private:
  friend class ControlsCollection;
  friend class Control;
  void SetActive(std::shared_ptr<Control> control);
  std::int16_t TabIndexOf(const Control& c) const;
  void SetTabIndex(Control& c, std::int16_t index);
  void PlaceInTabOrder(Control& c, double key);
  void Detach(std::shared_ptr<Control> c);  // by value: c may live in the lists it leaves
  // The focused control refused to be left by the key being routed: what was typed ahead of
  // the refusal must not pile into it.
  void RefusedLeaving();
  // True for a character typed ahead of a refusal to leave `control` (see RouteKey).
  bool TypedAhead(const Keystroke& key, const Control* control) const;

  std::string name_;
  std::string caption_;
  std::int32_t scale_width_ = 4680;
  std::int32_t scale_height_ = 3975;
  bool key_preview_ = false;
  bool visible_ = false;
  std::shared_ptr<ControlsCollection> controls_;
  // Controls by creation number, by name, and by tab key (a position is a rank among the
  // keys): adding, removing and moving a control in the tab order cost no walk over the form.
  std::map<std::uint64_t, std::shared_ptr<Control>> by_creation_;
  // Keyed by a view of the control's own name, which lives as long as the entry.
  std::unordered_map<std::string_view, std::shared_ptr<Control>, kvt::IgnoreCaseHash,
                     kvt::IgnoreCaseEqual>
      by_name_;
  std::map<double, Control*> tab_order_;
  std::uint64_t next_creation_ = 0;
  std::shared_ptr<Control> active_;
  std::uint64_t key_at_ = 0;        // when the key being routed was pressed (0: none, unknown)
  std::weak_ptr<Control> refused_;  // the control that last refused to be left by a key
  std::uint64_t refused_at_ = 0;    // when that key was pressed
  bool multi_line_takes_enter_ = false;
  std::string last_note_;
  std::uint64_t notes_ = 0;
  std::uint64_t changes_ = 0;
};

}  // namespace kvthost
