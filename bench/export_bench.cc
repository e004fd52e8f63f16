// An archive that grew for years, written out: N invoices of 12 values in a SQLite file (made
// with bulk SQL, below), exported as CSV to /dev/null. Counters: peak_rss_mb, the program's
// peak resident memory (the export reads one document at a time, so it stays flat as N
// grows), and vs_bare_scan, the export's time against a plain ordered read of the same rows in
// C++ in the same run.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <sys/resource.h>

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
               "INSERT INTO documents (id, archive, saved_at) "
               "SELECT i, 'Fatture', '2026-12-06T10:00:00Z' FROM n");
  Exec(db, series +
               "INSERT INTO document_values (document, field, value) "
               "SELECT i, f.name, CASE f.name WHEN 'NumeroDocumento' THEN CAST(100000 + i AS TEXT) "
               "WHEN 'Quantita' THEN CAST(1 + i % 9 AS TEXT) "
               "ELSE f.name || ' ' || (i % 997) END "
               "FROM n, (SELECT 'NumeroDocumento' AS name UNION ALL SELECT 'DataDocumento' "
               "UNION ALL SELECT 'TipoDocumento' UNION ALL SELECT 'Reparto' "
               "UNION ALL SELECT 'Cliente' UNION ALL SELECT 'CodiceFiscale' "
               "UNION ALL SELECT 'Email' UNION ALL SELECT 'Quantita' UNION ALL SELECT 'Prezzo' "
               "UNION ALL SELECT 'Totale' UNION ALL SELECT 'Allegato' UNION ALL SELECT 'Note') f "
               "ORDER BY i");
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

// The same rows in the same order, read and touched, nothing else: what a hand-written
// export could not go below.
double BareScan(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT d.id, d.saved_at, v.field, v.value FROM documents d "
                     "LEFT JOIN document_values v ON v.document = d.id WHERE d.archive = 'Fatture' "
                     "ORDER BY d.id, v.rowid",
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
  double export_seconds = 0;
  std::size_t written = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    kvtapp::OutputFile out("/dev/null", {});
    written = kvtapp::ExportCsv(*file.engine, "Fatture", fields, {}, out);
    out.Commit();
    export_seconds = std::chrono::duration<double>(Clock::now() - start).count();
  }
  if (written != static_cast<std::size_t>(n)) state.SkipWithError("not every document written");
  state.counters["peak_rss_mb"] = PeakRssMb();
  state.counters["vs_bare_scan"] = export_seconds / BareScan(file.path);
  state.counters["docs_per_s"] = static_cast<double>(n) / export_seconds;
}
BENCHMARK(BM_ExportDocuments)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
