// The field viewer on the headless window system: its window, styling, layout, keys.
#include "addons/layout/resizer.h"
#include "e2e/fixture.h"
#include "kvtfields/collection/fields_collection.h"
#include "kvtfields/viewer/field_viewer.h"

namespace kvtfields {
namespace {

using kvt::CStr;
using kvt::Variant;
using kvthost::Control;
using kvthost::Form;
namespace sample = kvtarchive::sample;

struct Rect {
  std::int32_t left, top, right, bottom;
};

Rect RectOf(const std::shared_ptr<Control>& c) {
  return {c->Left(), c->Top(), c->Left() + c->Width(), c->Top() + c->Height()};
}

bool Overlap(const Rect& a, const Rect& b) {
  return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

class ViewerE2E : public testing::EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    kvtaddons::RegisterResizerClass();
    coordinator_->SetDBEngine(engine_);
    coordinator_->SetScriptEngine(scripts_);
    fields_->InitEx(coordinator_);
    coordinator_->SetFieldsCollection(fields_);
    viewer_ = FieldViewer::Create();
    window_ = std::dynamic_pointer_cast<Form>(viewer_->VisualForm());
    person_ = std::make_shared<kvthost::User>(window_);
    kvt::ObjectRef coordinator = coordinator_;
    viewer_->Init(coordinator);
  }
  void Load(const std::string& archive = sample::kArchive) {
    fields_->FillCollection(archive, sample::kEntryForm, window_);
    viewer_->ControlsLoad();
  }
  void Reload() {
    viewer_->ControlsUnload();
    fields_->RemoveAll();
    Load();
  }
  std::shared_ptr<kvthost::Control> On(const std::string& name) {
    return window_->FindControl(name);
  }
  std::string Text(const std::string& name) { return CStr(fields_->Item(Variant(name))->Value()); }

  std::shared_ptr<kvthost::Coordinator> coordinator_ = std::make_shared<kvthost::Coordinator>();
  std::shared_ptr<testing::RecordingScriptEngine> scripts_ =
      std::make_shared<testing::RecordingScriptEngine>();
  std::shared_ptr<FieldsCollection> fields_ = FieldsCollection::Create();
  std::shared_ptr<FieldViewer> viewer_;
  std::shared_ptr<Form> window_;
  std::shared_ptr<kvthost::User> person_;
};

TEST_F(ViewerE2E, TheWindowIsSetUpAsDesigned) {
  EXPECT_EQ(window_->Caption(), "Form1");
  EXPECT_EQ(window_->ScaleWidth(), 4680);
  EXPECT_EQ(window_->ScaleHeight(), 3975);
  EXPECT_TRUE(window_->KeyPreview());
  auto lost = On("txtLostFocus");
  ASSERT_NE(lost, nullptr);
  EXPECT_EQ(lost->Left(), -20000);
  EXPECT_EQ(lost->TabIndex(), 0);
}

TEST_F(ViewerE2E, LoadingStylesShowsAndArrangesTheFields) {
  Load();
  std::vector<Rect> rects;
  std::int32_t previous_top = -1;
  for (std::int32_t i = 1; i <= fields_->Count(); ++i) {
    auto field = fields_->Item(Variant(i));
    auto label = On("Label_" + field->Name());
    auto control = On(field->Name());
    EXPECT_TRUE(kvt::CBool(kvt::GetProperty(label->Font(), "Bold")));
    EXPECT_EQ(label->ForeColor(), 0xFF0000);
    EXPECT_TRUE(label->Visible() && control->Visible());
    rects.push_back(RectOf(label));
    rects.push_back(RectOf(control));
    // A field whose layout breaks the line starts a row at the left margin.
    std::string any_form;
    const bool breaks =
        kvt::CBool(kvt::GetProperty(kvt::CObj(field->VisualProperty(any_form)), "BreakLine"));
    if (breaks) {
      EXPECT_EQ(label->Left(), kvtaddons::kMargin) << field->Name();
      EXPECT_GT(label->Top(), previous_top) << field->Name();
    } else {
      EXPECT_EQ(label->Top(), previous_top) << field->Name();
    }
    previous_top = label->Top();
  }
  for (std::size_t a = 0; a < rects.size(); ++a) {
    for (std::size_t b = a + 1; b < rects.size(); ++b) EXPECT_FALSE(Overlap(rects[a], rects[b]));
    EXPECT_LE(rects[a].right, window_->ScaleWidth());  // the window grew to fit
    EXPECT_LE(rects[a].bottom, window_->ScaleHeight());
  }
}

TEST_F(ViewerE2E, CtrlAltCCopiesAndCtrlAltVPastesAfterARefill) {
  Load();
  fields_->Item(Variant("Cliente"))->LetValue(Variant("ACME"));
  person_->PressKey(67, kvthost::kCtrlMask);                          // Ctrl+C
  person_->PressKey(67, kvthost::kCtrlMask | kvthost::kAltMask | 1);  // Ctrl+Alt+Shift+C
  Reload();
  person_->PressKey(86, kvthost::kCtrlMask | kvthost::kAltMask);
  EXPECT_EQ(Text("Cliente"), "");  // nothing was copied
  fields_->Item(Variant("Cliente"))->LetValue(Variant("ACME"));
  person_->PressKey(67, kvthost::kCtrlMask | kvthost::kAltMask);
  Reload();
  person_->PressKey(86, kvthost::kAltMask);  // Alt+V
  EXPECT_EQ(Text("Cliente"), "");
  person_->PressKey(86, kvthost::kCtrlMask | kvthost::kAltMask);
  EXPECT_EQ(Text("Cliente"), "ACME");
  EXPECT_EQ(person_->Focused(), "CodiceFiscale");
}

TEST_F(ViewerE2E, EnterActsByTheKeyreturnSetting) {
  Load();
  person_->Focus("Note");
  person_->PressKey(kvthost::kKeyReturn, 0);
  person_->PressKey(kvthost::kKeyReturn, kvthost::kCtrlMask);
  person_->PressKey(kvthost::kKeyReturn, kvthost::kShiftMask);
  std::vector<std::string> clicks;
  for (const auto& c : coordinator_->Calls()) {
    if (c.starts_with("MenuClick")) clicks.push_back(c);
  }
  EXPECT_EQ(clicks, (std::vector<std::string>{"MenuClick miSalva 0", "MenuClick miSalva 0",
                                              "MenuClick miNuovo 0", "MenuClick miSalva 0"}));
  EXPECT_EQ(Text("Note"), "");  // the carriage returns never reached the multi-line box

  coordinator_->Settings().SaveSetting("Settings", "keyreturn", 1);
  person_->Focus("Email");
  person_->PressKey(kvthost::kKeyReturn, 0);
  EXPECT_EQ(person_->Focused(), "Quantita");  // as Tab would

  coordinator_->Settings().SaveSetting("Settings", "keyreturn", "2");
  coordinator_->ClearCalls();
  person_->PressKey(kvthost::kKeyReturn, 0);
  EXPECT_EQ(person_->Focused(), "Quantita");
  for (const auto& c : coordinator_->Calls()) EXPECT_FALSE(c.starts_with("MenuClick"));
}

TEST_F(ViewerE2E, UnloadingRemovesExactlyTheCollectionsControls) {
  Load();
  EXPECT_EQ(window_->ControlCount(), 1u + 2u * 12u);
  viewer_->ControlsUnload();
  EXPECT_EQ(window_->ControlCount(), 1u);  // txtLostFocus stays
  EXPECT_EQ(fields_->Count(), 12);         // the fields stay in the collection
}

TEST_F(ViewerE2E, AnEmptyCollectionLoadsAndUnloadsNothing) {
  engine_->PutField({.archive = "Vuoto", .name = "X"});
  engine_->Db().Execute("DELETE FROM field_definitions WHERE archive = 'Vuoto'");
  Load("Vuoto");
  viewer_->ControlsUnload();
  EXPECT_EQ(window_->ControlCount(), 1u);
}

TEST_F(ViewerE2E, WithoutCoordinatorTheViewerSaysSo) {
  auto lonely = FieldViewer::Create();
  EXPECT_THAT(kvt::testing::CaptureError([&] { lonely->ControlsLoad(); }),
              kvt::testing::ErrorIs(91u, "the field viewer has no coordinator"));
}

TEST_F(ViewerE2E, EndingTheViewerUnloadsItsWindow) {
  Load();
  int unloaded = 0;
  auto sub = window_->Unloaded.Subscribe([&] { ++unloaded; });
  viewer_.reset();
  EXPECT_EQ(unloaded, 1);
  EXPECT_EQ(window_->ControlCount(), 0u);
}

}  // namespace
}  // namespace kvtfields
