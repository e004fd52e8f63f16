// Documents in batches: 10,000 CSV rows entered through the sample's entry form (checks and
// script included), a commit's worth at a time in turn with the imports it is compared with.
// vs_dry_run: storing them against only checking them; vs_empty_store:
// storing them with 100,000 customer names already learnt against an empty store; vs_build:
// one stored row against one build of the form (built once and reused, a row must cost less);
// floor_vs_dry: the dry run plus SQLite's own inserts of the same stored rows and key entries
// (prepared statements, the same batches, nothing else) against the dry run, the least storing
// can add on this layout of the documents.
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

// A stored document as the engine wrote it: its row and its key entries.
struct StoredRow {
  std::string archive, saved_at, saved_by, content, search_keys;
  std::vector<std::pair<std::string, std::string>> keys;  // field, key
};

void Check(sqlite3* db, int rc, const char* what) {
  if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
    throw std::runtime_error(std::string(what) + ": " + sqlite3_errmsg(db));
  }
}

// Every stored document of the file at `path`, in the order it was written.
std::vector<StoredRow> StoredRows(const std::string& path) {
  sqlite3* db = nullptr;
  Check(db, sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), "open");
  sqlite3_stmt* q = nullptr;
  Check(db,
        sqlite3_prepare_v2(db,
                           "SELECT d.id, d.archive, d.saved_at, d.saved_by, d.content, "
                           "d.search_keys, k.key, k.value FROM documents d LEFT JOIN "
                           "json_each(d.search_keys) k ON 1 ORDER BY d.id",
                           -1, &q, nullptr),
        "prepare");
  std::vector<StoredRow> out;
  auto text = [q](int c) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(q, c));
    return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(q, c)));
  };
  std::int64_t last = -1;
  while (sqlite3_step(q) == SQLITE_ROW) {
    if (sqlite3_column_int64(q, 0) != last) {
      last = sqlite3_column_int64(q, 0);
      out.push_back({text(1), text(2), text(3), text(4), text(5), {}});
    }
    if (sqlite3_column_type(q, 6) != SQLITE_NULL) out.back().keys.emplace_back(text(6), text(7));
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
  sqlite3_stmt* key = nullptr;
  Check(db,
        sqlite3_prepare_v2(db,
                           "INSERT INTO documents (archive, saved_at, saved_by, content, "
                           "search_keys) VALUES (?1, ?2, ?3, ?4, ?5)",
                           -1, &doc, nullptr),
        "prepare");
  Check(db,
        sqlite3_prepare_v2(
            db, "INSERT INTO document_keys (field, search, document) VALUES (?1, ?2, ?3)", -1, &key,
            nullptr),
        "prepare");
  auto bind = [](sqlite3_stmt* s, int i, const std::string& t) {
    sqlite3_bind_text(s, i, t.data(), static_cast<int>(t.size()), SQLITE_STATIC);
  };
  const auto start = Clock::now();
  std::size_t in_batch = 0;
  Check(db, sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), "begin");
  for (const auto& r : rows) {
    if (in_batch == per_commit) {
      Check(db, sqlite3_exec(db, "COMMIT; BEGIN IMMEDIATE", nullptr, nullptr, nullptr), "commit");
      in_batch = 0;
    }
    bind(doc, 1, r.archive);
    bind(doc, 2, r.saved_at);
    bind(doc, 3, r.saved_by);
    bind(doc, 4, r.content);
    bind(doc, 5, r.search_keys);
    Check(db, sqlite3_step(doc), "insert");
    sqlite3_reset(doc);
    const std::int64_t id = sqlite3_last_insert_rowid(db);
    ++in_batch;
    for (const auto& [field, search] : r.keys) {
      bind(key, 1, field);
      bind(key, 2, search);
      sqlite3_bind_int64(key, 3, id);
      Check(db, sqlite3_step(key), "insert");
      sqlite3_reset(key);
    }
  }
  Check(db, sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), "commit");
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sqlite3_finalize(doc);
  sqlite3_finalize(key);
  sqlite3_close(db);
  return seconds;
}

// An import on a fresh sample file: `learnt` customer names learnt beforehand, the rows stored
// or not. Its rows are given a commit's worth at a time, so that several imports can go on in
// turn and meet the same moments of a busy machine.
class Importer {
 public:
  Importer(bool store, std::int64_t learnt, kvthost::Desktop& desktop)
      : file_("import-bench"), store_(store), desktop_(desktop) {
    if (learnt > 0) {
      file_.engine->Transaction([&] {
        for (std::int64_t i = 0; i < learnt; ++i) {
          file_.engine->PutLearnt(
              {"Fatture-Cliente", "Cliente " + std::to_string(1000000 + i) + " srl", 1 + i % 7, i});
        }
      });
    }
    w_.Open(file_.path, false);
    w_.Build(sample::kArchive, sample::kEntryForm);
  }
  // Enters `rows` (the header first), stores them or not; the seconds it took.
  double Enter(const std::vector<std::vector<std::string>>& rows) {
    auto messages = [this] {
      std::vector<std::string> out;
      for (const auto& m : desktop_.Messages()) out.push_back(m.prompt);
      desktop_.ClearMessages();
      return out;
    };
    const auto start = Clock::now();
    kvtapp::ImportResult result;
    kvtapp::ImportOptions options;
    options.store = store_;
    kvtapp::ImportRows(w_, rows, messages, options, nullptr, nullptr, result);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    benchmark::DoNotOptimize(result.accepted);
    return seconds;
  }
  // One build of the form, the median of five.
  double Build() {
    std::vector<double> builds;
    for (int i = 0; i < 5; ++i) {
      const auto start = Clock::now();
      w_.Rebuild();
      builds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    std::sort(builds.begin(), builds.end());
    return builds[2];
  }
  const std::string& Path() const { return file_.path; }

 private:
  kvtbench::SampleFile file_;
  bool store_;
  kvthost::Desktop& desktop_;
  kvtapp::Workspace w_{[](std::shared_ptr<kvthost::Form> f) -> std::unique_ptr<kvthost::IPerson> {
    return std::make_unique<kvthost::User>(std::move(f));
  }};
};

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The same rows three ways: checked only (the dry run), stored into a store that has learnt
// nothing, and stored with 100,000 customer names already learnt; each way on a file of its
// own, the three given a commit's worth of rows in turn, so that a slow moment of the machine
// (measured here: the same dry run took from 1.1 to 1.9 s, all of it CPU time) falls on all
// three alike. Three rounds; each ratio is the median of the rounds' ratios.
void BM_ImportDocuments(benchmark::State& state) {
  auto desktop = kvthost::Desktop::Install();
  const std::int64_t n = state.range(0);
  const auto rows = Rows(n);
  const std::size_t per_commit = kvtapp::ImportOptions{}.rows_per_commit;
  std::vector<double> vs_dry, vs_empty, floor, builds, dry_s, stored_s;
  for (auto _ : state) {
    for (int round = 0; round < 3; ++round) {
      Importer dry(false, 0, *desktop), stored(true, 0, *desktop), learnt(true, 100000, *desktop);
      double d = 0, s = 0, l = 0;
      for (std::size_t from = 1; from < rows.size(); from += per_commit) {
        std::vector<std::vector<std::string>> chunk = {rows.front()};
        const std::size_t to = std::min(rows.size(), from + per_commit);
        chunk.insert(chunk.end(), rows.begin() + static_cast<std::ptrdiff_t>(from),
                     rows.begin() + static_cast<std::ptrdiff_t>(to));
        // Each goes first, second and third in turn: none is always the one after another.
        const std::size_t turn = (from / per_commit + static_cast<std::size_t>(round)) % 3;
        for (std::size_t k = 0; k < 3; ++k) {
          switch ((turn + k) % 3) {
            case 0:
              d += dry.Enter(chunk);
              break;
            case 1:
              s += stored.Enter(chunk);
              break;
            default:
              l += learnt.Enter(chunk);
          }
        }
      }
      builds.push_back(stored.Build());
      const double bare = BareStore(StoredRows(stored.Path()), per_commit);
      vs_dry.push_back(s / d);
      vs_empty.push_back(l / s);
      floor.push_back((d + bare) / d);
      dry_s.push_back(d);
      stored_s.push_back(s);
    }
  }
  desktop->Uninstall();
  const double d = Median(dry_s), s = Median(stored_s);
  state.counters["rows_per_s"] = static_cast<double>(n) / s;
  state.counters["dry_rows_per_s"] = static_cast<double>(n) / d;
  state.counters["vs_dry_run"] = Median(vs_dry);
  state.counters["vs_empty_store"] = Median(vs_empty);
  state.counters["vs_build"] = (s / static_cast<double>(n)) / Median(builds);
  state.counters["floor_vs_dry"] = Median(floor);
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
