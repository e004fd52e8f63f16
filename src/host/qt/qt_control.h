// The shared controls shown as Qt widgets. Each class is the shared control (state, behaviour,
// member table) plus a widget that follows every change (OnChanged) and hands the person's
// input back to the control: typed characters go through the control, so maximum length, lock
// and key preview hold exactly as on any other window system.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

#include "host/common/standard_controls.h"

class QListWidget;

namespace kvthost::qt {

class QtForm;

/// What the form asks of a control's widget.
class QtControl {
 public:
  virtual ~QtControl() = default;
  /// Creates the widget on the form's client area and shows the control's whole state.
  virtual void AttachTo(QtForm& form) = 0;
  /// The control left its form: the widget goes (later, it may be inside its own event).
  void DetachWidget();
  QWidget* Widget() const { return widget_; }
  /// The widget that takes keys and focus (the editor inside a composite widget).
  virtual QWidget* FocusWidget() const { return widget_; }
  /// The list of values offered under a text box, or null.
  virtual QListWidget* SuggestionList() const { return nullptr; }

 protected:
  QPointer<QWidget> widget_;
};

/// Registers the Qt control classes under their class names.
void RegisterQtControlClasses();

}  // namespace kvthost::qt
