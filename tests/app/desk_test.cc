// kvtfields-desk driven by key and mouse events only: two documents entered (the second with
// the retained values), a refused save and its fix, the first document found in the list,
// corrected and saved; then the database is checked.
#include <array>
#include <map>

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QToolTip>

#include "archives/sample_archive.h"
#include "common/open_engine.h"
#include "desk_fixture.h"
#include "desk_window.h"
#include "engine/postgresql/pg_database.h"
#include "engine/postgresql/pg_engine.h"
#include "engine/sqlite/sqlite_engine.h"
#include "host/common/coordinator.h"
#include "host/common/standard_controls.h"
#include "host/qt/qt_control.h"
#include "pg_test_server.h"
#include "runtime/dictionary.h"
#include "temp_dir.h"
#include "test_support.h"

namespace kvtdesk {
namespace {

namespace sample = kvtarchive::sample;
using kvthost::qt::QtDesktop;

// The same session on a file and on a shared PostgreSQL database.
class DeskTest : public DeskOnSample {
 protected:
  void SetUp() override {
    OpenDesk(900, 560);
    if (!window_) return;  // skipped: no PostgreSQL server
    window_->show();
    window_->activateWindow();
    QApplication::processEvents();
  }

  kvthost::IPerson& Person() { return window_->Work()->Person(); }
  // What the find dialog says once the pause after typing has passed and it searched.
  std::string FoundAfterPause() {
    const QString before = window_->FoundText();
    (void)QTest::qWaitFor([&] { return window_->FoundText() != before; }, 2000);
    return window_->FoundText().toStdString();
  }
  // A shortcut of the menus, pressed where the person is.
  void Press(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    if (!window_->isActiveWindow()) QApplication::setActiveWindow(window_.get());
    QWidget* target = QApplication::focusWidget();
    QTest::keyClick(target ? target : window_.get(), key, modifiers);
    QApplication::processEvents();
  }
  // Number, date, type and customer typed from the first field, then Ctrl+S.
  void TypeFirstInvoiceAndSave() {
    auto& p = Person();
    p.Type("1026");
    p.Tab();
    p.PickDate(kvt::Variant(kvt::MakeDate(2026, 12, 5)));
    p.Tab();
    p.Choose("FAT");
    p.Tab();
    p.Tab();
    p.Type("acme");
    p.Tab();
    Press(Qt::Key_S, Qt::ControlModifier);
  }
  kvt::Variant Stored(std::int32_t id, const std::string& field) {
    auto engine = kvtapp::OpenEngine(db_, false);
    return std::dynamic_pointer_cast<kvt::Dictionary>(engine->LoadDocument(id))->Item(field);
  }
};

TEST_P(DeskTest, APersonEntersTwoDocumentsThenFindsAndCorrectsTheFirst) {
  // The title names the database as a person knows it, not by its folders or its password.
  const QString title = window_->windowTitle();
  if (GetParam()) {
    EXPECT_TRUE(title.contains(QRegularExpression(" - [^ /]+ su [^ /]+$"))) << title.toStdString();
  } else {
    EXPECT_TRUE(title.endsWith(" - fatture.kvtdb")) << title.toStdString();
  }
  // Every input is named by its caption for a screen reader, described by its description, and
  // is its caption's buddy, whatever its kind.
  for (const char* name :
       {"NumeroDocumento", "DataDocumento", "TipoDocumento", "Cliente", "Note", "Allegato"}) {
    auto field = window_->Work()->Fields().Item(kvt::Variant(name));
    auto* input = dynamic_cast<kvthost::qt::QtControl*>(field->LinkedControl().get());
    ASSERT_TRUE(input && input->FocusWidget()) << name;
    QAccessibleInterface* said = QAccessible::queryAccessibleInterface(input->FocusWidget());
    ASSERT_NE(said, nullptr) << name;
    EXPECT_EQ(said->text(QAccessible::Name).toStdString(), field->Label()) << name;
    EXPECT_EQ(said->text(QAccessible::Description).toStdString(), field->Descr()) << name;
    auto* caption = dynamic_cast<kvthost::qt::QtControl*>(field->LinkedLabel().get());
    ASSERT_TRUE(caption && qobject_cast<QLabel*>(caption->Widget())) << name;
    EXPECT_EQ(qobject_cast<QLabel*>(caption->Widget())->buddy(), input->FocusWidget()) << name;
  }
  // Qt's own buttons speak Italian.
  ASSERT_TRUE(kvtdesk::SpeakItalian());
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Annulla");
  // A combo's open list is as wide as its longest "code - description".
  auto* kind = dynamic_cast<kvthost::qt::QtControl*>(
      window_->Work()->Fields().Item(kvt::Variant("TipoDocumento"))->LinkedControl().get());
  auto* combo = kind ? qobject_cast<QComboBox*>(kind->Widget()) : nullptr;
  ASSERT_NE(combo, nullptr);
  int widest = 0;
  for (int i = 0; i < combo->count(); ++i) {
    widest = std::max(widest, combo->view()->fontMetrics().horizontalAdvance(combo->itemText(i)));
  }
  ASSERT_GT(combo->count(), 0);
  combo->showPopup();  // fitted as it opens, not while the form is built
  EXPECT_GE(combo->view()->minimumWidth(), widest);
  combo->hidePopup();
  Person().Focus("NumeroDocumento");  // the open list took the focus
  EXPECT_EQ(Person().Focused(), "NumeroDocumento");
  TypeFirstInvoiceAndSave();
  EXPECT_TRUE(desktop_->Recorded().empty());

  // The next document keeps the retained fields; without its number the save is refused,
  // the number takes the focus, and nothing typed is lost.
  Press(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
  auto& q = Person();
  EXPECT_EQ(q.Focused(), "NumeroDocumento");  // the first required field still empty
  q.Focus("CodiceFiscale");
  q.Type("rssmra80a01h501u");
  Press(Qt::Key_S, Qt::ControlModifier);
  ASSERT_EQ(desktop_->Recorded().size(), 1u);
  EXPECT_NE(desktop_->Recorded()[0].prompt.find("\"Numero documento\" è obbligatorio"),
            std::string::npos);
  EXPECT_EQ(q.Focused(), "NumeroDocumento");
  EXPECT_EQ(kvt::CStr(window_->Work()->Fields().Item(kvt::Variant("CodiceFiscale"))->Value()),
            "RSSMRA80A01H501U");  // kept, and checked on the way out
  q.Type("1027");
  // Saved from a later field without the date: refused, and the date takes the focus.
  q.Focus("Email");
  Press(Qt::Key_S, Qt::ControlModifier);
  ASSERT_EQ(desktop_->Recorded().size(), 2u);
  EXPECT_NE(desktop_->Recorded()[1].prompt.find("Data documento"), std::string::npos);
  EXPECT_EQ(q.Focused(), "DataDocumento");
  q.PickDate(kvt::Variant(kvt::MakeDate(2026, 12, 6)));
  q.Tab();
  Press(Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(desktop_->Recorded().size(), 2u);

  // The first document, found by its number and opened with Enter.
  Press(Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(window_->FindDialog() && window_->FindDialog()->isVisible());
  EXPECT_EQ(window_->DocumentTable()->model()->rowCount(), 2);
  EXPECT_EQ(window_->FoundText(), "2 documenti");
  EXPECT_EQ(window_->DocumentTable()->model()->headerData(1, Qt::Horizontal).toString(),
            "Numero documento");
  // One field: a date is searched as one, what is none is said; any field: the text anywhere.
  auto* where = window_->DocumentSearchField();
  where->setCurrentIndex(where->findText("Data documento"));
  QTest::keyClicks(window_->DocumentFilter(), "31/02/2026");
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return window_->FoundText() ==
               "Data documento: scrivere una data (gg/mm/aaaa) o un intervallo da..a.";
      },
      3000))
      << "window_->FoundText().contains(\"is not a date\") == true";
  window_->DocumentFilter()->setText("06/12/2026..31/12/2026");
  EXPECT_TRUE(QTest::qWaitFor([&] { return window_->FoundText() == QString("1 documento"); }, 3000))
      << window_->FoundText().toStdString();
  EXPECT_EQ(window_->DocumentTable()->model()->data(window_->DocumentTable()->model()->index(0, 0)),
            2);
  where->setCurrentIndex(0);
  window_->DocumentFilter()->clear();
  QTest::keyClicks(window_->DocumentFilter(), "1026");
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return window_->DocumentTable()->model()->rowCount() == 1; }, 3000))
      << "window_->DocumentTable()->model()->rowCount() == 1";
  QTest::keyClick(window_->DocumentFilter(), Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(window_->Correcting(), 1) << desktop_->Recorded().back().prompt;
  EXPECT_EQ(window_->Work()->FormName(), sample::kReviewForm);
  auto& r = Person();
  r.Focus("Cliente");
  r.Clear();
  r.Type("acme italia");
  r.Tab();
  Press(Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(window_->Correcting(), 1);  // the corrected document stays on the form

  auto engine = kvtapp::OpenEngine(db_, false);
  EXPECT_EQ(engine->DocumentCount(sample::kArchive), 2);
  EXPECT_EQ(kvt::CStr(Stored(1, "Cliente")), "ACME ITALIA");
  EXPECT_EQ(kvt::CStr(Stored(1, "NumeroDocumento")), "1026");
  EXPECT_EQ(kvt::CStr(Stored(2, "NumeroDocumento")), "1027");
  EXPECT_EQ(kvt::CStr(Stored(2, "Cliente")), "ACME");  // retained from the first
  EXPECT_EQ(kvt::CStr(Stored(2, "TipoDocumento")), "FAT");
  EXPECT_EQ(kvt::CStr(Stored(2, "DataDocumento")), "06/12/2026");
}

// What a clerk must be able to trust: what is stored passed every rule, nothing is lost without
// a question, and the keys do what they say.
TEST_P(DeskTest, NothingIsStoredThatTheRulesRefuseAndNothingIsLostWithoutAQuestion) {
  auto& p = Person();
  auto value = [&](const char* field) {
    return kvt::CStr(window_->Work()->Fields().Item(kvt::Variant(field))->Value());
  };
  auto documents = [&] { return kvtapp::OpenEngine(db_, false)->DocumentCount(sample::kArchive); };
  const auto required_marks =
      window_->findChildren<QLabel*>("kvtRequiredMark");  // number, date, type, customer
  EXPECT_EQ(required_marks.size(), 4);

  // Ctrl+S while a bad number is in the box (pasted: typed, the letter is refused at once): its
  // checks refuse, the focus stays.
  p.Paste("9x");
  Press(Qt::Key_S, Qt::ControlModifier);
  ASSERT_EQ(desktop_->Recorded().size(), 1u);
  EXPECT_THAT(desktop_->Recorded()[0].prompt, ::testing::HasSubstr("solo valori numerici"));
  EXPECT_EQ(p.Focused(), "NumeroDocumento");
  EXPECT_EQ(documents(), 0);
  EXPECT_TRUE(window_->windowTitle().startsWith("* "));  // unsaved changes

  // Every missing required field at once, the date too.
  p.Clear();
  p.Type("1026");
  Press(Qt::Key_Return, {});  // Enter moves on like Tab
  EXPECT_EQ(p.Focused(), "DataDocumento");
  Press(Qt::Key_S, Qt::ControlModifier);
  ASSERT_EQ(desktop_->Recorded().size(), 2u);
  EXPECT_THAT(desktop_->Recorded()[1].prompt,
              ::testing::HasSubstr("Campi obbligatori da compilare: Data documento, Tipo "
                                   "documento, Cliente"));
  EXPECT_EQ(documents(), 0);

  p.Focus("DataDocumento");
  p.PickDate(kvt::Variant(kvt::MakeDate(2026, 12, 6)));
  p.Tab();
  p.Choose("FAT");
  p.Focus("Cliente");
  p.Type("bianchi spa");  // the upper-case rule runs when Ctrl+S leaves the field
  p.Focus("Email");
  p.Tab();  // into Quantita: the script proposes 1, selected, so typing replaces it
  p.Type("3");
  EXPECT_EQ(value("Quantita"), "3");
  p.Focus("Note");
  p.Type("prima riga");
  Press(Qt::Key_Return, {});  // in the memo Enter is a new line
  p.Type("seconda");
  EXPECT_EQ(value("Note"), "prima riga\r\nseconda");
  EXPECT_EQ(p.Focused(), "Note");
  Press(Qt::Key_S, Qt::ControlModifier);
  ASSERT_EQ(desktop_->Recorded().size(), 2u) << desktop_->Recorded().back().prompt;
  EXPECT_EQ(documents(), 1);
  EXPECT_EQ(kvt::CStr(Stored(1, "Cliente")), "BIANCHI SPA");
  EXPECT_FALSE(window_->windowTitle().startsWith("* "));

  // Saving again stores nothing; a change corrects the same document.
  Press(Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(documents(), 1);
  EXPECT_THAT(window_->StatusText().toStdString(), ::testing::HasSubstr("già salvato"));
  p.Type(" in fondo");
  Press(Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(documents(), 1);
  EXPECT_EQ(kvt::CStr(Stored(1, "Note")), "prima riga\r\nseconda in fondo");

  // A check of the script without a message still says why the focus stays.
  p.Focus("Quantita");
  p.Clear();
  p.Type("20000");
  EXPECT_FALSE(p.Tab());
  EXPECT_EQ(window_->StatusText(), "Valore non accettato nel campo \"Quantità\"");
  // Esc: the field as it was on entry; Esc again: the document as it was saved.
  Press(Qt::Key_Escape, {});
  EXPECT_EQ(value("Quantita"), "3");
  p.Focus("Cliente");
  p.Clear();
  p.Type("rossi");
  p.Tab();
  Press(Qt::Key_Escape, {});
  Press(Qt::Key_Escape, {});
  EXPECT_EQ(value("Cliente"), "BIANCHI SPA");
  EXPECT_FALSE(window_->Session()->Modified());

  // New with unsaved work asks first: Annulla keeps it, No drops it.
  p.Focus("Cliente");
  p.Clear();
  p.Type("verdi");
  Press(Qt::Key_N, Qt::ControlModifier);
  ASSERT_EQ(desktop_->Recorded().size(), 3u);
  EXPECT_THAT(desktop_->Recorded()[2].prompt, ::testing::StartsWith("Salvare le modifiche?"));
  EXPECT_EQ(value("Cliente"), "verdi");
  desktop_->answers.push_back(kvt::kMsgBoxAnswerNo);
  Press(Qt::Key_N, Qt::ControlModifier);
  EXPECT_EQ(value("Cliente"), "");
  EXPECT_EQ(window_->Correcting(), 0);
  EXPECT_EQ(kvt::CStr(Stored(1, "Cliente")), "BIANCHI SPA");

  // The same number and date again is a probable duplicate: asked, refused unless confirmed.
  p.Focus("NumeroDocumento");
  p.Type("1026");
  p.Focus("DataDocumento");
  p.PickDate(kvt::Variant(kvt::MakeDate(2026, 12, 6)));
  p.Focus("TipoDocumento");
  p.Choose("NC");
  p.Focus("Cliente");
  p.Type("rossi");
  Press(Qt::Key_S, Qt::ControlModifier);
  EXPECT_THAT(desktop_->Recorded().back().prompt, ::testing::HasSubstr("Esiste già un documento"));
  EXPECT_EQ(documents(), 1);

  // Deleting a stored one asks first.
  window_->Session()->Revert();
  desktop_->answers.push_back(kvt::kMsgBoxAnswerOk);
  window_->Correct(1);
  EXPECT_TRUE(window_->DeleteDocument());
  EXPECT_EQ(documents(), 0);
}

// The values offered under a box are a clerk's by keys: Down and Up move through them, Enter or
// Tab takes the one marked, Esc closes them, and what was typed is never lost on the way.
TEST_P(DeskTest, SuggestionsAreTakenByKeysAndWhatWasTypedStays) {
  TypeFirstInvoiceAndSave();
  auto box = [&] {
    return std::dynamic_pointer_cast<kvthost::TextBoxBase>(
        window_->Work()->WindowRef()->FindControl("Cliente"));
  };
  auto offered = [&] {
    (void)QTest::qWaitFor([&] { return !box()->Suggestions().empty(); }, 2000);
    return box()->Suggestions();
  };
  window_->NewDocument();
  auto& p = Person();
  auto type_ac = [&] {
    p.Focus("Cliente");
    p.Clear();
    p.Type("ac");
    return offered() == std::vector<std::string>{"ACME"};
  };
  // Esc closes the list and leaves what was typed; a second Esc would take the field back.
  ASSERT_TRUE(type_ac());
  Press(Qt::Key_Escape, Qt::NoModifier);
  EXPECT_TRUE(box()->Suggestions().empty());
  EXPECT_EQ(box()->Text(), "ac");
  // Marked and unmarked again: Tab goes on with what was typed.
  ASSERT_TRUE(type_ac());
  Press(Qt::Key_Down, Qt::NoModifier);
  Press(Qt::Key_Up, Qt::NoModifier);
  Press(Qt::Key_Tab, Qt::NoModifier);
  EXPECT_NE(p.Focused(), "Cliente");
  EXPECT_EQ(box()->Text(), "AC");
  // Down marks the first (the list shows it, the box keeps the focus); Enter takes it.
  ASSERT_TRUE(type_ac());
  Press(Qt::Key_Down, Qt::NoModifier);
  EXPECT_EQ(p.Focused(), "Cliente");
  auto* view = dynamic_cast<kvthost::qt::QtControl*>(box().get())->SuggestionList();
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->currentRow(), 0);
  Press(Qt::Key_Down, Qt::NoModifier);  // there is no second: the mark stays
  Press(Qt::Key_Return, Qt::NoModifier);
  EXPECT_EQ(box()->Text(), "ACME");
  EXPECT_FALSE(view->isVisible());  // taken: the list goes
  // Tab takes the marked one and goes on.
  ASSERT_TRUE(type_ac());
  Press(Qt::Key_Down, Qt::NoModifier);
  Press(Qt::Key_Tab, Qt::NoModifier);
  EXPECT_EQ(box()->Text(), "ACME");
  EXPECT_NE(p.Focused(), "Cliente");
}

// Where a clerk starts, by keys: Ctrl+Home the first field, F8 the next required one still
// empty (round to the first), and the status line says when none is left.
TEST_P(DeskTest, TheFirstFieldAndTheMissingOnesAreAKeyAway) {
  auto& p = Person();
  ASSERT_TRUE(p.Focus("Note"));
  Press(Qt::Key_F8, Qt::NoModifier);
  EXPECT_EQ(p.Focused(), "NumeroDocumento");
  p.Type("1026");
  Press(Qt::Key_F8, Qt::NoModifier);
  EXPECT_EQ(p.Focused(), "DataDocumento");
  p.PickDate(kvt::Variant(kvt::MakeDate(2026, 12, 5)));
  Press(Qt::Key_F8, Qt::NoModifier);
  EXPECT_EQ(p.Focused(), "TipoDocumento");
  p.Choose("FAT");
  Press(Qt::Key_F8, Qt::NoModifier);
  EXPECT_EQ(p.Focused(), "Cliente");
  p.Type("acme");
  Press(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(p.Focused(), "NumeroDocumento");
  Press(Qt::Key_F8, Qt::NoModifier);
  EXPECT_EQ(p.Focused(), "NumeroDocumento");  // none is left: the focus stays
  EXPECT_EQ(window_->StatusText().toStdString(), "Nessun campo obbligatorio è vuoto");
}

// Ctrl+' takes the focused field's value in the document before, through the field's own
// rules: from a new one the last stored, while correcting the one before on the navigator.
TEST_P(DeskTest, AFieldTakesItsValueInTheDocumentBeforeByAKey) {
  TypeFirstInvoiceAndSave();
  window_->NewDocument();
  auto& p = Person();
  auto copy_into = [&](const std::string& field) {
    EXPECT_TRUE(p.Focus(field));
    Press(Qt::Key_Apostrophe, Qt::ControlModifier);
    p.Tab();
  };
  copy_into("DataDocumento");
  copy_into("TipoDocumento");
  copy_into("Cliente");
  p.Focus("NumeroDocumento");
  p.Type("1027");
  ASSERT_TRUE(window_->Save());
  EXPECT_EQ(kvt::CStr(Stored(2, "Cliente")), "ACME");
  EXPECT_EQ(kvt::CStr(Stored(2, "TipoDocumento")), "FAT");
  EXPECT_EQ(kvt::CStr(Stored(2, "DataDocumento")), "05/12/2026");
  // The first document has none before it: nothing changes, and the status line says so.
  window_->Move(DeskWindow::Step::kFirst);
  p.Focus("Cliente");
  Press(Qt::Key_Apostrophe, Qt::ControlModifier);
  EXPECT_EQ(window_->StatusText().toStdString(), "Non c'è un documento precedente da cui copiare");
  EXPECT_FALSE(window_->windowTitle().startsWith("* "));
}

// F7 pins the focused field: marked before its caption, carried into each next document (the
// form built again keeps the mark), let go by F7 again.
TEST_P(DeskTest, APinnedFieldIsMarkedAndCarriedIntoTheNextDocument) {
  auto& p = Person();
  auto marks = [&] { return window_->findChildren<QLabel*>("kvtPinnedMark").size(); };
  ASSERT_TRUE(p.Focus("Email"));
  p.Type("ufficio@acme.it");
  Press(Qt::Key_F7, Qt::NoModifier);
  EXPECT_EQ(marks(), 1);
  ASSERT_TRUE(p.Focus("NumeroDocumento"));
  TypeFirstInvoiceAndSave();
  Press(Qt::Key_N, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(kvt::JoinText(window_->Work()->Fields().Item(kvt::Variant("Email"))->Value()),
            "ufficio@acme.it");
  EXPECT_EQ(marks(), 1);
  EXPECT_EQ(p.Focused(), "NumeroDocumento");
  ASSERT_TRUE(p.Focus("Email"));
  Press(Qt::Key_F7, Qt::NoModifier);
  EXPECT_EQ(marks(), 0);
  EXPECT_EQ(window_->StatusText().toStdString(), "\"E-mail\" non più mantenuto");
}

// The file pane's Apri has a key too (the pane takes no focus); without a file it says so.
TEST_P(DeskTest, TheFileIsOpenedOutsideByAKey) {
  Press(Qt::Key_O, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(window_->StatusText().toStdString(), "Nessun file da aprire: il documento non ne ha");
}

// A letter typed into a numbers-only field is refused as it is typed, said beside the field and
// in the status line; the digits typed around it stay.
TEST_P(DeskTest, ALetterInANumberIsRefusedAsItIsTyped) {
  auto& p = Person();
  ASSERT_TRUE(p.Focus("NumeroDocumento"));
  p.Type("10x26");
  auto box = std::dynamic_pointer_cast<kvthost::TextBoxBase>(
      window_->Work()->WindowRef()->FindControl("NumeroDocumento"));
  EXPECT_EQ(box->Text(), "1026");
  const std::string why = "Il campo \"Numero documento\" ammette solo valori numerici";
  EXPECT_EQ(window_->StatusText().toStdString(), why);
  EXPECT_EQ(QToolTip::text().toStdString(), why);
  EXPECT_EQ(p.Focused(), "NumeroDocumento");
}

// The window takes most of the screen it is on the first time, and comes back as it was left.
TEST_P(DeskTest, TheWindowTakesMostOfItsScreenAndComesBackAsItWasLeft) {
  {
    DeskWindow first(db_, sample::kArchive, sample::kEntryForm);
    first.PlaceOnScreen();
    const QRect screen = first.screen()->availableGeometry();
    EXPECT_GE(first.width(), screen.width() * 8 / 10);
    EXPECT_GE(first.height(), screen.height() * 8 / 10);
    first.show();
    first.resize(640, 480);
    QApplication::processEvents();
    EXPECT_TRUE(first.close());
  }
  DeskWindow again(db_, sample::kArchive, sample::kEntryForm);
  again.PlaceOnScreen();
  EXPECT_EQ(again.size(), QSize(640, 480));
}

// A date by keys: Ctrl+; today, + and - a day later and earlier (from today when empty).
TEST_P(DeskTest, ADateIsTodayAndMovesADayByKeys) {
  auto picker = std::dynamic_pointer_cast<kvthost::DatePicker>(
      window_->Work()->WindowRef()->FindControl("DataDocumento"));
  ASSERT_NE(picker, nullptr);
  auto& p = Person();
  ASSERT_TRUE(p.Focus("DataDocumento"));
  p.Clear();
  const double today = kvt::Today().serial;
  auto shown = [&] { return picker->Value().IsNull() ? 0.0 : picker->Value().AsDate().serial; };
  Press(Qt::Key_Plus, Qt::NoModifier);
  EXPECT_EQ(shown(), today + 1);
  Press(Qt::Key_Semicolon, Qt::ControlModifier);
  EXPECT_EQ(shown(), today);
  Press(Qt::Key_Minus, Qt::NoModifier);
  Press(Qt::Key_Minus, Qt::NoModifier);
  EXPECT_EQ(shown(), today - 2);
  EXPECT_TRUE(window_->windowTitle().startsWith("* ")) << "a date by keys is the person's change";
  // The calendar by keys: F4 opens it on the date shown, Right a day later, Enter picks it and
  // the editor has the focus again; Esc closes it and changes nothing.
  Press(Qt::Key_F4, Qt::NoModifier);
  QCalendarWidget* calendar = nullptr;
  for (auto* c : window_->findChildren<QCalendarWidget*>()) {
    if (c->isVisible()) calendar = c;
  }
  ASSERT_NE(calendar, nullptr);
  EXPECT_TRUE(calendar->isAncestorOf(QApplication::focusWidget()));
  Press(Qt::Key_Right, Qt::NoModifier);
  Press(Qt::Key_Return, Qt::NoModifier);
  EXPECT_EQ(shown(), today - 1);
  EXPECT_FALSE(calendar->isVisible());
  EXPECT_EQ(p.Focused(), "DataDocumento");
  Press(Qt::Key_Down, Qt::AltModifier);
  ASSERT_TRUE(calendar->isVisible() && calendar->isAncestorOf(QApplication::focusWidget()));
  Press(Qt::Key_Right, Qt::NoModifier);
  Press(Qt::Key_Escape, Qt::NoModifier);
  EXPECT_EQ(shown(), today - 1);
  EXPECT_FALSE(calendar->isVisible());
  // Elsewhere Ctrl+; changes nothing and says where it goes.
  ASSERT_TRUE(p.Focus("Cliente"));
  Press(Qt::Key_Semicolon, Qt::ControlModifier);
  EXPECT_EQ(window_->StatusText().toStdString(),
            "La data di oggi va in un campo data: entrare prima nella data");
  EXPECT_EQ(shown(), today - 1);
}

// Every item of a menu is reached by its own letter (no two items of one menu share one), and
// every answer of a question by its initial.
TEST_P(DeskTest, MenuItemsAndAnswersAreReachedByTheirLetters) {
  for (const auto& [key, answer] :
       {std::pair{Qt::Key_S, kvt::kMsgBoxAnswerYes}, std::pair{Qt::Key_N, kvt::kMsgBoxAnswerNo},
        std::pair{Qt::Key_A, kvt::kMsgBoxAnswerCancel}}) {
    auto shown = QtDesktop::MakeBox("Salvare le modifiche?", kvt::kMsgBoxYesNoCancel, "kvtfields",
                                    window_.get());
    shown.box->show();
    QTest::keyClick(shown.box.get(), key);
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.box->clickedButton() != nullptr; }, 2000));
    for (const auto& [button, given] : shown.answers) {
      if (button == shown.box->clickedButton()) {
        EXPECT_EQ(given, answer) << key;
      }
    }
  }
  std::vector<QMenu*> menus;
  for (QAction* top : window_->menuBar()->actions()) {
    if (top->menu()) menus.push_back(top->menu());
  }
  ASSERT_FALSE(menus.empty());
  for (std::size_t i = 0; i < menus.size(); ++i) {
    std::map<QChar, QString> seen;
    for (QAction* a : menus[i]->actions()) {
      if (a->isSeparator()) continue;
      if (a->menu()) menus.push_back(a->menu());
      const QString text = a->text();
      const qsizetype at = text.indexOf('&');
      EXPECT_TRUE(at >= 0 && at + 1 < text.size())
          << menus[i]->title().toStdString() << ": \"" << text.toStdString() << "\" has no letter";
      if (at < 0 || at + 1 >= text.size()) continue;
      const QChar letter = text[at + 1].toLower();
      EXPECT_FALSE(seen.count(letter))
          << menus[i]->title().toStdString() << ": \"" << text.toStdString() << "\" and \""
          << seen[letter].toStdString() << "\"";
      seen[letter] = text;
    }
  }
  // So is every button of the desk's own dialogs (Trova, the history).
  TypeFirstInvoiceAndSave();
  Press(Qt::Key_H, Qt::ControlModifier);
  Press(Qt::Key_F, Qt::ControlModifier);
  int dialogs = 0;
  for (QWidget* top : QApplication::topLevelWidgets()) {
    auto* dialog = qobject_cast<QDialog*>(top);
    if (!dialog || !dialog->isVisible()) continue;
    ++dialogs;
    std::map<QChar, QString> seen;
    for (auto* button : dialog->findChildren<QPushButton*>()) {
      if (!button->isVisible()) continue;
      const QString text = button->text();
      const qsizetype at = text.indexOf('&');
      ASSERT_TRUE(at >= 0 && at + 1 < text.size())
          << dialog->windowTitle().toStdString() << ": \"" << text.toStdString() << "\"";
      const QChar letter = text[at + 1].toLower();
      EXPECT_FALSE(seen.count(letter))
          << dialog->windowTitle().toStdString() << ": \"" << text.toStdString() << "\" and \""
          << seen[letter].toStdString() << "\"";
      seen[letter] = text;
    }
  }
  EXPECT_EQ(dialogs, 2);
}

INSTANTIATE_TEST_SUITE_P(Databases, DeskTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "PostgreSql" : "File"; });

TEST_P(DeskTest, TwoClerksCorrectingOneDocumentLoseNothingAndTheHistoryBringsItBack) {
  TypeFirstInvoiceAndSave();
  ASSERT_EQ(window_->Correcting(), 1);
  const std::string first_quantity = kvt::CStr(Stored(1, "Quantita"));
  auto value = [&](const char* field) {
    return kvt::CStr(window_->Work()->Fields().Item(kvt::Variant(field))->Value());
  };
  // Another clerk, on another connection, corrects the customer of the stored document.
  auto other = kvtapp::OpenEngine(db_, false);
  auto correct_elsewhere = [&](const char* customer) {
    kvtengine::VersionInfo read;
    auto values = std::dynamic_pointer_cast<kvt::Dictionary>(other->LoadDocumentAt(1, read));
    values->LetItem("Cliente", kvt::Variant(customer));
    other->CorrectDocument(1, values, read.version);
  };
  correct_elsewhere("BETA SRL");

  // This clerk's correction meets theirs on other fields: both kept, nobody asked.
  auto& q = Person();
  q.Focus("Quantita");
  q.Clear();
  q.Type("2");
  q.Tab();
  desktop_->ClearRecorded();
  Press(Qt::Key_S, Qt::ControlModifier);
  EXPECT_TRUE(desktop_->Recorded().empty());
  EXPECT_EQ(kvt::CStr(Stored(1, "Cliente")), "BETA SRL");  // theirs
  EXPECT_EQ(kvt::CStr(Stored(1, "Quantita")), "2");        // mine
  EXPECT_EQ(value("Cliente"), "BETA SRL");
  EXPECT_EQ(other->History(1).back().change, kvtengine::Change::kCorrect);
  EXPECT_THAT(window_->StatusText().toStdString(),
              ::testing::HasSubstr("corretto insieme alle modifiche di"));
  EXPECT_FALSE(window_->Session()->Modified());
  EXPECT_EQ(window_->Session()->Version(), 3);

  // Both change the customer: only that is asked, Enter (the default) stores nothing and the
  // clerk goes on in the field they were in; then "No" takes theirs there and keeps the note.
  correct_elsewhere("GAMMA SPA");
  q.Focus("Cliente");
  q.Clear();
  q.Type("delta");
  q.Focus("Note");
  q.Type("urgente");
  desktop_->ClearRecorded();
  Press(Qt::Key_S, Qt::ControlModifier);  // answered by the default: Annulla
  ASSERT_EQ(desktop_->Recorded().size(), 1u);
  const auto& asked = desktop_->Recorded()[0];
  EXPECT_EQ(asked.buttons, kvt::kMsgBoxYesNoCancel | kvt::kMsgBoxDefaultButton3);
  EXPECT_THAT(asked.prompt, ::testing::HasSubstr("è stato modificato da"));
  EXPECT_THAT(asked.prompt, ::testing::HasSubstr("Cliente: tuo \"DELTA\", suo \"GAMMA SPA\""));
  EXPECT_THAT(asked.prompt, ::testing::Not(::testing::HasSubstr("Note")));
  EXPECT_EQ(q.Focused(), "Note");
  EXPECT_EQ(kvt::CStr(Stored(1, "Cliente")), "GAMMA SPA");
  EXPECT_EQ(window_->Session()->Version(), 3);
  desktop_->answers.push_back(kvt::kMsgBoxAnswerNo);
  Press(Qt::Key_S, Qt::ControlModifier);
  EXPECT_EQ(value("Cliente"), "GAMMA SPA");
  EXPECT_EQ(kvt::CStr(Stored(1, "Cliente")), "GAMMA SPA");
  EXPECT_EQ(kvt::CStr(Stored(1, "Note")), "urgente");
  EXPECT_EQ(window_->Session()->Version(), 5);
  EXPECT_FALSE(window_->Session()->Modified());

  // The history shows every version, the changed fields marked with what they held.
  Press(Qt::Key_H, Qt::ControlModifier);
  HistoryDialog* history = window_->History();
  ASSERT_NE(history, nullptr);
  ASSERT_EQ(history->Versions()->count(), 5);
  EXPECT_THAT(history->Versions()->item(0)->text().toStdString(),
              ::testing::StartsWith("5 · corretto da "));
  EXPECT_FALSE(history->RestoreButton()->isEnabled());  // the newest is what is stored
  history->SelectVersion(3);
  QTableWidget* rows = history->Values();
  int marked = 0;
  for (int r = 0; r < rows->rowCount(); ++r) {
    if (!rows->item(r, 0)->font().bold()) continue;
    ++marked;
    if (rows->item(r, 0)->text() == "Quantità") {
      EXPECT_EQ(rows->item(r, 1)->text(), "2");
      EXPECT_EQ(rows->item(r, 2)->text().toStdString(),
                first_quantity.empty() ? "(vuoto)" : first_quantity);
    }
  }
  EXPECT_EQ(marked, 2);  // the quantity and the total it made
  history->SelectVersion(1);
  ASSERT_TRUE(history->RestoreButton()->isEnabled());
  QTest::mouseClick(history->RestoreButton(), Qt::LeftButton);
  EXPECT_EQ(kvt::CStr(Stored(1, "Cliente")), "ACME");
  EXPECT_EQ(kvt::CStr(Stored(1, "Quantita")), first_quantity);
  EXPECT_EQ(window_->Session()->Version(), 6);
  EXPECT_EQ(history->Versions()->count(), 6);
  EXPECT_THAT(window_->StatusText().toStdString(),
              ::testing::HasSubstr("ripristinata la versione 1"));

  // Deleted, then brought back from Documenti eliminati; the open history follows.
  desktop_->answers.push_back(kvt::kMsgBoxAnswerOk);
  ASSERT_TRUE(window_->DeleteDocument());
  EXPECT_EQ(window_->Correcting(), 0);
  ASSERT_EQ(history->Versions()->count(), 7);
  EXPECT_THAT(history->Versions()->item(0)->text().toStdString(),
              ::testing::StartsWith("7 · eliminato da "));
  history->close();
  window_->ShowDeleted();
  ASSERT_NE(window_->Deleted(), nullptr);
  ASSERT_EQ(window_->Deleted()->Table()->rowCount(), 1);
  EXPECT_EQ(window_->Deleted()->Selected(), 1);
  QPushButton* bring_back = nullptr;
  for (auto* b : window_->Deleted()->findChildren<QPushButton*>()) {
    if (b->text() == "&Ripristina") bring_back = b;
  }
  ASSERT_NE(bring_back, nullptr);
  QTest::mouseClick(bring_back, Qt::LeftButton);
  EXPECT_EQ(window_->Correcting(), 1);
  EXPECT_EQ(value("Cliente"), "ACME");
  EXPECT_EQ(other->CurrentVersion(1).version, 8);
  EXPECT_TRUE(other->DeletedDocuments(sample::kArchive).empty());
}

TEST_P(DeskTest, AReaderConsultsDocumentsAndIsNotOfferedChangingThem) {
  if (!GetParam()) GTEST_SKIP() << "accounts and roles are the server's";
  {
    auto owner = kvtapp::OpenEngine(db_, false);
    auto values = kvt::Dictionary::Create();
    values->Add("NumeroDocumento", "1026");
    values->Add("Cliente", "ACME");
    owner->SaveDocument(sample::kArchive, values);
    kvtpg::PgDatabase::Open(db_, false)->Execute("CREATE ROLE lettore_desk LOGIN");
    auto* pg = dynamic_cast<kvtpg::PgEngine*>(owner.get());
    ASSERT_NE(pg, nullptr);
    pg->SetUpRoles();
    pg->GrantRole("lettore_desk", "kvt_reader");
  }
  window_ = std::make_unique<DeskWindow>(db_ + " user=lettore_desk", sample::kArchive,
                                         sample::kEntryForm);
  window_->show();
  QApplication::processEvents();
  EXPECT_THAT(window_->StatusText().toStdString(), ::testing::HasSubstr("può solo consultare"));
  for (auto* action : window_->findChildren<QAction*>()) {
    if (action->text() == "&Salva" || action->text() == "&Elimina documento...") {
      EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
    }
  }
  window_->Correct(1);
  EXPECT_EQ(window_->Correcting(), 1);
  Person().Focus("Cliente");
  Person().Type("X");
  EXPECT_FALSE(window_->Save());
  desktop_->ClearRecorded();
  Press(Qt::Key_N, Qt::ControlModifier);  // nothing it could store: no question
  EXPECT_TRUE(desktop_->Recorded().empty());
  window_->ShowHistory(1);
  ASSERT_NE(window_->History(), nullptr);
  EXPECT_FALSE(window_->History()->RestoreButton()->isVisible());
  EXPECT_EQ(kvt::CStr(Stored(1, "Cliente")), "ACME");
}

TEST_P(DeskTest, TheFoundListIsReadAPageAtATimeAsItScrolls) {
  {
    auto engine = kvtapp::OpenEngine(db_, false);
    engine->Transaction([&] {
      for (int i = 0; i < 250; ++i) {
        auto values = kvt::Dictionary::Create();
        values->Add("NumeroDocumento", kvt::Variant(std::to_string(5000 + i)));
        values->Add("Cliente", kvt::Variant(i % 2 ? "ROSSI" : "BIANCHI"));
        engine->SaveDocument(sample::kArchive, values);
      }
    });
  }
  Press(Qt::Key_F, Qt::ControlModifier);
  ASSERT_TRUE(window_->FindDialog() && window_->FindDialog()->isVisible());
  QAbstractItemModel* found = window_->DocumentTable()->model();
  EXPECT_EQ(window_->FoundText(), "250 documenti");
  EXPECT_EQ(found->rowCount(), 100);  // the first page only
  window_->DocumentTable()->scrollToBottom();
  EXPECT_TRUE(QTest::qWaitFor([&] { return found->rowCount() == 200; }, 3000))
      << "found->rowCount() == 200";
  auto* where = window_->DocumentSearchField();
  where->setCurrentIndex(where->findText("Cliente"));
  QTest::keyClicks(window_->DocumentFilter(), "ros");
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return window_->FoundText() == QString("125 documenti"); }, 3000))
      << "window_->FoundText() == QString(\"125 documenti\")";
  EXPECT_EQ(found->data(found->index(0, 0)).toInt(), 2);
  while (found->canFetchMore({})) found->fetchMore({});
  EXPECT_EQ(found->rowCount(), 125);
  EXPECT_EQ(found->data(found->index(124, 0)).toInt(), 250);

  // What was found, in a PDF: every document, pages numbered; then the unsaved one on the form.
  auto text_of = [](const std::string& pdf) {
    std::string out;
    if (FILE* pipe = popen(("pdftotext -layout '" + pdf + "' - 2>&1").c_str(), "r")) {
      std::array<char, 4096> buf{};
      while (std::fgets(buf.data(), buf.size(), pipe)) out += buf.data();
      pclose(pipe);
    }
    return out;
  };
  const std::string pdf = dir_.File("trovati.pdf");
  ASSERT_TRUE(window_->ExportPdf(pdf, true));
  const std::string text = text_of(pdf);
  const QString all = QString::fromStdString(text);
  EXPECT_EQ(all.count(QRegularExpression("\\nDocumento [0-9]+\\n")), 125) << text.substr(0, 400);
  EXPECT_THAT(text, ::testing::HasSubstr("Documento 250"));
  EXPECT_THAT(text, ::testing::HasSubstr("Fatture - Documenti 2, 4, 6, 8"));  // page 1's
  EXPECT_THAT(text, ::testing::Not(::testing::HasSubstr("BIANCHI")));
  EXPECT_THAT(text, ::testing::ContainsRegex("Pagina 1 di [1-9][0-9]"));
  Person().Type("7777");
  ASSERT_TRUE(window_->ExportPdf(pdf, false));
  const std::string unsaved = text_of(pdf);
  EXPECT_THAT(unsaved, ::testing::HasSubstr("Fatture - Documento non salvato"));
  EXPECT_THAT(unsaved, ::testing::ContainsRegex("Numero documento +7777"));
  if (!GetParam()) {
    EXPECT_FALSE(window_->ExportPdf(db_, false)) << "never over the database";
  }
}

// The navigator walks what was found, from the document opened; moving asks about unsaved
// changes like every other move; a new document stored joins the walk of the whole archive.
TEST_P(DeskTest, TheNavigatorWalksWhatWasFoundOrTheWholeArchive) {
  {
    auto engine = kvtapp::OpenEngine(db_, false);
    engine->Transaction([&] {
      for (int i = 0; i < 1500; ++i) {
        auto values = kvt::Dictionary::Create();
        values->Add("NumeroDocumento", kvt::Variant(std::to_string(5000 + i)));
        values->Add("Cliente", kvt::Variant(i % 3 ? "ROSSI" : "BIANCHI"));
        engine->SaveDocument(sample::kArchive, values);
      }
    });
  }
  using Step = DeskWindow::Step;
  window_->NewDocument();
  EXPECT_EQ(window_->PositionText().toStdString(), "Nuovo, 1.500 documenti");
  EXPECT_FALSE(window_->StepAction(Step::kNext)->isEnabled());
  Press(Qt::Key_PageUp, Qt::ControlModifier);  // from a new document: the last one stored
  EXPECT_EQ(window_->Correcting(), 1500);
  EXPECT_EQ(window_->PositionText().toStdString(), "1.500 di 1.500");
  Press(Qt::Key_PageUp, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(window_->Correcting(), 1);
  EXPECT_FALSE(window_->StepAction(Step::kPrevious)->isEnabled());

  // Bianchi's documents, the second opened with Enter on it in the list.
  Press(Qt::Key_F, Qt::ControlModifier);
  auto* where = window_->DocumentSearchField();
  where->setCurrentIndex(where->findText("Cliente"));
  QTest::keyClicks(window_->DocumentFilter(), "bia");
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return window_->FoundText() == QString("500 documenti"); }, 3000))
      << "window_->FoundText() == QString(\"500 documenti\")";
  window_->DocumentTable()->setFocus();
  window_->DocumentTable()->setCurrentIndex(window_->DocumentTable()->model()->index(1, 0));
  QTest::keyClick(window_->DocumentTable(), Qt::Key_Return);
  QApplication::processEvents();
  EXPECT_EQ(window_->Correcting(), 4);
  EXPECT_EQ(window_->PositionText().toStdString(), "2 di 500 trovati");
  Press(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(window_->Correcting(), 7);
  Press(Qt::Key_PageDown, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(window_->Correcting(), 1498);
  EXPECT_EQ(window_->PositionText().toStdString(), "500 di 500 trovati");
  EXPECT_FALSE(window_->StepAction(Step::kNext)->isEnabled());

  // A change, then a move: asked; Annulla stays, No moves and drops it.
  auto& p = Person();
  p.Focus("Note");
  p.Type("da rivedere");
  Press(Qt::Key_PageUp, Qt::ControlModifier);
  ASSERT_EQ(desktop_->Recorded().size(), 1u);
  EXPECT_THAT(desktop_->Recorded()[0].prompt, ::testing::StartsWith("Salvare le modifiche?"));
  EXPECT_EQ(window_->Correcting(), 1498);
  desktop_->answers.push_back(kvt::kMsgBoxAnswerNo);
  Press(Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(window_->Correcting(), 1495);
  EXPECT_EQ(window_->PositionText().toStdString(), "499 di 500 trovati");
  EXPECT_EQ(kvt::CStr(Stored(1498, "Note")), "");

  // Deleted, it leaves the walk.
  desktop_->answers.push_back(kvt::kMsgBoxAnswerOk);
  ASSERT_TRUE(window_->DeleteDocument());
  EXPECT_EQ(window_->PositionText().toStdString(), "Nuovo, 499 trovati");
  Press(Qt::Key_PageUp, Qt::ControlModifier);
  EXPECT_EQ(window_->Correcting(), 1498);
}

// A description typed into a combo finds its code; text that finds none keeps the focus and is
// said in the status bar; a code typed over one held replaces it (entering selects it).
TEST_P(DeskTest, ACodeIsFoundByItsDescriptionAndTextMatchingNoneIsSaid) {
  auto& p = Person();
  auto type = [&] {
    return kvt::CStr(window_->Work()->Fields().Item(kvt::Variant("TipoDocumento"))->Value());
  };
  p.Focus("TipoDocumento");
  p.Type("credito");
  EXPECT_TRUE(p.Tab());
  EXPECT_EQ(type(), "NC");
  p.Focus("TipoDocumento");
  p.Clear();
  p.Type("fattu");
  EXPECT_TRUE(p.Tab());
  EXPECT_EQ(type(), "FAT");
  p.Focus("TipoDocumento");
  p.Clear();
  p.Type("scontrino");
  EXPECT_FALSE(p.Tab());
  EXPECT_EQ(p.Focused(), "TipoDocumento");
  EXPECT_EQ(type(), "");  // as the person cleared it
  EXPECT_EQ(window_->StatusText().toStdString(),
            "Nessun codice corrisponde a \"scontrino\": correggere, o Esc per il valore di prima.");
  Press(Qt::Key_Escape, Qt::NoModifier);  // the code again, and the focus may leave
  EXPECT_TRUE(p.Tab());
  EXPECT_EQ(p.Focused(), "Reparto");
  EXPECT_EQ(type(), "FAT");
  p.Tab();  // the next move forgets it
  EXPECT_EQ(window_->StatusText().toStdString(), "");
  // Tab into the combo holding a code, a code typed: it replaces the one held.
  p.BackTab();
  p.BackTab();
  EXPECT_EQ(p.Focused(), "TipoDocumento");
  p.Type("nc");
  EXPECT_TRUE(p.Tab());
  EXPECT_EQ(type(), "NC");
}

// Find by form: criteria typed into the form's own fields (text starts with, numbers and dates
// a value or a range, a combo a code), code descriptions in the result, sorting by a column as
// its field's kind orders, and the navigator walking the sorted result.
TEST_P(DeskTest, DocumentsAreFoundByTypingIntoTheFormAndSortedByKind) {
  {
    auto engine = kvtapp::OpenEngine(db_, false);
    engine->Transaction([&] {
      const char* dates[] = {"01/12/2025", "02/04/2024", "10/01/2025", "15/06/2025"};
      const char* numbers[] = {"1000", "123", "999", "45"};
      for (int i = 0; i < 4; ++i) {
        auto values = kvt::Dictionary::Create();
        values->Add("NumeroDocumento", kvt::Variant(std::string(numbers[i])));
        values->Add("DataDocumento", kvt::Variant(std::string(dates[i])));
        values->Add("TipoDocumento", kvt::Variant(std::string(i == 3 ? "NC" : "FAT")));
        values->Add("Cliente", kvt::Variant(std::string(i == 1 || i == 2 ? "ROSSI" : "BIANCHI")));
        engine->SaveDocument(sample::kArchive, values);
      }
    });
  }
  Press(Qt::Key_F, Qt::ControlModifier);
  ASSERT_EQ(window_->FoundText(), "4 documenti");
  // As tall as the screen allows, the list taking what the criteria leave.
  const QRect screen = window_->FindDialog()->screen()->availableGeometry();
  EXPECT_GE(window_->FindDialog()->height(), screen.height() * 3 / 4) << screen.height();
  EXPECT_GE(window_->DocumentTable()->height(), window_->FindDialog()->height() / 3);
  auto input = [&](const char* field) {
    for (const auto& in : window_->CriteriaInputs()) {
      if (in.field == field) return in;
    }
    ADD_FAILURE() << field;
    return DeskWindow::CriterionInput{};
  };
  // Tab from the quick search goes through the form's fields in their order.
  window_->DocumentFilter()->setFocus();
  EXPECT_EQ(window_->DocumentFilter()->nextInFocusChain(), input("NumeroDocumento").text.data());
  EXPECT_EQ(input("NumeroDocumento").text->nextInFocusChain(), input("DataDocumento").text.data());
  ASSERT_TRUE(input("TipoDocumento").codes);
  auto* type = input("TipoDocumento").codes.data();
  type->setCurrentIndex(type->findData("FAT"));
  EXPECT_EQ(window_->FoundText(), "3 documenti");
  QTest::keyClicks(input("DataDocumento").text, "01/01/2025..31/12/2025");
  EXPECT_EQ(FoundAfterPause(), "2 documenti");
  QTest::keyClicks(input("Cliente").text, "ros");
  EXPECT_EQ(FoundAfterPause(), "1 documento");
  QAbstractItemModel* found = window_->DocumentTable()->model();
  EXPECT_EQ(found->data(found->index(0, 0)).toInt(), 3);
  EXPECT_EQ(found->data(found->index(0, 3)).toString().toStdString(), "FAT - Fattura");

  // Sorted by kind: numbers as numbers, dates as dates, both ways.
  window_->ClearCriteria();
  EXPECT_EQ(window_->FoundText(), "4 documenti");
  auto column = [&](int c) {
    std::vector<std::string> out;
    for (int r = 0; r < found->rowCount(); ++r) {
      out.push_back(found->data(found->index(r, c)).toString().toStdString());
    }
    return out;
  };
  ASSERT_TRUE(window_->SortFound(1));
  EXPECT_EQ(column(1), (std::vector<std::string>{"45", "123", "999", "1000"}));
  ASSERT_TRUE(window_->SortFound(2));
  EXPECT_EQ(column(2),
            (std::vector<std::string>{"02/04/2024", "10/01/2025", "15/06/2025", "01/12/2025"}));
  ASSERT_TRUE(window_->SortFound(2));  // again: the other way
  EXPECT_EQ(column(2).front(), "01/12/2025");
  // A click on a header: ascending first, as the header shows it.
  auto* header = window_->DocumentTable()->horizontalHeader();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionViewportPosition(1) + 5, header->height() / 2));
  EXPECT_EQ(column(1).front(), "45");
  EXPECT_EQ(header->sortIndicatorSection(), 1);
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
  // By keys: the current column chosen with the arrows, then "Ordina per la colonna" (Alt+O,
  // tried on the X server); again the other way, the list keeping the focus.
  auto* table = window_->DocumentTable();
  QPushButton* sort = nullptr;
  for (auto* b : window_->FindDialog()->findChildren<QPushButton*>()) {
    if (b->text() == "&Ordina per la colonna") sort = b;
  }
  ASSERT_NE(sort, nullptr);
  // Down in the search box goes to the list, on its first document.
  QLineEdit* search = nullptr;
  for (auto* edit : window_->FindDialog()->findChildren<QLineEdit*>()) {
    if (edit->placeholderText() == "Cerca...") search = edit;
  }
  ASSERT_NE(search, nullptr);
  window_->FindDialog()->activateWindow();
  search->setFocus();
  QTest::keyClick(search, Qt::Key_Down);
  EXPECT_TRUE(table->hasFocus());
  EXPECT_EQ(table->currentIndex().row(), 0);
  table->setCurrentIndex(found->index(0, 1));
  QTest::keyClick(table, Qt::Key_Right);
  sort->click();
  EXPECT_EQ(header->sortIndicatorSection(), 2);
  EXPECT_EQ(column(2).front(), "02/04/2024");
  EXPECT_TRUE(table->hasFocus());
  sort->click();
  EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
  EXPECT_EQ(column(2).front(), "01/12/2025");

  // Enter on the first opens it, and the navigator follows the order shown.
  window_->DocumentTable()->setCurrentIndex(found->index(0, 0));
  QTest::keyClick(window_->DocumentTable(), Qt::Key_Return);
  EXPECT_EQ(window_->Correcting(), 1);
  EXPECT_EQ(window_->PositionText().toStdString(), "1 di 4 trovati");
  Press(Qt::Key_PageDown, Qt::ControlModifier);
  EXPECT_EQ(window_->Correcting(), 4);  // 15/06/2025

  // A number typed into its field is equal, whatever the other fields held before.
  Press(Qt::Key_F, Qt::ControlModifier);
  window_->ClearCriteria();
  QTest::keyClicks(input("NumeroDocumento").text, "999");
  QTest::keyClick(input("NumeroDocumento").text, Qt::Key_Return);
  EXPECT_EQ(window_->Correcting(), 3);
}

TEST_P(DeskTest, TheDatabasesOpenedLastAreOfferedInTheFileMenuLatestFirst) {
  const std::string other = dir_.File("altro anno.kvtdb");
  sample::CreateSampleArchive(*kvtapp::OpenEngine(other, /*create=*/true));
  // A server's settings are kept (its TLS mode among them), its password never.
  if (GetParam()) {
    ASSERT_TRUE(window_->OpenDatabase(db_ + " sslmode=disable password=segreta"));
  }
  ASSERT_TRUE(window_->OpenDatabase(other));
  const QStringList recent = DeskWindow::RecentDatabases();
  ASSERT_GE(recent.size(), 2);
  EXPECT_EQ(recent[0].toStdString(), other);
  if (GetParam()) {
    EXPECT_THAT(recent[1].toStdString(), ::testing::HasSubstr("sslmode='disable'"));
    EXPECT_THAT(recent[1].toStdString(), ::testing::Not(::testing::HasSubstr("segreta")));
  } else {
    EXPECT_EQ(recent[1].toStdString(), db_);
  }
  QMenu* menu = nullptr;
  for (auto* m : window_->findChildren<QMenu*>()) {
    if (m->title() == "Database &recenti") menu = m;
  }
  ASSERT_NE(menu, nullptr);
  Q_EMIT menu->aboutToShow();
  ASSERT_GE(menu->actions().size(), 2);
  EXPECT_TRUE(menu->actions()[0]->text().endsWith("altro anno.kvtdb"));
  menu->actions()[1]->trigger();  // back to the first, as a clerk would
  EXPECT_EQ(DeskWindow::RecentDatabases()[0], recent[1]);
  EXPECT_FALSE(window_->windowTitle().contains("altro anno"));

  // The next start opens where the person was: the database, the archive and the form.
  ASSERT_TRUE(window_->OpenArchive(sample::kArchive, "Consultazione"));
  const auto last = DeskWindow::LastPlace();
  ASSERT_TRUE(last);
  EXPECT_EQ(last->db, recent[1].toStdString());
  EXPECT_EQ(last->archive, sample::kArchive);
  EXPECT_EQ(last->form, "Consultazione");
}

TEST(DeskLargeForms, AThousandFieldFormShowsItsProgressAndTheViewFollowsTheFocus) {
  kvt::testing::TempDir dir;
  {
    auto engine = kvtsqlite::SqliteEngine::Open(dir.File("grande.kvtdb"));
    sample::CreateScaledArchive(*engine, "Grande", 1000);
  }
  auto desktop = QtDesktop::Install(QtDesktop::Messages::kRecord);
  {
    DeskWindow window(dir.File("grande.kvtdb"), "Grande", sample::kEntryForm);
    ASSERT_NE(window.Work(), nullptr);
    EXPECT_EQ(window.Work()->Fields().Count(), 1000);
    EXPECT_EQ(window.ProgressShown(), 1000 / 25);
    EXPECT_TRUE(desktop->Recorded().empty());
    window.resize(800, 500);
    window.show();
    QApplication::processEvents();
    auto* scroll = qobject_cast<QScrollArea*>(window.centralWidget());
    ASSERT_NE(scroll, nullptr);
    EXPECT_EQ(scroll->verticalScrollBar()->value(), 0);
    auto& p = window.Work()->Person();
    EXPECT_TRUE(p.Focus("Campo999"));
    p.Tab();  // to the last field, far below
    EXPECT_EQ(p.Focused(), "Campo1000");
    EXPECT_GT(scroll->verticalScrollBar()->value(), 0);
    // Tabbing through the first rows, each box and its caption are whole in the view.
    EXPECT_TRUE(p.Focus("Campo1"));
    for (int i = 1; i <= 12; ++i) {
      const std::string name = "Campo" + std::to_string(i);
      ASSERT_EQ(p.Focused(), name);
      auto field = window.Work()->Fields().Item(kvt::Variant(name));
      auto* box = dynamic_cast<kvthost::qt::QtControl*>(field->LinkedControl().get());
      auto* caption = dynamic_cast<kvthost::qt::QtControl*>(field->LinkedLabel().get());
      ASSERT_TRUE(box && caption && box->Widget() && caption->Widget());
      const QRect view = scroll->viewport()->rect();
      for (QWidget* w : {box->Widget(), caption->Widget()}) {
        const QRect at(w->mapTo(scroll->viewport(), QPoint(0, 0)), w->size());
        EXPECT_TRUE(view.contains(at))
            << name << " " << at.x() << "," << at.y() << " " << at.width() << "x" << at.height();
      }
      p.Tab();
    }
    // The field viewer opens inside the screen and scrolls.
    window.OpenFieldViewer();
    QApplication::processEvents();
    const QRect screen = window.screen()->availableGeometry();
    QWidget* viewer = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->isVisible() && w->windowTitle().startsWith("Visualizzatore campi")) viewer = w;
    }
    ASSERT_NE(viewer, nullptr);
    EXPECT_LE(viewer->height(), screen.height());
    EXPECT_LE(viewer->width(), screen.width());
    // Esc in one of its boxes closes it.
    viewer->activateWindow();
    QApplication::processEvents();
    QWidget* box = viewer->focusWidget() ? viewer->focusWidget() : viewer;
    QTest::keyClick(box, Qt::Key_Escape);
    EXPECT_FALSE(viewer->isVisible());
  }
  desktop->Uninstall();
}

TEST(DeskErrors, AnArchiveWithoutFieldsIsRefusedAndTheFormOpenStays) {
  kvt::testing::TempDir dir;
  {
    auto engine = kvtsqlite::SqliteEngine::Open(dir.File("a.kvtdb"));
    sample::CreateSampleArchive(*engine);
  }
  auto desktop = QtDesktop::Install(QtDesktop::Messages::kRecord);
  {
    DeskWindow window(dir.File("a.kvtdb"), sample::kArchive, sample::kEntryForm);
    EXPECT_FALSE(window.OpenArchive("Nessuno", sample::kEntryForm));
    ASSERT_EQ(desktop->Recorded().size(), 1u);
    EXPECT_NE(desktop->Recorded()[0].prompt.find("Nessuno"), std::string::npos);
    ASSERT_NE(window.Work(), nullptr);
    EXPECT_EQ(window.Work()->Archive(), sample::kArchive);
    EXPECT_EQ(window.Work()->Fields().Count(), 12);
  }
  desktop->Uninstall();
}

TEST(DeskErrors, AMissingDatabaseIsShownWithWhatToDoAndNothingIsCreated) {
  kvt::testing::TempDir dir;
  auto desktop = QtDesktop::Install(QtDesktop::Messages::kRecord);
  {
    DeskWindow window(dir.File("nessuno.kvtdb"), sample::kArchive, sample::kEntryForm);
    ASSERT_EQ(desktop->Recorded().size(), 1u);
    EXPECT_THAT(desktop->Recorded()[0].prompt, ::testing::HasSubstr("Il database non si trova."));
    EXPECT_NE(desktop->Recorded()[0].prompt.find("File > Apri database"), std::string::npos);
    // The engine's own words only under the details.
    EXPECT_THAT(desktop->Recorded()[0].prompt, ::testing::Not(::testing::HasSubstr("no database")));
    EXPECT_THAT(desktop->Recorded()[0].details, ::testing::HasSubstr("no database file"));
    EXPECT_EQ(window.Work(), nullptr);
    window.Save();  // nothing open: nothing happens
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("nessuno.kvtdb")));
  desktop->Uninstall();
}

// A script failing as the first field is entered is that field's error: the database opens
// and the person can type and save.
TEST(DeskErrors, AFailingScriptOnTheFirstFieldLeavesTheFormUsable) {
  kvt::testing::TempDir dir;
  {
    auto engine = kvtsqlite::SqliteEngine::Open(dir.File("a.kvtdb"));
    sample::CreateSampleArchive(*engine);
    engine->PutScript(sample::kArchive,
                      "function ingresso(n) if n == 'NumeroDocumento' then error('rotto') end end");
  }
  auto desktop = QtDesktop::Install(QtDesktop::Messages::kRecord);
  {
    DeskWindow window(dir.File("a.kvtdb"), sample::kArchive, sample::kEntryForm);
    ASSERT_EQ(desktop->Recorded().size(), 1u);
    EXPECT_THAT(
        desktop->Recorded()[0].prompt,
        ::testing::HasSubstr("Errore dello script entrando nel campo \"Numero documento\""));
    EXPECT_THAT(desktop->Recorded()[0].prompt, ::testing::Not(::testing::HasSubstr("non si apre")));
    ASSERT_NE(window.Work(), nullptr);
    auto& p = window.Work()->Person();
    EXPECT_EQ(p.Focused(), "NumeroDocumento");
    p.Type("1026");
    EXPECT_EQ(kvt::CStr(window.Work()->Fields().Item(kvt::Variant("NumeroDocumento"))->Value()),
              "1026");
  }
  desktop->Uninstall();
}

}  // namespace
}  // namespace kvtdesk
