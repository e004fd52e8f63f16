// An archive that grew for years, written out: N invoices of 12 values in a SQLite file (made
// with bulk SQL, below), exported as CSV to /dev/null. Counters: peak_rss_mb, the program's
// peak resident memory (the export reads one document at a time, so it stays flat as N
// grows), and vs_bare_scan, the export's time against a plain ordered read of the same values in
// C++ in the same run (medians of three rounds each).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <string>

#include "common/document_export.h"
#include "sample_file.h"

namespace {

using Clock = std::chrono::steady_clock;

void Exec(sqlite3* db, const std::string& sql) {
  char* error = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string what = error ? error : "sqlite3_exec failed";
    sqlite3_free(error);
    throw std::runtime_error(what);
  }
}

// N documents of the sample archive in one transaction: every id from a recursive series,
// every value from the id, so that no document is read twice from memory.
void Generate(const std::string& path, std::int64_t n) {
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("open " + path);
  const std::string series =
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
      std::to_string(n) + ") ";
  Exec(db, "BEGIN");
  Exec(db, series +
               ", f(pos, name) AS (VALUES (1, 'NumeroDocumento'), (2, 'DataDocumento'), "
               "(3, 'TipoDocumento'), (4, 'Reparto'), (5, 'Cliente'), (6, 'CodiceFiscale'), "
               "(7, 'Email'), (8, 'Quantita'), (9, 'Prezzo'), (10, 'Totale'), (11, 'Allegato'), "
               "(12, 'Note')) "
               "INSERT INTO documents (id, archive, saved_at, content) "
               "SELECT i, 'Fatture', '2026-12-06T10:00:00Z', (SELECT json_group_object(name, v) "
               "FROM (SELECT f.name AS name, CASE f.name "
               "WHEN 'NumeroDocumento' THEN CAST(100000 + i AS TEXT) "
               "WHEN 'Quantita' THEN CAST(1 + i % 9 AS TEXT) "
               "ELSE f.name || ' ' || (i % 997) END AS v FROM f ORDER BY f.pos)) FROM n");
  Exec(db,
       "INSERT INTO document_fields (field) SELECT DISTINCT k.key FROM json_each((SELECT content "
       "FROM documents LIMIT 1)) k");
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

// The same values in the same order as SQLite itself gives them from the rows (json_each),
// read and touched, nothing else: a plain hand-written read. The export reads the rows with the
// engine's own reader of its JSON and may go below it.
double BareScan(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT d.id, d.saved_at, v.key, v.value FROM documents d "
                     "LEFT JOIN json_each(d.content) v ON 1 WHERE d.archive = 'Fatture' "
                     "ORDER BY d.id",
                     -1, &q, nullptr);
  const auto start = Clock::now();
  std::size_t bytes = 0;
  while (sqlite3_step(q) == SQLITE_ROW) {
    for (int c = 1; c < 4; ++c) bytes += static_cast<std::size_t>(sqlite3_column_bytes(q, c));
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  benchmark::DoNotOptimize(bytes);
  sqlite3_finalize(q);
  sqlite3_close(db);
  return seconds;
}

double PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

void BM_ExportDocuments(benchmark::State& state) {
  kvtbench::SampleFile file("export-bench");
  const std::int64_t n = state.range(0);
  const auto fields = file.engine->GetFormFields("Fatture");
  file.engine.reset();  // the generator writes the file alone
  Generate(file.path, n);
  file.engine = kvtsqlite::SqliteEngine::Open(file.path, false);
  // Three rounds of both, one after the other, and each one's median: a moment of a busy
  // machine does not decide the ratio.
  std::vector<double> exports, bares;
  std::size_t written = 0;
  for (auto _ : state) {
    for (int round = 0; round < 3; ++round) {
      const auto start = Clock::now();
      kvtapp::OutputFile out("/dev/null", {});
      written = kvtapp::ExportCsv(*file.engine, "Fatture", fields, {}, out);
      out.Commit();
      exports.push_back(std::chrono::duration<double>(Clock::now() - start).count());
      bares.push_back(BareScan(file.path));
    }
  }
  if (written != static_cast<std::size_t>(n)) state.SkipWithError("not every document written");
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double export_seconds = median(exports);
  state.counters["peak_rss_mb"] = PeakRssMb();
  state.counters["vs_bare_scan"] = export_seconds / median(bares);
  state.counters["docs_per_s"] = static_cast<double>(n) / export_seconds;
  state.counters["bare_docs_per_s"] = static_cast<double>(n) / median(bares);
}
BENCHMARK(BM_ExportDocuments)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
