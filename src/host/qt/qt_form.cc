#include "host/qt/qt_form.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QVBoxLayout>

#include "host/qt/qt_controls.h"
#include "host/qt/qt_keys.h"
#include "host/qt/qt_text.h"
#include "runtime/error.h"
#include "runtime/platform.h"
#include "runtime/text.h"

namespace kvthost::qt {

void DeleteSelectedCode(Control& control);  // qt_controls.cc

// Sees the events of every control's widgets before the widgets do.
class QtForm::Filter final : public QObject {
 public:
  explicit Filter(QtForm& form) : form_(form) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::KeyPress: {
        // A key the receiver ignores goes on to its parents: it is the form's once, where it
        // was first delivered (the control's editor, or the window when no control has it).
        auto control = form_.ControlOf(watched);
        if (control) {
          auto* q = dynamic_cast<QtControl*>(control.get());
          if (!q || watched != q->FocusWidget()) return false;
        } else if (form_.ControlOf(QApplication::focusWidget())) {
          return false;
        }
        return form_.OnKey(control.get(), static_cast<QKeyEvent&>(*event));
      }
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick: {
        auto control = form_.ControlOf(watched);
        return control && !form_.OnClick(*control);
      }
      case QEvent::FocusIn: {
        // A click gives the focus before the click arrives: the click decides (OnClick).
        if (static_cast<QFocusEvent&>(*event).reason() == Qt::MouseFocusReason) return false;
        if (auto control = form_.ControlOf(watched)) form_.OnFocusIn(*control);
        return false;
      }
      default:
        return false;
    }
  }

 private:
  QtForm& form_;
};

std::shared_ptr<QtForm> QtForm::Create(std::string name) {
  std::shared_ptr<QtForm> f(new QtForm(std::move(name)));
  Attach(f);
  return f;
}

QtForm::QtForm(std::string name) : Form(std::move(name)), filter_(std::make_unique<Filter>(*this)) {
  window_ = new QWidget;
  window_->setWindowTitle(ToQt(Caption()));
  window_->setAttribute(Qt::WA_DeleteOnClose, false);
  auto* column = new QVBoxLayout(window_);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  client_ = new QWidget(window_);
  client_->setAutoFillBackground(true);
  column->addWidget(client_, 1);
  window_->installEventFilter(filter_.get());
  Relayout();
}

QtForm::~QtForm() {
  // Controls that outlive the form keep their state; their widgets go with the window.
  delete window_.data();
}

int QtForm::Dpi() const {
  return window_ ? window_->logicalDpiX() : 96;
}

std::shared_ptr<Control> QtForm::ControlOf(QObject* widget) const {
  for (const QObject* o = widget; o && o != client_ && o != window_; o = o->parent()) {
    auto it = owners_.find(o);
    if (it != owners_.end()) return it->second.lock();
  }
  return nullptr;
}

void QtForm::Relayout() {
  if (!window_ || !client_) return;
  client_->setFixedSize(TwipsToPixels(ScaleWidth(), Dpi()), TwipsToPixels(ScaleHeight(), Dpi()));
  if (auto bar = FindControl(kvtfields::member::kStatusBar)) {
    if (auto* q = dynamic_cast<QtControl*>(bar.get()); q && q->Widget()) {
      auto* column = static_cast<QVBoxLayout*>(window_->layout());
      if (column->indexOf(q->Widget()) < 0) column->addWidget(q->Widget());
    }
  }
  window_->adjustSize();
}

void QtForm::AdoptWidget(QtControl& control) {
  QWidget* w = control.Widget();
  if (!w) return;
  auto owner =
      std::dynamic_pointer_cast<Control>(dynamic_cast<kvt::Object&>(control).shared_from_this());
  // The widget and every editor inside it route their input through the form.
  w->installEventFilter(filter_.get());
  owners_[w] = owner;
  for (QWidget* child : w->findChildren<QWidget*>()) {
    child->installEventFilter(filter_.get());
    owners_[child] = owner;
  }
  QObject::connect(w, &QObject::destroyed, [this](QObject* o) { owners_.erase(o); });
  if (QWidget* focus = control.FocusWidget()) {
    focus->setFocusPolicy(owner->CanTakeFocus() ? Qt::StrongFocus : Qt::NoFocus);
  }
  w->show();
  w->setVisible(owner->Visible());
}

void QtForm::OnControlAdded(Control& control) {
  auto* q = dynamic_cast<QtControl*>(&control);
  if (!q || !client_) return;
  q->AttachTo(*this);
  AdoptWidget(*q);
  if (control.Name() == kvtfields::member::kStatusBar) Relayout();
}

void QtForm::OnControlRemoved(Control& control) {
  if (auto* q = dynamic_cast<QtControl*>(&control)) q->DetachWidget();
}

void QtForm::OnActiveChanged() {
  if (!window_) return;
  moving_focus_ = true;
  auto* q = dynamic_cast<QtControl*>(Active().get());
  if (q && q->FocusWidget()) {
    q->FocusWidget()->setFocus(Qt::OtherFocusReason);
  } else if (QWidget* focus = window_->focusWidget(); focus && ControlOf(focus)) {
    window_->setFocus(Qt::OtherFocusReason);  // the focus leaves the controls
  }
  moving_focus_ = false;
}

void QtForm::OnFormChanged(FormAspect aspect) {
  if (!window_) return;
  switch (aspect) {
    case FormAspect::kCaption:
      window_->setWindowTitle(ToQt(Caption()));
      break;
    case FormAspect::kScale:
      Relayout();
      break;
    case FormAspect::kVisible:
      window_->setVisible(Visible());
      if (Visible()) OnActiveChanged();  // a shown window gives the focus to its control
      break;
  }
}

void QtForm::OnUnloading() {
  if (window_) window_->hide();
}

void QtForm::ShowError(const std::exception& e) {
  std::string text = e.what();
  if (const auto* err = dynamic_cast<const kvt::Error*>(&e)) {
    text = err->Description() + "\n\n" + err->Source() + ", " + std::to_string(err->Number());
  }
  try {
    kvt::CurrentPlatform().MsgBox(text, kvt::kMsgBoxOkOnly, "");
  } catch (...) {
    // Nowhere to show it: the event is dropped, the form goes on.
  }
}

bool QtForm::OnClick(Control& control) {
  if (Active().get() == &control || !control.CanTakeFocus()) return true;
  bool moved = false;
  auto target = std::static_pointer_cast<Control>(control.shared_from_this());
  Guard([&] {
    if (auto* focused = dynamic_cast<QtControl*>(Active().get())) focused->Commit();
    moved = MoveFocus(target);
  });
  if (!moved) OnActiveChanged();  // Qt gave the clicked widget the focus: take it back
  return moved;                   // a refused move swallows the click
}

void QtForm::OnFocusIn(Control& control) {
  if (moving_focus_ || Active().get() == &control) return;
  bool moved = false;
  if (control.CanTakeFocus()) {
    auto target = std::static_pointer_cast<Control>(control.shared_from_this());
    Guard([&] { moved = MoveFocus(target); });
  }
  if (!moved) OnActiveChanged();  // Qt moved the focus where the form did not: take it back
}

bool QtForm::OnKey(Control* control, QKeyEvent& event) {
  const std::int16_t code = VirtualKey(event);
  std::int16_t shift = ShiftOf(event.modifiers());
  bool consumed = false;
  Guard([&] {
    const auto focused_before = Active();
    if (code != 0 && PreviewKeyDown(code, shift) == 0) {
      consumed = true;  // a key handler swallowed it
      return;
    }
    if (Active() != focused_before) {
      consumed = true;  // a key handler moved the focus: the key was its
      return;
    }
    // A key the form acts on is consumed even when its handler fails: Qt must not act on it
    // a second time (Qt's own Tab would move the focus past the form's rules).
    if (event.key() == Qt::Key_Tab || event.key() == Qt::Key_Backtab) {
      consumed = true;
      if (auto* focused = dynamic_cast<QtControl*>(Active().get())) focused->Commit();
      Tab(event.key() == Qt::Key_Backtab || (shift & kShiftMask) != 0);
      return;
    }
    if (!control) return;
    auto* q = dynamic_cast<QtControl*>(control);
    const bool ctrl = (shift & (kCtrlMask | kAltMask)) != 0;
    if (event.key() == Qt::Key_Delete && (shift & kShiftMask)) {
      consumed = true;
      DeleteSelectedCode(*control);
      return;
    }
    if (event.key() == Qt::Key_Insert && q && !q->TakesTypedText()) {
      consumed = q->Insert();
      return;
    }
    if (!q || !q->TakesTypedText()) {
      // The widget handles its keys; a typed character is previewed first.
      if (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) {
        consumed = PreviewKeyPress(13) == 0;
        if (!consumed && q) consumed = q->Enter();
      } else if (!ctrl && !event.text().isEmpty() && event.text()[0].isPrint()) {
        consumed = PreviewKeyPress(static_cast<std::int32_t>(event.text()[0].unicode())) == 0;
      }
      return;
    }
    // Text controls: what the person types goes through the control.
    auto type = [&](const QString& text) {
      q->ReadSelection();
      for (char32_t c : text.toStdU32String()) TypeCharacter(c);
    };
    switch (event.key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        consumed = true;
        q->ReadSelection();
        TypeCharacter(U'\r');
        return;
      case Qt::Key_Backspace:
        consumed = true;
        q->ReadSelection();
        TypeCharacter(kKeyBack);
        return;
      case Qt::Key_Delete: {
        // Forward delete: the selection, or the character after the caret.
        consumed = true;
        q->ReadSelection();
        if (auto* box = dynamic_cast<TextBoxBase*>(control); box && box->SelLength() == 0) {
          box->LetSelLength(1);
        }
        TypeCharacter(kKeyBack);
        return;
      }
      default:
        break;
    }
    if (event.matches(QKeySequence::Paste)) {
      consumed = true;
      const QString text = QApplication::clipboard()->text();
      if (auto* box = dynamic_cast<TextBoxBase*>(control)) {
        q->ReadSelection();
        box->PasteText(FromQt(text));  // one change, as a text box pastes
      } else {
        QString line = text;
        type(line.remove('\r').remove('\n').remove('\t'));
      }
    } else if (event.matches(QKeySequence::Cut) || event.matches(QKeySequence::Undo) ||
               event.matches(QKeySequence::Redo)) {
      consumed = true;  // edits the control does not make are not made
    } else if (event.matches(QKeySequence::SelectAll) || event.matches(QKeySequence::Copy)) {
      return;  // the widget selects and copies; the control reads the selection when typed into
    } else if (!event.text().isEmpty() && event.text()[0].isPrint()) {
      // A character typed with Ctrl or Alt is a command, never text: the widget must not insert
      // it behind the control's back.
      consumed = true;
      if (!ctrl) type(event.text());
    }
  });
  return consumed;
}

}  // namespace kvthost::qt
