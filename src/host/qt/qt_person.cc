#include "host/qt/qt_person.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include "host/qt/qt_control.h"
#include "host/qt/qt_keys.h"
#include "host/qt/qt_text.h"
#include "runtime/error.h"

namespace kvthost::qt {
namespace {

[[noreturn]] void NotFocused(const char* what) {
  throw kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall,
                          std::string("the focused control is not ") + what, kHostSource);
}

template <class T>
T* Inside(QWidget* w) {
  if (!w) return nullptr;
  if (auto* t = qobject_cast<T*>(w)) return t;
  return w->findChild<T*>();
}

}  // namespace

void QtPerson::LookAtWindow() const {
  // The person works on the window in front of them: a list that just closed may have left
  // another window active.
  QWidget* window = form_->Window() ? form_->Window()->window() : nullptr;
  if (window && window->isVisible() && !window->isActiveWindow()) {
    window->activateWindow();
    QApplication::processEvents();
    if (!window->isActiveWindow()) QApplication::setActiveWindow(window);
  }
}

QWidget* QtPerson::FocusedWidget() const {
  LookAtWindow();
  if (auto* q = dynamic_cast<QtControl*>(form_->Active().get()); q && q->FocusWidget()) {
    return q->FocusWidget();
  }
  return form_->Window();
}

bool QtPerson::Focus(const std::string& control_name) {
  auto control = form_->FindControl(control_name);
  if (!control) {
    throw kvt::Error(kControlNotFound, kHostSource, "Control '" + control_name + "' not found");
  }
  if (!control->CanTakeFocus()) {
    throw kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall,
                            "'" + control_name + "' cannot take the focus", kHostSource);
  }
  auto* q = dynamic_cast<QtControl*>(control.get());
  QWidget* target = q ? q->FocusWidget() : nullptr;
  if (auto* box = qobject_cast<QComboBox*>(target); box && box->lineEdit()) {
    target = box->lineEdit();  // a click on the box's text, not on its arrow
  }
  if (!target) return false;
  QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(4, target->height() / 2));
  return form_->Active() == control;
}

bool QtPerson::Tab() {
  const auto before = form_->Active();
  QTest::keyClick(FocusedWidget(), Qt::Key_Tab);
  return form_->Active() != before;
}

bool QtPerson::BackTab() {
  const auto before = form_->Active();
  QTest::keyClick(FocusedWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
  return form_->Active() != before;
}

void QtPerson::Type(const std::string& text) {
  for (char32_t c : ToQt(text).toStdU32String()) {
    const Keystroke k = TypingKeystroke(c);
    const Qt::Key key = k.code != 0 ? QtKey(k.code) : Qt::Key_unknown;
    const QString shown = QString::fromStdU32String(k.text);
    QWidget* w = FocusedWidget();
    QKeyEvent press(QEvent::KeyPress, key, ModifiersOf(k.shift), shown);
    QKeyEvent release(QEvent::KeyRelease, key, ModifiersOf(k.shift), shown);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
  }
}

void QtPerson::Clear() {
  auto active = form_->Active();
  QWidget* w = FocusedWidget();
  if (auto* box = dynamic_cast<TextBoxBase*>(active.get())) {
    QTest::keyClick(w, Qt::Key_A, Qt::ControlModifier);
    if (!box->Text().empty()) QTest::keyClick(w, Qt::Key_Backspace);
  } else if (auto* link = dynamic_cast<FileLinker*>(active.get())) {
    while (!link->Text().empty() && !link->Locked() && link->Enabled()) {
      const std::string before = link->Text();
      QTest::keyClick(w, Qt::Key_Backspace);
      if (link->Text() == before) break;
    }
  } else if (dynamic_cast<DatePicker*>(active.get())) {
    PickDate(kvt::Variant::Null());
  } else if (auto* combo = dynamic_cast<CodeCombo*>(active.get())) {
    if (!combo->Entries().empty()) Choose("");
  }
}

void QtPerson::Paste(const std::string& text) {
  if (!dynamic_cast<TextBoxBase*>(form_->Active().get())) NotFocused("a text box");
  QApplication::clipboard()->setText(ToQt(text));
  QTest::keyClick(FocusedWidget(), Qt::Key_V, Qt::ControlModifier);
}

void QtPerson::PressKey(std::int16_t key_code, std::int16_t shift) {
  QTest::keyClick(FocusedWidget(), QtKey(key_code), ModifiersOf(shift));
}

void QtPerson::PickDate(const kvt::Variant& date) {
  auto* picker = dynamic_cast<DatePicker*>(form_->Active().get());
  auto* q = dynamic_cast<QtControl*>(picker);
  if (!picker || !q) NotFocused("a date picker");
  auto* check = Inside<QCheckBox>(q->Widget());
  if (date.IsNull()) {
    if (check && check->isVisible() && check->isChecked()) QTest::mouseClick(check, Qt::LeftButton);
    return;
  }
  // The date typed as a person types it: day, month and year digits over the whole field.
  QWidget* edit = q->FocusWidget();
  const std::string text = kvt::FormatDate(kvt::CDate(date)).substr(0, 10);
  QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
  for (char c : text) {
    if (c != '/') QTest::keyClick(edit, c);
  }
}

namespace {

QComboBox* FocusedCombo(QtForm& form) {
  auto* q = dynamic_cast<QtControl*>(form.Active().get());
  auto* box = q && dynamic_cast<CodeCombo*>(q) ? qobject_cast<QComboBox*>(q->Widget()) : nullptr;
  if (!box) NotFocused("a combo");
  return box;
}

// Types into the combo's box over what it shows.
void TypeInto(QComboBox* box, const std::string& text) {
  box->lineEdit()->selectAll();
  QTest::keyClick(box, Qt::Key_Backspace);
  QTest::keyClicks(box, ToQt(text));
}

}  // namespace

void QtPerson::Choose(const std::string& code) {
  QComboBox* box = FocusedCombo(*form_);
  auto* combo = dynamic_cast<CodeCombo*>(form_->Active().get());
  int row = -1;
  for (std::size_t i = 0; i < combo->Entries().size(); ++i) {
    if (combo->Entries()[i].first == code) row = static_cast<int>(i);
  }
  if (row < 0) {
    throw kvt::Error(kInvalidPropertyValue, kHostSource,
                     "Invalid property value: '" + code + "' is not in the list");
  }
  // Opens the list and clicks the entry, as with the mouse.
  QTest::keyClick(box, Qt::Key_F4);
  QAbstractItemView* list = box->view();
  if (!list->isVisible()) return;  // a locked combo opens no list
  const QModelIndex index = list->model()->index(row, 0);
  list->scrollTo(index);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(index).center());
  if (list->isVisible()) box->hidePopup();
  LookAtWindow();
}

void QtPerson::AddCode(const std::string& code, const std::string& description) {
  QComboBox* box = FocusedCombo(*form_);
  if (!box->isEditable()) return;
  TypeInto(box, description.empty() ? code : code + " - " + description);
  QTest::keyClick(box, Qt::Key_Insert);
}

void QtPerson::DeleteCode(const std::string& code) {
  QComboBox* box = FocusedCombo(*form_);
  if (!box->isEditable()) return;
  TypeInto(box, code);
  QTest::keyClick(box, Qt::Key_Delete, Qt::ShiftModifier);
}

void QtPerson::Browse(const std::string& path) {
  if (!dynamic_cast<FileLinker*>(form_->Active().get())) NotFocused("a file link");
  Clear();
  Type(path);
}

void QtPerson::AcceptSuggestion(std::int32_t index) {
  auto* q = dynamic_cast<QtControl*>(form_->Active().get());
  QListWidget* list = q ? q->SuggestionList() : nullptr;
  if (!list || index < 0 || index >= list->count()) {
    throw kvt::RuntimeError(kvt::ErrorCode::kSubscriptOutOfRange, "suggestion", kHostSource);
  }
  const QRect r = list->visualItemRect(list->item(index));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, r.center());
}

std::string QtPerson::Focused() const {
  auto c = form_->Active();
  return c ? c->Name() : std::string();
}

}  // namespace kvthost::qt
