// A failure at any call of the engine in the middle of an archive import, a copy or a batch of
// documents leaves nothing half-written: every call is failed in turn, and the database is
// read back each time.
#include <algorithm>
#include <set>

#include "archives/archive_file.h"
#include "archives/sample_archive.h"
#include "common/copy_database.h"
#include "common/document_entry.h"
#include "common/workspace.h"
#include "engine/common/engine_error.h"
#include "engine/common/forwarding_engine.h"
#include "engine/sqlite/sqlite_engine.h"
#include "host/headless/desktop.h"
#include "temp_dir.h"
#include "test_support.h"

namespace kvtapp {
namespace {

namespace sample = kvtarchive::sample;

// Fails the N-th call it is given (counted from when it was armed), once.
class FailingEngine final : public kvtengine::ForwardingEngine {
 public:
  using ForwardingEngine::ForwardingEngine;
  /// Fails the `n`-th call from now; 0 never.
  void FailAt(int n) {
    calls.clear();
    fail_at_ = n;
  }
  int Calls() const { return static_cast<int>(calls.size()); }
  std::string failed;              // the call that was failed
  std::vector<std::string> calls;  // every call since it was armed, in order
  // A transaction begun inside another joins it: named apart, so that a test finds the outer
  // ones (a batch's commits) among a document's own.
  void Transaction(const std::function<void()>& work) override {
    ++depth_;
    struct Leave {
      int& depth;
      ~Leave() { --depth; }
    } leave{depth_};
    ForwardingEngine::Transaction(work);
  }

 protected:
  void Before(const char* call) override {
    calls.emplace_back(
        depth_ > 1 && std::string_view(call) == "Transaction" ? "Transaction (joined)" : call);
    if (Calls() != fail_at_) return;
    failed = call;
    throw kvtengine::EngineError(kvtengine::kDatabaseError, "FailingEngine",
                                 std::string("injected failure at ") + call);
  }

 private:
  int fail_at_ = 0;
  int depth_ = 0;
};

// Everything a database holds, as text: definitions, layouts, codes, scripts, documents.
std::string Everything(kvtengine::ArchiveEngine& e) {
  std::string out;
  for (const auto& a : e.ListAllArchives()) {
    if (e.HasArchive(a)) out += kvtarchive::ExportArchive(e, a);
    for (const auto& d : e.ListDocuments(a)) {
      out += "doc " + std::to_string(d.id) + " versions " + std::to_string(e.History(d.id).size()) +
             ":";
      for (const auto& [f, v] : d.values) out += " " + f + "=" + kvt::JoinText(v);
      out += "\n";
    }
    for (const auto& [id, deletion] : e.DeletedDocuments(a)) {
      out += "deleted " + std::to_string(id) + " at version " + std::to_string(deletion.version) +
             "\n";
    }
  }
  for (const auto& [set, source] : e.ListScripts()) out += "script " + set + "\n" + source;
  for (const auto& l : e.ListLearnt()) out += "learnt " + l.key + "=" + l.value + "\n";
  return out;
}

class FaultTest : public ::testing::Test {
 protected:
  // A sample database with two documents, and what it holds.
  void SetUp() override {
    auto e = kvtsqlite::SqliteEngine::Open(db_);
    sample::CreateSampleArchive(*e);
    for (const char* n : {"1001", "1002"}) {
      auto v = kvt::Dictionary::Create();
      v->Add("NumeroDocumento", kvt::Variant(n));
      e->SaveDocument(sample::kArchive, v);
    }
  }
  // Runs `operation` through a failing engine on a fresh copy of `path` once for every call it
  // makes, failing that call, and checks the copy after each failure.
  template <class Op, class Check>
  void EveryCallFails(const std::string& path, Op operation, Check check) {
    // Closed engines have folded their journal into the file: a copy of it is the database.
    const std::string copy = dir_.File("copia.kvtdb");
    auto fresh_copy = [&] {
      std::filesystem::copy_file(path, copy, std::filesystem::copy_options::overwrite_existing);
      return std::make_shared<FailingEngine>(kvtsqlite::SqliteEngine::Open(copy));
    };
    int calls = 0;
    {
      auto counting = fresh_copy();
      operation(*counting);
      calls = counting->Calls();
    }
    ASSERT_GT(calls, 0);
    for (int n = 1; n <= calls; ++n) {
      std::string failed;
      {
        auto failing = fresh_copy();
        failing->FailAt(n);
        EXPECT_THROW(operation(*failing), kvt::Error) << "call " << n;
        failed = failing->failed;
      }
      check(*kvtsqlite::SqliteEngine::Open(copy), n, failed);
    }
  }

  kvt::testing::TempDir dir_;
  std::string db_ = dir_.File("fatture.kvtdb");
};

TEST_F(FaultTest, AnArchiveImportFailingAnywhereLeavesTheOldArchive) {
  const std::string before = Everything(*kvtsqlite::SqliteEngine::Open(db_));
  kvtarchive::ArchiveFile changed =
      kvtarchive::ParseArchiveFile(
          kvtarchive::ExportArchive(*kvtsqlite::SqliteEngine::Open(db_), sample::kArchive),
          "f.toml")
          .archive;
  changed.fields.pop_back();
  changed.fields[0].codes.emplace_back("ZZ", "nuovo");
  changed.script = "function ingresso() end";
  EveryCallFails(
      db_, [&](kvtengine::ArchiveEngine& e) { kvtarchive::ImportArchive(e, changed, true); },
      [&](kvtengine::ArchiveEngine& e, int n, const std::string& call) {
        EXPECT_EQ(Everything(e), before) << "failed at call " << n << " (" << call << ")";
      });
}

TEST_F(FaultTest, ACopyFailingAnywhereLeavesTheTargetEmpty) {
  const std::string target = dir_.File("vuoto.kvtdb");
  kvtsqlite::SqliteEngine::Open(target);
  auto from = kvtsqlite::SqliteEngine::Open(db_);
  // Histories go along too: a correction, and a document deleted.
  auto fixed = kvt::Dictionary::Create();
  fixed->Add("NumeroDocumento", kvt::Variant("1003"));
  from->CorrectDocument(1, fixed, 1);
  from->DeleteDocument(2, 1);
  {
    const std::string whole = dir_.File("intera.kvtdb");
    auto to = kvtsqlite::SqliteEngine::Open(whole);
    CopyDatabase(*from, *to);
    EXPECT_EQ(Everything(*to), Everything(*from));
    EXPECT_THAT(Everything(*to), ::testing::HasSubstr("deleted 2 at version 2"));
  }
  EveryCallFails(
      target, [&](kvtengine::ArchiveEngine& to) { CopyDatabase(*from, to); },
      [&](kvtengine::ArchiveEngine& e, int n, const std::string& call) {
        EXPECT_EQ(Everything(e), "") << "failed at call " << n << " (" << call << ")";
      });
}

TEST_F(FaultTest, ABatchImportFailingAnywhereKeepsWhatItSaysItStored) {
  std::vector<std::vector<std::string>> rows = {
      {"NumeroDocumento", "DataDocumento", "TipoDocumento", "Cliente"}};
  for (int i = 0; i < 520; ++i) {
    rows.push_back({std::to_string(20000 + i), "06/12/2026", i % 7 == 0 ? "ZZ" : "FAT",
                    "c" + std::to_string(i)});
  }
  auto desktop = kvthost::Desktop::Install();
  auto messages = [&desktop] {
    std::vector<std::string> out;
    for (const auto& m : desktop->Messages()) out.push_back(m.prompt);
    desktop->ClearMessages();
    return out;
  };
  auto person = [](std::shared_ptr<kvthost::Form> f) -> std::unique_ptr<kvthost::IPerson> {
    return std::make_unique<kvthost::User>(std::move(f));
  };
  ImportOptions small_batches;
  small_batches.rows_per_commit = 250;  // three transactions
  // The calls the import makes, from a run that fails none.
  std::vector<std::string> calls;
  {
    std::filesystem::copy_file(db_, dir_.File("b.kvtdb"),
                               std::filesystem::copy_options::overwrite_existing);
    auto counting =
        std::make_shared<FailingEngine>(kvtsqlite::SqliteEngine::Open(dir_.File("b.kvtdb")));
    Workspace w(person);
    w.Use(counting);
    w.Build(sample::kArchive, sample::kEntryForm);
    counting->FailAt(0);
    ImportResult result;
    ImportRows(w, rows, messages, small_batches, nullptr, nullptr, result);
    calls = counting->calls;
  }
  // The failures that matter: each transaction's start and the calls on either side of it,
  // the last call, and a spread of documents in between.
  std::set<int> at = {static_cast<int>(calls.size())};
  for (std::size_t i = 0; i < calls.size(); ++i) {
    const int n = static_cast<int>(i) + 1;
    if (calls[i] == "Transaction") at.insert({n - 1, n, n + 1});
    if (n % 61 == 0) at.insert(n);
  }
  at.erase(0);
  ASSERT_GE(std::count(calls.begin(), calls.end(), "Transaction"), 3);
  for (const int n : at) {
    std::filesystem::copy_file(db_, dir_.File("b.kvtdb"),
                               std::filesystem::copy_options::overwrite_existing);
    auto failing =
        std::make_shared<FailingEngine>(kvtsqlite::SqliteEngine::Open(dir_.File("b.kvtdb")));
    ImportResult result;
    std::string failed;
    {
      Workspace w(person);
      w.Use(failing);
      w.Build(sample::kArchive, sample::kEntryForm);
      failing->FailAt(n);
      EXPECT_THROW(ImportRows(w, rows, messages, small_batches, nullptr, nullptr, result),
                   kvt::Error)
          << n;
      failed = failing->failed;
    }
    failing.reset();
    auto e = kvtsqlite::SqliteEngine::Open(dir_.File("b.kvtdb"));
    const auto docs = e->ListDocuments(sample::kArchive);
    ASSERT_EQ(docs.size(), 2 + result.committed) << "failed at " << failed << " " << n;
    // The stored ones are exactly the good rows up to the row it names, each whole.
    std::size_t good = 0;
    for (std::size_t r = 1; r <= result.committed_through; ++r) good += rows[r][2] == "FAT";
    EXPECT_EQ(result.committed, good) << n;
    for (std::size_t d = 2; d < docs.size(); ++d) {
      EXPECT_EQ(docs[d].values.size(), docs[2].values.size()) << n;
    }
  }
  desktop->Uninstall();
}

}  // namespace
}  // namespace kvtapp
