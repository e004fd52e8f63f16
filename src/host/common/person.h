// The person at the keyboard, as every window system lets a test, a script or a program act
// for one on a form: clicks, Tab, typing, keys and the gestures of the input controls. The
// headless window system performs them in memory; a real toolkit sends real input events.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/variant.h"

namespace kvthost {

class IPerson {
 public:
  virtual ~IPerson() = default;
  /// Clicks into a control: moves the focus there. False when validation kept it elsewhere.
  virtual bool Focus(const std::string& control_name) = 0;
  /// Tab / Shift+Tab. False when validation kept the focus.
  virtual bool Tab() = 0;
  virtual bool BackTab() = 0;
  /// Types text into the focused control; a tab or a line end in it is that key.
  virtual void Type(const std::string& text) = 0;
  /// Empties the focused control as a person would (select all and delete, no date, empty code).
  virtual void Clear() = 0;
  /// Pastes text into the focused text control over its selection, as one change; what goes
  /// past the box's maximum length is cut, as a text box cuts a paste.
  virtual void Paste(const std::string& text) = 0;
  /// A key with its shift state (1 Shift, 2 Ctrl, 4 Alt).
  virtual void PressKey(std::int16_t key_code, std::int16_t shift) = 0;
  /// Picks a date in the focused date picker, or clears its check box with Null.
  virtual void PickDate(const kvt::Variant& date) = 0;
  /// Chooses, adds or deletes a code in the focused combo.
  virtual void Choose(const std::string& code) = 0;
  virtual void AddCode(const std::string& code, const std::string& description) = 0;
  virtual void DeleteCode(const std::string& code) = 0;
  /// Picks a file in the focused file link.
  virtual void Browse(const std::string& path) = 0;
  /// Accepts the value offered at `index` under the focused text box.
  virtual void AcceptSuggestion(std::int32_t index) = 0;
  /// Name of the focused control, "" for none.
  virtual std::string Focused() const = 0;
};

}  // namespace kvthost
