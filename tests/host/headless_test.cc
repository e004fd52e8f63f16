#include <set>
#include <string>
#include <vector>

#include "host/common/coordinator.h"
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
  // A day's work: the log keeps the latest calls, not all of them.
  for (int i = 0; i < 100000; ++i) kvt::GetProperty(co, "ScriptEngine");
  kvt::CallMethod(co, "MenuClick", "miNuovo", Variant(std::int16_t{0}));
  EXPECT_LE(c->Calls().size(), 8192u);
  EXPECT_GE(c->Calls().size(), 4096u);
  EXPECT_EQ(c->Calls().back(), "MenuClick miNuovo 0");
}

}  // namespace
}  // namespace kvthost
