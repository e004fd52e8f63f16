// What may be stored, decided once: every case of one table goes through `enter`'s path and
// through a one-row batch import, and both must store it or refuse it for the same reason. Then
// the session itself: a save that changes nothing, a correction, deletion.
#include <gmock/gmock.h>

#include <sstream>

#include "archives/sample_archive.h"
#include "common/csv.h"
#include "common/document_entry.h"
#include "common/document_session.h"
#include "common/document_walk.h"
#include "common/open_engine.h"
#include "common/problem.h"
#include "common/workspace.h"
#include "engine/sqlite/sqlite_engine.h"
#include "host/headless/desktop.h"
#include "runtime/dictionary.h"
#include "temp_dir.h"
#include "test_support.h"

namespace kvtapp {
namespace {

namespace sample = kvtarchive::sample;

const Values kInvoice = {{"NumeroDocumento", "2027"},
                         {"DataDocumento", "06/12/2026"},
                         {"TipoDocumento", "FAT"},
                         {"Cliente", "beta srl"}};

Values With(Values values, const std::string& field, const std::string& value) {
  for (auto& [name, v] : values) {
    if (name == field) {
      v = value;
      return values;
    }
  }
  values.emplace_back(field, value);
  return values;
}

Values Without(Values values, const std::string& field) {
  std::erase_if(values, [&](const auto& nv) { return nv.first == field; });
  return values;
}

struct Case {
  const char* what;
  std::string script;  // replaces the archive's script when not empty
  Values values;
  bool stored_before;  // the same invoice is in the archive already
  bool allow_duplicates;
  const char* refusal;  // the message that refuses it; null: stored
};

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop_ = kvthost::Desktop::Install();
    engine_ = kvtsqlite::SqliteEngine::Open(dir_.File("f.kvtdb"));
    sample::CreateSampleArchive(*engine_);
  }
  void TearDown() override {
    engine_.reset();
    desktop_->Uninstall();
  }
  std::unique_ptr<Workspace> Open(const std::string& script) {
    engine_->PutScript(sample::kArchive, script.empty() ? sample::Script() : script);
    auto w = std::make_unique<Workspace>(
        [](std::shared_ptr<kvthost::Form> f) -> std::unique_ptr<kvthost::IPerson> {
          return std::make_unique<kvthost::User>(std::move(f));
        });
    w->Use(engine_);
    w->Build(sample::kArchive, sample::kEntryForm);
    return w;
  }
  std::function<std::vector<std::string>()> Messages() {
    return [this] {
      std::vector<std::string> out;
      for (const auto& m : desktop_->Messages()) out.push_back(m.prompt);
      desktop_->ClearMessages();
      return out;
    };
  }
  // The reasons a document was refused, one text; "" when it was stored.
  std::string Enter(const Case& c) {
    auto w = Open(c.script);
    const auto out = EnterDocument(*w, c.values, Messages(), true, c.allow_duplicates);
    return Reasons(out.reasons, out.stored != 0);
  }
  std::string Import(const Case& c) {
    auto w = Open(c.script);
    std::vector<std::vector<std::string>> rows(2);
    for (const auto& [name, value] : c.values) {
      rows[0].push_back(name);
      rows[1].push_back(value);
    }
    ImportOptions options;
    options.allow_duplicates = c.allow_duplicates;
    ImportResult result;
    std::vector<std::pair<std::string, std::string>> reasons;
    ImportRows(
        *w, rows, Messages(), options, [&](std::size_t, const auto& why) { reasons = why; },
        nullptr, result);
    return Reasons(reasons, result.committed == 1);
  }
  static std::string Reasons(const std::vector<std::pair<std::string, std::string>>& reasons,
                             bool stored) {
    if (stored) return reasons.empty() ? "" : "stored, yet: " + reasons.front().second;
    std::string out;
    for (const auto& r : reasons) out += r.second + "\n";
    return out.empty() ? "refused without a reason" : out;
  }
  int Count() { return engine_->DocumentCount(sample::kArchive); }
  // The customer typed anew on the form, then saved.
  static SaveOutcome RetypeCustomer(Workspace& w, DocumentSession& session) {
    auto& p = w.Person();
    EXPECT_TRUE(p.Focus("Cliente"));
    p.Clear();
    p.Type("acme srl");
    return session.Save();
  }

  kvt::testing::TempDir dir_;
  std::shared_ptr<kvthost::Desktop> desktop_;
  std::shared_ptr<kvtsqlite::SqliteEngine> engine_;
};

TEST_F(SessionTest, EnterAndImportStoreAndRefuseByTheSameRules) {
  const std::string kWriteInto = "function uscita(n, v, c) if n == 'Cliente' then ";
  // 16 characters as given, 32 once upper-cased ("ß" is "SS"): too long for the field.
  std::string sharp;
  for (int i = 0; i < 16; ++i) sharp += "ß";
  const std::vector<Case> cases = {
      {"a clean invoice", "", kInvoice, false, false, nullptr},
      {"the required date left empty", "", Without(kInvoice, "DataDocumento"), false, false,
       "Campo obbligatorio da compilare: Data documento"},
      {"every missing field at once",
       "",
       {{"Cliente", "x"}},
       false,
       false,
       "Campi obbligatori da compilare: Numero documento, Data documento, Tipo documento"},
      {"upper case makes it longer", "", With(kInvoice, "CodiceFiscale", sharp), false, false,
       "ammette al massimo 16 caratteri"},
      {"a total too large", "", With(With(kInvoice, "Quantita", "10"), "Prezzo", "1e308"), false,
       false, "\"Totale\" contiene un numero non valido"},
      {"a script writing letters into digits",
       kWriteInto + "c:Item('NumeroDocumento').Value = '12ab' end end", kInvoice, false, false,
       "ammette solo valori numerici"},
      {"a script writing past the maximum",
       kWriteInto + "c:Item('CodiceFiscale').Value = string.rep('X', 50) end end", kInvoice, false,
       false, "ammette al massimo 16 caratteri"},
      {"a script writing a control character",
       kWriteInto + "c:Item('Email').Value = 'a\\27b' end end", kInvoice, false, false,
       "contiene un carattere di controllo (U+001B)"},
      {"a probable duplicate", "", kInvoice, true, false, "Esiste già un documento"},
      {"a duplicate allowed", "", kInvoice, true, true, nullptr},
      {"another number is no duplicate", "", With(kInvoice, "NumeroDocumento", "2028"), true, false,
       nullptr},
  };
  for (const Case& c : cases) {
    for (const bool by_import : {false, true}) {
      SCOPED_TRACE(std::string(c.what) + (by_import ? " (import)" : " (enter)"));
      for (const auto& d : engine_->ListDocuments(sample::kArchive)) engine_->DeleteDocument(d.id);
      if (c.stored_before) {
        ASSERT_EQ(Enter({"", "", kInvoice, false, false, nullptr}), "");
      }
      const int before = Count();
      const std::string reasons = by_import ? Import(c) : Enter(c);
      if (c.refusal) {
        EXPECT_THAT(reasons, ::testing::HasSubstr(c.refusal));
        EXPECT_EQ(Count(), before);
      } else {
        EXPECT_EQ(reasons, "");
        EXPECT_EQ(Count(), before + 1);
      }
    }
  }
}

TEST_F(SessionTest, ARowThatCannotBeEnteredAsGivenIsRefusedInTheRulesWords) {
  auto w = Open("");
  const std::vector<std::vector<std::string>> rows = {
      {"NumeroDocumento", "CodiceFiscale", "Cliente", "Email", "Nessuno"},
      {"2027", std::string(17, 'X'), "a\tb", "a\nb", ""},
      {"2028", "", "", "", "x"},
      {"2029", "", "", "", "", "in più"}};
  std::vector<std::string> said;
  ImportResult result;
  ImportRows(
      *w, rows, Messages(), {},
      [&](std::size_t row, const auto& why) {
        for (const auto& [field, text] : why) said.push_back(std::to_string(row) + ": " + text);
      },
      nullptr, result);
  EXPECT_THAT(said, ::testing::ElementsAre(
                        "1: Il campo \"Codice fiscale\" ammette al massimo 16 caratteri",
                        "1: Il campo \"Cliente\" contiene un carattere di controllo (U+0009)",
                        "1: Il campo \"E-mail\" ha una riga sola: il valore va a capo",
                        "2: L'archivio Fatture non ha il campo \"Nessuno\"",
                        "3: La riga ha più celle che colonne"));
  EXPECT_EQ(result.refused, 3u);
  EXPECT_EQ(Count(), 0);
}

TEST_F(SessionTest, ASavedDocumentIsCorrectedNotRepeatedAndCanBeDeleted) {
  auto w = Open("");
  DocumentSession session(*w);
  auto& p = w->Person();
  auto type = [&](const char* field, const char* text) {
    ASSERT_TRUE(p.Focus(field));
    p.Type(text);
  };
  type("NumeroDocumento", "1026");
  ASSERT_TRUE(p.Focus("DataDocumento"));
  p.PickDate(kvt::Variant(kvt::MakeDate(2026, 12, 6)));
  ASSERT_TRUE(p.Focus("TipoDocumento"));
  p.Choose("FAT");
  type("Cliente", "bianchi spa");  // still focused: its exit checks run before the save
  EXPECT_TRUE(session.Modified());
  const SaveOutcome first = session.Save();
  ASSERT_TRUE(first.Stored()) << first.Message();
  EXPECT_FALSE(first.corrected);
  EXPECT_FALSE(session.Modified());
  EXPECT_EQ(p.Focused(), "Cliente");  // the person goes on where they were
  auto stored = std::dynamic_pointer_cast<kvt::Dictionary>(engine_->LoadDocument(first.id));
  EXPECT_EQ(kvt::CStr(stored->Item("Cliente")), "BIANCHI SPA");  // the field's case rule

  EXPECT_EQ(session.Save().result, SaveOutcome::Result::kUnchanged);
  type("Note", "consegnata");
  const SaveOutcome second = session.Save();
  ASSERT_TRUE(second.Stored()) << second.Message();
  EXPECT_TRUE(second.corrected);
  EXPECT_EQ(second.id, first.id);
  EXPECT_EQ(Count(), 1);

  // A field whose checks refuse keeps the focus: nothing is stored.
  ASSERT_TRUE(p.Focus("NumeroDocumento"));
  p.Clear();
  p.Paste("9x");  // typed, the letter would be refused at once; pasted, the field's check says so
  const SaveOutcome refused = session.Save();
  EXPECT_EQ(refused.result, SaveOutcome::Result::kRefused);
  EXPECT_THAT(refused.Message(), ::testing::HasSubstr("ammette solo valori numerici"));
  EXPECT_EQ(p.Focused(), "NumeroDocumento");
  stored = std::dynamic_pointer_cast<kvt::Dictionary>(engine_->LoadDocument(first.id));
  EXPECT_EQ(kvt::CStr(stored->Item("NumeroDocumento")), "1026");

  EXPECT_TRUE(session.Delete());
  EXPECT_EQ(Count(), 0);
  EXPECT_EQ(session.Id(), 0);
  EXPECT_FALSE(session.Modified());
  EXPECT_FALSE(session.Delete());  // a new document is not stored: nothing to delete
}

// A probable duplicate the person confirms is stored as it was checked: the field is not left
// and checked a second time. Changed meanwhile, the document is checked again whole.
TEST_F(SessionTest, AConfirmedDuplicateIsStoredWithoutCheckingItAgain) {
  auto w = Open("");
  ASSERT_NE(EnterDocument(*w, kInvoice, Messages(), true, false).stored, 0);
  w->Rebuild();
  DocumentSession session(*w);
  auto& p = w->Person();
  auto type_invoice = [&] {
    for (const auto& [field, value] : kInvoice) {
      ASSERT_TRUE(p.Focus(field));
      if (field == "DataDocumento") {
        p.PickDate(kvt::Variant(kvt::MakeDate(2026, 12, 6)));
      } else if (field == "TipoDocumento") {
        p.Choose(value);
      } else {
        p.Clear();
        p.Type(value);
      }
    }
  };
  int left = 0;  // the focused field's checks as the save leaves it
  kvt::Subscription watch;
  auto count_leaving = [&] {  // on the customer's box of the form now built
    watch = w->Window().FindControl("Cliente")->FocusEvents()->Validate.Subscribe(
        [&](bool&) { ++left; });
  };
  count_leaving();
  type_invoice();
  EXPECT_EQ(session.Save().result, SaveOutcome::Result::kDuplicate);
  EXPECT_EQ(left, 1);
  EXPECT_EQ(p.Focused(), "Cliente");
  const SaveOutcome stored = session.Save(/*allow_duplicate=*/true);
  ASSERT_TRUE(stored.Stored()) << stored.Message();
  EXPECT_EQ(left, 1);
  EXPECT_EQ(Count(), 2);
  EXPECT_FALSE(session.Modified());

  session.New();
  count_leaving();
  type_invoice();
  EXPECT_EQ(session.Save().result, SaveOutcome::Result::kDuplicate);
  p.Type(" bis");  // typed after the question: checked again, the new text stored
  left = 0;
  const SaveOutcome again = session.Save(true);
  ASSERT_TRUE(again.Stored()) << again.Message();
  EXPECT_EQ(left, 1);
  auto values = std::dynamic_pointer_cast<kvt::Dictionary>(engine_->LoadDocument(again.id));
  EXPECT_EQ(kvt::CStr(values->Item("Cliente")), "BETA SRL BIS");
}

// A note typed with lines on the entry form is corrected on the review form, which shows it on
// one line: the stored lines are kept; a line end typed there is still refused.
TEST_F(SessionTest, AStoredNoteWithLinesStaysCorrectableOnAOneLineForm) {
  auto values = kvt::Dictionary::Create();
  values->Add("NumeroDocumento", "1026");
  values->Add("DataDocumento", "06/12/2026");
  values->Add("TipoDocumento", "FAT");
  values->Add("Cliente", "ACME");
  values->Add("Note", "riga uno\r\nriga due");
  const auto id = engine_->SaveDocument(sample::kArchive, values);
  auto w = Open("");
  DocumentSession session(*w);
  session.Open(id, sample::kReviewForm);
  const SaveOutcome out = RetypeCustomer(*w, session);
  ASSERT_TRUE(out.Stored()) << out.Message();
  auto stored = std::dynamic_pointer_cast<kvt::Dictionary>(engine_->LoadDocument(id));
  EXPECT_EQ(kvt::CStr(stored->Item("Note")), "riga uno\r\nriga due");
  EXPECT_EQ(kvt::CStr(stored->Item("Cliente")), "ACME SRL");
  w->Fields().Item(kvt::Variant("Note"))->LetValue(kvt::Variant("una\rdue"));  // a script's
  EXPECT_THAT(session.Save().Message(), ::testing::HasSubstr("carattere di controllo (U+000D)"));
}

// A document stored before a field was renamed or deleted opens, is corrected, and keeps the
// values under the old names as they were.
TEST_F(SessionTest, ValuesUnderNamesTheFormDoesNotShowSurviveACorrection) {
  auto values = kvt::Dictionary::Create();
  values->Add("NumeroDocumento", "1026");
  values->Add("DataDocumento", "06/12/2026");
  values->Add("TipoDocumento", "FAT");
  values->Add("Cliente", "ACME");
  values->Add("Item Note", "vecchio campo");
  values->Add("Sconto", "3");  // a field since deleted
  const auto id = engine_->SaveDocument(sample::kArchive, values);
  auto w = Open("");
  DocumentSession session(*w);
  session.Open(id, sample::kReviewForm);
  ASSERT_EQ(session.Extras().size(), 2u);
  EXPECT_EQ(session.Extras()[0].first, "Item Note");
  const SaveOutcome out = RetypeCustomer(*w, session);
  ASSERT_TRUE(out.Stored()) << out.Message();
  auto stored = std::dynamic_pointer_cast<kvt::Dictionary>(engine_->LoadDocument(id));
  EXPECT_EQ(kvt::CStr(stored->Item("Cliente")), "ACME SRL");
  EXPECT_EQ(kvt::CStr(stored->Item("Item Note")), "vecchio campo");
  EXPECT_EQ(kvt::CStr(stored->Item("Sconto")), "3");
  session.New();
  EXPECT_TRUE(session.Extras().empty());
}

// Two clerks correct one document: fields only one of them changed merge, the fields both
// changed are named, and the clerk's answer decides them.
TEST_F(SessionTest, ACorrectionMeetingAnotherMergesAndAsksOnlyAboutFieldsBothChanged) {
  auto values = kvt::Dictionary::Create();
  values->Add("NumeroDocumento", "1026");
  values->Add("DataDocumento", "06/12/2026");
  values->Add("TipoDocumento", "FAT");
  values->Add("Cliente", "ACME");
  values->Add("Note", "");
  const auto id = engine_->SaveDocument(sample::kArchive, values);
  auto other = [&](const char* field, const char* value) {
    kvtengine::VersionInfo read;
    auto v = std::dynamic_pointer_cast<kvt::Dictionary>(engine_->LoadDocumentAt(id, read));
    v->LetItem(field, kvt::Variant(value));
    engine_->CorrectDocument(id, v, read.version);
  };
  auto w = Open("");
  DocumentSession session(*w);
  session.Open(id);
  auto& p = w->Person();
  auto stored = [&](const char* field) {
    return kvt::CStr(
        std::dynamic_pointer_cast<kvt::Dictionary>(engine_->LoadDocument(id))->Item(field));
  };
  other("Cliente", "BETA");
  ASSERT_TRUE(p.Focus("Note"));
  p.Type("urgente");
  SaveOutcome out = session.Save();
  ASSERT_EQ(out.result, SaveOutcome::Result::kConflict);
  EXPECT_TRUE(out.both_changed.empty());
  out = session.Merge(false);
  ASSERT_TRUE(out.Stored()) << out.Message();
  EXPECT_TRUE(out.merged);
  EXPECT_EQ(stored("Cliente"), "BETA");
  EXPECT_EQ(stored("Note"), "urgente");
  EXPECT_EQ(engine_->History(id).back().change, kvtengine::Change::kCorrect);
  EXPECT_FALSE(session.Modified());
  EXPECT_EQ(p.Focused(), "Note");  // where the clerk was

  other("Cliente", "GAMMA");
  other("Note", "urgentissimo");
  ASSERT_TRUE(p.Focus("Cliente"));
  p.Clear();
  p.Type("delta");
  ASSERT_TRUE(p.Focus("NumeroDocumento"));
  p.Clear();
  p.Type("1027");
  out = session.Save();
  ASSERT_EQ(out.result, SaveOutcome::Result::kConflict);
  ASSERT_EQ(out.both_changed.size(), 1u);
  EXPECT_EQ(out.both_changed[0],
            std::make_tuple(std::string("Cliente"), std::string("DELTA"), std::string("GAMMA")));
  out = session.Merge(true);
  ASSERT_TRUE(out.Stored()) << out.Message();
  EXPECT_EQ(stored("Cliente"), "DELTA");         // mine, where both changed
  EXPECT_EQ(stored("NumeroDocumento"), "1027");  // mine
  EXPECT_EQ(stored("Note"), "urgentissimo");     // theirs
  EXPECT_EQ(engine_->History(id).back().change, kvtengine::Change::kOverwrite);

  // Giving up one's own value where both changed, with nothing else of one's own: nothing new.
  other("Cliente", "EPSILON");
  ASSERT_TRUE(p.Focus("Cliente"));
  p.Clear();
  p.Type("zeta");
  ASSERT_TRUE(p.Focus("NumeroDocumento"));
  const auto versions = engine_->History(id).size();
  out = session.Save();
  ASSERT_EQ(out.result, SaveOutcome::Result::kConflict);
  out = session.Merge(false);
  EXPECT_EQ(out.result, SaveOutcome::Result::kUnchanged);
  EXPECT_EQ(engine_->History(id).size(), versions);
  EXPECT_EQ(kvt::CStr(w->Fields().Item(kvt::Variant("Cliente"))->Value()), "EPSILON");
  EXPECT_FALSE(session.Modified());
}

// The next document keeps the retained fields; the clerk starts at the first required field
// still empty, wherever the paste left the focus.
TEST_F(SessionTest, TheNextDocumentStartsAtTheFirstEmptyRequiredField) {
  auto w = Open("");
  DocumentSession session(*w);
  auto& p = w->Person();
  ASSERT_TRUE(p.Focus("TipoDocumento"));
  p.Choose("NC");
  ASSERT_TRUE(p.Focus("Cliente"));
  p.Type("rossi");
  ASSERT_TRUE(p.Focus("NumeroDocumento"));
  session.Next();
  EXPECT_EQ(kvt::CStr(w->Fields().Item(kvt::Variant("Cliente"))->Value()), "ROSSI");
  EXPECT_EQ(p.Focused(), "NumeroDocumento");
  EXPECT_FALSE(session.Modified());
}

// A new document starts where a clerk starts too: at the first required field, not the first.
TEST_F(SessionTest, ANewDocumentStartsAtTheFirstRequiredField) {
  sample::CreateScaledArchive(*engine_, "Scala", 10);  // Campo7 the first required
  auto w = std::make_unique<Workspace>(
      [](std::shared_ptr<kvthost::Form> f) -> std::unique_ptr<kvthost::IPerson> {
        return std::make_unique<kvthost::User>(std::move(f));
      });
  w->Use(engine_);
  w->Build("Scala", sample::kEntryForm);
  DocumentSession session(*w);
  auto& p = w->Person();
  ASSERT_TRUE(p.Focus("Campo2"));
  p.Type("x");
  session.New();
  EXPECT_EQ(p.Focused(), "Campo7");
  EXPECT_FALSE(session.Modified());
}

// The navigator walks an archive of thousands a page of ids at a time and still knows where
// every document is; a walk with criteria holds only the documents meeting them.
TEST_F(SessionTest, AWalkFindsEveryDocumentByPositionAndPositionByDocument) {
  std::vector<std::int32_t> ids, credit_notes;
  engine_->Transaction([&] {
    for (int i = 0; i < 2600; ++i) {
      auto values = kvt::Dictionary::Create();
      values->Add("NumeroDocumento", kvt::Variant(std::to_string(30000 + i)));
      values->Add("TipoDocumento", kvt::Variant(std::string(i % 3 ? "FAT" : "NC")));
      ids.push_back(engine_->SaveDocument(sample::kArchive, values));
      if (i % 3 == 0) credit_notes.push_back(ids.back());
    }
  });
  DocumentWalk all(engine_, sample::kArchive);
  ASSERT_EQ(all.Count(), 2600);
  EXPECT_EQ(all.At(0), ids.front());
  EXPECT_EQ(all.At(1500), ids[1500]);  // past the first page
  EXPECT_EQ(all.IndexOf(ids[2001]), 2001);
  EXPECT_EQ(all.At(2599), ids.back());
  EXPECT_EQ(all.At(2600), 0);
  EXPECT_EQ(all.At(-1), 0);
  EXPECT_EQ(all.IndexOf(ids.back() + 1), -1);

  // The last one first: read at once, and the count follows documents deleted meanwhile.
  engine_->DeleteDocument(ids[5]);
  DocumentWalk notes(engine_, sample::kArchive,
                     {{"TipoDocumento", kvtengine::Criterion::Op::kEqual, "NC", ""}});
  ASSERT_EQ(notes.Count(), static_cast<std::int64_t>(credit_notes.size()));
  engine_->DeleteDocument(credit_notes[1]);
  EXPECT_EQ(notes.Last(), credit_notes.back());
  EXPECT_EQ(notes.Count(), static_cast<std::int64_t>(credit_notes.size()) - 1);
  EXPECT_EQ(notes.IndexOf(ids[1]), -1);  // an invoice
  EXPECT_EQ(notes.IndexOf(credit_notes[2]), 1);
  notes.Forget(credit_notes[2]);
  EXPECT_EQ(notes.At(1), credit_notes[3]);
  EXPECT_EQ(notes.Count(), static_cast<std::int64_t>(credit_notes.size()) - 2);
}

// What a person reads when the database fails: Italian words for what happened and what to
// do, the engine's own text kept for the details.
TEST(ProblemTest, DatabaseFailuresAreToldInItalianWithTheOriginalKeptApart) {
  kvt::testing::TempDir dir;
  auto told = [](const std::function<void()>& fail) {
    try {
      fail();
    } catch (const std::exception& e) {
      return ProblemOf(e);
    }
    return Problem{};
  };
  Problem p = told([&] { kvtsqlite::SqliteEngine::Open(dir.File("manca.kvtdb"), false); });
  EXPECT_EQ(p.happened, "Il database non si trova.");
  EXPECT_THAT(p.details, ::testing::HasSubstr("manca.kvtdb"));
  EXPECT_THAT(p.details, ::testing::StartsWith("Errore "));

  const std::string text = dir.File("lettera.kvtdb");
  std::FILE* f = std::fopen(text.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("Gentile cliente, ...", f);
  std::fclose(f);
  p = told([&] { kvtsqlite::SqliteEngine::Open(text, false); });
  EXPECT_EQ(p.happened, "Il file scelto non è un database di kvtfields.");

  p = told([] { kvtapp::OpenEngine("postgresql://nessuno@127.0.0.1:1/archivio", false); });
  EXPECT_EQ(p.happened, "Il server del database non risponde o il collegamento si è interrotto.");
  EXPECT_THAT(p.details, ::testing::Not(::testing::HasSubstr("password=")));

  p = told([] {
    throw kvtengine::EngineError(kvtengine::kDatabaseError, "kvtDBEngine.DBEngine",
                                 "document 3 of 'f.kvtdb' is damaged: its values are not JSON");
  });
  EXPECT_EQ(p.happened,
            "Il documento 3 nel file è danneggiato: non è stato scritto da kvtfields. Gli altri si "
            "leggono.");

  // Known by its number, whatever the words (an archive named like another error's text).
  p = told([&] {
    Workspace w([](auto) { return nullptr; });
    w.Open(dir.File("f.kvtdb"), true);
    w.Build("is damaged", "Inserimento");
  });
  EXPECT_EQ(p.happened, "Il database non contiene l'archivio richiesto.");

  p = told([] { throw std::bad_alloc(); });
  EXPECT_EQ(p.happened, "Il programma ha incontrato un errore interno.");
  EXPECT_FALSE(p.todo.empty());
}

TEST(CsvReaderTest, RowsComeOneAtATimeWithTheirLinesWhateverTheFileHolds) {
  // A byte-order mark, a comma header, a quoted line end and quote, CRLF, runs of blank lines.
  std::string text = "\xEF\xBB\xBFNome,Note\r\nAcme,\"riga uno\nriga \"\"due\"\"\"\r\n";
  text += std::string(100000, '\n');
  text += "Beta,;\nGamma,\"\"";
  std::istringstream in(text);
  CsvReader reader(in);
  std::vector<std::string> row;
  int line = 0;
  ASSERT_TRUE(reader.Next(row, line));
  EXPECT_EQ(reader.Separator(), ',');
  EXPECT_EQ(row, (std::vector<std::string>{"Nome", "Note"}));
  ASSERT_TRUE(reader.Next(row, line));
  EXPECT_EQ(row, (std::vector<std::string>{"Acme", "riga uno\nriga \"due\""}));
  EXPECT_EQ(line, 2);
  ASSERT_TRUE(reader.Next(row, line));
  EXPECT_EQ(row, (std::vector<std::string>{"Beta", ";"}));
  EXPECT_EQ(line, 100004);
  ASSERT_TRUE(reader.Next(row, line));
  EXPECT_EQ(row, (std::vector<std::string>{"Gamma", ""}));
  EXPECT_FALSE(reader.Next(row, line));
  EXPECT_FALSE(reader.Next(row, line));

  std::istringstream open("a;b\n1;\"non chiusa\n\n");
  CsvReader unclosed(open);
  ASSERT_TRUE(unclosed.Next(row, line));
  try {
    unclosed.Next(row, line);
    ADD_FAILURE() << "an open quote was taken";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), ::testing::HasSubstr("line 2"));
  }
}

}  // namespace
}  // namespace kvtapp
