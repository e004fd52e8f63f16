// The Qt desktop: the platform services on Qt (message boxes, the Tab keystroke, new windows)
// and the person who works on a form with real input events.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/common/person.h"
#include "host/qt/qt_form.h"
#include "runtime/platform.h"
#include "runtime/weak_ref.h"

namespace kvthost::qt {

class QtDesktop final : public kvt::Platform {
 public:
  /// How message boxes appear: as modal boxes a person answers, or recorded and answered OK
  /// (tests, and programs that print them instead).
  enum class Messages { kShow, kRecord };

  /// Registers the Qt control classes and becomes the process's platform. A QApplication must
  /// exist. The previous platform comes back with Uninstall.
  static std::shared_ptr<QtDesktop> Install(Messages messages = Messages::kShow);
  void Uninstall();

  int MsgBox(std::string_view prompt, int buttons, std::string_view title) override;
  /// A problem told to the person: a warning with one OK button, `details` (the original error
  /// text) behind Qt's details button.
  void ShowProblem(std::string_view prompt, std::string_view details, std::string_view title);
  /// The message box MsgBox shows, unshown, with the answer each button gives (a program may
  /// show or picture it).
  struct ShownBox {
    std::unique_ptr<QMessageBox> box;
    std::vector<std::pair<QAbstractButton*, int>> answers;
  };
  static ShownBox MakeBox(const std::string& prompt, int buttons, const std::string& title,
                          QWidget* parent);
  /// Presses Tab in the active window, as the keyboard would.
  void SendTab() override;
  /// A new hidden window (a QtForm).
  kvt::ObjectRef CreateWindow(std::string_view name) override;
  /// Work from other threads runs in Qt's event loop.
  bool PostsWork() const override { return true; }
  void Post(std::function<void()> work) override;

  /// A new form, as a host creates its own; it becomes the active one.
  std::shared_ptr<QtForm> NewForm(const std::string& name);
  void Activate(const std::shared_ptr<QtForm>& form) { active_ = form; }
  std::shared_ptr<QtForm> ActiveForm() const;

  using Message = kvt::ShownMessage;
  const std::vector<Message>& Recorded() const { return messages_; }
  void ClearRecorded() { messages_.clear(); }
  /// Recorded questions are answered with these, in order (Cancel when none is left).
  std::deque<int> answers;
  /// Called with every message box's text (a program may print them).
  std::function<void(const Message&)> on_message;
  /// The title of message boxes that give none.
  std::string application_title = "kvtfields";

 private:
  Messages mode_ = Messages::kShow;
  std::shared_ptr<kvt::Platform> previous_;
  kvt::WeakRef<QtForm> active_;
  std::vector<Message> messages_;
};

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
