// The headless desktop: the platform services of the window system (message boxes, the Tab
// keystroke, new windows) over in-memory forms, and the person who uses them.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/common/form.h"
#include "host/common/person.h"
#include "host/common/standard_controls.h"
#include "runtime/platform.h"
#include "runtime/weak_ref.h"

namespace kvthost {

class Desktop final : public kvt::Platform {
 public:
  /// Registers the control classes, installs a new desktop as the process's platform and
  /// returns it. The previous platform comes back when the returned desktop is uninstalled.
  static std::shared_ptr<Desktop> Install();
  /// Registers the control classes and returns a new desktop of one session, not installed:
  /// its person and its workspace enter it (kvt::PlatformScope) around what they do.
  static std::shared_ptr<Desktop> Create();
  /// Puts back the platform that was current before Install.
  void Uninstall();

  /// Records the message; answers OK, or a question with the next of `answers` (Cancel when
  /// none is left: nothing changes).
  int MsgBox(std::string_view prompt, int buttons, std::string_view title) override;
  /// Presses Tab on the active window.
  void SendTab() override;
  /// A new hidden form, which becomes the active window.
  kvt::ObjectRef CreateWindow(std::string_view name) override;

  /// A new form, active, as a host creates its own.
  std::shared_ptr<Form> NewForm(const std::string& name);
  void Activate(const std::shared_ptr<Form>& form) { active_ = form; }
  std::shared_ptr<Form> ActiveForm() const { return active_.Resolve(); }

  using Message = kvt::ShownMessage;
  const std::vector<Message>& Messages() const { return messages_; }
  void ClearMessages() { messages_.clear(); }
  /// The answers the person gives to the next questions, in order.
  std::deque<int> answers;

 private:
  std::shared_ptr<kvt::Platform> previous_;
  kvt::WeakRef<Form> active_;
  std::vector<Message> messages_;
};

/// The person at the keyboard, working on one form in memory.
class User final : public kvt::Object, public IPerson {
  KVT_OBJECT()

 public:
  /// `session`: the desktop of the person's session, entered around each action; none: the
  /// platform in use.
  explicit User(std::shared_ptr<Form> form, std::weak_ptr<kvt::Platform> session = {})
      : form_(std::move(form)), session_(std::move(session)) {}

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
  template <class T>
  std::shared_ptr<T> FocusedAs(const char* what) const;
  kvt::PlatformScope Enter() const { return kvt::PlatformScope(session_.lock()); }
  std::shared_ptr<Form> form_;
  std::weak_ptr<kvt::Platform> session_;
};

}  // namespace kvthost
