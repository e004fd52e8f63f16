// What every database engine must do, run on each engine: SQLite on a file, PostgreSQL on a
// new database of the test server. Then what several people at once need, on two real
// connections to one PostgreSQL database.
#include <signal.h>

#include <filesystem>
#include <fstream>

#include <algorithm>
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "archives/sample_archive.h"
#include "engine/common/file_store.h"
#include "engine/common/forwarding_engine.h"
#include "engine/files/sha256.h"
#include "engine/postgresql/pg_database.h"
#include "engine/postgresql/pg_engine.h"
#include "engine/sqlite/sqlite_engine.h"
#include "pg_test_server.h"
#include "runtime/platform.h"
#include "temp_dir.h"
#include "test_support.h"

namespace kvtengine {
namespace {

namespace sample = kvtarchive::sample;
using kvt::CStr;
using kvt::Variant;
using kvt::testing::CaptureError;
using kvt::testing::ErrorIs;

// A window system's loop in miniature: work posted from other threads waits for Run.
class LoopPlatform final : public kvt::RecordingPlatform {
 public:
  bool PostsWork() const override { return true; }
  void Post(std::function<void()> work) override {
    std::lock_guard lock(m_);
    queue_.push_back(std::move(work));
  }
  void Run() {
    std::vector<std::function<void()>> now;
    {
      std::lock_guard lock(m_);
      now.swap(queue_);
    }
    for (auto& w : now) w();
  }

 private:
  std::mutex m_;
  std::vector<std::function<void()>> queue_;
};

constexpr std::uint32_t kBadFilterNumber = kvt::kObjectErrorBase + kBadFilter;

// The codes of a record set as "COD=VALUE" pairs, in row order.
std::string Codes(const std::shared_ptr<kvt::RecordSet>& rs) {
  std::string out;
  for (; !rs->Eof(); rs->MoveNext()) {
    out += CStr(rs->Value("COD")) + "=" + kvt::JoinText(rs->Value("VALUE")) + ";";
  }
  return out;
}

// A record set in full, with each value's kind, so that two answers compare exactly.
std::string Dump(const std::shared_ptr<kvt::RecordSet>& rs) {
  std::string out;
  for (std::int32_t c = 0; c < rs->FieldCount(); ++c) out += rs->FieldName(c) + "|";
  for (; !rs->Eof(); rs->MoveNext()) {
    out += "\n";
    for (std::int32_t c = 0; c < rs->FieldCount(); ++c) {
      const Variant v = rs->Value(c);
      out += std::to_string(static_cast<int>(v.Type())) + ":" + kvt::JoinText(v) + "|";
    }
  }
  return out;
}

// One engine as the suite drives it: a database of its own, and connections to it.
class EngineDriver {
 public:
  virtual ~EngineDriver() = default;
  /// Why the engine cannot run here (no test server), or empty.
  virtual std::string Unavailable() const { return {}; }
  /// Makes the database the test works on.
  virtual void MakeDatabase() = 0;
  /// A connection to it, as one person's program has; each call a new one.
  virtual std::shared_ptr<ArchiveEngine> Connect() = 0;
  /// Changes the first byte of every kept file's first piece behind the engine's back, as a
  /// failing disk or a hand on the database would.
  virtual void FlipFirstBytes() = 0;
};

class SqliteDriver : public EngineDriver {
 public:
  void MakeDatabase() override { path_ = dir_.File("archivio.kvtdb"); }
  std::shared_ptr<ArchiveEngine> Connect() override { return kvtsqlite::SqliteEngine::Open(path_); }
  void FlipFirstBytes() override {
    for (const auto& e : std::filesystem::recursive_directory_iterator(path_ + ".files")) {
      if (!e.is_regular_file()) continue;
      std::fstream f(e.path(), std::ios::in | std::ios::out | std::ios::binary);
      f.seekp(0);
      f.put('\0');
    }
  }

 private:
  kvt::testing::TempDir dir_;
  std::string path_;
};

class PgDriver final : public EngineDriver {
 public:
  std::string Unavailable() const override {
    return kvt::testing::PgServer() ? "" : "no PostgreSQL test server (run through ctest)";
  }
  void MakeDatabase() override { where_ = kvt::testing::FreshPgDatabase(); }
  std::shared_ptr<ArchiveEngine> Connect() override { return kvtpg::PgEngine::Open(where_); }
  void FlipFirstBytes() override {
    kvtpg::PgDatabase::Open(where_, false)
        ->Execute("UPDATE file_pieces SET bytes = set_byte(bytes, 0, 0) WHERE seq = 0");
  }

 private:
  std::string where_;
};

// SQLite behind the forwarding engine: every call passed on must leave the answers as they are.
class ForwardingDriver final : public SqliteDriver {
 public:
  std::shared_ptr<ArchiveEngine> Connect() override {
    return std::make_shared<ForwardingEngine>(SqliteDriver::Connect());
  }
};

struct Engine {
  const char* name;
  std::function<std::unique_ptr<EngineDriver>()> make;
};

class EngineTest : public ::testing::TestWithParam<Engine> {
 protected:
  void SetUp() override {
    driver_ = GetParam().make();
    if (const std::string why = driver_->Unavailable(); !why.empty()) GTEST_SKIP() << why;
    driver_->MakeDatabase();
    engine_ = Connect();
  }
  // Another connection to the same database, as a second person's program has.
  std::shared_ptr<ArchiveEngine> Connect() const { return driver_->Connect(); }
  std::shared_ptr<kvt::RecordSet> CodeList(const std::string& filter) {
    return engine_->GetCodeList(filter);
  }
  // Every answer the component can ask for while building the archive's forms.
  std::string Answers(ArchiveEngine& e, const std::string& archive) {
    std::string out;
    const auto names = e.GetFormFields(archive);
    const auto forms = e.ListForms(archive);
    for (const auto& form : forms) {
      for (const auto& n : names) {
        out += n + "\n" + Dump(e.GetFieldDefinition(archive, n)) + "\n";
        const Variant layout = e.GetFieldVisualProperties(archive, n, form);
        out += layout.IsNothing() ? std::string("Nothing")
                                  : Dump(kvt::FromVariant<std::shared_ptr<kvt::RecordSet>>(layout));
        out += "\n" +
               Dump(e.GetCodeList("archive = '" + archive + "' and fieldType='" + n +
                                  "' order by cod")) +
               "\n";
      }
      e.GetFormFields(archive);  // the next form is another build
    }
    return out;
  }

  std::unique_ptr<EngineDriver> driver_;
  std::shared_ptr<ArchiveEngine> engine_;
};

TEST_P(EngineTest, DefinitionsRoundTripInArchiveOrderAndAsStored) {
  engine_->PutField({.archive = "A1", .name = "Zeta", .label = "Ultimo", .max_len = 5});
  engine_->PutField({.archive = "A1", .name = "Alfa", .label = "Secondo", .type = "Calendar"});
  engine_->PutField({.archive = "A2", .name = "Altro"});
  engine_->PutField({.archive = "A3",
                     .name = "F",
                     .label = Variant::Null(),
                     .descr = "Riga 1\n\"citata\" \\ già ✓",
                     .max_len = "abc",
                     .min_len = 100000,
                     .priority = 5.0,
                     .is_index = 2.5,
                     .is_required = true,
                     .type = Variant::Null()});
  EXPECT_EQ(engine_->GetFormFields("A1"), (std::vector<std::string>{"Zeta", "Alfa"}));
  EXPECT_TRUE(engine_->GetFormFields("Nessuno").empty());
  auto rs = engine_->GetFieldDefinition("A1", "Alfa");
  ASSERT_FALSE(rs->Eof());
  ASSERT_EQ(rs->FieldCount(), 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(rs->FieldName(i), DefinitionColumns()[i]);
  EXPECT_EQ(CStr(rs->Value("Label")), "Secondo");
  EXPECT_EQ(CStr(rs->Value("Type")), "Calendar");
  EXPECT_TRUE(engine_->GetFieldDefinition("A1", "alfa")->Eof());  // names are exact

  rs = engine_->GetFieldDefinition("A3", "F");
  EXPECT_TRUE(rs->Value("Label").IsNull());
  EXPECT_EQ(CStr(rs->Value("Descr")), "Riga 1\n\"citata\" \\ già ✓");
  EXPECT_EQ(rs->Value("MaxLen").Type(), kvt::VarType::kString);
  EXPECT_EQ(rs->Value("MinLen").Type(), kvt::VarType::kLong);
  EXPECT_EQ(kvt::CLng(rs->Value("MinLen")), 100000);
  EXPECT_EQ(rs->Value("Priority").Type(), kvt::VarType::kDouble);
  EXPECT_EQ(rs->Value("IsIndex").Type(), kvt::VarType::kDouble);
  EXPECT_EQ(kvt::CLng(rs->Value("IsRequired")), 1);
  EXPECT_TRUE(rs->Value("Type").IsNull());
  EXPECT_THAT(
      CaptureError([&] { engine_->PutField({.archive = "A1", .name = "ZETA"}); }),
      ErrorIs(kvt::kObjectErrorBase + kBadDefinition, "differs from it only in letter case"));
}

TEST_P(EngineTest, CodeFiltersSelectTheirCodesInCodeOrderAndNothingElse) {
  for (const auto& [f, c, d] :
       std::vector<std::array<std::string, 3>>{{"F1", "Z9", "ultimo"},
                                               {"F1", "B2", "secondo"},
                                               {"F1", "A1", "primo"},
                                               {"F1", "a0", "minuscolo"},
                                               {"F2", "A0", "altro campo"}}) {
    engine_->AddCode("A1", f, c, d);
  }
  engine_->AddCode("A2", "F1", "A0", "altro archivio");
  EXPECT_EQ(Codes(CodeList("archive = 'A1' and fieldType='F1' order by cod")),
            "A1=primo;B2=secondo;Z9=ultimo;a0=minuscolo;");
  EXPECT_EQ(Codes(CodeList("ARCHIVE='A1' AND fieldtype = 'F1' ORDER BY cod DESC")),
            "a0=minuscolo;Z9=ultimo;B2=secondo;A1=primo;");
  engine_->AddCode("A1", "F1", "B2", "secondo, corretto");
  std::string a = "A1", f = "F1", code = "Z9";
  engine_->DeleteCode(a, f, code);
  EXPECT_EQ(Codes(CodeList("archive = 'A1' and fieldType = 'F1' and value = 'secondo, corretto'")),
            "B2=secondo, corretto;");

  // Names with apostrophes, read whole from the component's own filter.
  engine_->AddCode("Fatture dell'anno", "Sant'Angelo", "C1", "uno");
  engine_->AddCode("Fatture dell'anno", "Altro", "X", "altro campo");
  EXPECT_EQ(
      Codes(CodeList("archive = 'Fatture dell'anno' and fieldType='Sant'Angelo' order by cod")),
      "C1=uno;");
  EXPECT_EQ(Codes(CodeList("archive = 'Fatture dell''anno' and fieldType = 'Altro'")),
            "X=altro campo;");
  for (const char* bad : {"archive = 'a'b'", "archive = 'x' and fieldType='y' order by cod; --",
                          "archive = 'A1'; DROP TABLE code_lists", "secret = 'A'"}) {
    EXPECT_EQ(CaptureError([&] { CodeList(bad); }).Number(), kBadFilterNumber) << bad;
  }
  EXPECT_EQ(Codes(CodeList("archive = 'A2'")), "A0=altro archivio;");  // the table is still there
}

TEST_P(EngineTest, LayoutsScriptsAndListsOfArchivesAndForms) {
  sample::CreateSampleArchive(*engine_);
  sample::CreateScaledArchive(*engine_, "Anagrafica", 3);
  engine_->PutLayout({"A", "F", "Modulo", 1200, 600, false, true, false});
  std::string a = "A", f = "F", form = "Modulo", other = "Altro";
  EXPECT_TRUE(engine_->GetFieldVisualProperties(a, f, other).IsNothing());
  auto rs = kvt::FromVariant<std::shared_ptr<kvt::RecordSet>>(
      engine_->GetFieldVisualProperties(a, f, form));
  ASSERT_EQ(rs->FieldCount(), 8);
  EXPECT_EQ(rs->FieldName(0), "archive");
  EXPECT_EQ(kvt::CLng(rs->Value("Width")), 1200);
  EXPECT_FALSE(kvt::CBool(rs->Value("BreakLine")));
  EXPECT_EQ(engine_->ListArchives(), (std::vector<std::string>{"Anagrafica", "Fatture"}));
  EXPECT_EQ(engine_->ListForms("Fatture"),
            (std::vector<std::string>{sample::kReviewForm, sample::kEntryForm}));
  EXPECT_EQ(CStr(engine_->GetScript(sample::kArchive)), sample::Script());
  EXPECT_TRUE(engine_->GetScript("nessuno").IsNull());
  engine_->DeleteArchive("Anagrafica");
  EXPECT_FALSE(engine_->HasArchive("Anagrafica"));
  EXPECT_TRUE(engine_->HasArchive("Fatture"));
  engine_->SaveDocument("Dismesso", kvt::Dictionary::Create());  // documents outlive fields
  EXPECT_EQ(engine_->ListAllArchives(), (std::vector<std::string>{"Dismesso", "Fatture"}));
}

TEST_P(EngineTest, TheAutocompleteStoreRanksByUseThenRecencyAndKeepsKeysApart) {
  const kvt::ObjectRef handle = engine_->Connection()->AdoConnection().AsObject();
  auto* store = dynamic_cast<kvtfields::IAutoCompleteStore*>(handle.get());
  ASSERT_NE(store, nullptr);
  const auto all = [](std::string_view) { return true; };
  for (const char* v : {"Beta", "Acme", "Beta", "Gamma"}) store->Learn("SYS_AUTOCOMPLETE", "k", v);
  store->Learn("SYS_AUTOCOMPLETE", "other", "Delta");
  EXPECT_EQ(store->LookUp("SYS_AUTOCOMPLETE", "k", all, 8),
            (std::vector<std::string>{"Beta", "Gamma", "Acme"}));
  EXPECT_EQ(store->LookUp("SYS_AUTOCOMPLETE", "k", all, 1), std::vector<std::string>{"Beta"});
  store->Forget("SYS_AUTOCOMPLETE", "k", "Beta");
  store->Forget("SYS_AUTOCOMPLETE", "k", "never learnt");
  EXPECT_EQ(store->LookUp("SYS_AUTOCOMPLETE", "k", all, 8),
            (std::vector<std::string>{"Gamma", "Acme"}));
  EXPECT_EQ(CaptureError([&] { store->Learn("x; DROP TABLE scripts", "k", "v"); }).Number(), 5u);

  // By prefix, from the index: any letter case unless asked, in the same order, never another
  // key's values; the highest characters and LIKE's own stay literal.
  for (const char* v : {"ÈLITE", "èlite due", "Elite", "el%", "Èlite"}) {
    store->Learn("SYS_AUTOCOMPLETE", "k", v);
  }
  store->Learn("SYS_AUTOCOMPLETE", "k", "èlite due");
  store->Learn("SYS_AUTOCOMPLETE", "other", "Èlite altrove");
  EXPECT_EQ(store->StartingWith("SYS_AUTOCOMPLETE", "k", "èl", false, 8),
            (std::vector<std::string>{"èlite due", "Èlite", "ÈLITE"}));
  EXPECT_EQ(store->StartingWith("SYS_AUTOCOMPLETE", "k", "Èl", true, 8),
            (std::vector<std::string>{"Èlite"}));
  EXPECT_EQ(store->StartingWith("SYS_AUTOCOMPLETE", "k", "EL", false, 1),
            std::vector<std::string>{"el%"});
  EXPECT_TRUE(store->StartingWith("SYS_AUTOCOMPLETE", "k", "el_", false, 8).empty());
  EXPECT_TRUE(store->StartingWith("SYS_AUTOCOMPLETE", "k", "\xf4\x8f\xbf\xbf", false, 8).empty());

  // Under a window system with a loop, the answer comes later, from a connection of its own,
  // through the loop.
  auto loop = std::make_shared<LoopPlatform>();
  kvt::ScopedPlatform with_loop(loop);
  std::vector<std::vector<std::string>> answers;
  for (const char* prefix : {"e", "èl", "èli"}) {
    store->StartingWithLater("SYS_AUTOCOMPLETE", "k", prefix, false, 8,
                             [&](std::vector<std::string> a) { answers.push_back(std::move(a)); });
  }
  EXPECT_TRUE(answers.empty());
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (std::chrono::steady_clock::now() < until &&
         (answers.empty() ||
          answers.back() != std::vector<std::string>{"èlite due", "Èlite", "ÈLITE"})) {
    loop->Run();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_FALSE(answers.empty());
  EXPECT_EQ(answers.back(), (std::vector<std::string>{"èlite due", "Èlite", "ÈLITE"}));
}

TEST_P(EngineTest, SearchesPageByKeysetAndCountOnTheFieldsKinds) {
  engine_->PutField({.archive = "Fatture", .name = "Numero"});
  engine_->PutField({.archive = "Fatture", .name = "Data", .type = "Calendar"});
  engine_->PutField({.archive = "Fatture", .name = "Importo", .data_format = 1});
  engine_->PutField({.archive = "Fatture", .name = "Cliente"});
  std::vector<std::int32_t> ids;
  const char* customers[] = {"Rossi & C.", "ROSSINI", "Bianchi 50%", "rossi & c."};
  const char* amounts[] = {"1000", "123", "999,5", "-2"};
  for (int i = 0; i < 12; ++i) {
    auto d = kvt::Dictionary::Create();
    d->Add("Numero", Variant(std::to_string(100 + i)));
    d->Add("Data", i % 2 ? Variant(kvt::MakeDate(2025, 1 + i, 10))
                         : Variant("0" + std::to_string(1 + i % 9) + "/12/2024"));
    d->Add("Importo", Variant(amounts[i % 4]));
    d->Add("Cliente", Variant(customers[i % 4]));
    ids.push_back(engine_->SaveDocument("Fatture", d));
  }
  auto other = kvt::Dictionary::Create();
  other->Add("Cliente", "Rossi & C.");
  engine_->SaveDocument("Altro", other);
  using Op = kvtengine::Criterion::Op;
  auto find = [&](std::vector<kvtengine::Criterion> c, std::int32_t after = 0,
                  std::int32_t n = 50) { return engine_->SearchDocuments("Fatture", c, after, n); };
  auto pick = [&](std::initializer_list<int> which) {
    std::vector<std::int32_t> out;
    for (int i : which) out.push_back(ids[static_cast<std::size_t>(i)]);
    return out;
  };
  // Equal and starts-with ignore letter case; contains takes %, _ and & literally.
  EXPECT_EQ(find({{"Cliente", Op::kEqual, "ROSSI & c.", ""}}), pick({0, 3, 4, 7, 8, 11}));
  EXPECT_EQ(find({{"Cliente", Op::kPrefix, "ross", ""}}), pick({0, 1, 3, 4, 5, 7, 8, 9, 11}));
  EXPECT_EQ(find({{"Cliente", Op::kContains, "50%", ""}}), pick({2, 6, 10}));
  EXPECT_TRUE(find({{"Cliente", Op::kContains, "5_%", ""}}).empty());
  EXPECT_EQ(find({{"", Op::kContains, "nchi", ""}}), pick({2, 6, 10}));
  // In every field, numbers and dates are found as they are written.
  EXPECT_EQ(find({{"", Op::kContains, "999,5", ""}}), pick({2, 6, 10}));
  EXPECT_EQ(find({{"", Op::kContains, "/12/2024", ""}}), pick({0, 2, 4, 6, 8, 10}));
  // Numbers and dates compare as such, Italian-written or typed; ends included.
  EXPECT_EQ(find({{"Importo", Op::kRange, "124", "1.000"}}), pick({0, 2, 4, 6, 8, 10}));
  EXPECT_EQ(find({{"Importo", Op::kRange, "", "0"}}), pick({3, 7, 11}));
  EXPECT_EQ(find({{"Importo", Op::kEqual, "999,50", ""}}), pick({2, 6, 10}));
  EXPECT_EQ(find({{"Data", Op::kRange, "01/03/2025", "10/06/2025"}}), pick({3, 5}));
  EXPECT_EQ(find({{"Data", Op::kEqual, "2024-12-03", ""}}), pick({2}));
  // Several together; one page at a time after the last id seen; the count of all.
  const std::vector<kvtengine::Criterion> two = {{"Cliente", Op::kPrefix, "ross", ""},
                                                 {"Importo", Op::kRange, "100", ""}};
  EXPECT_EQ(find(two), pick({0, 1, 4, 5, 8, 9}));
  EXPECT_EQ(find(two, 0, 4), pick({0, 1, 4, 5}));
  EXPECT_EQ(find(two, ids[5], 4), pick({8, 9}));
  EXPECT_EQ(engine_->CountDocuments("Fatture", two), 6);
  EXPECT_EQ(engine_->CountDocuments("Fatture", {}), 12);
  EXPECT_EQ(find({}, ids[9], 50), pick({10, 11}));
  // What a field cannot hold, or a field the archive lacks, is said and nothing read.
  EXPECT_EQ(CaptureError([&] { find({{"Importo", Op::kEqual, "molti", ""}}); }).Number(), 5u);
  EXPECT_EQ(CaptureError([&] { find({{"Data", Op::kPrefix, "12", ""}}); }).Number(), 5u);
  EXPECT_EQ(CaptureError([&] { find({{"Nessuno", Op::kEqual, "x", ""}}); }).Number(), 5u);

  std::vector<std::int32_t> read;
  engine_->ReadDocumentsById(pick({4, 1, 99 % 12}), [&](kvtengine::StoredDocument&& d) {
    read.push_back(d.id);
    EXPECT_EQ(d.values.size(), 4u);
  });
  EXPECT_EQ(read, pick({1, 3, 4}));

  // A correction is found by its new values only.
  auto changed = kvt::Dictionary::Create();
  changed->Add("Cliente", "Verdi");
  engine_->CorrectDocument(ids[0], changed, 1);
  EXPECT_EQ(find({{"Cliente", Op::kPrefix, "verd", ""}}), pick({0}));
  EXPECT_EQ(find({{"Cliente", Op::kEqual, "rossi & c.", ""}}), pick({3, 4, 7, 8, 11}));

  const auto before = engine_->RoundTrips();
  find({{"Cliente", Op::kPrefix, "ross", ""}});
  EXPECT_LE(engine_->RoundTrips() - before, 2);  // the query, prepared the first time
}

TEST_P(EngineTest, DocumentsAreStoredListedAndCorrectedInPlace) {
  auto first = kvt::Dictionary::Create();
  first->Add("Numero", "1");
  first->Add("Data", Variant(kvt::MakeDate(2026, 12, 5)));
  first->Add("Vuoto", Variant::Null());
  first->Add("Cliente", "Dell'Anno \"& figli\"");
  auto second = kvt::Dictionary::Create();
  second->Add("Numero", 2);
  const auto a = engine_->SaveDocument("Fatture", first);
  const auto b = engine_->SaveDocument("Fatture", second);
  engine_->SaveDocument("Altro", second);
  EXPECT_EQ(engine_->DocumentCount("Fatture"), 2);
  auto back = std::dynamic_pointer_cast<kvt::Dictionary>(engine_->LoadDocument(a));
  ASSERT_EQ(back->Count(), 4);
  EXPECT_EQ(CStr(back->Item("Data")), "05/12/2026");
  EXPECT_TRUE(back->Item("Vuoto").IsNull());
  EXPECT_EQ(CStr(back->Item("Cliente")), "Dell'Anno \"& figli\"");

  auto fixed = kvt::Dictionary::Create();
  fixed->Add("Numero", "1");
  fixed->Add("Cliente", "Acme S.p.A.");
  EXPECT_EQ(engine_->CorrectDocument(a, fixed, 1), 2);
  const auto docs = engine_->ListDocuments("Fatture");
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_EQ(docs[0].id, a);
  ASSERT_EQ(docs[0].values.size(), 2u);
  EXPECT_EQ(docs[0].values[0].first, "Numero");
  EXPECT_EQ(CStr(docs[0].values[1].second), "Acme S.p.A.");
  EXPECT_EQ(docs[1].id, b);
  EXPECT_EQ(docs[1].values[0].second.Type(), kvt::VarType::kLong);
  EXPECT_EQ(CaptureError([&] { engine_->CorrectDocument(b + 100, fixed, 1); }).Number(), 9u);
  EXPECT_EQ(CaptureError([&] { engine_->LoadDocument(b + 100); }).Number(), 9u);
  EXPECT_EQ(engine_->ListDocuments("Fatture")[1].values.size(), 1u);
}

// A document's values as "field=value;" in stored order.
std::string Held(const std::vector<std::pair<std::string, Variant>>& values) {
  std::string out;
  for (const auto& [field, v] : values) out += field + "=" + kvt::JoinText(v) + ";";
  return out;
}

std::string Held(const kvt::ObjectRef& values) {
  return Held(std::dynamic_pointer_cast<kvt::Dictionary>(values)->Entries());
}

std::shared_ptr<kvt::Dictionary> Invoice(const char* customer, Variant amount) {
  auto d = kvt::Dictionary::Create();
  d->Add("Numero", "7");
  d->Add("Cliente", customer);
  d->Add("Importo", amount);
  return d;
}

TEST_P(EngineTest, AStaleChangeIsRefusedAndTheHistoryKeepsAndRestoresEveryVersion) {
  engine_->PutField({.archive = "Fatture", .name = "Numero"});
  engine_->PutField({.archive = "Fatture", .name = "Cliente"});
  engine_->PutField({.archive = "Fatture", .name = "Importo", .data_format = 1});
  const auto other = Connect();
  const auto id = engine_->SaveDocument("Fatture", Invoice("Rossi", "10"));
  VersionInfo read;
  engine_->LoadDocumentAt(id, read);
  EXPECT_EQ(read.version, 1);
  EXPECT_FALSE(read.saved_by.empty());

  // The other person corrects first; this one's correction from version 1 is refused whole.
  EXPECT_EQ(other->CorrectDocument(id, Invoice("Verdi", "10"), 1), 2);
  const auto stale = CaptureError([&] { engine_->CorrectDocument(id, Invoice("Rossi", "12"), 1); });
  EXPECT_THAT(stale, ErrorIs(kvt::kObjectErrorBase + kConflict, "Cliente 'Rossi' -> 'Verdi'"));
  EXPECT_THAT(stale.Description(), ::testing::HasSubstr("version 2"));
  EXPECT_EQ(Held(engine_->LoadDocument(id)), "Numero=7;Cliente=Verdi;Importo=10;");
  const Conflict c = engine_->ConflictSince(id, 1);
  EXPECT_EQ(c.now.version, 2);
  EXPECT_EQ(c.now.change, Change::kCorrect);
  ASSERT_EQ(c.fields.size(), 1u);
  EXPECT_EQ(CStr(c.fields[0].then), "Rossi");
  EXPECT_EQ(CStr(c.fields[0].now), "Verdi");

  // Keeping mine over theirs, knowingly; a stale deletion changes nothing either.
  EXPECT_EQ(engine_->CorrectDocument(id, Invoice("Rossi", "12"), 2, Change::kOverwrite), 3);
  EXPECT_EQ(CaptureError([&] { other->DeleteDocument(id, 2); }).Number(),
            kvt::kObjectErrorBase + kConflict);
  EXPECT_EQ(other->CurrentVersion(id).version, 3);
  EXPECT_EQ(other->DeleteDocument(id, 3), 4);

  // Deleted: gone from reading and searching, kept in the history.
  EXPECT_EQ(CaptureError([&] { engine_->LoadDocument(id); }).Number(), 9u);
  EXPECT_TRUE(engine_->ListDocuments("Fatture").empty());
  EXPECT_TRUE(engine_->SearchDocuments("Fatture", {}, 0, 10).empty());
  const auto deleted = engine_->DeletedDocuments("Fatture");
  ASSERT_EQ(deleted.size(), 1u);
  EXPECT_EQ(deleted[0].first, id);
  EXPECT_EQ(deleted[0].second.version, 4);
  EXPECT_EQ(CaptureError([&] { engine_->DeleteDocument(id, 4); }).Number(), 9u);

  const auto history = engine_->History(id);
  ASSERT_EQ(history.size(), 4u);
  const std::vector<Change> changes = {Change::kSave, Change::kCorrect, Change::kOverwrite,
                                       Change::kDelete};
  const std::vector<std::string> held = {"Numero=7;Cliente=Rossi;Importo=10;",
                                         "Numero=7;Cliente=Verdi;Importo=10;",
                                         "Numero=7;Cliente=Rossi;Importo=12;", ""};
  const std::vector<std::vector<std::string>> changed = {
      {}, {"Cliente"}, {"Cliente", "Importo"}, {"Numero", "Cliente", "Importo"}};
  for (std::size_t i = 0; i < history.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(history[i].version, static_cast<std::int32_t>(i + 1));
    EXPECT_EQ(history[i].change, changes[i]);
    EXPECT_EQ(Held(history[i].values), held[i]);
    EXPECT_EQ(history[i].changed, changed[i]);
    EXPECT_THAT(history[i].saved_at, ::testing::MatchesRegex("20[0-9-]+T[0-9:]+Z"));
  }

  // Brought back as it was at version 2: found again, the history goes on.
  EXPECT_EQ(CaptureError([&] { engine_->RestoreDocument(id, 4); }).Number(), 5u);
  EXPECT_EQ(CaptureError([&] { engine_->RestoreDocument(id, 9); }).Number(), 9u);
  EXPECT_EQ(engine_->RestoreDocument(id, 2, 4), 5);
  EXPECT_EQ(Held(other->LoadDocument(id)), "Numero=7;Cliente=Verdi;Importo=10;");
  EXPECT_EQ(
      engine_->SearchDocuments("Fatture", {{"Cliente", Criterion::Op::kEqual, "verdi", ""}}, 0, 10),
      std::vector<std::int32_t>{id});
  EXPECT_TRUE(engine_->DeletedDocuments("Fatture").empty());
  EXPECT_EQ(engine_->History(id).back().change, Change::kRestore);
  EXPECT_EQ(engine_->History(id)[3].values.size(), 0u);
  EXPECT_EQ(CaptureError([&] { engine_->CorrectDocument(id, Invoice("X", 1), 4); }).Number(),
            kvt::kObjectErrorBase + kConflict);
  EXPECT_EQ(CaptureError([&] { engine_->CorrectDocument(id + 50, Invoice("X", 1), 1); }).Number(),
            9u);
  EXPECT_TRUE(engine_->History(id + 50).empty());
}

// Any version read from the stored rows, one at a time, is the version the whole history holds:
// fields added and dropped, a deletion and a restore, every base of a conflict, every restore.
TEST_P(EngineTest, AnyVersionReadFromTheRowsIsTheOneTheWholeHistoryHolds) {
  engine_->PutField({.archive = "Fatture", .name = "Numero"});
  engine_->PutField({.archive = "Fatture", .name = "Cliente"});
  auto doc = [](std::initializer_list<std::pair<const char*, const char*>> values) {
    auto d = kvt::Dictionary::Create();
    for (const auto& [f, v] : values) d->Add(f, Variant(v));
    return d;
  };
  const auto id = engine_->SaveDocument("Fatture", doc({{"Numero", "1"}, {"Cliente", "A"}}));
  engine_->CorrectDocument(id, doc({{"Numero", "1"}, {"Cliente", "B"}, {"Nota", "n"}}), 1);
  engine_->CorrectDocument(id, doc({{"Cliente", "B"}, {"Nota", "m"}}), 2);
  engine_->DeleteDocument(id, 3);
  engine_->RestoreDocument(id, 2, 4);
  engine_->CorrectDocument(id, doc({{"Numero", "2"}, {"Cliente", "C"}}), 5);
  const auto history = engine_->History(id);
  ASSERT_EQ(history.size(), 6u);
  std::size_t i = 0;
  engine_->WalkHistory(id, [&](const VersionInfo& v, const ArchiveEngine::VersionStep& step) {
    SCOPED_TRACE(i);
    ASSERT_LT(i, history.size());
    EXPECT_EQ(v.version, history[i].version);
    EXPECT_EQ(v.change, history[i].change);
    const bool whole = i == 0 || history[i - 1].change == Change::kDelete;
    EXPECT_EQ(step.first_or_back, whole && v.change != Change::kDelete);
    if (step.first_or_back) {
      EXPECT_EQ(Held(step.whole), Held(history[i].values));
    }
    if (!whole && v.change != Change::kDelete) {
      std::vector<std::string> names;
      for (const auto& c : step.changed) {
        names.push_back(c.field);
        const Variant* before = FindValue(history[i - 1].values, c.field);
        const Variant* after = FindValue(history[i].values, c.field);
        EXPECT_EQ(kvt::JoinText(c.before), before ? kvt::JoinText(*before) : "") << c.field;
        EXPECT_EQ(kvt::JoinText(c.after), after ? kvt::JoinText(*after) : "") << c.field;
      }
      EXPECT_EQ(names, history[i].changed);
    }
    ++i;
  });
  EXPECT_EQ(i, history.size());
  for (const auto& base : history) {
    SCOPED_TRACE(base.version);
    const Conflict c = engine_->ConflictSince(id, base.version);
    std::string differ;
    for (const auto& f : c.fields) differ += f.name + ";";
    std::string expected;
    for (const auto& [f, v] : base.values) {
      const Variant* now = FindValue(history.back().values, f);
      if (!now || !SameStoredValue(v, *now)) expected += f + ";";
    }
    for (const auto& [f, v] : history.back().values) {
      if (!FindValue(base.values, f)) expected += f + ";";
    }
    EXPECT_EQ(differ, expected);
  }
  EXPECT_EQ(engine_->RestoreDocument(id, 3, 6), 7);
  EXPECT_EQ(Held(engine_->LoadDocument(id)), Held(history[2].values));
}

// A history far longer than a person ever makes (a file from elsewhere): read whole it is
// refused, listed one version at a time it is not.
TEST_P(EngineTest, AHistoryTooLongToReadWholeIsRefusedButListed) {
  kvtsqlite::SqliteEngine* lite = dynamic_cast<kvtsqlite::SqliteEngine*>(engine_.get());
  if (!lite) GTEST_SKIP() << "written straight into the file";
  auto values = kvt::Dictionary::Create();
  constexpr int kFields = 600, kVersions = 1800;
  for (int f = 0; f < kFields; ++f) values->Add("C" + std::to_string(f), Variant(f));
  const auto id = engine_->SaveDocument("Fatture", values);
  auto& db = lite->Db();
  db.Execute("BEGIN");
  db.Execute("WITH RECURSIVE v(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM v WHERE n < " +
             std::to_string(kVersions - 1) +
             ") INSERT INTO document_versions (document, version, archive, saved_at, saved_by, "
             "change) SELECT " +
             std::to_string(id) +
             ", n, 'Fatture', '2026-01-01T00:00:00Z', 'x', CASE n WHEN 1 THEN 'save' ELSE "
             "'correct' END FROM v; WITH RECURSIVE v(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM "
             "v WHERE n < " +
             std::to_string(kVersions - 1) +
             ") INSERT INTO document_changes (document, version, position, field, value, present) "
             "SELECT " +
             std::to_string(id) + ", n, 1, 'C0', n, 1 FROM v");
  db.Execute("UPDATE documents SET version = " + std::to_string(kVersions) +
             " WHERE id = " + std::to_string(id));
  db.Execute("COMMIT");
  EXPECT_THAT(CaptureError([&] { engine_->History(id); }).Description(),
              ::testing::HasSubstr("too many to read whole"));
  int versions = 0;
  engine_->WalkHistory(id, [&](const VersionInfo&, const ArchiveEngine::VersionStep& step) {
    if (versions > 0) {
      EXPECT_EQ(step.changed.size(), 1u);
    }
    ++versions;
  });
  EXPECT_EQ(versions, kVersions);
  EXPECT_EQ(engine_->ConflictSince(id, 1).fields.size(), 1u);
}

TEST_P(EngineTest, DocumentsAreReadInOneOrderedPassWholeAcrossBatches) {
  // 701 documents of 3 values: more rows than one batch of a server's cursor, so that some
  // document's values are split between two batches.
  engine_->Transaction([&] {
    for (int i = 0; i < 701; ++i) {
      auto d = kvt::Dictionary::Create();
      d->Add("Numero", std::to_string(i));
      if (i == 5) d->Add("Vecchio", "di prima");  // a name the form may no longer have
      d->Add("Cliente", "c" + std::to_string(i % 7));
      d->Add("Note", Variant::Null());
      engine_->SaveDocument("Fatture", d);
    }
  });
  engine_->SaveDocument("Altro", kvt::Dictionary::Create());
  std::vector<kvtengine::StoredDocument> read;
  engine_->ReadDocuments("Fatture",
                         [&](kvtengine::StoredDocument&& d) { read.push_back(std::move(d)); });
  ASSERT_EQ(read.size(), 701u);
  for (std::size_t i = 0; i < read.size(); ++i) {
    ASSERT_EQ(read[i].values.size(), i == 5 ? 4u : 3u) << i;
    EXPECT_EQ(CStr(read[i].values[0].second), std::to_string(i));
    EXPECT_EQ(read[i].values.back().first, "Note");
    EXPECT_TRUE(read[i].values.back().second.IsNull());
    if (i) {
      EXPECT_LT(read[i - 1].id, read[i].id);
    }
  }
  EXPECT_EQ(engine_->DocumentFieldNames("Fatture"),
            (std::vector<std::string>{"Numero", "Cliente", "Note", "Vecchio"}));
  EXPECT_TRUE(engine_->DocumentFieldNames("Nessuno").empty());
  EXPECT_EQ(engine_->StoredFieldNames(),
            (std::vector<std::string>{"Cliente", "Note", "Numero", "Vecchio"}));
  EXPECT_EQ(engine_->ListDocuments("Fatture").size(), 701u);
}

TEST_P(EngineTest, DocumentsAreFoundByEqualValuesAndDeletedWhole) {
  auto doc = [](const char* number, Variant date, const char* customer) {
    auto d = kvt::Dictionary::Create();
    d->Add("Numero", number);
    d->Add("Data", std::move(date));
    d->Add("Cliente", customer);
    return d;
  };
  const Variant dec5(kvt::MakeDate(2026, 12, 5)), dec6(kvt::MakeDate(2026, 12, 6));
  const auto a = engine_->SaveDocument("Fatture", doc("001", dec5, "Rossi"));
  const auto b = engine_->SaveDocument("Fatture", doc("001", dec6, "Rossi"));
  const auto c = engine_->SaveDocument("Fatture", doc("002", dec5, "Rossi"));
  engine_->SaveDocument("Altro", doc("001", dec5, "Rossi"));
  using Equal = std::vector<std::pair<std::string, Variant>>;
  EXPECT_EQ(engine_->FindDocuments("Fatture", Equal{{"Numero", Variant("001")}}),
            (std::vector<std::int32_t>{a, b}));
  EXPECT_EQ(engine_->FindDocuments("Fatture", Equal{{"Numero", Variant("001")}, {"Data", dec5}}),
            std::vector<std::int32_t>{a});
  EXPECT_TRUE(engine_->FindDocuments("Fatture", Equal{{"Numero", Variant(1)}}).empty());  // typed
  EXPECT_TRUE(engine_->FindDocuments("Fatture", Equal{{"Nessuno", Variant("001")}}).empty());
  EXPECT_EQ(engine_->FindDocuments("Fatture", {}).size(), 3u);

  engine_->DeleteDocument(b);
  EXPECT_EQ(engine_->DocumentCount("Fatture"), 2);
  EXPECT_EQ(CaptureError([&] { engine_->LoadDocument(b); }).Number(), 9u);
  EXPECT_EQ(CaptureError([&] { engine_->DeleteDocument(b); }).Number(), 9u);
  EXPECT_EQ(engine_->FindDocuments("Fatture", Equal{{"Cliente", Variant("Rossi")}}),
            (std::vector<std::int32_t>{a, c}));
}

TEST_P(EngineTest, AFormReadInOneGoAnswersExactlyAsFieldByField) {
  sample::CreateSampleArchive(*engine_);
  sample::CreateScaledArchive(*engine_, "Generato", 60);
  for (int i = 1; i <= 60; i += 7) {
    engine_->PutField({.archive = "Generato",
                       .name = "Campo" + std::to_string(i),
                       .max_len = Variant::Null(),
                       .priority = 1.5,
                       .type = "ComboBox"});
    engine_->AddCode("Generato", "Campo" + std::to_string(i), "C" + std::to_string(i), "codice");
  }
  for (const char* archive : {sample::kArchive, "Generato"}) {
    engine_->SetFormSnapshot(false);
    const std::string by_field = Answers(*engine_, archive);
    engine_->SetFormSnapshot(true);
    EXPECT_EQ(Answers(*engine_, archive), by_field) << archive;
  }
}

TEST_P(EngineTest, TheSnapshotIsNeverOlderThanTheBuildAndFollowsCodeChanges) {
  sample::CreateSampleArchive(*engine_);
  const std::string archive = sample::kArchive, field = "Reparto";
  const std::string filter = "archive = 'Fatture' and fieldType='" + field + "' order by cod";
  auto other = Connect();
  other->AddCode(archive, field, "OLD", "prima della costruzione");
  engine_->AddCode(archive, field, "GONE", "da togliere");
  engine_->GetFormFields(archive);  // the build starts
  other->AddCode(archive, field, "NEW", "durante la costruzione");
  engine_->AddCode(archive, field, "MINE", "aggiunto da questo programma");
  std::string a = archive, f = field, code = "GONE";
  engine_->DeleteCode(a, f, code);
  const std::string during = Codes(CodeList(filter));
  EXPECT_NE(during.find("OLD="), std::string::npos);
  EXPECT_NE(during.find("MINE="), std::string::npos);  // its own changes, at once
  EXPECT_EQ(during.find("GONE="), std::string::npos);
  EXPECT_EQ(during.find("NEW="), std::string::npos);  // read in one go when the build began
  // Asked again, the list is no longer part of the build: it comes from the database.
  EXPECT_NE(Codes(CodeList(filter)).find("NEW="), std::string::npos);
}

// A file made of `pieces` whole pieces and a bit, a PDF by its first bytes, none of them 0.
std::string PdfBytes(std::size_t pieces) {
  std::string bytes = "%PDF-1.4\n1 0 obj << /Type /Pages /Kids [] /Count 3 >> endobj\n";
  for (std::size_t i = 0; bytes.size() < pieces * kvtfiles::kPieceBytes + 77; ++i) {
    bytes += static_cast<char>('a' + i % 26);
  }
  return bytes + "\n%%EOF\n";
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(f);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  ASSERT_EQ(std::fclose(f), 0);
}

std::string ReadBack(ArchiveEngine& e, const std::string& sha) {
  std::string out;
  ReadKeptFile(e, sha, "documento 1, campo Allegato", [&](std::string_view p) { out += p; });
  return out;
}

TEST_P(EngineTest, FilesAreKeptOnceReadBackCheckedAndNeverHalfKept) {
  kvt::testing::TempDir dir;
  const std::string bytes = PdfBytes(2);
  WriteFile(dir.File("fattura.pdf"), bytes);
  WriteFile(dir.File("copia.pdf"), bytes);
  const kvtfiles::StoredFile f = KeepFile(*engine_, dir.File("fattura.pdf"));
  EXPECT_EQ(f.sha256, kvtfiles::Sha256Of(bytes));
  EXPECT_EQ(f.size, static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(f.media_type, "application/pdf");
  EXPECT_EQ(f.pages, 3);
  // The same bytes under another name are the same kept file.
  EXPECT_EQ(KeepFile(*engine_, dir.File("copia.pdf")).name, "copia.pdf");
  std::vector<kvtfiles::StoredFile> kept;
  const auto second = Connect();
  second->ListFiles([&](const kvtfiles::StoredFile& k) { kept.push_back(k); });
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(kept[0].name, "fattura.pdf");
  EXPECT_EQ(kept[0].pages, 3);
  EXPECT_EQ(ReadBack(*second, f.sha256), bytes);

  // Nothing is kept of a file refused or of a transaction that fails after it.
  WriteFile(dir.File("vuoto.pdf"), "");
  EXPECT_THAT(CaptureError([&] { KeepFile(*engine_, dir.File("vuoto.pdf")); }),
              ErrorIs(kvt::kObjectErrorBase + kFileRefused, "vuoto"));
  WriteFile(dir.File("altro.pdf"), PdfBytes(1));
  EXPECT_THROW(engine_->Transaction([&] {
    KeepFile(*engine_, dir.File("altro.pdf"));
    throw std::runtime_error("the document's save failed");
  }),
               std::runtime_error);
  EXPECT_FALSE(engine_->FindFile(kvtfiles::Sha256Of(PdfBytes(1)), kept[0]));
  EXPECT_EQ(engine_->CollectOrphanFiles(), 0);  // the rollback took its bytes back too
  // Larger than the archive keeps (a sparse file: nothing is read), or a read that fails
  // halfway, as a disk or a server gone would: refused, nothing kept, nothing left behind.
  {
    std::ofstream(dir.File("enorme.pdf")).flush();
    std::filesystem::resize_file(dir.File("enorme.pdf"), std::uintmax_t{5} << 30);
    EXPECT_THAT(CaptureError([&] { KeepFile(*engine_, dir.File("enorme.pdf")); }),
                ErrorIs(kvt::kObjectErrorBase + kFileRefused, "supera i 2 GB"));
    int pieces = 0;
    const std::string piece(kvtfiles::kPieceBytes, 'x');
    EXPECT_THROW(engine_->PutFile(
                     [&]() -> std::string_view {
                       if (++pieces == 3) throw std::runtime_error("the disk went away");
                       return piece;
                     },
                     [] { return kvtfiles::StoredFile{}; }),
                 std::runtime_error);
    std::size_t now = 0;
    engine_->ListFiles([&](const kvtfiles::StoredFile&) { ++now; });
    EXPECT_EQ(now, 1u);
    EXPECT_EQ(engine_->CollectOrphanFiles(), 0);
  }
  // A file chosen and changed since is refused, not kept under the digest it had.
  EXPECT_THAT(
      CaptureError([&] { KeepFile(*engine_, dir.File("altro.pdf"), kvtfiles::Sha256Of("prima")); }),
      ErrorIs(kvt::kObjectErrorBase + kFileRefused, "cambiato"));

  // Damaged bytes are never taken as the file: the read fails naming document and field.
  driver_->FlipFirstBytes();
  const kvt::Error e = CaptureError([&] { ReadBack(*Connect(), f.sha256); });
  EXPECT_THAT(e, ErrorIs(kvt::kObjectErrorBase + kBadFile, "danneggiato"));
  EXPECT_NE(e.Description().find("documento 1, campo Allegato"), std::string::npos);
  EXPECT_THAT(CaptureError([&] { ReadBack(*engine_, std::string(64, 'a')); }),
              ErrorIs(kvt::kObjectErrorBase + kBadFile, "manca"));
}

// A reading of one page whose words are `text`'s, boxes side by side.
kvtfiles::FileReading ReadingOf(const std::string& text, const std::string& reader = "prova 1") {
  kvtfiles::FileReading r{reader, "2026-12-07T10:00:00Z", "", {{2480, 3508, {}}}};
  std::istringstream words(text);
  std::int32_t x = 100;
  for (std::string w; words >> w; x += 200) r.pages[0].words.push_back({x, 300, 180, 40, 91, w});
  return r;
}

TEST_P(EngineTest, DocumentsAreFoundByTheWordsOnTheirFilesPagesWithTheirFields) {
  kvt::testing::TempDir dir;
  engine_->PutField({.archive = "Fatture", .name = "Numero"});
  engine_->PutField({.archive = "Fatture", .name = "File"});
  std::vector<std::string> sha;
  for (int i = 0; i < 3; ++i) {
    WriteFile(dir.File("f.pdf"), PdfBytes(i));
    sha.push_back(KeepFile(*engine_, dir.File("f.pdf")).sha256);
  }
  std::vector<std::int32_t> ids;
  for (int i = 0; i < 4; ++i) {
    auto d = kvt::Dictionary::Create();
    d->Add("Numero", Variant(std::to_string(100 + i)));
    if (i < 3) d->Add("File", Variant("sha256:" + sha[static_cast<std::size_t>(i)] + "/f.pdf"));
    ids.push_back(engine_->SaveDocument("Fatture", d));
  }
  // Not read yet: nothing to find, and every file waits for the reader.
  EXPECT_EQ(engine_->FilesToRead("prova 1", "", 10).size(), 3u);
  kvtfiles::FileReading back;
  EXPECT_FALSE(engine_->FindReading(sha[0], back));
  engine_->KeepReading(sha[0], ReadingOf("Fattura n. 100 Carta intestata perché consegnata"));
  engine_->KeepReading(sha[1], ReadingOf("Documento di trasporto carta"));
  engine_->KeepReading(sha[2], ReadingOf("Lettera \"quoted\" OR NOT fatturazione"));
  EXPECT_TRUE(engine_->FilesToRead("prova 1", "", 10).empty());
  EXPECT_EQ(engine_->FilesToRead("prova 2", sha[0] < sha[1] ? sha[0] : sha[1], 10).size(),
            static_cast<std::size_t>(std::count_if(
                sha.begin(), sha.end(), [&](auto& s) { return s > std::min(sha[0], sha[1]); })));
  ASSERT_TRUE(Connect()->FindReading(sha[0], back));
  ASSERT_EQ(back.pages.size(), 1u);
  EXPECT_EQ(back.pages[0].words.size(), 7u);
  EXPECT_EQ(back.pages[0].words[6].text, "consegnata");
  EXPECT_EQ(back.pages[0].words[6].x, 1300);
  EXPECT_EQ(back.reader, "prova 1");

  using Op = kvtengine::Criterion::Op;
  auto find = [&](const std::string& words, std::vector<kvtengine::Criterion> c = {}) {
    c.push_back({"", Op::kWords, words, ""});
    return engine_->SearchDocuments("Fatture", c, 0, 50);
  };
  auto pick = [&](std::initializer_list<int> which) {
    std::vector<std::int32_t> out;
    for (int i : which) out.push_back(ids[static_cast<std::size_t>(i)]);
    return out;
  };
  // Any letter case and accent; every word; a phrase in its order; a prefix.
  EXPECT_EQ(find("CARTA"), pick({0, 1}));
  EXPECT_EQ(find("perche"), pick({0}));
  EXPECT_EQ(find("carta trasporto"), pick({1}));
  EXPECT_EQ(find("\"carta intestata\""), pick({0}));
  EXPECT_TRUE(find("\"intestata carta\"").empty());
  EXPECT_EQ(find("fattur*"), pick({0, 2}));
  // The search's own operators are words like any other: nothing breaks the query.
  EXPECT_EQ(find("OR NOT"), pick({2}));
  EXPECT_EQ(find("quoted*) OR (x"), std::vector<std::int32_t>{});
  EXPECT_EQ(CaptureError([&] { find(" \"\" *"); }).Number(), 5u);
  // With the fields' criteria, paged and counted in the same query.
  EXPECT_EQ(find("carta", {{"Numero", Op::kEqual, "101", ""}}), pick({1}));
  const std::vector<kvtengine::Criterion> both = {{"", Op::kWords, "carta", ""}};
  EXPECT_EQ(engine_->SearchDocuments("Fatture", both, ids[0], 50), pick({1}));
  EXPECT_EQ(engine_->CountDocuments("Fatture", both), 2);

  // Read again by another reader: the new words are found, the old ones no more.
  engine_->KeepReading(sha[1], ReadingOf("Bolla di consegna", "prova 2"));
  EXPECT_EQ(find("carta"), pick({0}));
  EXPECT_EQ(find("bolla"), pick({1}));
  // A correction naming another file is found by that file's words; a deletion by none.
  auto changed = kvt::Dictionary::Create();
  changed->Add("Numero", "103");
  changed->Add("File", Variant("sha256:" + sha[1] + "/f.pdf"));
  engine_->CorrectDocument(ids[3], changed, 1);
  EXPECT_EQ(find("bolla"), pick({1, 3}));
  engine_->DeleteDocument(ids[1], 1);
  EXPECT_EQ(find("bolla"), pick({3}));
  // A document naming two files holds the words of both.
  engine_->PutField({.archive = "Fatture", .name = "Allegato"});
  auto two = kvt::Dictionary::Create();
  two->Add("File", Variant("sha256:" + sha[0] + "/f.pdf"));
  two->Add("Allegato", Variant("sha256:" + sha[2] + "/f.pdf"));
  const std::int32_t both_files = engine_->SaveDocument("Fatture", two);
  EXPECT_EQ(find("intestata lettera"), std::vector<std::int32_t>{both_files});
  // A reading is kept only of a file the archive keeps.
  EXPECT_EQ(
      CaptureError([&] { engine_->KeepReading(std::string(64, 'a'), ReadingOf("x")); }).Number(),
      kvt::kObjectErrorBase + kBadFile);
}

TEST_P(EngineTest, TheIntakeQueueGivesEachItemToOneClerkAndItsLedgerKeepsEveryPage) {
  using State = kvtengine::IntakeItem::State;
  auto item = [](std::int32_t first, std::int32_t pages, State state = State::kQueued,
                 std::string reason = "") {
    kvtengine::IntakeItem i;
    i.name = "pila.tif";
    i.first_page = first;
    i.pages = pages;
    i.state = state;
    i.reason = std::move(reason);
    return i;
  };
  const std::string stack(64, 'b');
  std::vector<kvtengine::IntakeItem> split = {
      item(1, 2), item(3, 1, State::kSetAside, "pagina bianca"), item(4, 3), item(7, 1)};
  split[0].pages_sha256 = std::string(64, 'c');
  EXPECT_TRUE(engine_->PutIntake("Fatture", stack, split));
  EXPECT_EQ(engine_->IntakeWaiting("Fatture"), 3);
  // The next is named without being taken.
  ASSERT_TRUE(engine_->NextIntake("Fatture"));
  EXPECT_EQ(engine_->NextIntake("Fatture")->first_page, 1);
  EXPECT_EQ(engine_->NextIntake("Fatture")->state, State::kQueued);
  EXPECT_EQ(engine_->IntakeWaiting("Fatture"), 3);
  // The same stack again is not doubled; another archive's queue is its own.
  EXPECT_FALSE(Connect()->PutIntake("Fatture", stack, split));
  EXPECT_TRUE(engine_->PutIntake("Altro", stack, {item(1, 7)}));

  // Two clerks at once never get the same item; one left goes back to the queue.
  const auto other = Connect();
  const auto a = engine_->TakeIntake("Fatture");
  const auto b = other->TakeIntake("Fatture");
  ASSERT_TRUE(a && b);
  EXPECT_NE(a->id, b->id);
  EXPECT_EQ(a->first_page, 1);
  EXPECT_EQ(a->pages_sha256, std::string(64, 'c'));
  EXPECT_EQ(a->state, State::kTaken);
  EXPECT_EQ(b->pages_sha256, "");
  EXPECT_EQ(Connect()->IntakeWaiting("Fatture"), 1);
  ASSERT_TRUE(Connect()->NextIntake("Fatture"));
  EXPECT_EQ(Connect()->NextIntake("Fatture")->first_page, 7);
  engine_->FileIntake(a->id, 42);
  EXPECT_EQ(CaptureError([&] { other->FileIntake(a->id, 45); }).Number(),
            kvt::kObjectErrorBase + kConflict);
  other->LeaveIntake(b->id);
  const auto c = engine_->TakeIntake("Fatture");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->id, b->id);
  engine_->FileIntake(c->id, 43);
  const auto last = engine_->TakeIntake("Fatture");
  ASSERT_TRUE(last);
  engine_->FileIntake(last->id, 44);
  EXPECT_FALSE(engine_->TakeIntake("Fatture"));
  EXPECT_FALSE(engine_->NextIntake("Fatture"));

  // The ledger: every page in exactly one item, each filed or set aside, who and when.
  const auto ledger = Connect()->IntakeLedger("Fatture");
  ASSERT_EQ(ledger.size(), 4u);
  std::int32_t next = 1;
  for (const auto& i : ledger) {
    EXPECT_EQ(i.first_page, next);
    next += i.pages;
    EXPECT_TRUE(i.state == State::kFiled || i.state == State::kSetAside);
    EXPECT_FALSE(i.at.empty());
  }
  EXPECT_EQ(next, 8);
  EXPECT_EQ(ledger[1].reason, "pagina bianca");
  EXPECT_EQ(ledger[2].document, 43);
  EXPECT_EQ(engine_->IntakeWaiting("Fatture"), 0);
}

TEST_P(EngineTest, AnArchivesSettingsAreItsOwnAndGoneWhenEmptied) {
  EXPECT_EQ(engine_->ArchiveSetting("Fatture", kvtengine::kSeparatorSetting), "");
  engine_->PutArchiveSetting("Fatture", kvtengine::kSeparatorSetting, "SEP-*");
  engine_->PutArchiveSetting("Altro", kvtengine::kSeparatorSetting, "ORDINE-??");
  EXPECT_EQ(Connect()->ArchiveSetting("Fatture", kvtengine::kSeparatorSetting), "SEP-*");
  engine_->PutArchiveSetting("Fatture", kvtengine::kSeparatorSetting, "FOGLIO ★");
  EXPECT_EQ(Connect()->ArchiveSetting("Fatture", kvtengine::kSeparatorSetting), "FOGLIO ★");
  engine_->PutArchiveSetting("Fatture", kvtengine::kSeparatorSetting, "");
  EXPECT_EQ(Connect()->ArchiveSetting("Fatture", kvtengine::kSeparatorSetting), "");
  EXPECT_EQ(Connect()->ArchiveSetting("Altro", kvtengine::kSeparatorSetting), "ORDINE-??");
  EXPECT_EQ(Connect()->ArchiveSetting("Altro", "altro"), "");
}

TEST_P(EngineTest, ThePlacesValuesWereTakenFromAreKeptADozenAFieldTheMostUsedFirst) {
  kvtengine::FieldBox box;
  box.archive = "Fatture";
  box.form = "Inserimento";
  box.field = "NumeroDocumento";
  box.page = 2;
  box.x = 0.12345;
  box.y = 0.5;
  box.width = 0.1;
  box.height = 2.0;  // beyond the page: kept as the whole of it
  box.shape = "9999";
  box.letterhead = "cartiera rossi";
  box.used_at = "2026-12-07T10:00:00Z";
  const std::int64_t first = engine_->KeepFieldBox(box);
  ASSERT_NE(first, 0);
  // Used again: the same box moved, its count up; another field's and form's are their own.
  box.id = first;
  box.used = 5;
  box.x = 0.25;
  EXPECT_EQ(Connect()->KeepFieldBox(box), first);
  auto other = box;
  other.id = 0;
  other.used = 1;
  other.form = "Consultazione";
  engine_->KeepFieldBox(other);
  // A dozen suppliers more: the one used longest ago is forgotten, whatever its count.
  for (int i = 0; i < kvtengine::kMaxFieldBoxes; ++i) {
    auto next = box;
    next.id = 0;
    next.used = 1;
    next.letterhead = "fornitore " + std::to_string(i);
    next.used_at = "2026-12-08T10:00:" + std::to_string(10 + i) + "Z";
    engine_->KeepFieldBox(next);
  }
  const auto kept = Connect()->FieldBoxes("Fatture", "Inserimento");
  ASSERT_EQ(kept.size(), static_cast<std::size_t>(kvtengine::kMaxFieldBoxes));
  for (const auto& k : kept) EXPECT_NE(k.id, first);
  const auto review = engine_->FieldBoxes("Fatture", "Consultazione");
  ASSERT_EQ(review.size(), 1u);
  EXPECT_EQ(review[0].page, 2);
  EXPECT_NEAR(review[0].x, 0.25, 1e-4);
  EXPECT_DOUBLE_EQ(review[0].height, 1.0);
  EXPECT_EQ(review[0].shape, "9999");
  EXPECT_EQ(review[0].letterhead, "cartiera rossi");
}

INSTANTIATE_TEST_SUITE_P(
    Engines, EngineTest,
    ::testing::Values(Engine{"Sqlite", [] { return std::make_unique<SqliteDriver>(); }},
                      Engine{"PostgreSql", [] { return std::make_unique<PgDriver>(); }},
                      Engine{"ForwardedSqlite",
                             [] { return std::make_unique<ForwardingDriver>(); }}),
    [](const auto& info) { return std::string(info.param.name); });

// Two people at once, each with a connection of their own.
class TwoClients : public ::testing::Test {
 protected:
  void SetUp() override {
    KVT_REQUIRE_PG();
    where_ = kvt::testing::FreshPgDatabase();
    a_ = kvtpg::PgEngine::Open(where_);
    b_ = kvtpg::PgEngine::Open(where_);
  }
  std::string where_;
  std::shared_ptr<kvtpg::PgEngine> a_, b_;
};

TEST_F(TwoClients, AddingTheSameCodeAtOnceSucceedsForBothAndStoresItOnce) {
  std::atomic<bool> b_done = false;
  std::thread second;
  // A adds the code inside a transaction still open when B adds the same one: B waits for A's
  // row and then updates it instead of failing on the duplicate.
  a_->Transaction([&] {
    a_->AddCode("Fatture", "Pagamento", "BB", "Bonifico bancario");
    second = std::thread([&] {
      b_->AddCode("Fatture", "Pagamento", "BB", "Bonifico");
      b_done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(b_done);  // B is waiting for A, not failing
  });
  second.join();
  EXPECT_TRUE(b_done);
  EXPECT_EQ(Codes(a_->GetCodeList("archive = 'Fatture' and fieldType='Pagamento' order by cod")),
            "BB=Bonifico;");
}

TEST_F(TwoClients, DocumentsSavedAtOnceAreAllKeptAndTheStoreLearnsFromBoth) {
  constexpr int kEach = 40;
  auto values = kvt::Dictionary::Create();
  values->Add("Numero", "1");
  values->Add("Cliente", "Acme");
  const kvt::ObjectRef store_a = a_->Connection()->AdoConnection().AsObject();
  const kvt::ObjectRef store_b = b_->Connection()->AdoConnection().AsObject();
  std::set<std::int32_t> ids_a, ids_b;
  auto work = [&](kvtpg::PgEngine& e, const kvt::ObjectRef& store, std::set<std::int32_t>& ids) {
    auto* learn = dynamic_cast<kvtfields::IAutoCompleteStore*>(store.get());
    for (int i = 0; i < kEach; ++i) {
      ids.insert(e.SaveDocument("Fatture", values));
      learn->Learn("SYS_AUTOCOMPLETE", "Fatture-Cliente", "Acme");
      learn->Learn("SYS_AUTOCOMPLETE", "Fatture-Cliente", &e == a_.get() ? "Alfa" : "Beta");
    }
  };
  std::thread t([&] { work(*b_, store_b, ids_b); });
  work(*a_, store_a, ids_a);
  t.join();
  EXPECT_EQ(a_->DocumentCount("Fatture"), 2 * kEach);
  ids_a.merge(ids_b);
  EXPECT_EQ(ids_a.size(), 2u * kEach);
  std::int64_t acme_uses = 0;
  std::set<std::string> learnt;
  for (const auto& l : b_->ListLearnt()) {
    learnt.insert(l.value);
    if (l.value == "Acme") acme_uses = l.uses;
  }
  EXPECT_EQ(learnt, (std::set<std::string>{"Acme", "Alfa", "Beta"}));
  EXPECT_EQ(acme_uses, 2 * kEach);
}

// Two restores of one deleted document: the second waits for the first, and before it runs on
// (its server process held still here) a third person deletes the document again. The second
// must read what landed meanwhile and be refused as a conflict, not write over the first
// restore's kept values.
TEST_F(TwoClients, AChangeThatWaitedReadsWhatLandedMeanwhile) {
  const std::int32_t id = a_->SaveDocument("Fatture", Invoice("Start", 1));
  const std::int32_t deleted = a_->DeleteDocument(id, 1);
  auto watch = kvtpg::PgDatabase::Open(where_, false);
  auto c = kvtpg::PgEngine::Open(where_);
  std::thread second, third;
  std::atomic<long> second_error = 0;
  pid_t held = 0;
  std::int32_t restored = 0;
  a_->Transaction([&] {
    restored = a_->RestoreDocument(id, 1, deleted);
    second = std::thread([&] {
      try {
        b_->RestoreDocument(id, 1, deleted);
      } catch (const kvt::Error& e) {
        second_error = e.Number();
      }
    });
    for (int i = 0; i < 3000 && !held; ++i) {  // up to 30 s on a busy machine
      const auto r = watch->Query(
          "SELECT pid FROM pg_stat_activity WHERE datname = current_database() AND "
          "wait_event_type = 'Lock'");
      if (r.Rows() == 1) held = static_cast<pid_t>(r.Int(0, 0));
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (held) ::kill(held, SIGSTOP);
  });
  ASSERT_NE(held, 0) << "the second restore never waited";
  std::atomic<long> third_error = 0;
  third = std::thread([&] {
    try {
      c->DeleteDocument(id, restored);
    } catch (const kvt::Error& e) {
      third_error = e.Number();
    }
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ::kill(held, SIGCONT);
  second.join();
  third.join();
  EXPECT_EQ(second_error, kvt::kObjectErrorBase + kConflict);
  EXPECT_EQ(third_error, 0);
  std::string changes;
  for (const auto& v : b_->History(id))
    changes += std::string(kvtengine::ChangeName(v.change)) + ";";
  EXPECT_EQ(changes, "save;delete;restore;delete;");
}

// Many people correcting and deleting the same few documents at once: every change either
// lands whole on the version it started from or is refused as a conflict, and the history ends
// up holding exactly the changes that landed, in order.
TEST_F(TwoClients, ConcurrentCorrectionsAndDeletionsLoseNothing) {
  constexpr int kPeople = 4, kEach = 120, kDocuments = 3;
  std::vector<std::int32_t> ids;
  for (int d = 0; d < kDocuments; ++d) {
    ids.push_back(a_->SaveDocument("Fatture", Invoice("Start", d)));
  }
  struct Landed {
    std::int32_t version;
    Change change;
    std::string held;
  };
  std::mutex m;
  std::map<std::int32_t, std::vector<Landed>> landed;
  std::atomic<int> refused = 0, other_errors = 0;
  auto person = [&](int who) {
    auto e = kvtpg::PgEngine::Open(where_);
    std::uint32_t seed = 7u * static_cast<std::uint32_t>(who) + 1u;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
    for (int i = 0; i < kEach; ++i) {
      const std::int32_t id = ids[next() % kDocuments];
      try {
        const auto history = e->History(id);
        const auto& last = history.back();
        if (last.change == Change::kDelete) {
          const std::int32_t v = e->RestoreDocument(id, last.version - 1, last.version);
          std::lock_guard lock(m);
          landed[id].push_back({v, Change::kRestore, Held(history[history.size() - 2].values)});
          continue;
        }
        if (next() % 8 == 0) {
          const std::int32_t v = e->DeleteDocument(id, last.version);
          std::lock_guard lock(m);
          landed[id].push_back({v, Change::kDelete, ""});
          continue;
        }
        const std::string customer = "P" + std::to_string(who) + "-" + std::to_string(i);
        auto values = Invoice(customer.c_str(), static_cast<std::int32_t>(i));
        const std::int32_t v = e->CorrectDocument(id, values, last.version);
        std::lock_guard lock(m);
        landed[id].push_back({v, Change::kCorrect, Held(values->Entries())});
      } catch (const kvt::Error& err) {
        if (err.Number() == kvt::kObjectErrorBase + kConflict) {
          ++refused;
        } else {
          ++other_errors;
          ADD_FAILURE() << err.Number() << " " << err.Source() << ": " << err.Description();
        }
      }
    }
  };
  std::vector<std::thread> people;
  for (int who = 0; who < kPeople; ++who) people.emplace_back(person, who);
  for (auto& t : people) t.join();
  EXPECT_EQ(other_errors, 0);
  EXPECT_GT(refused, 0);  // they did meet
  for (const auto id : ids) {
    SCOPED_TRACE(id);
    auto& mine = landed[id];
    std::sort(mine.begin(), mine.end(),
              [](const Landed& x, const Landed& y) { return x.version < y.version; });
    const auto history = b_->History(id);
    ASSERT_EQ(history.size(), mine.size() + 1);
    for (std::size_t i = 0; i < mine.size(); ++i) {
      EXPECT_EQ(history[i + 1].version, mine[i].version);
      EXPECT_EQ(history[i + 1].change, mine[i].change);
      EXPECT_EQ(Held(history[i + 1].values), mine[i].held);
    }
    if (!mine.empty() && mine.back().change != Change::kDelete) {
      EXPECT_EQ(Held(b_->LoadDocument(id)), mine.back().held);
    }
  }
}

}  // namespace
}  // namespace kvtengine
