// A host form on Qt Widgets: a top-level window whose client area holds the controls at their
// positions in twips, with the status bar docked at the bottom. The form, not Qt, decides where
// the focus goes: every Tab, Shift+Tab, click and focus change on a control's widget is first
// put to the shared focus chain, which validates the control being left and may refuse.
#pragma once

#include <QPointer>
#include <QWidget>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>

#include "host/common/form.h"

namespace kvthost::qt {

class QtControl;

class QtForm final : public Form {
 public:
  /// A new, hidden form with its window.
  static std::shared_ptr<QtForm> Create(std::string name);
  ~QtForm() override;

  /// The top-level window (null once it was destroyed).
  QWidget* Window() const { return window_; }
  /// The area the controls sit on.
  QWidget* ClientArea() const { return client_; }
  /// Logical dots per inch of the screen the window is on: twips to pixels.
  int Dpi() const;
  /// The control whose widget is `widget` or contains it, or null.
  std::shared_ptr<Control> ControlOf(QObject* widget) const;
  /// Places the status bar and sizes the window for the client area.
  void Relayout();
  /// Takes a control's (new) widget into the form's input routing.
  void AdoptWidget(QtControl& control);
  /// Runs one handler of a Qt event: an error is shown in the platform's message box and never
  /// crosses the event loop; the form stays usable. False when the handler failed.
  template <class F>
  bool Guard(F&& handler) {
    try {
      handler();
      return true;
    } catch (const std::exception& e) {
      ShowError(e);
      return false;
    }
  }

 protected:
  void OnControlAdded(Control& control) override;
  void OnControlRemoved(Control& control) override;
  void OnActiveChanged() override;
  void OnFormChanged(FormAspect aspect) override;
  void OnUnloading() override;

 private:
  class Filter;
  explicit QtForm(std::string name);
  static void ShowError(const std::exception& e);
  bool OnKey(Control* control, class QKeyEvent& event);
  bool OnClick(Control& control);
  void OnFocusIn(Control& control);

  QPointer<QWidget> window_;
  QPointer<QWidget> client_;
  std::unique_ptr<Filter> filter_;
  // Every widget of a control (and the editors inside composite ones) to its control.
  std::unordered_map<const QObject*, std::weak_ptr<Control>> owners_;
  bool moving_focus_ = false;  // the form itself gives a widget the focus
};

}  // namespace kvthost::qt
