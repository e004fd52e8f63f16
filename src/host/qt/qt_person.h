// The person at a Qt form, for tests, benchmarks and the desk's demo: real input events sent
// as a person's hands would (through Qt's test library, which the window system itself does
// not need).
#pragma once

#include <memory>
#include <string>

#include "host/common/person.h"
#include "host/qt/qt_form.h"

namespace kvthost::qt {

/// The person at the keyboard and mouse of one form: every action is a real Qt input event
/// (clicks, key presses, typed text) delivered to the control's widget.
class QtPerson final : public IPerson {
 public:
  explicit QtPerson(std::shared_ptr<QtForm> form) : form_(std::move(form)) {}

  bool Focus(const std::string& control_name) override;
  bool Tab() override;
  bool BackTab() override;
  void Type(const std::string& text) override;
  void Clear() override;
  void Paste(const std::string& text) override;
  void PressKey(std::int16_t key_code, std::int16_t shift) override;
  void PickDate(const kvt::Variant& date) override;
  void Choose(const std::string& code) override;
  void AddCode(const std::string& code, const std::string& description) override;
  void DeleteCode(const std::string& code) override;
  void Browse(const std::string& path) override;
  void AcceptSuggestion(std::int32_t index) override;
  std::string Focused() const override;

 private:
  QWidget* FocusedWidget() const;  // the focused control's editor, else the window
  void LookAtWindow() const;
  std::shared_ptr<QtForm> form_;
};

}  // namespace kvthost::qt
