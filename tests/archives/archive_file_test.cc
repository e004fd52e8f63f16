#include "archives/archive_file.h"

#include <fstream>
#include <iterator>

#include "archives/sample_archive.h"
#include "engine/sqlite/sqlite_engine.h"
#include "runtime/dictionary.h"
#include "temp_dir.h"
#include "test_support.h"

namespace kvtarchive {
namespace {

using kvt::testing::CaptureError;

std::string SampleFileText() {
  std::ifstream in(std::string(KVT_SOURCE_DIR) + "/archives/fatture.toml", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Problems(const std::string& text) {
  std::vector<std::string> out;
  for (const auto& p : ParseArchiveFile(text, "a.toml").problems) out.push_back(p.ToString());
  return out;
}

TEST(ArchiveFileTest, TheSampleFileRoundTripsThroughADatabase) {
  kvt::testing::TempDir dir;
  auto engine = kvtsqlite::SqliteEngine::Open(dir.File("a.kvtdb"));
  const std::string text = SampleFileText();
  const Read read = ParseArchiveFile(text, "fatture.toml");
  ASSERT_TRUE(read.problems.empty()) << read.problems[0].ToString();
  ImportArchive(*engine, read.archive, false);
  EXPECT_EQ(ExportArchive(*engine, sample::kArchive), text);  // export after import: same file
  // Importing again replaces, it does not add.
  ImportArchive(*engine, read.archive, false);
  EXPECT_EQ(engine->GetFormFields(sample::kArchive).size(), read.archive.fields.size());
  EXPECT_EQ(ExportArchive(*engine, sample::kArchive), text);
}

TEST(ArchiveFileTest, EveryKindOfProblemIsReportedAtItsPlaceInOnePass) {
  const std::string text = R"(archive = "Prova"
colore = "blu"
script = '''
function ingresso(
'''

[[fields]]
name = "Numero"
max_len = "dieci"
min_len = 5

[[fields]]
name = "Codice"
max_len = 3
min_len = 4
type = "Slider"
codes = [
  { code = "A", description = "uno" },
  { code = "A", description = "due" },
]

[[fields]]
name = "numero"
required = 1

[[forms]]
name = "Inserimento"
layout = [
  { field = "Manca", width = 100 },
  { field = "Codice", width = -1, spessore = 2 },
]
)";
  const std::vector<std::string> expected = {
      "a.toml:2:1: unknown key 'colore' in archive file",
      "a.toml:5:1: the script does not compile",
      "a.toml:9:11: 'max_len' must be a whole number",
      "a.toml:15:11: min_len 4 is above max_len 3",
      "a.toml:16:8: type 'Slider' is not a kind of control",
      "a.toml:19:12: code 'A' is listed twice",
      "a.toml:23:8: field 'numero' differs from 'Numero' only in letter case",
      "a.toml:24:12: 'required' must be true or false",
      "a.toml:29:13: form 'Inserimento' lays out 'Manca', which is not a field",
      "a.toml:30:31: 'width' must be from 0",
      "a.toml:30:35: unknown key 'spessore' in a layout",
  };
  const std::vector<std::string> got = Problems(text);
  for (const auto& want : expected) {
    bool found = false;
    for (const auto& g : got) found = found || g.starts_with(want);
    EXPECT_TRUE(found) << "missing: " << want << "\ngot:\n" << ::testing::PrintToString(got);
  }
  ASSERT_EQ(got.size(), expected.size()) << ::testing::PrintToString(got);
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_TRUE(got[i].starts_with(expected[i])) << got[i];  // in the file's order
  }
  EXPECT_THAT(Problems("archive = \"x\"\n[[fields]\n"),
              ::testing::ElementsAre(::testing::StartsWith("a.toml:2:")));
}

TEST(ArchiveFileTest, AnArchiveWithDocumentsIsReplacedOnlyWhenAsked) {
  kvt::testing::TempDir dir;
  auto engine = kvtsqlite::SqliteEngine::Open(dir.File("a.kvtdb"));
  sample::CreateSampleArchive(*engine);
  auto values = kvt::Dictionary::Create();
  values->Add("NumeroDocumento", "1");
  engine->SaveDocument(sample::kArchive, values);
  Read read = ParseArchiveFile(SampleFileText(), "fatture.toml");
  read.archive.fields.resize(2);
  read.archive.forms.clear();
  EXPECT_EQ(CaptureError([&] { ImportArchive(*engine, read.archive, false); }).Number(),
            kvt::kObjectErrorBase + kArchiveHasDocuments);
  EXPECT_EQ(engine->GetFormFields(sample::kArchive).size(), 12u);  // nothing changed
  ImportArchive(*engine, read.archive, true);
  EXPECT_EQ(engine->GetFormFields(sample::kArchive).size(), 2u);
  EXPECT_EQ(engine->DocumentCount(sample::kArchive), 1);  // documents stay
}

// Files written to harm: deep nesting and endless dotted keys are placed problems before the
// parser runs, names cannot hide control characters, and size costs time in proportion.
TEST(ArchiveFileTest, HostileFilesArePlacedProblemsNotCrashes) {
  std::string dotted = "archive = \"A\"\n\nchiave";
  for (int i = 0; i < 50000; ++i) dotted += ".k";
  EXPECT_THAT(Problems(dotted + " = 1\n"),
              ::testing::ElementsAre("a.toml:3:69: a dotted key has more than 32 parts"));
  EXPECT_THAT(Problems("archive = \"A\"\nx = " + std::string(100000, '[')),
              ::testing::ElementsAre("a.toml:2:37: tables and arrays nest more than 32 deep"));
  // Dots and brackets inside strings and comments, and decimal numbers, are no keys.
  const std::string harmless = "archive = \"A.B.C\" # a.b.c.d" + std::string(40, '.') +
                               "\nscript = '''" + std::string(40, '.') + std::string(40, '[') +
                               "'''\n";
  EXPECT_THAT(Problems(harmless),
              ::testing::Not(::testing::Contains(::testing::HasSubstr("parts"))));

  EXPECT_THAT(Problems("archive = \"A\\u001b[31mB\"\n[[fields]]\nname = \"X\\ty\"\n"
                       "codes = [{ code = \"A\\u0000\" }]\n[[forms]]\nname = \"F\\r\"\n"),
              ::testing::IsSupersetOf(
                  {"a.toml:1:11: 'archive' holds a control character (a tab, a line end, ...): "
                   "A\\x1B[31mB",
                   "a.toml:3:8: 'name' holds a control character (a tab, a line end, ...): X\\x09y",
                   "a.toml:4:19: 'code' holds a control character (a tab, a line end, ...): A\\x00",
                   "a.toml:6:8: 'name' holds a control character (a tab, a line end, ...): "
                   "F\\x0D"}));
}

TEST(ArchiveFileTest, ManyFieldsAreCheckedAndImportedWithoutPassingOverTheOthers) {
  // 20,000 fields laid out once: every field checked against the others by look-up. Before,
  // each field and each layout walked all fields read so far (and the engine's letter-case
  // check walked the stored ones), some 10^9 steps.
  std::string text = "archive = \"Grande\"\n";
  for (int i = 0; i < 20000; ++i) text += "[[fields]]\nname = \"Campo" + std::to_string(i) + "\"\n";
  text += "[[fields]]\nname = \"campo7\"\n[[forms]]\nname = \"F\"\nlayout = [\n";
  for (int i = 0; i < 20000; ++i) text += "{ field = \"Campo" + std::to_string(i) + "\" },\n";
  text += "]\n";
  const Read read = ParseArchiveFile(text, "g.toml");
  ASSERT_EQ(read.problems.size(), 1u);
  EXPECT_EQ(read.problems[0].ToString(),
            "g.toml:40003:8: field 'campo7' differs from 'Campo7' only in letter case");
  auto good = read.archive;
  good.fields.pop_back();
  kvt::testing::TempDir dir;
  auto engine = kvtsqlite::SqliteEngine::Open(dir.File("g.kvtdb"));
  ImportArchive(*engine, good, false);
  EXPECT_EQ(engine->GetFormFields("Grande").size(), 20000u);
}

}  // namespace
}  // namespace kvtarchive
