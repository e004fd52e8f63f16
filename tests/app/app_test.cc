// The kvtfields program as a user runs it: exit codes, messages, what it stores.
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "archives/sample_archive.h"
#include "engine/sqlite/db_engine.h"
#include "temp_dir.h"
#include "test_support.h"

namespace {

struct Result {
  int exit_code;
  std::string output;  // standard output and standard error together
};

Result RunProgram(const std::string& args) {
  const std::string command = std::string(KVTFIELDS_PROGRAM) + " " + args + " 2>&1";
  Result r{-1, {}};
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  std::array<char, 4096> buf{};
  while (std::fgets(buf.data(), buf.size(), pipe)) r.output += buf.data();
  const int status = pclose(pipe);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto engine = kvtsqlite::DBEngine::Open(db_);
    kvtarchive::sample::CreateSampleArchive(*engine);
  }
  int Documents() { return kvtsqlite::DBEngine::Open(db_)->DocumentCount("Fatture"); }
  std::string Enter(const std::string& sets) {
    return "enter --db " + db_ + " --archive Fatture --form Inserimento " + sets;
  }

  kvt::testing::TempDir dir_;
  std::string db_ = dir_.File("fatture.kvtdb");
};

TEST_F(AppTest, AnAcceptedDocumentIsStoredAsTyped) {
  const Result r =
      RunProgram(Enter("--set NumeroDocumento=2027 --set TipoDocumento=FAT "
                       "--set 'Cliente=beta srl' --set Quantita=2 --set Prezzo=10,5"));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  ASSERT_EQ(Documents(), 1);
  auto doc =
      std::dynamic_pointer_cast<kvt::Dictionary>(kvtsqlite::DBEngine::Open(db_)->LoadDocument(1));
  EXPECT_EQ(kvt::CStr(doc->Item("Cliente")), "BETA SRL");  // the field's upper-case rule
  EXPECT_EQ(kvt::CStr(doc->Item("Totale")), "21,00");      // the archive's script
}

TEST_F(AppTest, ARejectedDocumentPrintsTheItalianMessagesAndStoresNothing) {
  Result r = RunProgram(Enter("--set NumeroDocumento=ab --set TipoDocumento=FAT --set Cliente=X"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("ammette solo valori numerici"), std::string::npos) << r.output;
  r = RunProgram(Enter("--set NumeroDocumento=2027"));
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.output.find("è obbligatorio"), std::string::npos) << r.output;
  EXPECT_EQ(Documents(), 0);
}

TEST_F(AppTest, BadInputGivesOneClearLineAndExit2) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {Enter("--set Nessuno=1"), "has no field 'Nessuno'"},
      {Enter("--set TipoDocumento=XX"), "'XX' is not in the list"},
      {"show --db " + dir_.File("manca.kvtdb") + " --archive Fatture --form F", "no database file"},
      {"show --db " + db_ + " --archive Altro --form F", "no archive 'Altro'"},
      {"show --archive Fatture", "--db FILE is required"},
      {"frobnicate", "unknown command"},
  };
  for (const auto& [args, text] : cases) {
    const Result r = RunProgram(args);
    EXPECT_EQ(r.exit_code, 2) << args;
    EXPECT_NE(r.output.find(text), std::string::npos) << args << "\n" << r.output;
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), 1) << r.output;
  }
  EXPECT_EQ(Documents(), 0);
}

TEST_F(AppTest, NothingIsStoredThatWasNotAskedForOrAfterAFailedScript) {
  auto engine = kvtsqlite::DBEngine::Open(db_);
  const std::string base =
      "--set NumeroDocumento=2027 --set TipoDocumento=FAT --set 'Cliente=beta srl'";
  struct Case {
    std::string script;  // replaces the archive's script when not empty
    std::string sets;
    int exit_code;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"", "--set 'Email=a@b.it\t7'", 2, "control character"},
      {"", "--set Cliente=uno --set Cliente=due", 2, "given twice"},
      {"", "--set CodiceFiscale=" + std::string(17, 'X'), 2, "longer than its 16 characters"},
      {"", "--set 'Email=a\nb'", 2, "holds one line"},
      // A recompute that cannot give a whole number shows its box: nothing is stored.
      {"function aggiorna() return { 'Totale' } end\nfunction calcola() return 0/0 end",
       "--set Quantita=2", 1, "Unable to find"},
      // A check that empties the form leaves nothing to store.
      {"function valida(n, v, c) c:RemoveAll() end", "", 1, "tolto i campi"},
  };
  for (const auto& c : cases) {
    engine->PutScript("Fatture", c.script.empty() ? kvtarchive::sample::Script() : c.script);
    const Result r = RunProgram(Enter(base + " " + c.sets));
    EXPECT_EQ(r.exit_code, c.exit_code) << c.sets << "\n" << r.output;
    EXPECT_NE(r.output.find(c.text), std::string::npos) << c.sets << "\n" << r.output;
  }
  EXPECT_EQ(Documents(), 0);
  // A value given whole, spaces and line ends of a multi-line field included, is stored so.
  engine->PutScript("Fatture", kvtarchive::sample::Script());
  const Result r = RunProgram(Enter(base + " --set 'Note=riga uno\nriga  due'"));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  auto doc = std::dynamic_pointer_cast<kvt::Dictionary>(engine->LoadDocument(1));
  EXPECT_EQ(kvt::CStr(doc->Item("Note")), "riga uno\r\nriga  due");
}

TEST_F(AppTest, OnlyTheDemoMakesADatabase) {
  const std::string empty = dir_.File("vuoto.kvtdb");
  std::fclose(std::fopen(empty.c_str(), "w"));
  const Result r = RunProgram("show --db " + empty + " --archive Fatture --form Inserimento");
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.output.find("is empty, not a kvtfields database"), std::string::npos) << r.output;
  EXPECT_EQ(std::filesystem::file_size(empty), 0u);
}

TEST_F(AppTest, TheDemoPlaysItsSessionAndStoresItsDocument) {
  const Result r = RunProgram("demo --db " + dir_.File("demo.kvtdb"));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("Totale:  *[37,50"), std::string::npos) << r.output;
  EXPECT_NE(r.output.find("Salvato il documento 1"), std::string::npos);
  EXPECT_EQ(kvtsqlite::DBEngine::Open(dir_.File("demo.kvtdb"))->DocumentCount("Fatture"), 1);
}

}  // namespace
