// A million-document archive, searched, typed into and reached across a network.
//
// BM_FindDocuments/N/engine: the first page of 50 by an exact customer, by a customer prefix
// and by a month of dates, through the engine's search; vs_bare_query is the slowest of the
// three against the same SQL written by hand and run on its own connection (same indexes).
// BM_AutoCompleteKeystroke/N/engine: N learnt customer names; a person types "rossi" into the
// Cliente box one key at a time; ui_thread_us is the mean time a keystroke holds the thread of
// the windows (PostgreSQL through the delay proxy, 10 ms each way).
// BM_OpenFormRemote/N and BM_SaveRemote: round trips of building an N-field form and of storing
// a document, on PostgreSQL through the proxy. (engine: 0 SQLite, 1 PostgreSQL)
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "archives/sample_archive.h"
#include "common/document_session.h"
#include "common/workspace.h"
#include "delay_proxy.h"
#include "engine/postgresql/pg_engine.h"
#include "host/headless/desktop.h"
#include "large_archive.h"
#include "pg_server.h"
#include "runtime/dictionary.h"
#include "runtime/marshal.h"
#include "runtime/platform.h"
#include "sample_file.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace sample = kvtarchive::sample;
using Op = kvtengine::Criterion::Op;

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

// The PostgreSQL server of this program, and its address through a proxy of `delay`.
kvtbench::PgServer& Server() {
  static kvtbench::PgServer server;
  return server;
}
std::string Through(kvtbench::DelayProxy& proxy) {
  std::string c = Server().conninfo;
  const auto at = c.find("port=");
  const auto end = c.find(' ', at);
  return c.replace(at, end - at, "port=" + std::to_string(proxy.Port()));
}

// A million invoices in each engine, made once for the whole program.
struct Archives {
  std::int64_t n;
  kvtbench::SampleFile file{"search-bench"};
  std::shared_ptr<kvtpg::PgEngine> pg;
  explicit Archives(std::int64_t count) : n(count) {
    kvtbench::GenerateSqlite(*file.engine, n);
    if (Server().conninfo.empty()) return;
    pg = kvtpg::PgEngine::Open(Server().conninfo);
    sample::CreateSampleArchive(*pg);
    kvtbench::GeneratePg(Server().conninfo, n);
  }
};
Archives& Large(std::int64_t n) {
  static std::map<std::int64_t, std::unique_ptr<Archives>> made;
  auto& a = made[n];
  if (!a) a = std::make_unique<Archives>(n);
  return *a;
}

struct Search {
  const char* name;
  kvtengine::Criterion criterion;
  std::string sql;  // by hand: ?1 the field, ?2 (and ?3) the keys
  std::vector<std::string> keys;
};

std::vector<Search> Searches(bool pg) {
  const auto date = [](int y, int m, int d) {
    return *kvtengine::SearchKey(kvtengine::SearchKind::kDate,
                                 kvt::Variant(kvt::MakeDate(y, m, d)));
  };
  const std::string from = pg ? "FROM document_values v JOIN documents d ON d.id = v.document "
                              : "FROM document_keys v CROSS JOIN documents d ON d.id = "
                                "v.document ";
  const std::string p1 = pg ? "$1" : "?1", p2 = pg ? "$2" : "?2", p3 = pg ? "$3" : "?3";
  const std::string tail =
      " AND d.archive = 'Fatture' AND v.document > 0 ORDER BY v.document LIMIT 50";
  return {
      {"exact",
       {"Cliente", Op::kEqual, "cliente 0042 srl", ""},
       "SELECT v.document " + from + "WHERE v.field = " + p1 + " AND v.search = " + p2 + tail,
       {"Cliente", "cliente 0042 srl"}},
      {"prefix",
       {"Cliente", Op::kPrefix, "cliente 004", ""},
       "SELECT v.document " + from + "WHERE v.field = " + p1 + " AND v.search BETWEEN " + p2 +
           " AND " + p3 + tail,
       {"Cliente", "cliente 004", "cliente 004\xf4\x8f\xbf\xbf"}},
      {"date_range",
       {"DataDocumento", Op::kRange, "01/03/2020", "31/03/2020"},
       "SELECT v.document " + from + "WHERE v.field = " + p1 + " AND v.search BETWEEN " + p2 +
           " AND " + p3 + tail,
       {"DataDocumento", date(2020, 3, 1), date(2020, 3, 31)}},
  };
}

// The hand-written query, `times` times on its own connection; seconds in all.
double BareSqlite(const std::string& path, const Search& s, int times, std::size_t* rows) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* q = nullptr;
  sqlite3_prepare_v2(db, s.sql.c_str(), -1, &q, nullptr);
  const auto start = Clock::now();
  for (int t = 0; t < times; ++t) {
    sqlite3_reset(q);
    for (std::size_t k = 0; k < s.keys.size(); ++k) {
      sqlite3_bind_text(q, static_cast<int>(k + 1), s.keys[k].c_str(),
                        static_cast<int>(s.keys[k].size()), SQLITE_STATIC);
    }
    *rows = 0;
    while (sqlite3_step(q) == SQLITE_ROW) ++*rows;
  }
  const double seconds = Seconds(start);
  sqlite3_finalize(q);
  sqlite3_close(db);
  return seconds;
}

double BarePg(const std::string& conninfo, const Search& s, int times, std::size_t* rows) {
  PGconn* c = PQconnectdb(conninfo.c_str());
  std::vector<const char*> values;
  for (const auto& k : s.keys) values.push_back(k.c_str());
  PQclear(PQprepare(c, "bare", s.sql.c_str(), 0, nullptr));
  const auto start = Clock::now();
  for (int t = 0; t < times; ++t) {
    PGresult* r = PQexecPrepared(c, "bare", static_cast<int>(values.size()), values.data(), nullptr,
                                 nullptr, 0);
    *rows = static_cast<std::size_t>(PQntuples(r));
    PQclear(r);
  }
  const double seconds = Seconds(start);
  PQfinish(c);
  return seconds;
}

void BM_FindDocuments(benchmark::State& state) {
  const bool pg = state.range(1) != 0;
  Archives& a = Large(state.range(0));
  if (pg && !a.pg) return state.SkipWithError("no PostgreSQL server");
  kvtengine::ArchiveEngine& engine =
      pg ? static_cast<kvtengine::ArchiveEngine&>(*a.pg) : *a.file.engine;
  constexpr int kTimes = 20;
  double worst = 0;
  for (auto _ : state) {
    for (const Search& s : Searches(pg)) {
      engine.SearchDocuments("Fatture", {s.criterion}, 0, 50);  // prepared, pages warm
      std::size_t bare_rows = 0;
      const double bare = pg ? BarePg(Server().conninfo, s, kTimes, &bare_rows)
                             : BareSqlite(a.file.path, s, kTimes, &bare_rows);
      std::size_t rows = 0;
      const auto start = Clock::now();
      for (int t = 0; t < kTimes; ++t)
        rows = engine.SearchDocuments("Fatture", {s.criterion}, 0, 50).size();
      const double ours = Seconds(start);
      if (rows != 50 || bare_rows != 50) state.SkipWithError("a search found other documents");
      state.counters[std::string(s.name) + "_us"] = ours / kTimes * 1e6;
      worst = std::max(worst, ours / bare);
    }
  }
  state.counters["vs_bare_query"] = worst;
}
BENCHMARK(BM_FindDocuments)
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// N customer names learnt for the Cliente box: surnames, then a number, so that a first letter
// matches a few thousand.
void Learn(kvtengine::ArchiveEngine& engine, std::int64_t n) {
  static const char* surnames[] = {"Rossi",  "Russo",    "Ferrari", "Esposito", "Bianchi",
                                   "Romano", "Colombo",  "Ricci",   "Marino",   "Greco",
                                   "Bruno",  "Gallo",    "Conti",   "De Luca",  "Mancini",
                                   "Costa",  "Giordano", "Rizzo",   "Lombardi", "Moretti"};
  std::vector<kvtengine::ArchiveEngine::LearntValue> values;
  engine.Transaction([&] {
    for (std::int64_t i = 0; i < n; ++i) {
      engine.PutLearnt({"Fatture-Cliente",
                        std::string(surnames[i % 20]) + " " + std::to_string(100000 + i) + " srl",
                        1 + i % 7, i});
    }
  });
}

// The headless window system with a loop of its own, as a desktop has: work posted from other
// threads waits in a queue until the loop runs it.
class LoopPlatform final : public kvt::Platform {
 public:
  explicit LoopPlatform(std::shared_ptr<kvt::Platform> windows) : windows_(std::move(windows)) {}
  int MsgBox(std::string_view prompt, int buttons, std::string_view title) override {
    return windows_->MsgBox(prompt, buttons, title);
  }
  void SendTab() override { windows_->SendTab(); }
  kvt::ObjectRef CreateWindow(std::string_view name) override {
    return windows_->CreateWindow(name);
  }
  bool PostsWork() const override { return true; }
  void Post(std::function<void()> work) override {
    std::lock_guard lock(m_);
    queue_.push_back(std::move(work));
  }
  // One turn of the loop.
  std::size_t Run() {
    std::vector<std::function<void()>> now;
    {
      std::lock_guard lock(m_);
      now.swap(queue_);
    }
    for (auto& w : now) w();
    return now.size();
  }

 private:
  std::shared_ptr<kvt::Platform> windows_;
  std::mutex m_;
  std::vector<std::function<void()>> queue_;
};

void BM_AutoCompleteKeystroke(benchmark::State& state) {
  const bool pg = state.range(1) != 0;
  auto desktop = kvthost::Desktop::Install();
  struct Uninstall {
    std::shared_ptr<kvthost::Desktop> d;
    ~Uninstall() { d->Uninstall(); }
  } uninstall{desktop};
  kvtbench::SampleFile file("keystroke-bench");
  std::unique_ptr<kvtbench::DelayProxy> proxy;
  std::string db = file.path;
  if (pg) {
    if (Server().conninfo.empty()) return state.SkipWithError("no PostgreSQL server");
    const std::string where = Server().conninfo;
    auto engine = kvtpg::PgEngine::Open(where);
    sample::CreateSampleArchive(*engine);
    Learn(*engine, state.range(0));
    proxy = std::make_unique<kvtbench::DelayProxy>(std::stoi(where.substr(where.find("port=") + 5)),
                                                   std::chrono::milliseconds(10));
    db = Through(*proxy);
  } else {
    Learn(*file.engine, state.range(0));
  }
  auto loop = std::make_shared<LoopPlatform>(desktop);
  kvt::ScopedPlatform with_loop(loop);
  double held = 0;
  int keys = 0;
  std::size_t offered = 0;
  for (auto _ : state) {
    kvtapp::Workspace w([](std::shared_ptr<kvthost::Form> f) -> std::unique_ptr<kvthost::IPerson> {
      return std::make_unique<kvthost::User>(std::move(f));
    });
    w.Open(db, false);
    w.Build(sample::kArchive, sample::kEntryForm);
    w.Person().Focus("Cliente");
    auto box = w.Fields().Item(kvt::Variant("Cliente"))->LinkedControl();
    // Keys come at a typist's pace; between them the loop shows what has arrived.
    for (const char c : std::string("rossi")) {
      const auto start = Clock::now();
      w.Person().Type(std::string(1, c));
      held += Seconds(start);
      ++keys;
      const auto pause = Clock::now() + std::chrono::milliseconds(120);
      while (Clock::now() < pause) {
        const auto turn = Clock::now();
        if (loop->Run() > 0) held += Seconds(turn);  // showing the list holds the thread too
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    offered =
        kvt::FromVariant<std::vector<std::string>>(kvt::GetProperty(box, "Suggestions")).size();
  }
  if (offered == 0) state.SkipWithError("no suggestion arrived");
  state.counters["ui_thread_us"] = held / keys * 1e6;
  state.counters["offered"] = static_cast<double>(offered);
}
BENCHMARK(BM_AutoCompleteKeystroke)
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// PostgreSQL through the proxy at 10 ms each way, fresh for each benchmark.
struct Remote {
  std::unique_ptr<kvtbench::DelayProxy> proxy;
  std::string db;
  explicit Remote(const std::function<void(kvtengine::ArchiveEngine&)>& fill) {
    const std::string& where = Server().conninfo;
    if (where.empty()) return;
    auto engine = kvtpg::PgEngine::Open(where);
    fill(*engine);
    proxy = std::make_unique<kvtbench::DelayProxy>(std::stoi(where.substr(where.find("port=") + 5)),
                                                   std::chrono::milliseconds(10));
    db = Through(*proxy);
  }
};

kvtapp::Workspace HeadlessWorkspace() {
  return kvtapp::Workspace(
      [](std::shared_ptr<kvthost::Form> f) -> std::unique_ptr<kvthost::IPerson> {
        return std::make_unique<kvthost::User>(std::move(f));
      });
}

void BM_OpenFormRemote(benchmark::State& state) {
  auto desktop = kvthost::Desktop::Install();
  const int fields = static_cast<int>(state.range(0));
  Remote remote([&](kvtengine::ArchiveEngine& e) {
    kvtarchive::sample::CreateScaledArchive(e, "Grande", fields);
  });
  if (remote.db.empty()) {
    desktop->Uninstall();
    return state.SkipWithError("no PostgreSQL server");
  }
  std::int64_t trips = 0;
  for (auto _ : state) {
    auto w = HeadlessWorkspace();
    w.Open(remote.db, false);
    const auto before = w.Engine().RoundTrips();
    w.Build("Grande", sample::kEntryForm);
    trips = w.Engine().RoundTrips() - before;
  }
  desktop->Uninstall();
  state.counters["round_trips"] = static_cast<double>(trips);
}
BENCHMARK(BM_OpenFormRemote)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

// A document stored on the entry form, then the next one (its retained fields kept) stored too:
// round_trips of the engine's save of the second, session_trips of its whole save (the focused
// field left, the duplicate question, learnt values), next_trips of moving to the next one.
void BM_SaveRemote(benchmark::State& state) {
  auto desktop = kvthost::Desktop::Install();
  Remote remote([](kvtengine::ArchiveEngine& e) { sample::CreateSampleArchive(e); });
  if (remote.db.empty()) {
    desktop->Uninstall();
    return state.SkipWithError("no PostgreSQL server");
  }
  std::int64_t save = 0, session = 0, next = 0;
  for (auto _ : state) {
    auto w = HeadlessWorkspace();
    w.Open(remote.db, false);
    w.Build(sample::kArchive, sample::kEntryForm);
    kvtapp::DocumentSession doc(w);
    auto type = [&](const std::string& number) {
      auto& p = w.Person();
      p.Focus("NumeroDocumento");
      p.Type(number);
      p.Tab();
      p.PickDate(kvt::Variant(kvt::MakeDate(2026, 12, 6)));
      p.Focus("TipoDocumento");
      p.Choose("FAT");
      p.Focus("Cliente");
      p.Type("Rossi srl");
      p.Tab();
    };
    type("2001");
    if (doc.Save().result != kvtapp::SaveOutcome::Result::kStored) {
      state.SkipWithError("the first document was refused");
      break;
    }
    auto before = w.Engine().RoundTrips();
    doc.Next();
    next = w.Engine().RoundTrips() - before;
    type("2002");
    auto values = kvt::Dictionary::Create();
    values->Add("NumeroDocumento", kvt::Variant("2003"));
    before = w.Engine().RoundTrips();
    const auto outcome = doc.Save();
    session = w.Engine().RoundTrips() - before;
    if (outcome.result != kvtapp::SaveOutcome::Result::kStored) state.SkipWithError("refused");
    before = w.Engine().RoundTrips();
    w.Engine().SaveDocument(sample::kArchive, values);
    save = w.Engine().RoundTrips() - before;
  }
  desktop->Uninstall();
  state.counters["round_trips"] = static_cast<double>(save);
  state.counters["session_trips"] = static_cast<double>(session);
  state.counters["next_trips"] = static_cast<double>(next);
}
BENCHMARK(BM_SaveRemote)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
