#include "engine/sqlite/db_engine.h"

#include <fstream>
#include <iterator>
#include <set>

#include "archives/sample_archive.h"
#include "engine/sqlite/code_filter.h"
#include "temp_dir.h"
#include "test_support.h"

namespace kvtsqlite {
namespace {

namespace sample = kvtarchive::sample;
using kvt::CStr;
using kvt::Variant;
using kvt::testing::CaptureError;
using kvt::testing::ErrorIs;

constexpr std::uint32_t kBadFilterNumber = kvt::kObjectErrorBase + kBadFilter;
constexpr std::uint32_t kNotOursNumber = kvt::kObjectErrorBase + kNotOurDatabase;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The codes of a record set as "COD=VALUE" pairs, in row order.
std::string Codes(const std::shared_ptr<kvt::RecordSet>& rs) {
  std::string out;
  for (; !rs->Eof(); rs->MoveNext()) {
    out += CStr(rs->Value("COD")) + "=" + kvt::JoinText(rs->Value("VALUE")) + ";";
  }
  return out;
}

class DBEngineTest : public ::testing::Test {
 protected:
  kvt::testing::TempDir dir_;
  std::string path_ = dir_.File("archivio.kvtdb");
  std::shared_ptr<DBEngine> engine_ = DBEngine::Open(path_);

  void AddCode(std::string archive, std::string field, std::string code, std::string descr) {
    engine_->AddCode(archive, field, code, descr);
  }
  std::shared_ptr<kvt::RecordSet> CodeList(std::string filter) {
    return engine_->GetCodeList(filter);
  }
};

TEST_F(DBEngineTest, DefinitionsRoundTripInArchiveOrder) {
  engine_->PutField({.archive = "A1", .name = "Zeta", .label = "Ultimo", .max_len = 5});
  engine_->PutField({.archive = "A1", .name = "Alfa", .label = "Secondo", .type = "Calendar"});
  engine_->PutField({.archive = "A2", .name = "Altro"});
  EXPECT_EQ(engine_->GetFormFields("A1"), (std::vector<std::string>{"Zeta", "Alfa"}));
  EXPECT_TRUE(engine_->GetFormFields("Nessuno").empty());

  auto rs = engine_->GetFieldDefinition("A1", "Alfa");
  ASSERT_FALSE(rs->Eof());
  const char* columns[] = {"Label",       "Descr",       "MaxLen",           "MinLen",
                           "Priority",    "IsIndex",     "IsRequired",       "AutoComplete",
                           "DATA_FORMAT", "CHAR_FORMAT", "IsRetainInMemory", "Type"};
  ASSERT_EQ(rs->FieldCount(), 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(rs->FieldName(i), columns[i]);
  EXPECT_EQ(CStr(rs->Value("Label")), "Secondo");
  EXPECT_EQ(CStr(rs->Value("Type")), "Calendar");
  EXPECT_TRUE(engine_->GetFieldDefinition("A1", "alfa")->Eof());  // names are exact
}

TEST_F(DBEngineTest, DefinitionsComeBackAsStoredEvenWhenWrong) {
  engine_->PutField({.archive = "A",
                     .name = "F",
                     .label = Variant::Null(),
                     .max_len = "abc",
                     .min_len = 100000,
                     .is_index = 2.5,
                     .type = Variant::Null()});
  auto rs = engine_->GetFieldDefinition("A", "F");
  EXPECT_TRUE(rs->Value("Label").IsNull());
  EXPECT_EQ(rs->Value("MaxLen").Type(), kvt::VarType::kString);
  EXPECT_EQ(kvt::CLng(rs->Value("MinLen")), 100000);
  EXPECT_EQ(rs->Value("IsIndex").Type(), kvt::VarType::kDouble);
  EXPECT_TRUE(rs->Value("Type").IsNull());
}

TEST_F(DBEngineTest, TheFieldFilterSelectsItsCodesInCodeOrder) {
  AddCode("A1", "F1", "Z9", "ultimo");
  AddCode("A1", "F1", "B2", "secondo");
  AddCode("A1", "F1", "A1", "primo");
  AddCode("A1", "F2", "A0", "altro campo");
  AddCode("A2", "F1", "A0", "altro archivio");
  EXPECT_EQ(Codes(CodeList("archive = 'A1' and fieldType='F1' order by cod")),
            "A1=primo;B2=secondo;Z9=ultimo;");
  EXPECT_EQ(Codes(CodeList("ARCHIVE='A1' AND fieldtype = 'F1' ORDER BY cod DESC")),
            "Z9=ultimo;B2=secondo;A1=primo;");
}

TEST_F(DBEngineTest, NamesWithApostrophesAreReadWholeFromTheComponentsFilter) {
  AddCode("Fatture dell'anno", "Sant'Angelo", "C1", "uno");
  AddCode("Fatture dell'anno", "Sant'Angelo", "C2", "due");
  AddCode("Fatture dell'anno", "Altro", "X", "altro campo");
  EXPECT_EQ(Codes(CodeList("archive = 'Fatture dell'anno' and fieldType='Sant'Angelo' order by "
                           "cod")),
            "C1=uno;C2=due;");
  // Any other text with a stray apostrophe is still refused, and nothing runs.
  for (const char* bad : {"archive = 'a'b'", "archive = 'x' and fieldType='y' order by cod; --",
                          "archive = 'a' and fieldType='b' and fieldType='c' order by cod'"}) {
    EXPECT_EQ(CaptureError([&] { CodeList(bad); }).Number(), kBadFilterNumber) << bad;
  }
}

TEST_F(DBEngineTest, NamesWithSpacesAccentsAndCaseRoundTripExactly) {
  AddCode("Archivio Già", "Città di nascita", " Roma ", "Capitale");
  AddCode("archivio già", "Città di nascita", "MI", "Milano");
  EXPECT_EQ(
      Codes(CodeList("archive = 'Archivio Già' and fieldType='Città di nascita' order by cod")),
      " Roma =Capitale;");
  std::string archive = "Archivio Già", field = "Città di nascita", code = " Roma ";
  engine_->DeleteCode(archive, field, code);
  EXPECT_EQ(Codes(CodeList("archive = 'Archivio Già' and fieldType='Città di nascita'")), "");
}

TEST_F(DBEngineTest, AFilterOutsideTheGrammarIsRefusedAndRunsNothing) {
  AddCode("A", "O'Brien", "X", "x");
  EXPECT_THAT(
      CaptureError([&] { CodeList("archive = 'A' and fieldType='O'Brien' order by value"); }),
      ErrorIs(kBadFilterNumber, "position 32 (unexpected text)"));
  EXPECT_THAT(CaptureError([&] { CodeList("archive = 'A'; DROP TABLE code_lists"); }),
              ErrorIs(kBadFilterNumber, "unexpected text"));
  EXPECT_THAT(CaptureError([&] { CodeList("secret = 'A'"); }),
              ErrorIs(kBadFilterNumber, "unknown column 'secret'"));
  EXPECT_EQ(Codes(CodeList("archive = 'A' and fieldType = 'O''Brien'")), "X=x;");
}

TEST_F(DBEngineTest, VisualPropertiesAreNothingWithoutALayoutRow) {
  engine_->PutLayout({"A", "F", "Modulo", 1200, 600, false, true, false});
  std::string a = "A", f = "F", form = "Modulo", other = "Altro";
  EXPECT_TRUE(engine_->GetFieldVisualProperties(a, f, other).IsNothing());
  auto rs = kvt::FromVariant<std::shared_ptr<kvt::RecordSet>>(
      engine_->GetFieldVisualProperties(a, f, form));
  ASSERT_EQ(rs->FieldCount(), 8);
  EXPECT_EQ(rs->FieldName(0), "archive");
  EXPECT_EQ(kvt::CLng(rs->Value("Width")), 1200);
  EXPECT_FALSE(kvt::CBool(rs->Value("BreakLine")));
}

TEST_F(DBEngineTest, TwoEnginesOnOneFileSeeEachOthersCodes) {
  auto other = DBEngine::Open(path_);
  AddCode("A", "F", "N1", "nuovo");
  std::string filter = "archive = 'A' and fieldType='F' order by cod";
  EXPECT_EQ(Codes(other->GetCodeList(filter)), "N1=nuovo;");
  std::string a = "A", f = "F", code = "N1";
  other->DeleteCode(a, f, code);
  EXPECT_EQ(Codes(CodeList(filter)), "");
}

TEST_F(DBEngineTest, TheConnectionFollowsTheDatabase) {
  DBEngine fresh;
  EXPECT_EQ(fresh.Connection(), nullptr);
  auto conn = engine_->Connection();
  ASSERT_NE(conn, nullptr);
  EXPECT_TRUE(conn->IsOpen());
  EXPECT_EQ(conn->AdoConnection().AsObject()->Class().Name(), "SqliteDatabase");
  engine_->CloseDatabase();
  EXPECT_FALSE(engine_->Connection()->IsOpen());
  EXPECT_EQ(CaptureError([&] { engine_->GetFormFields("A"); }).Number(),
            kvt::kObjectErrorBase + kNoDatabase);
}

TEST_F(DBEngineTest, TheAutocompleteStoreRanksByUseThenRecencyAndKeepsKeysApart) {
  const kvt::ObjectRef handle = engine_->Connection()->AdoConnection().AsObject();
  auto* store = dynamic_cast<kvtfields::IAutoCompleteStore*>(handle.get());
  ASSERT_NE(store, nullptr);
  const auto all = [](std::string_view) { return true; };
  for (const char* v : {"Beta", "Acme", "Beta", "Gamma"}) store->Learn("SYS_AUTOCOMPLETE", "k", v);
  store->Learn("SYS_AUTOCOMPLETE", "other", "Delta");
  EXPECT_EQ(store->LookUp("SYS_AUTOCOMPLETE", "k", all, 8),
            (std::vector<std::string>{"Beta", "Gamma", "Acme"}));
  EXPECT_EQ(store->LookUp("SYS_AUTOCOMPLETE", "k", all, 1), std::vector<std::string>{"Beta"});
  const auto starts_g = [](std::string_view v) { return v.starts_with("G"); };
  EXPECT_EQ(store->LookUp("SYS_AUTOCOMPLETE", "k", starts_g, 8), std::vector<std::string>{"Gamma"});
  store->Forget("SYS_AUTOCOMPLETE", "k", "Beta");
  store->Forget("SYS_AUTOCOMPLETE", "k", "never learnt");
  EXPECT_EQ(store->LookUp("SYS_AUTOCOMPLETE", "k", all, 8),
            (std::vector<std::string>{"Gamma", "Acme"}));
  EXPECT_EQ(CaptureError([&] { store->Learn("x; DROP TABLE scripts", "k", "v"); }).Number(), 5u);
}

TEST_F(DBEngineTest, DocumentsAreStoredWithTheirValues) {
  auto values = kvt::Dictionary::Create();
  values->Add("Numero", "123");
  values->Add("Data", Variant(kvt::MakeDate(2026, 12, 5)));
  values->Add("Vuoto", Variant::Null());
  const auto id = engine_->SaveDocument("Fatture", values);
  EXPECT_EQ(engine_->DocumentCount("Fatture"), 1);
  auto back = std::dynamic_pointer_cast<kvt::Dictionary>(engine_->LoadDocument(id));
  ASSERT_EQ(back->Count(), 3);
  EXPECT_EQ(CStr(back->Item("Data")), "05/12/2026");
  EXPECT_TRUE(back->Item("Vuoto").IsNull());
  EXPECT_EQ(CaptureError([&] { engine_->LoadDocument(id + 1); }).Number(), 9u);
}

TEST_F(DBEngineTest, DocumentsAreListedInOrderAndCorrectedInPlace) {
  auto first = kvt::Dictionary::Create();
  first->Add("Numero", "1");
  first->Add("Cliente", "Acme");
  auto second = kvt::Dictionary::Create();
  second->Add("Numero", "2");
  const auto a = engine_->SaveDocument("Fatture", first);
  const auto b = engine_->SaveDocument("Fatture", second);
  engine_->SaveDocument("Altro", second);
  auto fixed = kvt::Dictionary::Create();
  fixed->Add("Numero", "1");
  fixed->Add("Cliente", "Acme S.p.A.");
  engine_->UpdateDocument(a, fixed);
  const auto docs = engine_->ListDocuments("Fatture");
  ASSERT_EQ(docs.size(), 2u);
  EXPECT_EQ(docs[0].id, a);
  ASSERT_EQ(docs[0].values.size(), 2u);
  EXPECT_EQ(CStr(docs[0].values[1].second), "Acme S.p.A.");
  EXPECT_EQ(docs[1].id, b);
  EXPECT_EQ(CaptureError([&] { engine_->UpdateDocument(b + 100, fixed); }).Number(), 9u);
  EXPECT_EQ(
      CStr(std::dynamic_pointer_cast<kvt::Dictionary>(engine_->LoadDocument(b))->Item("Numero")),
      "2");
}

TEST(DBEngineFiles, AFileWithAnotherSchemaIsRefusedAndLeftAlone) {
  kvt::testing::TempDir dir;
  const std::string foreign = dir.File("altro.db");
  {
    sqlite3* db = nullptr;
    sqlite3_open(foreign.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE clienti (nome TEXT)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  const std::string before = ReadAll(foreign);
  EXPECT_THAT(CaptureError([&] { DBEngine::Open(foreign); }),
              ErrorIs(kNotOursNumber, "is not a kvtfields database"));
  EXPECT_EQ(ReadAll(foreign), before);

  const std::string text = dir.File("note.txt");
  std::ofstream(text) << "non sono un database\n";
  EXPECT_THAT(CaptureError([&] { DBEngine::Open(text); }),
              ErrorIs(kNotOursNumber, "is not a kvtfields database"));
  EXPECT_EQ(ReadAll(text), "non sono un database\n");
}

TEST(DBEngineFiles, ArchivesAndTheirFormsAreListedByName) {
  kvt::testing::TempDir dir;
  auto engine = DBEngine::Open(dir.File("a.kvtdb"));
  sample::CreateSampleArchive(*engine);
  sample::CreateScaledArchive(*engine, "Anagrafica", 3);
  EXPECT_EQ(engine->ListArchives(), (std::vector<std::string>{"Anagrafica", "Fatture"}));
  EXPECT_EQ(engine->ListForms("Fatture"),
            (std::vector<std::string>{sample::kReviewForm, sample::kEntryForm}));
  EXPECT_TRUE(engine->ListForms("Nessuno").empty());
}

TEST(DBEngineFiles, TheSampleArchiveCoversEveryKindOfField) {
  kvt::testing::TempDir dir;
  auto engine = DBEngine::Open(dir.File("fatture.kvtdb"));
  sample::CreateSampleArchive(*engine);
  sample::CreateSampleArchive(*engine);  // replacing it is harmless
  const auto names = engine->GetFormFields(sample::kArchive);
  EXPECT_GE(names.size(), 10u);
  std::set<std::string> types;
  for (const auto& n : names)
    types.insert(CStr(engine->GetFieldDefinition(sample::kArchive, n)->Value("Type")));
  EXPECT_EQ(types, (std::set<std::string>{"TextBox", "ComboBox", "Calendar", "FileLinker"}));
}

TEST(CodeFilterTest, BuildsTheQueryFromWhitelistedColumnsOnly) {
  const CodeFilter f = ParseCodeFilter("archive = 'A' and fieldType='F' order by cod");
  EXPECT_EQ(f.Sql(),
            "SELECT \"COD\", \"VALUE\" FROM code_lists WHERE archive = ?1 AND fieldType = ?2 "
            "ORDER BY \"COD\"");
  ASSERT_EQ(f.equals.size(), 2u);
  EXPECT_EQ(f.equals[1].second, "F");
  EXPECT_EQ(ParseCodeFilter("").Sql(), "SELECT \"COD\", \"VALUE\" FROM code_lists");
  EXPECT_THAT(CaptureError([] { ParseCodeFilter("archive = 'A"); }),
              ErrorIs(kBadFilterNumber, "unterminated"));
  EXPECT_THAT(CaptureError([] { ParseCodeFilter("archive 'A'"); }),
              ErrorIs(kBadFilterNumber, "'=' expected"));
  EXPECT_THAT(CaptureError([] { ParseCodeFilter("order cod"); }),
              ErrorIs(kBadFilterNumber, "'by' expected"));
}

}  // namespace
}  // namespace kvtsqlite
