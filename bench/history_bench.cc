// Documents that several people correct: what a version check and a history row cost, and
// whether many connections at once ever lose a change.
//
// BM_CorrectDocument/engine: the same documents first saved, then corrected (the customer and
// the amount changed, the version checked, the replaced values kept); vs_save is the time of a
// correction against a save, one transaction each; vs_save_all the same when every field
// changes. (engine: 0 SQLite, 1 PostgreSQL)
// BM_ConcurrentCorrections/people: on PostgreSQL, each person (a connection of their own)
// reads a document of a shared few and corrects or deletes it from the version read, or
// restores it when deleted; at the end every document's history must hold exactly the changes
// that were accepted. Counters: changes_per_s, conflicts (refused, nothing written), lost (must
// be 0).
#include <benchmark/benchmark.h>
#include <libpq-fe.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "archives/sample_archive.h"
#include "engine/common/engine_error.h"
#include "engine/postgresql/pg_engine.h"
#include "engine/sqlite/sqlite_engine.h"
#include "pg_server.h"
#include "runtime/dictionary.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace sample = kvtarchive::sample;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

kvtbench::PgServer& Server() {
  static kvtbench::PgServer server;
  return server;
}

std::string FreshPg(const std::string& name) {
  const std::string server = Server().conninfo;
  PGconn* admin = PQconnectdb(server.c_str());
  PQsetNoticeProcessor(
      admin, [](void*, const char*) {}, nullptr);
  for (const std::string& sql : {"DROP DATABASE IF EXISTS " + name, "CREATE DATABASE " + name})
    PQclear(PQexec(admin, sql.c_str()));
  PQfinish(admin);
  return server.substr(0, server.rfind("dbname=")) + "dbname=" + name;
}

// An invoice of the sample archive's twelve fields.
std::shared_ptr<kvt::Dictionary> Invoice(int n, const std::string& customer) {
  auto d = kvt::Dictionary::Create();
  d->Add("NumeroDocumento", std::to_string(n));
  d->Add("DataDocumento", "06/12/2026");
  d->Add("TipoDocumento", "FAT");
  d->Add("Reparto", "LOG");
  d->Add("Cliente", customer);
  d->Add("CodiceFiscale", "RSSMRA80A01H501U");
  d->Add("Email", "ufficio@example.it");
  d->Add("Quantita", std::to_string(1 + n % 9));
  d->Add("Prezzo", "12,50");
  d->Add("Totale", "37,50");
  d->Add("Allegato", "");
  d->Add("Note", "consegna al magazzino " + std::to_string(n));
  return d;
}

void BM_CorrectDocument(benchmark::State& state) {
  const bool pg = state.range(0) == 1;
  std::string where = "/tmp/kvt-history-bench-" + std::to_string(::getpid()) + ".kvtdb";
  if (pg) {
    if (Server().conninfo.empty()) return state.SkipWithError("no PostgreSQL server");
    where = FreshPg("kvt_history_bench");
  } else {
    std::remove(where.c_str());
  }
  constexpr int kDocuments = 1000;
  double save = 0, correct = 0, correct_all = 0;
  for (auto _ : state) {
    std::shared_ptr<kvtengine::ArchiveEngine> engine =
        pg ? std::shared_ptr<kvtengine::ArchiveEngine>(kvtpg::PgEngine::Open(where))
           : kvtsqlite::SqliteEngine::Open(where);
    sample::CreateSampleArchive(*engine);
    std::vector<std::int32_t> ids;
    auto t = Clock::now();
    for (int i = 0; i < kDocuments; ++i) {
      ids.push_back(engine->SaveDocument(sample::kArchive, Invoice(i, "ROSSI SRL")));
    }
    save = Seconds(t);
    t = Clock::now();
    for (int i = 0; i < kDocuments; ++i) {
      auto d = Invoice(i, "VERDI SPA");
      d->LetItem("Totale", kvt::Variant("45,00"));
      engine->CorrectDocument(ids[static_cast<std::size_t>(i)], d, 1);
    }
    correct = Seconds(t);
    t = Clock::now();
    for (int i = 0; i < kDocuments; ++i) {
      auto d = Invoice(i + 50000, "BIANCHI SNC");
      for (const char* field : {"DataDocumento", "TipoDocumento", "Reparto", "CodiceFiscale",
                                "Email", "Prezzo", "Totale", "Allegato"}) {
        d->LetItem(field, kvt::Variant(std::string("altro ") + field));
      }
      engine->CorrectDocument(ids[static_cast<std::size_t>(i)], d, 2);
    }
    correct_all = Seconds(t);
  }
  if (!pg) std::remove(where.c_str());
  state.counters["save_us"] = save / kDocuments * 1e6;
  state.counters["correct_us"] = correct / kDocuments * 1e6;
  state.counters["vs_save"] = correct / save;
  state.counters["vs_save_all"] = correct_all / save;
}
BENCHMARK(BM_CorrectDocument)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// A document's values as "field=value;", to compare what was accepted with what is kept.
std::string Held(const std::vector<std::pair<std::string, kvt::Variant>>& values) {
  std::string out;
  for (const auto& [field, v] : values) out += field + "=" + kvt::JoinText(v) + ";";
  return out;
}

void BM_ConcurrentCorrections(benchmark::State& state) {
  if (Server().conninfo.empty()) return state.SkipWithError("no PostgreSQL server");
  const int people = static_cast<int>(state.range(0));
  constexpr int kEach = 1000, kDocuments = 8;
  const std::string where = FreshPg("kvt_concurrent_bench");
  std::atomic<int> accepted = 0, conflicts = 0, failures = 0;
  std::int64_t lost = 0;
  double took = 0;
  for (auto _ : state) {
    auto owner = kvtpg::PgEngine::Open(where);
    std::vector<std::int32_t> ids;
    for (int d = 0; d < kDocuments; ++d)
      ids.push_back(owner->SaveDocument("Fatture", Invoice(d, "INIZIO")));
    struct Landed {
      std::int32_t version;
      std::string held;
    };
    std::mutex m;
    std::map<std::int32_t, std::vector<Landed>> landed;
    auto person = [&](int who) {
      auto e = kvtpg::PgEngine::Open(where, false);
      std::uint32_t seed = 7919u * static_cast<std::uint32_t>(who) + 17u;
      auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
      for (int i = 0; i < kEach; ++i) {
        const std::int32_t id = ids[next() % kDocuments];
        try {
          // The document as a clerk opens it; a deleted one is brought back from its history.
          kvtengine::VersionInfo read;
          std::int32_t v = 0;
          std::string held;
          bool deleted = false;
          try {
            e->LoadDocumentAt(id, read);
          } catch (const kvt::Error& err) {
            if (err.Number() != 9) throw;
            deleted = true;
          }
          if (deleted) {
            const auto history = e->History(id);
            const auto& last = history.back();
            if (last.change != kvtengine::Change::kDelete) {  // restored meanwhile
              ++conflicts;
              continue;
            }
            v = e->RestoreDocument(id, last.version - 1, last.version);
            held = Held(history[history.size() - 2].values);
          } else if (next() % 10 == 0) {
            v = e->DeleteDocument(id, read.version);
          } else {
            auto values = Invoice(i, "P" + std::to_string(who) + "-" + std::to_string(i));
            v = e->CorrectDocument(id, values, read.version);
            held = Held(values->Entries());
          }
          ++accepted;
          std::lock_guard lock(m);
          landed[id].push_back({v, held});
        } catch (const kvt::Error& err) {
          (err.Number() == kvt::kObjectErrorBase + kvtengine::kConflict ? conflicts : failures)++;
        }
      }
    };
    const auto t = Clock::now();
    std::vector<std::thread> threads;
    for (int who = 0; who < people; ++who) threads.emplace_back(person, who);
    for (auto& th : threads) th.join();
    took = Seconds(t);
    // Every accepted change is in the history, in order, with its values; nothing else is.
    for (const auto id : ids) {
      auto& mine = landed[id];
      std::sort(mine.begin(), mine.end(),
                [](const Landed& a, const Landed& b) { return a.version < b.version; });
      const auto history = owner->History(id);
      if (history.size() != mine.size() + 1) {
        lost +=
            static_cast<std::int64_t>(history.size()) - static_cast<std::int64_t>(mine.size()) - 1;
        continue;
      }
      for (std::size_t i = 0; i < mine.size(); ++i) {
        if (history[i + 1].version != mine[i].version ||
            Held(history[i + 1].values) != mine[i].held)
          ++lost;
      }
    }
  }
  if (failures > 0) state.SkipWithError("changes failed for another reason than a conflict");
  state.counters["changes_per_s"] = accepted.load() / took;
  state.counters["conflicts"] = conflicts.load();
  state.counters["lost"] = static_cast<double>(lost);
}
BENCHMARK(BM_ConcurrentCorrections)->Arg(4)->Arg(8)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
