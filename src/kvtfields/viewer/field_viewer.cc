#include "kvtfields/viewer/field_viewer.h"

#include "kvtfields/contracts/window.h"
#include "runtime/class_builder.h"
#include "runtime/class_registry.h"
#include "runtime/error.h"
#include "runtime/platform.h"

namespace kvtfields {
namespace {

constexpr const char* kSource = "kvtFields.FieldViewer";
constexpr std::int32_t kBoldBlue = 0xFF0000;  // blue in 0x00BBGGRR
constexpr std::int16_t kKeyC = 67, kKeyV = 86, kKeyReturn = 13;
constexpr std::int16_t kCtrl = 2, kCtrlAlt = 6;

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
  kvt::LetProperty(mWindow, "Caption", "Form1");
  kvt::LetProperty(mWindow, "ScaleWidth", 4680);
  kvt::LetProperty(mWindow, "ScaleHeight", 3975);
  kvt::LetProperty(mWindow, "KeyPreview", true);
  // Utilizzato per ottenere il lostfocus dei controlli dinamici: the host moves the focus here,
  // off screen, so that the field control that had it loses it and reports its exit.
  const kvt::ObjectRef lost_focus =
      kvt::CObj(kvt::CallMethod(Member(mWindow, "Controls"), "Add", "VB.TextBox", "txtLostFocus"));
  kvt::LetProperty(lost_focus, "Left", -20000);
  kvt::LetProperty(lost_focus, "Top", 2280);
  kvt::LetProperty(lost_focus, "Width", 4455);
  kvt::LetProperty(lost_focus, "Height", 315);
  kvt::LetProperty(lost_focus, "TabIndex", std::int16_t{0});
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
    kvt::CallMethod(mWindow, "Unload");
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
    const kvt::ObjectRef fields = Member(ParentViewer()->Coordinator(), "FieldsCollection");
    kvt::CallMethod(fields, "CopyPaste", key_code == kKeyV);  // False copies, True pastes
  } else if (key_code == kKeyReturn) {
    const kvt::ObjectRef reg_link = Member(ParentViewer()->Coordinator(), "RegLink");
    const kvt::Variant setting =
        kvt::CallMethod(reg_link, "GetSetting", "Settings", "keyreturn", 0);
    if (!kvt::IsNumeric(setting)) return;
    const double action = kvt::CDbl(setting);
    if (action == 0) {
      kvt::CallMethod(ParentViewer()->Coordinator(), "MenuClick", "miSalva", std::int16_t{0});
      if (shift == kCtrl) {
        kvt::CallMethod(ParentViewer()->Coordinator(), "MenuClick", "miNuovo", std::int16_t{0});
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

FieldViewer::FieldViewer() : mForm(std::make_unique<FrmFieldViewer>()) {}

std::shared_ptr<FieldViewer> FieldViewer::Create() {
  auto viewer = std::make_shared<FieldViewer>();
  viewer->mForm->Init(viewer);
  return viewer;
}

FieldViewer::~FieldViewer() {
  mForm.reset();
}

void FieldViewer::Init(kvt::ObjectRef& o_coordinator) {
  mCoordinatorPtr = o_coordinator;
  mForm->Init(std::static_pointer_cast<FieldViewer>(shared_from_this()));
  const kvt::Variant engine = kvt::GetProperty(o_coordinator, "DBEngine");
  const kvt::Variant fields = kvt::GetProperty(o_coordinator, "FieldsCollection");
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
  return Member(Coordinator(), "FieldsCollection");
}

void FieldViewer::ControlsLoad() {
  const kvt::ObjectRef fields = Collection();
  std::int32_t count = kvt::CLng(kvt::GetProperty(fields, "Count"));
  for (std::int32_t i = 1; i <= count; ++i) {
    const kvt::ObjectRef label = Member(FieldAt(fields, i), "LinkedLabel");
    kvt::LetProperty(Member(label, "Font"), "Bold", true);
    kvt::LetProperty(label, "ForeColor", kBoldBlue);
  }
  count = kvt::CLng(kvt::GetProperty(fields, "Count"));
  for (std::int32_t i = 1; i <= count; ++i) {
    const kvt::ObjectRef field = FieldAt(fields, i);
    kvt::LetProperty(Member(field, "LinkedControl"), "Visible", true);
    kvt::LetProperty(Member(field, "LinkedLabel"), "Visible", true);
  }
  mForm->resizerFields().ArrangeFields();
}

void FieldViewer::ControlsUnload() {
  const kvt::ObjectRef fields = Collection();
  const kvt::ObjectRef controls = Member(mForm->Window(), "Controls");
  const std::int32_t count = kvt::CLng(kvt::GetProperty(fields, "Count"));
  for (std::int32_t i = 1; i <= count; ++i) {
    const kvt::ObjectRef field = FieldAt(fields, i);
    kvt::CallMethod(controls, "Remove", kvt::GetProperty(Member(field, "LinkedLabel"), "Name"));
    kvt::CallMethod(controls, "Remove", kvt::GetProperty(Member(field, "LinkedControl"), "Name"));
  }
}

}  // namespace kvtfields
