// The sample invoice archive on the Qt window system, offscreen, driven only by key and mouse
// events: the data-entry session a person goes through, checked as a person sees it.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <cstdlib>

#include "addons/autocomplete/store_auto_completer.h"
#include "addons/layout/resizer.h"
#include "archives/sample_archive.h"
#include "engine/sqlite/sqlite_engine.h"
#include "host/common/coordinator.h"
#include "host/qt/qt_control.h"
#include "host/qt/qt_desktop.h"
#include "host/qt/qt_person.h"
#include "kvtfields/collection/fields_collection.h"
#include "kvtfields/contracts/host.h"
#include "kvtfields/viewer/field_viewer.h"
#include "runtime/dictionary.h"
#include "scripting/lua/lua_script_engine.h"
#include "temp_dir.h"
#include "test_support.h"

namespace kvtfields {
namespace {

namespace sample = kvtarchive::sample;
using kvthost::qt::QtControl;
using kvthost::qt::QtDesktop;
using kvthost::qt::QtForm;
using kvthost::qt::QtPerson;

class QtE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop_ = QtDesktop::Install(QtDesktop::Messages::kRecord);
    kvtaddons::RegisterAutoCompleterClass();
    kvtaddons::RegisterResizerClass();
    engine_ = kvtsqlite::SqliteEngine::Open(dir_.File("fatture.kvtdb"));
    sample::CreateSampleArchive(*engine_);
    coordinator_->SetDBEngine(engine_);
    auto scripts = std::make_shared<kvtlua::ScriptEngine>();
    scripts->InitEngine(engine_, sample::kArchive);
    coordinator_->SetScriptEngine(scripts);
    fields_->InitEx(coordinator_);
    coordinator_->SetFieldsCollection(fields_);
    viewer_ = FieldViewer::Create();
    kvt::ObjectRef coordinator = coordinator_;
    viewer_->Init(coordinator);
    window_ = std::dynamic_pointer_cast<QtForm>(viewer_->VisualForm());
    window_->LetCaption("Fatture - Inserimento");
    auto bar = kvt::CObj(kvt::CallMethod(window_->Controls(), "Add", kStatusBarClass, "SB"));
    kvt::CallMethod(kvt::CObj(kvt::GetProperty(bar, "Panels")), "Add", "fieldHelp");
    coordinator_->on_menu_click = [this](const std::string& item) { menu_.push_back(item); };
    Build();
    window_->Show();
    window_->Window()->activateWindow();
    Settle();
    fields_->FocusOnFirstControl();
    Settle();
  }
  void TearDown() override {
    person_.reset();
    viewer_.reset();
    window_.reset();
    Settle();
    desktop_->Uninstall();
  }

  void Build() {
    if (fields_->Count() > 0) viewer_->ControlsUnload();
    fields_->RemoveAll();
    fields_->FillCollection(sample::kArchive, sample::kEntryForm, window_);
    viewer_->ControlsLoad();
    fields_->SortTab(1);
    Settle();
  }
  static void Settle() { QApplication::processEvents(); }

  QWidget* WidgetOf(const std::string& name) {
    auto* q = dynamic_cast<QtControl*>(window_->FindControl(name).get());
    return q ? q->Widget() : nullptr;
  }
  // What the person reads in a field's widget.
  QString Shown(const std::string& name) {
    QWidget* w = WidgetOf(name);
    if (auto* line = qobject_cast<QLineEdit*>(w)) return line->text();
    if (auto* plain = qobject_cast<QPlainTextEdit*>(w)) return plain->toPlainText();
    if (auto* box = qobject_cast<QComboBox*>(w)) return box->currentText();
    if (auto* line = w ? w->findChild<QLineEdit*>() : nullptr) return line->text();
    return {};
  }
  std::string Focused() const { return person_->Focused(); }
  QString HelpText() {
    auto* q = dynamic_cast<QtControl*>(window_->FindControl("SB").get());
    return static_cast<QLabel*>(q->Widget())->text();
  }

  kvt::testing::TempDir dir_;
  std::shared_ptr<QtDesktop> desktop_;
  std::shared_ptr<kvtsqlite::SqliteEngine> engine_;
  std::shared_ptr<kvthost::Coordinator> coordinator_ = std::make_shared<kvthost::Coordinator>();
  std::shared_ptr<FieldsCollection> fields_ = FieldsCollection::Create();
  std::shared_ptr<FieldViewer> viewer_;
  std::shared_ptr<QtForm> window_;
  std::unique_ptr<QtPerson> person_ = nullptr;
  std::vector<std::string> menu_;

  QtPerson& P() {
    if (!person_) person_ = std::make_unique<QtPerson>(window_);
    return *person_;
  }
};

TEST_F(QtE2E, APersonEntersTheSampleDocumentWithKeysAndClicksOnly) {
  auto& p = P();
  EXPECT_EQ(Focused(), "NumeroDocumento");
  EXPECT_TRUE(WidgetOf("NumeroDocumento")->hasFocus());
  EXPECT_EQ(HelpText(), "Numero progressivo della fattura (solo cifre, almeno 3)");
  // The focused field is yellow.
  EXPECT_EQ(WidgetOf("NumeroDocumento")->palette().color(QPalette::Base), QColor(Qt::yellow));

  // Too short: the Italian message, and the number keeps the focus.
  p.Type("12");
  EXPECT_FALSE(p.Tab());
  EXPECT_EQ(Focused(), "NumeroDocumento");
  ASSERT_EQ(coordinator_->Errors().Entries().size(), 1u);
  EXPECT_EQ(coordinator_->Errors().Entries()[0].message,
            "Il campo \"Numero documento\" ammette solo dati più lunghi di 3 caratteri");
  coordinator_->Errors().Clear();
  p.Clear();
  p.Type("1026");
  EXPECT_TRUE(p.Tab());
  EXPECT_NE(WidgetOf("NumeroDocumento")->palette().color(QPalette::Base), QColor(Qt::yellow));

  EXPECT_EQ(Focused(), "DataDocumento");
  p.PickDate(kvt::Variant(kvt::MakeDate(2026, 12, 5)));
  EXPECT_EQ(Shown("DataDocumento"), "05/12/2026");
  p.Tab();
  p.Choose("FAT");
  EXPECT_EQ(Shown("TipoDocumento"), "FAT - Fattura");
  p.Tab();

  // A new code typed into the combo goes to the database and is selected.
  p.AddCode("LOG", "Logistica");
  EXPECT_EQ(Shown("Reparto"), "LOG - Logistica");
  p.Tab();
  p.Type("acme s.p.a.");
  p.Tab();
  EXPECT_EQ(Shown("Cliente"), "ACME S.P.A.");  // upper case on leaving
  p.Type("rssmra80a01h501u");
  p.Tab();
  p.Type("Ufficio@Acme.IT");
  p.Tab();
  EXPECT_EQ(Shown("Email"), "ufficio@acme.it");
  EXPECT_EQ(Shown("Quantita"), "1");  // proposed by the script on entry
  p.Clear();
  p.Type("3");
  p.Tab();
  p.Type("12,50");
  p.Tab();
  EXPECT_EQ(Shown("Totale"), "37,50");  // 3 x 12,50, written by the archive's script
  EXPECT_TRUE(desktop_->Recorded().empty());

  if (const char* out = std::getenv("KVT_SHOTS")) {
    window_->Window()->grab().save(QString(out) + "/filled-form.png");
  }
  ASSERT_TRUE(fields_->CheckInsValue());
  engine_->SaveDocument(sample::kArchive, fields_->FieldsValue());
  fields_->AfterSave();
  EXPECT_EQ(engine_->DocumentCount(sample::kArchive), 1);
  auto stored = std::dynamic_pointer_cast<kvt::Dictionary>(engine_->LoadDocument(1));
  EXPECT_EQ(kvt::CStr(stored->Item("Reparto")), "LOG");
  EXPECT_EQ(kvt::CStr(stored->Item("Cliente")), "ACME S.P.A.");

  // The next document: the retained fields come back with Ctrl+Alt+C, then Ctrl+Alt+V.
  p.PressKey('C', kvthost::kCtrlMask | kvthost::kAltMask);
  Build();
  EXPECT_EQ(Shown("Cliente"), "");
  p.PressKey('V', kvthost::kCtrlMask | kvthost::kAltMask);
  EXPECT_EQ(Shown("Cliente"), "ACME S.P.A.");
  EXPECT_EQ(Shown("NumeroDocumento"), "");  // the key was the viewer's, not a typed "v"
  EXPECT_EQ(Shown("TipoDocumento"), "FAT - Fattura");

  // Saving now: the first required field that is empty is reported and takes the focus.
  EXPECT_FALSE(fields_->CheckInsValue());
  ASSERT_FALSE(coordinator_->Errors().Entries().empty());
  EXPECT_EQ(coordinator_->Errors().Entries()[0].kind, host::kErrorRequiredEmpty);
  Settle();
  EXPECT_EQ(Focused(), "NumeroDocumento");
  EXPECT_TRUE(WidgetOf("NumeroDocumento")->hasFocus());

  // The viewer's Enter: save, with Ctrl the next document too.
  p.PressKey(kvthost::kKeyReturn, kvthost::kCtrlMask);
  EXPECT_EQ(menu_, (std::vector<std::string>{"miSalva", "miNuovo"}));
  EXPECT_EQ(Shown("NumeroDocumento"), "");  // Enter never arrives as a character

  // Set to move on, Enter is a Tab the desktop sends to the focused widget.
  coordinator_->Settings().SaveSetting("Settings", "keyreturn", kvt::Variant(1));
  p.Type("1234");
  p.PressKey(kvthost::kKeyReturn, 0);
  Settle();
  EXPECT_EQ(Focused(), "DataDocumento");
  EXPECT_EQ(Shown("NumeroDocumento"), "1234");
}

TEST_F(QtE2E, AClickOnAnotherFieldWhileTheNumberIsRefusedLeavesTheFocusWhereItIs) {
  auto& p = P();
  p.Type("1x");
  EXPECT_FALSE(p.Focus("Cliente"));
  EXPECT_EQ(Focused(), "NumeroDocumento");
  EXPECT_TRUE(WidgetOf("NumeroDocumento")->hasFocus());
  EXPECT_EQ(coordinator_->Errors().Entries().size(), 2u);  // too short, and not a number
}

TEST_F(QtE2E, AScriptErrorInsideAnEventIsShownAndTheFormStaysUsable) {
  auto scripts = std::make_shared<kvtlua::ScriptEngine>();
  scripts->LoadScript("function uscita(nome) error('campo bloccato') end", sample::kArchive);
  coordinator_->SetScriptEngine(scripts);
  auto& p = P();
  p.Type("1026");
  p.Tab();
  ASSERT_EQ(desktop_->Recorded().size(), 1u);
  EXPECT_NE(desktop_->Recorded()[0].prompt.find("campo bloccato"), std::string::npos);
  p.Type("05122026");
  EXPECT_EQ(Focused(), "DataDocumento");
}

// The entry form as the person sees it, as a picture: every field visible, nothing
// overlapping, each caption left of its control or above it.
TEST_F(QtE2E, TheEntryFormIsLaidOutAsItsLayoutSays) {
  const QImage picture = window_->Window()->grab().toImage();
  ASSERT_FALSE(picture.isNull());
  if (const char* out = std::getenv("KVT_SHOTS")) picture.save(QString(out) + "/entry-form.png");
  EXPECT_GT(picture.width(), 200);
  std::vector<std::pair<std::string, QRect>> boxes;
  for (std::int32_t i = 1; i <= fields_->Count(); ++i) {
    auto field = fields_->Item(kvt::Variant(i));
    auto* control = dynamic_cast<QtControl*>(field->LinkedControl().get());
    auto* label = dynamic_cast<QtControl*>(field->LinkedLabel().get());
    ASSERT_TRUE(control && label);
    EXPECT_TRUE(control->Widget()->isVisible()) << field->Name();
    EXPECT_TRUE(label->Widget()->isVisible()) << field->Name();
    const QRect c = control->Widget()->geometry();
    const QRect l = label->Widget()->geometry();
    EXPECT_TRUE(l.right() < c.left() || l.bottom() < c.top()) << field->Name();
    EXPECT_TRUE(window_->ClientArea()->rect().contains(c)) << field->Name();
    boxes.emplace_back(field->Name(), c);
    boxes.emplace_back("Label_" + field->Name(), l);
  }
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    for (std::size_t j = i + 1; j < boxes.size(); ++j) {
      EXPECT_FALSE(boxes[i].second.intersects(boxes[j].second))
          << boxes[i].first << " overlaps " << boxes[j].first;
    }
  }
}

}  // namespace
}  // namespace kvtfields
