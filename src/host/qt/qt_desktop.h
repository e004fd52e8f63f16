// The Qt desktop: the platform services on Qt (message boxes, the Tab keystroke, new windows).
// It serves one person: it is installed as the process's platform. The person who works on a
// form with real input events is in qt_person.h.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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

}  // namespace kvthost::qt
