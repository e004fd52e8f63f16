#include "host/qt/qt_form.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QVBoxLayout>

#include "host/qt/qt_control.h"
#include "host/qt/qt_keys.h"
#include "host/qt/qt_text.h"
#include "runtime/error.h"
#include "runtime/platform.h"
#include "runtime/text.h"

namespace kvthost::qt {

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
      case QEvent::ShortcutOverride: {
        // Ctrl+Home and Ctrl+End are the window's (first field, ...): a one-line box loses
        // nothing, its Home and End do the same.
        const auto& key = static_cast<QKeyEvent&>(*event);
        if (key.modifiers() == Qt::ControlModifier &&
            (key.key() == Qt::Key_Home || key.key() == Qt::Key_End) &&
            qobject_cast<QLineEdit*>(watched) && form_.ControlOf(watched)) {
          event->ignore();
          return true;
        }
        return false;
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
  try {
    kvt::CurrentPlatform().MsgBox(FailureText(e), kvt::kMsgBoxOkOnly, "");
  } catch (...) {
    // Nowhere to show it: the event is dropped, the form goes on.
  }
}

bool QtForm::OnClick(Control& control) {
  bool moved = false;
  auto target = std::static_pointer_cast<Control>(control.shared_from_this());
  Guard([&] { moved = Click(target); });
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
  bool consumed = false;
  Guard([&] { RouteKey(KeystrokeOf(event), control, consumed); });
  return consumed;
}

}  // namespace kvthost::qt
