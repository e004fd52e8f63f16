#include "kvtfields/viewer/field_viewer.h"

#include "kvtfields/contracts/host_contract.h"
#include "kvtfields/contracts/window.h"
#include "runtime/class_builder.h"
#include "runtime/class_registry.h"
#include "runtime/error.h"
#include "runtime/platform.h"

namespace kvtfields {
namespace {

constexpr const char* kSource = "kvtFields.FieldViewer";
constexpr std::int32_t kBoldBlue = 0xFF0000;  // blue in 0x00BBGGRR
constexpr std::int16_t kKeyC = key::kC, kKeyV = key::kV, kKeyReturn = key::kReturn;
constexpr std::int16_t kCtrl = key::kCtrlMask, kCtrlAlt = key::kCtrlMask | key::kAltMask;

kvt::ObjectRef FieldAt(const kvt::ObjectRef& fields, std::int32_t i) {
  return kvt::CObj(kvt::GetProperty(fields, "Item", i));
}

kvt::ObjectRef Member(const kvt::ObjectRef& o, const char* name) {
  return kvt::CObj(kvt::GetProperty(o, name));
}

}  // namespace

FrmFieldViewer::FrmFieldViewer() {
  mWindow = kvt::CurrentPlatform().CreateWindow("frmFieldViewer");
  auto* keys = dynamic_cast<IWindowKeys*>(mWindow.get());
  if (!keys) {
    throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch,
                            "the platform's window does not raise key events", kSource);
  }
  kvt::LetProperty(mWindow, member::kCaption, "Form1");
  kvt::LetProperty(mWindow, member::kScaleWidth, 4680);
  kvt::LetProperty(mWindow, member::kScaleHeight, 3975);
  kvt::LetProperty(mWindow, member::kKeyPreview, true);
  // Utilizzato per ottenere il lostfocus dei controlli dinamici: the host moves the focus here,
  // off screen, so that the field control that had it loses it and reports its exit.
  const kvt::ObjectRef lost_focus = kvt::CObj(kvt::CallMethod(
      Member(mWindow, member::kControls), member::kAdd, kPlainTextBoxClass, "txtLostFocus"));
  kvt::LetProperty(lost_focus, member::kLeft, -20000);
  kvt::LetProperty(lost_focus, member::kTop, 2280);
  kvt::LetProperty(lost_focus, member::kWidth, 4455);
  kvt::LetProperty(lost_focus, member::kHeight, 315);
  kvt::LetProperty(lost_focus, member::kTabIndex, std::int16_t{0});
  mResizer = std::dynamic_pointer_cast<ILayoutControl>(kvt::CreateObject(kLayoutControlProgId));
  if (!mResizer) {
    throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch,
                            std::string(kLayoutControlProgId) + " is not a layout control",
                            kSource);
  }
  mKeyDown = keys->KeyDownEvent().Subscribe(
      [this](std::int16_t& key_code, std::int16_t& shift) { OnKeyDown(key_code, shift); });
  mKeyPress = keys->KeyPressEvent().Subscribe([this](std::int32_t& c) { OnKeyPress(c); });
}

FrmFieldViewer::~FrmFieldViewer() {
  mKeyDown.Reset();
  mKeyPress.Reset();
  try {
    kvt::CallMethod(mWindow, member::kUnload);
  } catch (const kvt::Error&) {
    // A window that cannot unload is released all the same.
  }
}

std::shared_ptr<FieldViewer> FrmFieldViewer::ParentViewer() const {
  auto viewer = mParentPtr.Resolve();
  if (!viewer) {
    throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "the window has no viewer", kSource);
  }
  return viewer;
}

void FrmFieldViewer::OnKeyDown(std::int16_t& key_code, std::int16_t& shift) {
  // Holding the viewer keeps this window alive even if a host's menu command releases it.
  const std::shared_ptr<FieldViewer> keep_alive = mParentPtr.Resolve();
  if ((key_code == kKeyC || key_code == kKeyV) && shift == kCtrlAlt) {
    const kvt::ObjectRef fields = Member(ParentViewer()->Coordinator(), member::kFieldsCollection);
    kvt::CallMethod(fields, "CopyPaste", key_code == kKeyV);  // False copies, True pastes
  } else if (key_code == kKeyReturn) {
    const kvt::ObjectRef reg_link = Member(ParentViewer()->Coordinator(), member::kRegLink);
    const kvt::Variant setting =
        kvt::CallMethod(reg_link, member::kGetSetting, "Settings", "keyreturn", 0);
    if (!kvt::IsNumeric(setting)) return;
    const double action = kvt::CDbl(setting);
    if (action == 0) {
      kvt::CallMethod(ParentViewer()->Coordinator(), member::kMenuClick, "miSalva",
                      std::int16_t{0});
      if (shift == kCtrl) {
        kvt::CallMethod(ParentViewer()->Coordinator(), member::kMenuClick, "miNuovo",
                        std::int16_t{0});
      }
    } else if (action == 1) {
      kvt::CurrentPlatform().SendTab();  // Enter moves on, as Tab does
    }
  }
}

void FrmFieldViewer::OnKeyPress(std::int32_t& key_ascii) {
  if (key_ascii == kKeyReturn) key_ascii = 0;  // Enter never reaches the field as a character
}

const kvt::ClassInfo& FieldViewer::StaticClass() {
  using V = FieldViewer;
  static const kvt::ClassInfo info = kvt::ClassBuilder<V>("FieldViewer")
                                         .Get<&V::VisualForm>("VisualForm")
                                         .Method<&V::Init>("Init")
                                         .Params({"oCoordinator"})
                                         .Method<&V::ControlsLoad>("ControlsLoad")
                                         .Method<&V::ControlsUnload>("ControlsUnload")
                                         .Build();
  return info;
}

FieldViewer::FieldViewer(Private) : mForm(std::make_unique<FrmFieldViewer>()) {}

std::shared_ptr<FieldViewer> FieldViewer::Create() {
  auto viewer = std::make_shared<FieldViewer>(Private{});
  viewer->mForm->Init(viewer);
  return viewer;
}

FieldViewer::~FieldViewer() {
  mForm.reset();
}

void FieldViewer::Init(kvt::ObjectRef& o_coordinator) {
  mCoordinatorPtr = o_coordinator;
  mForm->Init(std::static_pointer_cast<FieldViewer>(shared_from_this()));
  const kvt::Variant engine = kvt::GetProperty(o_coordinator, member::kDBEngine);
  const kvt::Variant fields = kvt::GetProperty(o_coordinator, member::kFieldsCollection);
  kvt::ObjectRef window = mForm->Window();
  mForm->resizerFields().AttachFields(engine, window, fields);
}

kvt::ObjectRef FieldViewer::Coordinator() const {
  kvt::ObjectRef c = mCoordinatorPtr.Resolve();
  if (!c) {
    throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet,
                            "the field viewer has no coordinator: call Init first", kSource);
  }
  return c;
}

kvt::ObjectRef FieldViewer::Collection() const {
  return Member(Coordinator(), member::kFieldsCollection);
}

void FieldViewer::ControlsLoad() {
  const kvt::ObjectRef fields = Collection();
  std::int32_t count = kvt::CLng(kvt::GetProperty(fields, "Count"));
  for (std::int32_t i = 1; i <= count; ++i) {
    const kvt::ObjectRef label = Member(FieldAt(fields, i), "LinkedLabel");
    kvt::LetProperty(Member(label, member::kFont), member::kBold, true);
    kvt::LetProperty(label, member::kForeColor, kBoldBlue);
  }
  count = kvt::CLng(kvt::GetProperty(fields, "Count"));
  for (std::int32_t i = 1; i <= count; ++i) {
    const kvt::ObjectRef field = FieldAt(fields, i);
    kvt::LetProperty(Member(field, "LinkedControl"), member::kVisible, true);
    kvt::LetProperty(Member(field, "LinkedLabel"), member::kVisible, true);
  }
  mForm->resizerFields().ArrangeFields();
}

void FieldViewer::ControlsUnload() {
  const kvt::ObjectRef fields = Collection();
  const kvt::ObjectRef controls = Member(mForm->Window(), member::kControls);
  const std::int32_t count = kvt::CLng(kvt::GetProperty(fields, "Count"));
  for (std::int32_t i = 1; i <= count; ++i) {
    const kvt::ObjectRef field = FieldAt(fields, i);
    kvt::CallMethod(controls, member::kRemove,
                    kvt::GetProperty(Member(field, "LinkedLabel"), member::kName));
    kvt::CallMethod(controls, member::kRemove,
                    kvt::GetProperty(Member(field, "LinkedControl"), member::kName));
  }
}

}  // namespace kvtfields
