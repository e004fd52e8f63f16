#include "host/qt/qt_desktop.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

#include "host/qt/qt_control.h"
#include "host/qt/qt_keys.h"
#include "host/qt/qt_text.h"
#include "runtime/error.h"

namespace kvthost::qt {
// ---- Platform

std::shared_ptr<QtDesktop> QtDesktop::Install(Messages messages) {
  if (!QApplication::instance()) {
    throw kvt::RuntimeError(kvt::ErrorCode::kCannotCreateObject,
                            "the Qt window system needs a QApplication", kHostSource);
  }
  RegisterQtControlClasses();
  auto desktop = std::make_shared<QtDesktop>();
  desktop->mode_ = messages;
  desktop->previous_ = kvt::SetPlatform(desktop);
  return desktop;
}

void QtDesktop::Uninstall() {
  kvt::SetPlatform(previous_);
  previous_.reset();
}

int QtDesktop::MsgBox(std::string_view prompt, int buttons, std::string_view title) {
  Message m{std::string(prompt), buttons, std::string(title)};
  if (on_message) on_message(m);
  messages_.push_back(m);
  if (mode_ == Messages::kRecord) {
    if (kvt::MsgBoxButtons(buttons) == kvt::kMsgBoxOkOnly) return kvt::kMsgBoxAnswerOk;
    if (answers.empty()) return kvt::kMsgBoxAnswerCancel;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  ShownBox shown = MakeBox(m.prompt, buttons, title.empty() ? application_title : m.title,
                           QApplication::activeWindow());
  shown.box->exec();
  for (const auto& [button, answer] : shown.answers) {
    if (shown.box->clickedButton() == button) return answer;
  }
  return kvt::MsgBoxButtons(buttons) == kvt::kMsgBoxOkOnly ? kvt::kMsgBoxAnswerOk
                                                           : kvt::kMsgBoxAnswerCancel;
}

void QtDesktop::ShowProblem(std::string_view prompt, std::string_view details,
                            std::string_view title) {
  Message m{std::string(prompt), kvt::kMsgBoxOkOnly, std::string(title), std::string(details)};
  if (on_message) on_message(m);
  messages_.push_back(m);
  if (mode_ == Messages::kRecord) return;
  ShownBox shown =
      MakeBox(m.prompt, kvt::kMsgBoxOkOnly, title.empty() ? application_title : m.title,
              QApplication::activeWindow());
  shown.box->setIcon(QMessageBox::Warning);
  if (!m.details.empty()) shown.box->setDetailedText(ToQt(m.details));
  shown.box->exec();
}

QtDesktop::ShownBox QtDesktop::MakeBox(const std::string& prompt, int buttons,
                                       const std::string& title, QWidget* parent) {
  // The buttons in the person's language, each answered by its letter too (S, N, A, O); Esc is
  // Cancel (or OK when it is the only one).
  ShownBox shown;
  const int set = kvt::MsgBoxButtons(buttons);
  shown.box = std::make_unique<QMessageBox>(
      set == kvt::kMsgBoxOkOnly ? QMessageBox::Information : QMessageBox::Question, ToQt(title),
      ToQt(prompt), QMessageBox::NoButton, parent);
  QMessageBox& box = *shown.box;
  auto add = [&](const char* text, QMessageBox::ButtonRole role, int answer) {
    shown.answers.emplace_back(box.addButton(QString::fromUtf8(text), role), answer);
    return shown.answers.back().first;
  };
  if (set == kvt::kMsgBoxYesNoCancel) {
    add("&Sì", QMessageBox::YesRole, kvt::kMsgBoxAnswerYes);
    add("&No", QMessageBox::NoRole, kvt::kMsgBoxAnswerNo);
    box.setEscapeButton(add("&Annulla", QMessageBox::RejectRole, kvt::kMsgBoxAnswerCancel));
  } else if (set == kvt::kMsgBoxOkCancel) {
    add("&OK", QMessageBox::AcceptRole, kvt::kMsgBoxAnswerOk);
    box.setEscapeButton(add("&Annulla", QMessageBox::RejectRole, kvt::kMsgBoxAnswerCancel));
  } else {
    box.setEscapeButton(add("&OK", QMessageBox::AcceptRole, kvt::kMsgBoxAnswerOk));
  }
  // Enter answers the first button unless told otherwise; OK and Cancel default to Cancel, the
  // answer that changes nothing.
  std::size_t chosen = set == kvt::kMsgBoxOkCancel ? 1 : 0;
  if (buttons & kvt::kMsgBoxDefaultButton2) chosen = 1;
  if (buttons & kvt::kMsgBoxDefaultButton3) chosen = 2;
  if (chosen >= shown.answers.size()) chosen = 0;
  box.setDefaultButton(static_cast<QPushButton*>(shown.answers[chosen].first));
  return shown;
}

void QtDesktop::SendTab() {
  QWidget* target = QApplication::focusWidget();
  if (!target) {
    auto form = ActiveForm();
    target = form ? form->Window() : nullptr;
  }
  if (!target) return;
  // A Tab pressed and released on the focused widget, as the keyboard delivers it.
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Tab, Qt::NoModifier, QStringLiteral("\t"));
  QApplication::sendEvent(target, &press);
  QApplication::sendEvent(target, &release);
}

void QtDesktop::Post(std::function<void()> work) {
  // Queued to the application object: it runs on the thread of the windows, in order.
  if (QCoreApplication* app = QCoreApplication::instance()) {
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
  }
}

kvt::ObjectRef QtDesktop::CreateWindow(std::string_view name) {
  return NewForm(std::string(name));
}

std::shared_ptr<QtForm> QtDesktop::NewForm(const std::string& name) {
  auto form = QtForm::Create(name);
  active_ = form;
  return form;
}

std::shared_ptr<QtForm> QtDesktop::ActiveForm() const {
  return active_.Resolve();
}

}  // namespace kvthost::qt
