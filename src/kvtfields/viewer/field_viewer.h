// FieldViewer: a window of the component that shows the fields of the coordinator's
// FieldsCollection with bold blue captions, arranged by the layout control, with Ctrl+Alt+C /
// Ctrl+Alt+V copy and paste and the Enter key acting by the host's "keyreturn" setting.
#pragma once

#include <cstdint>
#include <memory>

#include "kvtfields/contracts/layout_control.h"
#include "kvtfields/internal/live_object.h"
#include "runtime/event_source.h"
#include "runtime/object.h"
#include "runtime/weak_ref.h"

namespace kvtfields {

class FieldViewer;

/// The viewer's window ("frmFieldViewer"): a window made by the platform, set up as designed,
/// with the layout control and the key handlers. Private to the component.
class FrmFieldViewer final {
 public:
  /// Asks the platform for the window and sets it up: caption "Form1", a client area of
  /// 4680 x 3975 twips, key preview, the off-screen "txtLostFocus" first in the tab order, and
  /// the layout control "resizerFields".
  FrmFieldViewer();
  /// Unloads the window, which takes its controls with it.
  ~FrmFieldViewer();
  FrmFieldViewer(const FrmFieldViewer&) = delete;
  FrmFieldViewer& operator=(const FrmFieldViewer&) = delete;

  /// Remembers the viewer that owns the window (weakly).
  void Init(const std::shared_ptr<FieldViewer>& parent) { mParentPtr = parent; }
  const kvt::ObjectRef& Window() const { return mWindow; }
  ILayoutControl& resizerFields() const { return *mResizer; }

 private:
  std::shared_ptr<FieldViewer> ParentViewer() const;
  void OnKeyDown(std::int16_t& key_code, std::int16_t& shift);
  void OnKeyPress(std::int32_t& key_ascii);

  kvt::ObjectRef mWindow;
  std::shared_ptr<ILayoutControl> mResizer;
  kvt::WeakRef<FieldViewer> mParentPtr;
  kvt::Subscription mKeyDown;
  kvt::Subscription mKeyPress;
};

class FieldViewer final : public kvt::Object {
  KVT_OBJECT()

  // Only Create makes one: the object hands itself out as a counted reference.
  struct Private {
    explicit Private() = default;
  };

 public:
  static std::shared_ptr<FieldViewer> Create();
  explicit FieldViewer(Private);
  /// Unloads and releases the window.
  ~FieldViewer() override;

  // The interface, in slot order.

  /// The viewer's window: the host builds the fields on it.
  kvt::ObjectRef VisualForm() const { return mForm->Window(); }
  /// Binds the coordinator (weakly) and attaches the layout control to its engine, the window
  /// and its FieldsCollection.
  void Init(kvt::ObjectRef& o_coordinator);
  /// Styles and shows the collection's labels and controls, then arranges them.
  void ControlsLoad();
  /// Takes the collection's labels and controls off the window.
  void ControlsUnload();

  // Within the component.

  /// The coordinator given to Init; without one, a clear error 91.
  kvt::ObjectRef Coordinator() const;

 private:
  kvt::ObjectRef Collection() const;
  kvt::WeakRef<kvt::Object> mCoordinatorPtr;
  std::unique_ptr<FrmFieldViewer> mForm;
  internal::LiveObject mLive;  // counts towards "may the library unload"
};

}  // namespace kvtfields
