// The engine's calls on the sample archive beside the bare SQLite prepared query each wraps;
// and a 1,000-field form filled from each engine: an engine double answering from memory,
// SQLite, and PostgreSQL on a throw-away server over loopback.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <chrono>
#include <map>

#include "archives/sample_archive.h"
#include "engine/postgresql/pg_engine.h"
#include "engine/sqlite/sqlite_engine.h"
#include "host/common/coordinator.h"
#include "host/headless/desktop.h"
#include "kvtfields/collection/fields_collection.h"
#include "pg_server.h"
#include "quiet.h"
#include "runtime/record_set.h"
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

// --- A form of 1,000 fields from each engine -----------------------------------------------

constexpr const char* kGenerated = "Generato";

// The archive every engine gets: 1,000 text fields with their layout, every tenth a combo of
// eight codes.
void Generate(kvtengine::ArchiveEngine& e, int fields) {
  kvtarchive::sample::CreateScaledArchive(e, kGenerated, fields);
  e.Transaction([&] {
    for (int i = 10; i <= fields; i += 10) {
      const std::string name = "Campo" + std::to_string(i);
      e.PutField({.archive = kGenerated, .name = name, .label = "Scelta", .type = "ComboBox"});
      for (int c = 1; c <= 8; ++c) e.AddCode(kGenerated, name, "C" + std::to_string(c), "Voce");
    }
  });
}

// An engine that answers from memory what the SQLite engine answered once: the cost of a fill
// without any database.
class MemoryEngine final : public kvtfields::IDBEngine {
  KVT_OBJECT()

 public:
  explicit MemoryEngine(kvtengine::ArchiveEngine& from) : connection_(from.Connection()) {
    from.SetFormSnapshot(false);
    names_ = from.GetFormFields(kGenerated);
    for (const auto& n : names_) {
      definitions_[n] = Rows(from.GetFieldDefinition(kGenerated, n));
      const kvt::Variant layout =
          from.GetFieldVisualProperties(kGenerated, n, kvtarchive::sample::kEntryForm);
      if (!layout.IsNothing()) {
        layouts_[n] = Rows(kvt::FromVariant<std::shared_ptr<kvt::RecordSet>>(layout));
      }
      const std::string filter =
          std::string("archive = '") + kGenerated + "' and fieldType='" + n + "' order by cod";
      codes_[filter] = Rows(from.GetCodeList(filter));
    }
    from.SetFormSnapshot(true);
  }
  std::shared_ptr<kvtfields::IDBConnection> Connection() override { return connection_; }
  void AddCode(const std::string&, const std::string&, const std::string&,
               const std::string&) override {}
  void DeleteCode(const std::string&, const std::string&, const std::string&) override {}
  std::vector<std::string> GetFormFields(const std::string&) override { return names_; }
  std::shared_ptr<kvt::RecordSet> GetFieldDefinition(const std::string&,
                                                     const std::string& field) override {
    return Make(definitions_.at(field));
  }
  kvt::Variant GetFieldVisualProperties(const std::string&, const std::string& field,
                                        const std::string&) override {
    auto it = layouts_.find(field);
    return it == layouts_.end() ? kvt::Variant::Nothing() : kvt::Variant(Make(it->second));
  }
  std::shared_ptr<kvt::RecordSet> GetCodeList(const std::string& filter) override {
    return Make(codes_.at(filter));
  }

 private:
  using Table = std::pair<std::vector<std::string>, std::vector<std::vector<kvt::Variant>>>;
  static Table Rows(const std::shared_ptr<kvt::RecordSet>& rs) {
    Table t;
    for (std::int32_t c = 0; c < rs->FieldCount(); ++c) t.first.push_back(rs->FieldName(c));
    for (; !rs->Eof(); rs->MoveNext()) {
      std::vector<kvt::Variant> row;
      for (std::int32_t c = 0; c < rs->FieldCount(); ++c) row.push_back(rs->Value(c));
      t.second.push_back(std::move(row));
    }
    return t;
  }
  static std::shared_ptr<kvt::RecordSet> Make(const Table& t) {
    return kvt::MemoryRecordSet::Create(t.first, t.second);
  }
  std::shared_ptr<kvtfields::IDBConnection> connection_;
  std::vector<std::string> names_;
  std::unordered_map<std::string, Table> definitions_, layouts_, codes_;
};

const kvt::ClassInfo& MemoryEngine::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<MemoryEngine> b("MemoryEngine");
    return kvtfields::IDBEngine::Describe(b).Build();
  }();
  return info;
}

struct Engines {
  std::shared_ptr<kvthost::Desktop> desktop = kvthost::Desktop::Install();
  kvtbench::SampleFile file{"fill-bench"};
  kvtbench::PgServer server;
  std::shared_ptr<kvtpg::PgEngine> pg;
  std::shared_ptr<MemoryEngine> memory;
  std::map<std::string, double> seconds;  // mean seconds per fill, by engine

  Engines() {
    Generate(*file.engine, 1000);
    memory = std::make_shared<MemoryEngine>(*file.engine);
    if (!server.conninfo.empty()) {
      pg = kvtpg::PgEngine::Open(server.conninfo);
      Generate(*pg, 1000);
    }
  }
};

Engines& E() {
  static Engines e;
  return e;
}

// Fills a 1,000-field form from `engine` on the headless window system; the fill alone is
// timed (clearing the form away is not), and its mean is kept under `name`.
void Fill(benchmark::State& state, const std::shared_ptr<kvtfields::IDBEngine>& engine,
          const std::string& name) {
  double total = 0;
  for (auto _ : state) {
    auto form = kvthost::Form::Create("frm");
    auto coordinator = std::make_shared<kvthost::Coordinator>();
    auto fields = kvtfields::FieldsCollection::Create();
    coordinator->SetDBEngine(engine);
    coordinator->SetScriptEngine(std::make_shared<kvtbench::QuietScripts>());
    fields->InitEx(coordinator);
    const auto start = std::chrono::steady_clock::now();
    fields->FillCollection(kGenerated, kvtarchive::sample::kEntryForm, form);
    total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (fields->Count() != state.range(0)) state.SkipWithError("the form is not whole");
    state.PauseTiming();
    fields.reset();
    coordinator.reset();
    form.reset();
    state.ResumeTiming();
  }
  E().seconds[name] = total / static_cast<double>(state.iterations());
}

// `name`'s mean against `base`'s, both measured earlier in this run.
void Ratio(benchmark::State& state, const char* counter, const std::string& name,
           const std::string& base) {
  auto& s = E().seconds;
  if (s.count(name) && s.count(base)) state.counters[counter] = s[name] / s[base];
}

void BM_FillCollectionEngineFree(benchmark::State& state) {
  Fill(state, E().memory, "memory");
}
BENCHMARK(BM_FillCollectionEngineFree)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_FillCollectionSqlite(benchmark::State& state) {
  Fill(state, E().file.engine, "sqlite");
  Ratio(state, "vs_engine_free", "sqlite", "memory");
}
BENCHMARK(BM_FillCollectionSqlite)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_FillCollectionPg(benchmark::State& state) {
  if (!E().pg) return state.SkipWithError("no PostgreSQL server could be started");
  Fill(state, E().pg, "pg");
  Ratio(state, "vs_sqlite", "pg", "sqlite");
}
BENCHMARK(BM_FillCollectionPg)->Arg(1000)->Unit(benchmark::kMillisecond);

// What the one read saves: the same fills asking the database once per question.
void BM_FillCollectionPgByField(benchmark::State& state) {
  if (!E().pg) return state.SkipWithError("no PostgreSQL server could be started");
  E().pg->SetFormSnapshot(false);
  Fill(state, E().pg, "pg_by_field");
  E().pg->SetFormSnapshot(true);
  Ratio(state, "vs_sqlite", "pg_by_field", "sqlite");
}
BENCHMARK(BM_FillCollectionPgByField)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_FillCollectionSqliteByField(benchmark::State& state) {
  E().file.engine->SetFormSnapshot(false);
  Fill(state, E().file.engine, "sqlite_by_field");
  E().file.engine->SetFormSnapshot(true);
  Ratio(state, "vs_engine_free", "sqlite_by_field", "memory");
}
BENCHMARK(BM_FillCollectionSqliteByField)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace
