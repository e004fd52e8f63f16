#include <set>
#include <string>
#include <vector>

#include "host/headless/coordinator.h"
#include "host/headless/desktop.h"
#include "runtime/record_set.h"
#include "test_support.h"

namespace kvthost {
namespace {

using kvt::CStr;
using kvt::ObjectRef;
using kvt::Variant;
using kvt::testing::CaptureError;
namespace id = kvtfields::member_id;

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override { desktop_ = Desktop::Install(); }
  void TearDown() override { desktop_->Uninstall(); }

  template <class T>
  std::shared_ptr<T> Add(const char* cls, const std::string& name) {
    return std::dynamic_pointer_cast<T>(
        kvt::FromVariant<ObjectRef>(kvt::CallMethod(form_->Controls(), "Add", cls, name)));
  }
  // Records the focus events of a control into log_.
  void Watch(const std::shared_ptr<Control>& c, bool cancel_validate = false) {
    auto* ev = c->FocusEvents();
    const std::string n = c->Name();
    subs_.push_back(ev->GotFocus.Subscribe([this, n] { log_.push_back("got " + n); }));
    subs_.push_back(ev->LostFocus.Subscribe([this, n] { log_.push_back("lost " + n); }));
    subs_.push_back(ev->Validate.Subscribe([this, n, cancel_validate](bool& cancel) {
      log_.push_back("validate " + n);
      cancel = cancel_validate;
    }));
  }

  std::shared_ptr<Desktop> desktop_;
  std::shared_ptr<Form> form_ = Form::Create("frmTest");
  User user_{form_};
  std::vector<std::string> log_;
  std::vector<kvt::Subscription> subs_;
};

TEST_F(HeadlessTest, FocusMovesThroughValidateLostAndGot) {
  auto a = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "A");
  auto b = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "B");
  Watch(a);
  Watch(b);
  EXPECT_TRUE(user_.Focus("A"));
  EXPECT_TRUE(user_.Tab());
  EXPECT_EQ(log_, (std::vector<std::string>{"got A", "validate A", "lost A", "got B"}));
  EXPECT_EQ(user_.Focused(), "B");
}

TEST_F(HeadlessTest, ACancelledValidationKeepsTheFocus) {
  auto a = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "A");
  auto b = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "B");
  user_.Focus("A");
  Watch(a, /*cancel_validate=*/true);
  Watch(b);
  EXPECT_FALSE(user_.Tab());
  EXPECT_FALSE(user_.Focus("B"));
  EXPECT_EQ(log_, (std::vector<std::string>{"validate A", "validate A"}));
  EXPECT_EQ(user_.Focused(), "A");
}

TEST_F(HeadlessTest, TabFollowsTheTabOrderAndSkipsWhatCannotTakeFocus) {
  Add<Label>(kvtfields::kLabelClass, "Label_A");
  auto a = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "A");
  auto b = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "B");
  auto c = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "C");
  b->LetVisible(false);
  user_.Tab();
  EXPECT_EQ(user_.Focused(), "A");
  user_.Tab();
  EXPECT_EQ(user_.Focused(), "C");
  user_.Tab();
  EXPECT_EQ(user_.Focused(), "A");  // wraps around
  user_.BackTab();
  EXPECT_EQ(user_.Focused(), "C");
}

TEST_F(HeadlessTest, GivingATabPositionShiftsTheControlsFromThereOnward) {
  auto a = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "A");
  auto b = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "B");
  auto c = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "C");
  kvt::LetProperty(c, "TabIndex", Variant(std::int16_t{0}));
  EXPECT_EQ(c->TabIndex(), 0);
  EXPECT_EQ(a->TabIndex(), 1);
  EXPECT_EQ(b->TabIndex(), 2);
  // Everyone given position 0, last first: the first ends at 0, the second at 1 ...
  for (const auto& ctl : {c, b, a}) ctl->LetTabIndex(0);
  EXPECT_EQ(a->TabIndex(), 0);
  EXPECT_EQ(b->TabIndex(), 1);
  EXPECT_EQ(c->TabIndex(), 2);
  b->LetTabIndex(99);  // beyond the end: last
  EXPECT_EQ(b->TabIndex(), 2);
  // Moving controls between the same neighbours again and again keeps a consistent order.
  for (int i = 0; i < 200; ++i) (i % 2 ? b : c)->LetTabIndex(1);
  std::set<int> positions{a->TabIndex(), b->TabIndex(), c->TabIndex()};
  EXPECT_EQ(positions, (std::set<int>{0, 1, 2}));
  EXPECT_EQ(a->TabIndex(), 0);
  EXPECT_EQ(b->TabIndex(), 1);  // the last one moved (i = 199)
}

TEST_F(HeadlessTest, ChangeEventsFollowProgramWritesOnlyWhenContentChanges) {
  auto t = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "T");
  auto d = Add<DatePicker>(kvtfields::kDatePickerClass, "D");
  auto f = Add<FileLinker>(kvtfields::kFileLinkerClass, "F");
  int changes = 0;
  for (kvtfields::IInputControl* c :
       std::initializer_list<kvtfields::IInputControl*>{t.get(), d.get(), f.get()}) {
    subs_.push_back(c->Events().Change.Subscribe([&] { ++changes; }));
  }
  kvt::LetProperty(t, id::kTextBoxText, "ciao");
  kvt::LetProperty(t, id::kTextBoxText, "ciao");
  kvt::LetProperty(d, id::kDatePickerValue, "05/12/2026");
  kvt::LetProperty(f, id::kFileLinkerText, "/tmp/a.pdf");
  EXPECT_EQ(changes, 3);
}

TEST_F(HeadlessTest, ValueAndLockMembersAnswerToTheirIds) {
  auto t = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "T");
  auto d = Add<DatePicker>(kvtfields::kDatePickerClass, "D");
  auto f = Add<FileLinker>(kvtfields::kFileLinkerClass, "F");
  kvt::LetProperty(t, id::kTextBoxLocked, true);
  EXPECT_TRUE(t->Locked());
  kvt::LetProperty(d, id::kDatePickerEnabled, false);
  EXPECT_FALSE(d->Enabled());
  // The file link's lock flag clears its enabled flag while set, and gives it back.
  kvt::LetProperty(f, id::kFileLinkerLocked, true);
  EXPECT_FALSE(kvt::CBool(kvt::GetProperty(f, id::kFileLinkerEnabled)));
  kvt::LetProperty(f, id::kFileLinkerLocked, false);
  EXPECT_TRUE(kvt::CBool(kvt::GetProperty(f, id::kFileLinkerEnabled)));
  kvt::LetProperty(t, id::kTextBoxText, "x");
  EXPECT_EQ(CStr(kvt::GetDefaultValue(t)), "x");  // the text is also the default member
}

TEST_F(HeadlessTest, TheComboAnswersAfterItsRecordSetWasClosed) {
  auto c = Add<CodeCombo>(kvtfields::kComboClass, "C");
  auto rs = kvt::MemoryRecordSet::Create(
      {"COD", "VALUE"}, {{Variant("FAT"), Variant("Fattura")}, {Variant("NC"), Variant("Nota")}});
  c->LetHaveEmptyElement(true);
  kvt::SetProperty(c, "DataRows", rs);
  kvt::CallMethod(c, "Refill");
  rs->Close();
  EXPECT_EQ(kvt::CInt(kvt::GetProperty(c, id::kComboListCount)), 3);
  kvt::LetProperty(c, id::kComboValue, "NC");
  EXPECT_EQ(c->Description(), "Nota");
  kvt::LetProperty(c, id::kComboListIndex, Variant(std::int16_t{0}));
  EXPECT_EQ(CStr(kvt::GetDefaultValue(c)), "");  // the empty first entry
  EXPECT_EQ(CaptureError([&] { c->LetValue("XX"); }).Number(), kInvalidPropertyValue);
  EXPECT_EQ(c->ListIndex(), 0);
}

TEST_F(HeadlessTest, TypedInputHonoursMaxLengthLockAndCharacters) {
  auto t = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "T");
  t->LetMaxLength(3);
  user_.Focus("T");
  user_.Type("àèìò");
  EXPECT_EQ(t->Text(), "àèì");  // three characters, six bytes
  user_.Type("\b");
  EXPECT_EQ(t->Text(), "àè");
  t->LetLocked(true);
  user_.Type("x");
  EXPECT_EQ(t->Text(), "àè");
  t->LetLocked(false);
  user_.Clear();
  EXPECT_EQ(t->Text(), "");
  user_.PressKey(kKeyReturn, 0);  // a single-line box ignores Enter
  EXPECT_EQ(t->Text(), "");
  t->LetMultiLine(true);
  t->LetMaxLength(0);
  user_.Type("a\nb");
  EXPECT_EQ(t->Text(), "a\r\nb");
}

TEST_F(HeadlessTest, TheDatePickerHoldsNoDateOnlyWithItsCheckBox) {
  auto d = Add<DatePicker>(kvtfields::kDatePickerClass, "D");
  EXPECT_EQ(CaptureError([&] { d->LetValue(Variant::Null()); }).Number(), kInvalidPropertyValue);
  d->LetCheckBox(true);
  d->LetValue(Variant::Null());
  EXPECT_TRUE(kvt::GetProperty(d, id::kDatePickerValue).IsNull());
  int edits = 0;
  subs_.push_back(d->UserEdit().Subscribe([&](const Variant&) { ++edits; }));
  user_.Focus("D");
  user_.PickDate(Variant("31/12/2026"));
  EXPECT_EQ(d->Text(), "31/12/2026");
  EXPECT_EQ(edits, 1);
  EXPECT_EQ(CaptureError([&] { d->LetValue(Variant("domani")); }).Number(), 13u);
}

TEST_F(HeadlessTest, KeyPreviewSeesKeysFirstAndMaySwallowThem) {
  auto t = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "T");
  t->LetMultiLine(true);
  form_->LetKeyPreview(true);
  std::vector<int> keys;
  subs_.push_back(
      form_->KeyDown.Subscribe([&](std::int16_t& k, std::int16_t&) { keys.push_back(k); }));
  subs_.push_back(form_->KeyPress.Subscribe([](std::int32_t& c) {
    if (c == 13) c = 0;
  }));
  user_.Focus("T");
  user_.PressKey(kKeyReturn, kCtrlMask);
  user_.Type("ok");
  EXPECT_EQ(keys, std::vector<int>{kKeyReturn});
  EXPECT_EQ(t->Text(), "ok");
}

TEST_F(HeadlessTest, ControlsAreReachableAsMembersOfTheirForm) {
  auto sb = Add<StatusBar>("MSComctlLib.SBarCtrl.2", "SB");
  kvt::CallMethod(CObj(kvt::GetProperty(sb, "Panels")), "Add", "fieldHelp");
  ObjectRef panel = kvt::CObj(kvt::GetProperty(
      kvt::CObj(kvt::GetProperty(kvt::CObj(kvt::GetProperty(form_, "SB")), "panels")), "Item",
      "fieldHelp"));
  kvt::LetProperty(panel, "Text", "Aiuto");
  EXPECT_EQ(sb->Describe(), "Aiuto");
  EXPECT_EQ(CaptureError([&] { kvt::GetProperty(form_, "Nessuno"); }).Number(), 438u);
}

TEST_F(HeadlessTest, TheControlsCollectionRefusesDuplicatesAndUnknownNames) {
  ObjectRef controls = form_->Controls();
  kvt::CallMethod(controls, "Add", kvtfields::kLabelClass, "L");
  EXPECT_EQ(CaptureError([&] { kvt::CallMethod(controls, "Add", "VB.TextBox", "l"); }).Number(),
            kDuplicateControlName);
  EXPECT_EQ(CaptureError([&] { kvt::CallMethod(controls, "Remove", "X"); }).Number(),
            kControlNotFound);
  EXPECT_EQ(CaptureError([&] { kvt::CallMethod(controls, "Add", "No.Such", "Y"); }).Number(), 429u);
  kvt::CallMethod(controls, "Remove", "L");
  EXPECT_EQ(kvt::CLng(kvt::GetProperty(controls, "Count")), 0);
}

TEST_F(HeadlessTest, UnloadingTakesEveryControlOffTheForm) {
  auto a = Add<MultiLineTextBox>(kvtfields::kTextBoxClass, "A");
  Add<Label>(kvtfields::kLabelClass, "L");
  user_.Focus("A");
  int unloaded = 0;
  subs_.push_back(form_->Unloaded.Subscribe([&] { ++unloaded; }));
  form_->Unload();
  EXPECT_EQ(form_->ControlCount(), 0u);
  EXPECT_EQ(form_->ActiveControl(), nullptr);
  EXPECT_EQ(a->Parent(), nullptr);  // the control outlives its place on the form
  EXPECT_EQ(unloaded, 1);
}

TEST_F(HeadlessTest, TheDesktopSendsTabToTheActiveWindowAndRecordsMessages) {
  auto f = desktop_->NewForm("frmAltro");
  auto ctl = kvt::CObj(kvt::CallMethod(f->Controls(), "Add", "VB.TextBox", "Uno"));
  kvt::CurrentPlatform().SendTab();
  EXPECT_EQ(f->ActiveControl(), ctl);
  kvt::CurrentPlatform().MsgBox("Attenzione", kvt::kMsgBoxOkOnly, "");
  ASSERT_EQ(desktop_->Messages().size(), 1u);
  EXPECT_EQ(desktop_->Messages()[0].prompt, "Attenzione");
}

TEST(CoordinatorTest, RecordsWhatItIsAskedLateBound) {
  auto c = std::make_shared<Coordinator>();
  ObjectRef co = c;
  std::array<Variant, 3> args{Variant("Il campo manca"), Variant(2), Variant("Cliente")};
  kvt::Invoke(kvt::CObj(kvt::GetProperty(co, "Errori")), "AggiungiUnErrore",
              kvt::MemberKind::kMethod, args);
  ASSERT_EQ(c->Errors().Entries().size(), 1u);
  EXPECT_EQ(c->Errors().Entries()[0].kind, 2);
  EXPECT_EQ(c->Errors().Entries()[0].field, "Cliente");
  EXPECT_EQ(kvt::CLng(kvt::CallMethod(kvt::CObj(kvt::GetProperty(co, "RegLink")), "GetSetting",
                                      "Settings", "keyreturn", 0)),
            0);
  c->Settings().SaveSetting("Settings", "keyreturn", 1);
  EXPECT_EQ(kvt::CLng(kvt::CallMethod(kvt::CObj(kvt::GetProperty(co, "RegLink")), "GetSetting",
                                      "Settings", "keyreturn", 0)),
            1);
  std::string clicked;
  c->on_menu_click = [&](const std::string& name) { clicked = name; };
  kvt::CallMethod(co, "MenuClick", "miSalva", Variant(std::int16_t{0}));
  EXPECT_EQ(clicked, "miSalva");
  c->App().Main()->LetWindowState(1);
  EXPECT_EQ(
      kvt::CLng(kvt::GetProperty(
          kvt::CObj(kvt::GetProperty(kvt::CObj(kvt::GetProperty(co, "Application")), "MainForm")),
          "WindowState")),
      1);
  EXPECT_EQ(c->Calls().back(), "MenuClick miSalva 0");
}

}  // namespace
}  // namespace kvthost
