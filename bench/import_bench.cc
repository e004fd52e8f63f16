// Documents in batches: 10,000 CSV rows entered through the sample's entry form (checks and
// script included). vs_dry_run: storing them against only checking them; vs_empty_store:
// storing them with 100,000 customer names already learnt against an empty store; vs_build:
// one stored row against one build of the form (built once and reused, a row must cost less);
// floor_vs_dry: the dry run plus SQLite's own inserts of the same stored rows (prepared
// statements, the same batches, nothing else) against the dry run, the least storing can add on
// this layout of the values.
// BM_ImportFile: the memory of the program importing a file of a million rows.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <tuple>

#include "archives/sample_archive.h"
#include "common/document_entry.h"
#include "common/workspace.h"
#include "host/headless/desktop.h"
#include "sample_file.h"

namespace {

namespace sample = kvtarchive::sample;
using Clock = std::chrono::steady_clock;

std::vector<std::vector<std::string>> Rows(std::int64_t n) {
  std::vector<std::vector<std::string>> rows = {
      {"NumeroDocumento", "DataDocumento", "TipoDocumento", "Cliente", "Quantita", "Prezzo"}};
  for (std::int64_t i = 0; i < n; ++i) {
    const bool bad = i % 50 == 0;  // a number too short: refused with its message
    rows.push_back({bad ? "12" : std::to_string(100000 + i), "05/12/2026", i % 3 ? "FAT" : "NC",
                    "cliente " + std::to_string(i % 97), std::to_string(1 + i % 9), "12,50"});
  }
  return rows;
}

struct FreeValue {
  void operator()(sqlite3_value* v) const { sqlite3_value_free(v); }
};

// A stored value row as the engine wrote it, with its document's row.
struct StoredRow {
  std::int64_t document;
  std::string archive, saved_at, saved_by, field;
  std::unique_ptr<sqlite3_value, FreeValue> value;  // as stored, its type kept
  std::string search;
  bool has_search;
};

void Check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
  }
}

// Every stored value row of the file at `path`, in the order it was written.
std::vector<StoredRow> StoredRows(const std::string& path) {
  sqlite3* db = nullptr;
  Check(db, sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), "open");
  sqlite3_stmt* q = nullptr;
  Check(db,
        sqlite3_prepare_v2(db,
                           "SELECT v.document, d.archive, d.saved_at, d.saved_by, v.field, "
                           "v.value, v.search FROM document_values v JOIN documents d ON d.id = "
                           "v.document ORDER BY v.rowid",
                           -1, &q, nullptr),
        "prepare");
  std::vector<StoredRow> out;
  auto text = [q](int c) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(q, c));
    return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(q, c)));
  };
  while (sqlite3_step(q) == SQLITE_ROW) {
    out.push_back(
        {sqlite3_column_int64(q, 0), text(1), text(2), text(3), text(4),
         std::unique_ptr<sqlite3_value, FreeValue>(sqlite3_value_dup(sqlite3_column_value(q, 5))),
         text(6), sqlite3_column_type(q, 6) != SQLITE_NULL});
  }
  sqlite3_finalize(q);
  sqlite3_close(db);
  return out;
}

// Seconds for SQLite alone to insert `rows` into a fresh sample file: one transaction per
// `per_commit` documents, as the import commits.
double BareStore(const std::vector<StoredRow>& rows, std::size_t per_commit) {
  kvtbench::SampleFile file("import-bare");
  sqlite3* db = nullptr;
  Check(db, sqlite3_open(file.path.c_str(), &db), "open");
  sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON;", nullptr, nullptr, nullptr);
  sqlite3_stmt* doc = nullptr;
  sqlite3_stmt* value = nullptr;
  Check(db,
        sqlite3_prepare_v2(
            db, "INSERT INTO documents (archive, saved_at, saved_by) VALUES (?1, ?2, ?3)", -1, &doc,
            nullptr),
        "prepare");
  Check(db,
        sqlite3_prepare_v2(db,
                           "INSERT INTO document_values (document, field, value, search) VALUES "
                           "(?1, ?2, ?3, ?4)",
                           -1, &value, nullptr),
        "prepare");
  const auto start = Clock::now();
  std::int64_t last = -1, id = 0;
  std::size_t in_batch = 0;
  Check(db, sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), "begin");
  for (const auto& r : rows) {
    if (r.document != last) {
      if (in_batch == per_commit) {
        Check(db, sqlite3_exec(db, "COMMIT; BEGIN IMMEDIATE", nullptr, nullptr, nullptr), "commit");
        in_batch = 0;
      }
      sqlite3_bind_text(doc, 1, r.archive.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(doc, 2, r.saved_at.c_str(), -1, SQLITE_STATIC);
      sqlite3_bind_text(doc, 3, r.saved_by.c_str(), -1, SQLITE_STATIC);
      Check(db, sqlite3_step(doc), "insert");
      sqlite3_reset(doc);
      id = sqlite3_last_insert_rowid(db);
      last = r.document;
      ++in_batch;
    }
    sqlite3_bind_int64(value, 1, id);
    sqlite3_bind_text(value, 2, r.field.c_str(), -1, SQLITE_STATIC);
    sqlite3_bind_value(value, 3, r.value.get());
    if (r.has_search) {
      sqlite3_bind_text(value, 4, r.search.c_str(), -1, SQLITE_STATIC);
    } else {
      sqlite3_bind_null(value, 4);
    }
    Check(db, sqlite3_step(value), "insert");
    sqlite3_reset(value);
  }
  Check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit");
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sqlite3_finalize(doc);
  sqlite3_finalize(value);
  sqlite3_close(db);
  return seconds;
}

// One import of `rows` on a fresh sample file: `learnt` customer names learnt beforehand, the
// rows stored or not; `stored`, when given, receives the value rows written. Seconds, and
// (second) one build of the form, the median of five.
std::pair<double, double> Import(const std::vector<std::vector<std::string>>& rows, bool store,
                                 std::int64_t learnt, kvthost::Desktop& desktop,
                                 std::vector<StoredRow>* stored = nullptr) {
  kvtbench::SampleFile file("import-bench");
  if (learnt > 0) {
    file.engine->Transaction([&] {
      for (std::int64_t i = 0; i < learnt; ++i) {
        file.engine->PutLearnt(
            {"Fatture-Cliente", "Cliente " + std::to_string(1000000 + i) + " srl", 1 + i % 7, i});
      }
    });
  }
  kvtapp::Workspace w([](std::shared_ptr<kvthost::Form> f) -> std::unique_ptr<kvthost::IPerson> {
    return std::make_unique<kvthost::User>(std::move(f));
  });
  w.Open(file.path, false);
  w.Build(sample::kArchive, sample::kEntryForm);
  std::vector<double> builds;
  for (int i = 0; i < 5; ++i) {
    const auto start = Clock::now();
    w.Rebuild();
    builds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::sort(builds.begin(), builds.end());
  auto messages = [&desktop] {
    std::vector<std::string> out;
    for (const auto& m : desktop.Messages()) out.push_back(m.prompt);
    desktop.ClearMessages();
    return out;
  };
  const auto start = Clock::now();
  kvtapp::ImportResult result;
  kvtapp::ImportOptions options;
  options.store = store;
  kvtapp::ImportRows(w, rows, messages, options, nullptr, nullptr, result);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  benchmark::DoNotOptimize(result.accepted);
  if (stored) *stored = StoredRows(file.path);
  return {seconds, builds[2]};
}

// The same rows three ways in one run: checked only (the dry run), stored into a store that
// has learnt nothing, and stored with 100,000 customer names already learnt.
void BM_ImportDocuments(benchmark::State& state) {
  auto desktop = kvthost::Desktop::Install();
  const std::int64_t n = state.range(0);
  const auto rows = Rows(n);
  double dry = 0, stored = 0, learnt = 0, build = 0, bare = 0;
  for (auto _ : state) {
    dry = Import(rows, false, 0, *desktop).first;
    std::vector<StoredRow> written;
    std::tie(stored, build) = Import(rows, true, 0, *desktop, &written);
    learnt = Import(rows, true, 100000, *desktop).first;
    bare = BareStore(written, kvtapp::ImportOptions{}.rows_per_commit);
  }
  desktop->Uninstall();
  state.counters["rows_per_s"] = static_cast<double>(n) / stored;
  state.counters["dry_rows_per_s"] = static_cast<double>(n) / dry;
  state.counters["vs_dry_run"] = stored / dry;
  state.counters["vs_empty_store"] = learnt / stored;
  state.counters["vs_build"] = (stored / static_cast<double>(n)) / build;
  state.counters["floor_vs_dry"] = (dry + bare) / dry;
}
BENCHMARK(BM_ImportDocuments)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

// The program importing a CSV file of N rows (--dry-run: the reading and the entry, without
// the time of storing a million documents): peak_rss_mb is the program's peak resident memory,
// which stays flat however long the file, since rows are read as they are entered.
void BM_ImportFile(benchmark::State& state) {
  const std::int64_t n = state.range(0);
  kvtbench::SampleFile file("import-file-bench");
  const std::string csv = file.path + ".csv";
  {
    std::ofstream out(csv, std::ios::binary);
    out << "NumeroDocumento;DataDocumento;TipoDocumento;Cliente;Quantita;Prezzo\n";
    for (std::int64_t i = 0; i < n; ++i) {
      out << 100000 + i << ";05/12/2026;" << (i % 3 ? "FAT" : "NC") << ";cliente " << i % 97 << ";"
          << 1 + i % 9 << ";12,50\n";
    }
  }
  double peak_mb = 0;
  for (auto _ : state) {
    const pid_t child = ::fork();
    if (child == 0) {
      const int quiet = ::open("/dev/null", O_WRONLY);
      ::dup2(quiet, 1);
      ::dup2(quiet, 2);
      ::execl(KVTFIELDS_PROGRAM, "kvtfields", "documents", "import", "--dry-run", "--db",
              file.path.c_str(), "--archive", "Fatture", "--form", "Inserimento", csv.c_str(),
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) state.SkipWithError("the import failed");
    peak_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;
  }
  std::filesystem::remove(csv);
  state.counters["peak_rss_mb"] = peak_mb;
}
BENCHMARK(BM_ImportFile)->Arg(1000000)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
