// The engine's calls on the sample archive beside the bare SQLite prepared query each wraps.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "archives/sample_archive.h"
#include "engine/sqlite/db_engine.h"
#include "sample_file.h"

namespace {

namespace sample = kvtarchive::sample;

kvtbench::SampleFile& F() {
  static kvtbench::SampleFile f("engine-bench");
  return f;
}

// Runs a prepared statement to the end, reading every column as the engine does.
void RunBare(sqlite3_stmt* stmt) {
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
      if (sqlite3_column_type(stmt, i) == SQLITE_TEXT) {
        benchmark::DoNotOptimize(sqlite3_column_text(stmt, i));
      } else {
        benchmark::DoNotOptimize(sqlite3_column_int64(stmt, i));
      }
    }
  }
  sqlite3_reset(stmt);
}

sqlite3_stmt* Prepare(const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v3(F().engine->Db().Handle(), sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
  return stmt;
}

void BM_GetFieldDefinition_Engine(benchmark::State& state) {
  const std::string archive = sample::kArchive, field = "Cliente";
  for (auto _ : state) benchmark::DoNotOptimize(F().engine->GetFieldDefinition(archive, field));
}
BENCHMARK(BM_GetFieldDefinition_Engine);

void BM_GetFieldDefinition_BareQuery(benchmark::State& state) {
  sqlite3_stmt* stmt = Prepare(
      "SELECT \"Label\", \"Descr\", \"MaxLen\", \"MinLen\", \"Priority\", \"IsIndex\", "
      "\"IsRequired\", \"AutoComplete\", \"DATA_FORMAT\", \"CHAR_FORMAT\", \"IsRetainInMemory\", "
      "\"Type\" FROM field_definitions WHERE archive = ?1 AND cod = ?2");
  for (auto _ : state) {
    sqlite3_bind_text(stmt, 1, sample::kArchive, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, "Cliente", -1, SQLITE_TRANSIENT);
    RunBare(stmt);
  }
  sqlite3_finalize(stmt);
}
BENCHMARK(BM_GetFieldDefinition_BareQuery);

void BM_GetFieldVisualProperties_Engine(benchmark::State& state) {
  std::string archive = sample::kArchive, field = "Cliente", form = sample::kEntryForm;
  for (auto _ : state) {
    benchmark::DoNotOptimize(F().engine->GetFieldVisualProperties(archive, field, form));
  }
}
BENCHMARK(BM_GetFieldVisualProperties_Engine);

void BM_GetFieldVisualProperties_BareQuery(benchmark::State& state) {
  sqlite3_stmt* stmt = Prepare(
      "SELECT archive, cod, form, \"Width\", \"Height\", \"BreakLine\", \"MultiLine\", "
      "\"ShowComboLabel\" FROM field_layouts WHERE archive = ?1 AND cod = ?2 AND form = ?3");
  for (auto _ : state) {
    sqlite3_bind_text(stmt, 1, sample::kArchive, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, "Cliente", -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 3, sample::kEntryForm, -1, SQLITE_TRANSIENT);
    RunBare(stmt);
  }
  sqlite3_finalize(stmt);
}
BENCHMARK(BM_GetFieldVisualProperties_BareQuery);

void BM_GetCodeList_Engine(benchmark::State& state) {
  std::string filter = "archive = 'Fatture' and fieldType='TipoDocumento' order by cod";
  for (auto _ : state) benchmark::DoNotOptimize(F().engine->GetCodeList(filter));
}
BENCHMARK(BM_GetCodeList_Engine);

void BM_GetCodeList_BareQuery(benchmark::State& state) {
  sqlite3_stmt* stmt = Prepare(
      "SELECT \"COD\", \"VALUE\" FROM code_lists WHERE archive = ?1 AND fieldType = ?2 ORDER BY "
      "\"COD\"");
  for (auto _ : state) {
    sqlite3_bind_text(stmt, 1, "Fatture", -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, "TipoDocumento", -1, SQLITE_TRANSIENT);
    RunBare(stmt);
  }
  sqlite3_finalize(stmt);
}
BENCHMARK(BM_GetCodeList_BareQuery);

}  // namespace
