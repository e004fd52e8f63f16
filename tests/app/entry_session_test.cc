// A clerk's work on an archive without a window: every question comes back as data, is answered
// as data, and nothing reaches a message box (the session's or the process's).
#include <gmock/gmock.h>

#include <set>

#include "archives/sample_archive.h"
#include "common/entry_session.h"
#include "common/open_engine.h"
#include "host/common/keystroke.h"
#include "host/common/units.h"
#include "host/headless/desktop.h"
#include "runtime/platform.h"
#include "temp_dir.h"

namespace kvtapp {
namespace {

namespace sample = kvtarchive::sample;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Op = kvtengine::Criterion::Op;
using Step = EntrySession::Step;

class EntrySessionTest : public ::testing::Test {
 protected:
  void SetUp() override { e_ = Clerk(); }
  void TearDown() override {
    EXPECT_TRUE(process_->Messages().empty()) << process_->Messages().front().prompt;
    for (auto& d : desktops_) {
      EXPECT_TRUE(d->Messages().empty()) << d->Messages().front().prompt;
    }
  }
  std::unique_ptr<EntrySession> Clerk() {
    auto desktop = kvthost::Desktop::Create();
    desktops_.push_back(desktop);
    std::weak_ptr<kvt::Platform> session = desktop;
    auto e = std::make_unique<EntrySession>(
        [session](std::shared_ptr<kvthost::Form> f) -> std::unique_ptr<kvthost::IPerson> {
          return std::make_unique<kvthost::User>(std::move(f), session);
        },
        desktop);
    e->Open(file_, sample::kArchive, sample::kEntryForm, /*create=*/true);
    e->Start();
    return e;
  }
  kvthost::IPerson& Person(EntrySession& e) { return e.Work()->Person(); }
  std::string Value(EntrySession& e, const char* field) {
    return kvt::JoinText(e.Work()->Fields().Item(kvt::Variant(field))->Value());
  }
  // An invoice as a clerk types it.
  void Fill(EntrySession& e, const std::string& number, const std::string& customer) {
    auto& p = Person(e);
    p.Focus("NumeroDocumento");
    p.Clear();
    p.Type(number);
    p.Focus("DataDocumento");
    p.PickDate(kvt::Variant(kvt::MakeDate(2026, 12, 7)));
    p.Tab();
    p.Choose("FAT");
    p.Focus("Cliente");
    p.Clear();
    p.Type(customer);
  }
  std::int64_t Stored() { return OpenEngine(file_, false)->DocumentCount(sample::kArchive); }
  std::string Stored(std::int32_t id, const char* field) {
    auto values = OpenEngine(file_, false)->LoadDocument(id);
    return kvt::JoinText(kvt::GetProperty(values, "Item", field));
  }

  kvt::testing::TempDir dir_;
  std::string file_ = dir_.File("office.kvtdb");
  std::shared_ptr<kvt::RecordingPlatform> process_ = std::make_shared<kvt::RecordingPlatform>();
  kvt::ScopedPlatform installed_{process_};
  std::vector<std::shared_ptr<kvthost::Desktop>> desktops_;
  std::unique_ptr<EntrySession> e_;
};

TEST_F(EntrySessionTest, ADuplicateIsAQuestionAndASaveReadsTheFormOnce) {
  auto& e = *e_;
  Fill(e, "2027", "beta srl");
  EXPECT_TRUE(e.ModifiedMark());
  EXPECT_THAT(e.Title(), StartsWith("* "));
  const auto reads = e.Document()->FormReads();
  Reply r = e.Save();
  EXPECT_TRUE(r.done);
  EXPECT_FALSE(r.question);
  EXPECT_EQ(r.touched, 1);
  EXPECT_EQ(e.Document()->FormReads() - reads, 1u);
  // Named as the clerk knows it, by its number and date; the title keeps its place.
  EXPECT_EQ(e.Status(), "Documento 2027 del 07/12/2026 salvato");
  EXPECT_FALSE(e.ModifiedMark());
  EXPECT_THAT(e.Title(), StartsWith("Documento 1 - "));

  // The same invoice again: a question, answered "no" and then "yes".
  ASSERT_TRUE(e.Next().done);
  EXPECT_EQ(e.Status(), "Nuovo documento con i campi riportati");
  Fill(e, "2027", "beta srl");
  r = e.Save();
  ASSERT_TRUE(r.question);
  EXPECT_EQ(r.question->id, "doppione");
  EXPECT_EQ(r.question->buttons, kvt::kMsgBoxOkCancel);
  EXPECT_THAT(r.question->text, HasSubstr("Salvare comunque questo documento?"));
  EXPECT_THAT(r.question->text,
              HasSubstr("(Numero documento = 2027, Data documento = 07/12/2026): il n. 1"));
  EXPECT_TRUE(e.Asking());
  r = e.Answer(kvt::kMsgBoxAnswerCancel);
  EXPECT_FALSE(r.done);
  EXPECT_EQ(e.Status(), "Documento non salvato: è probabilmente un doppione");
  EXPECT_EQ(Stored(), 1);
  r = e.Save();
  ASSERT_TRUE(r.question);
  const auto before = e.Document()->FormReads();
  r = e.Answer(kvt::kMsgBoxAnswerOk);
  EXPECT_TRUE(r.done);
  EXPECT_EQ(e.Document()->FormReads() - before, 1u);  // checked once, when it was asked
  EXPECT_EQ(e.Status(), "Documento 2027 del 07/12/2026 salvato");
  EXPECT_EQ(Stored(), 2);
  EXPECT_FALSE(e.Asking());
}

TEST_F(EntrySessionTest, LeavingUnsavedChangesAsksAndEachAnswerDoesWhatItSays) {
  auto& e = *e_;
  int marks = 0;
  e.on_changed = [&] { ++marks; };
  Person(e).Focus("NumeroDocumento");
  Person(e).Type("5");
  EXPECT_TRUE(e.ModifiedMark());
  EXPECT_EQ(marks, 1);  // told once, as the mark came on

  Reply r = e.New();
  ASSERT_TRUE(r.question);
  EXPECT_EQ(r.question->id, "salva-modifiche");
  EXPECT_EQ(r.question->buttons, kvt::kMsgBoxYesNoCancel);
  EXPECT_FALSE(e.Answer(kvt::kMsgBoxAnswerCancel).done);
  EXPECT_EQ(Value(e, "NumeroDocumento"), "5");

  // Yes on a document the rules refuse: it is said, nothing stored, the form stays.
  r = e.New();
  r = e.Answer(kvt::kMsgBoxAnswerYes);
  EXPECT_FALSE(r.done);
  ASSERT_TRUE(r.notice);
  EXPECT_THAT(r.notice->text, HasSubstr("Il documento non si salva"));
  EXPECT_EQ(Value(e, "NumeroDocumento"), "5");
  EXPECT_EQ(Stored(), 0);

  r = e.New();
  EXPECT_TRUE(e.Answer(kvt::kMsgBoxAnswerNo).done);
  EXPECT_EQ(Value(e, "NumeroDocumento"), "");
  EXPECT_EQ(e.Status(), "Nuovo documento");
  EXPECT_FALSE(e.ModifiedMark());

  // Yes on a whole document: stored, then the new one.
  Fill(e, "3031", "gamma spa");
  r = e.New();
  r = e.Answer(kvt::kMsgBoxAnswerYes);
  EXPECT_TRUE(r.done);
  EXPECT_EQ(r.touched, 1);
  EXPECT_EQ(Stored(), 1);
  EXPECT_EQ(e.Id(), 0);
  EXPECT_EQ(e.Status(), "Nuovo documento");

  // Nothing unsaved: no question at all.
  EXPECT_TRUE(e.New().done);
}

TEST_F(EntrySessionTest, EscPutsBackTheFieldThenTheDocument) {
  auto& e = *e_;
  Fill(e, "4044", "delta");
  ASSERT_TRUE(e.Save().done);
  Person(e).Focus("NumeroDocumento");
  Person(e).Clear();
  Person(e).Type("4045");
  Person(e).Focus("Cliente");
  Person(e).Type(" sas");
  EXPECT_TRUE(e.Undo().done);  // the field
  EXPECT_EQ(Value(e, "Cliente"), "DELTA");
  EXPECT_EQ(Value(e, "NumeroDocumento"), "4045");
  EXPECT_TRUE(e.ModifiedMark());
  EXPECT_TRUE(e.Undo().done);  // the document
  EXPECT_EQ(Value(e, "NumeroDocumento"), "4044");
  EXPECT_EQ(e.Status(), "Modifiche annullate");
  EXPECT_FALSE(e.ModifiedMark());
  EXPECT_FALSE(e.Undo().done);  // nothing left to put back
}

TEST_F(EntrySessionTest, PinnedFieldsGoIntoEachNextDocumentUntilLetGo) {
  auto& e = *e_;
  auto focused = [&](const char* field) {
    return e.Work()->Window().Active() ==
           e.Work()->Fields().Item(kvt::Variant(field))->LinkedControl();
  };
  Fill(e, "6060", "omega");
  Person(e).Focus("Prezzo");
  Person(e).Type("12,50");
  EXPECT_TRUE(e.TogglePin().done);
  EXPECT_EQ(e.Status(), "\"Prezzo unitario\" mantenuto: passa ai documenti successivi");
  // The archive's retained fields and files are not the clerk's to pin.
  Person(e).Focus("Cliente");
  EXPECT_FALSE(e.TogglePin().done);
  EXPECT_THAT(e.Status(), HasSubstr("lo riporta l'archivio"));
  Person(e).Focus("Allegato");
  EXPECT_FALSE(e.TogglePin().done);
  EXPECT_EQ(e.Document()->Pinned(), std::set<std::string>{"Prezzo"});

  ASSERT_TRUE(e.Save().done);
  ASSERT_TRUE(e.Next().done);
  EXPECT_EQ(Value(e, "Prezzo"), "12,50");
  EXPECT_EQ(Value(e, "Cliente"), "OMEGA");  // retained beside it
  EXPECT_EQ(Value(e, "Quantita"), "");
  EXPECT_FALSE(e.ModifiedMark());           // carried, not typed
  EXPECT_TRUE(focused("NumeroDocumento"));  // where the clerk starts

  // Carried on, stored with the next, then let go.
  Person(e).Type("6061");
  Person(e).Focus("DataDocumento");
  Person(e).PickDate(kvt::Variant(kvt::MakeDate(2026, 12, 8)));
  ASSERT_TRUE(e.Save().done);
  EXPECT_EQ(Stored(2, "Prezzo"), "12,50");
  Person(e).Focus("Prezzo");
  EXPECT_TRUE(e.TogglePin().done);
  EXPECT_EQ(e.Status(), "\"Prezzo unitario\" non più mantenuto");
  ASSERT_TRUE(e.Next().done);
  EXPECT_EQ(Value(e, "Prezzo"), "");
  EXPECT_EQ(Value(e, "Cliente"), "OMEGA");
  // A new document is empty whatever is pinned.
  Person(e).Focus("Email");
  Person(e).Type("a@b.it");
  EXPECT_TRUE(e.TogglePin().done);
  EXPECT_TRUE(e.New().done || e.Answer(kvt::kMsgBoxAnswerNo).done);
  EXPECT_EQ(Value(e, "Email"), "");
}

// A clerk typing ahead: "9", Tab (too short: the number keeps the focus), then the date. What
// was typed before the refusal could be seen does not pile into the number; what comes after
// it does, and the reason is told where the eye is.
TEST_F(EntrySessionTest, KeysTypedAheadOfARefusalDoNotPileIntoTheRefusedField) {
  auto& e = *e_;
  std::string said;
  e.on_refused = [&](const std::string& why) { said = why; };
  auto& form = e.Work()->Window();
  auto press = [&](kvthost::Keystroke k, std::uint64_t at) {
    k.at_ms = at;
    form.PressKeystroke(k);
  };
  auto type = [&](const std::string& text, std::uint64_t at) {
    for (char c : text) press(kvthost::TypingKeystroke(static_cast<char32_t>(c)), at += 40);
  };
  Person(e).Focus("NumeroDocumento");
  type("9", 1000);
  press(kvthost::PressedKeystroke(kvthost::kKeyTab, 0), 1100);
  EXPECT_FALSE(said.empty());
  type("0612", 1100);  // typed ahead: dropped
  EXPECT_EQ(Value(e, "NumeroDocumento"), "9");
  type("12", 1600);  // after the refusal was seen
  EXPECT_EQ(Value(e, "NumeroDocumento"), "912");
  press(kvthost::PressedKeystroke(kvthost::kKeyTab, 0), 1700);  // taken: on to the date
  EXPECT_EQ(form.Active(), e.Work()->Fields().Item(kvt::Variant("DataDocumento"))->LinkedControl());
  // Keys with no time (a program typing) are never dropped.
  Person(e).Focus("NumeroDocumento");
  Person(e).Clear();
  type("7", 0);
  press(kvthost::PressedKeystroke(kvthost::kKeyTab, 0), 0);
  Person(e).Type("77");
  EXPECT_EQ(Value(e, "NumeroDocumento"), "777");
}

TEST_F(EntrySessionTest, TheNavigatorWalksAndFindsByWhatTheClerkTypes) {
  auto& e = *e_;
  EXPECT_EQ(e.Where().text, "Nessun documento");
  for (const char* n : {"1001", "1002", "1003"}) {
    Fill(e, n, "cliente " + std::string(n));
    ASSERT_TRUE(e.Save().done);
    ASSERT_TRUE(e.New().done);
  }
  auto at = e.Where();
  EXPECT_EQ(at.text, "Nuovo, 3 documenti");
  EXPECT_TRUE(at.first && at.previous && at.last);
  EXPECT_FALSE(at.next);

  EXPECT_TRUE(e.Move(Step::kPrevious).done);  // from a new one: the last stored
  EXPECT_EQ(e.Id(), 3);
  EXPECT_TRUE(e.Move(Step::kFirst).done);
  at = e.Where();
  EXPECT_EQ(at.text, "1 di 3");
  EXPECT_FALSE(at.first || at.previous);
  EXPECT_TRUE(at.next && at.last);
  EXPECT_EQ(e.Status(),
            "Correzione del documento 1001 del 07/12/2026: Salva registra le correzioni");
  EXPECT_TRUE(e.Move(Step::kNext).done);
  EXPECT_EQ(e.Where().text, "2 di 3");
  // A change asks before the navigator leaves it.
  Person(e).Focus("Cliente");
  Person(e).Type("x");
  Reply r = e.Move(Step::kLast);
  ASSERT_TRUE(r.question);
  EXPECT_TRUE(e.Answer(kvt::kMsgBoxAnswerNo).done);
  EXPECT_EQ(e.Where().text, "3 di 3");
  EXPECT_FALSE(e.Move(Step::kNext).done);
  EXPECT_EQ(e.Status(), "Non ci sono altri documenti");

  // What a clerk types in a find field, as the engine takes it.
  const auto c = [&](const char* field, const char* text) { return e.CriterionOf(field, text); };
  EXPECT_EQ(c("NumeroDocumento", "1001..1002").op, Op::kRange);
  EXPECT_EQ(c("NumeroDocumento", "1001..1002").to, "1002");
  EXPECT_EQ(c("NumeroDocumento", "2").op, Op::kEqual);
  EXPECT_EQ(c("Cliente", "clie").op, Op::kPrefix);
  EXPECT_EQ(c("Cliente", "*nte 1002").op, Op::kContains);
  EXPECT_EQ(c("Cliente", "*nte 1002").value, "nte 1002");
  EXPECT_EQ(c("", "nte").op, Op::kContains);
  EXPECT_EQ(e.RefusedCriterion({c("DataDocumento", "31/02/2026")}),
            "Data documento: scrivere una data (gg/mm/aaaa) o un intervallo da..a.");
  EXPECT_EQ(e.RefusedCriterion({c("NumeroDocumento", "uno..due")}),
            "Numero documento: scrivere un numero o un intervallo da..a.");
  EXPECT_EQ(e.RefusedCriterion({c("", "a..b")}),
            "In tutti i campi si cerca un testo, non un intervallo.");

  // Opened from what was found, the navigator walks only that.
  EXPECT_TRUE(e.OpenFound(3, {c("NumeroDocumento", "1002..1003")}, {}).done);
  EXPECT_EQ(e.Where().text, "2 di 2 trovati");
  EXPECT_TRUE(e.OpenFound(1, {}, {3, 1, 2}).done);  // sorted by a column
  EXPECT_EQ(e.Where().text, "2 di 3 trovati");
  EXPECT_TRUE(e.Move(Step::kPrevious).done);
  EXPECT_EQ(e.Id(), 3);
}

TEST_F(EntrySessionTest, TwoClerksChangingOneFieldAreAskedWhoseValueHolds) {
  Fill(*e_, "7007", "omega");
  ASSERT_TRUE(e_->Save().done);
  auto other = Clerk();
  ASSERT_TRUE(e_->Correct(1).done);
  ASSERT_TRUE(other->Correct(1).done);
  Person(*other).Focus("Cliente");
  Person(*other).Clear();
  Person(*other).Type("theirs");
  ASSERT_TRUE(other->Save().done);

  Person(*e_).Focus("Cliente");
  Person(*e_).Clear();
  Person(*e_).Type("mine");
  Reply r = e_->Save();
  ASSERT_TRUE(r.question);
  EXPECT_EQ(r.question->id, "conflitto");
  EXPECT_EQ(r.question->buttons, kvt::kMsgBoxYesNoCancel | kvt::kMsgBoxDefaultButton3);
  EXPECT_THAT(r.question->text, HasSubstr("Cliente: tuo \"MINE\", suo \"THEIRS\""));
  EXPECT_FALSE(e_->Answer(kvt::kMsgBoxAnswerCancel).done);
  EXPECT_EQ(e_->Status(), "Documento non salvato: un altro utente lo ha cambiato");
  EXPECT_EQ(Stored(1, "Cliente"), "THEIRS");

  r = e_->Save();
  ASSERT_TRUE(r.question);
  r = e_->Answer(kvt::kMsgBoxAnswerYes);
  EXPECT_TRUE(r.done);
  EXPECT_EQ(r.touched, 1);
  EXPECT_EQ(Stored(1, "Cliente"), "MINE");
  EXPECT_THAT(e_->Status(), StartsWith("Documento 7007 del 07/12/2026 corretto insieme alle "
                                       "modifiche di"));
}

}  // namespace
}  // namespace kvtapp
