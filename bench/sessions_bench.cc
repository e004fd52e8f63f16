// Many clerks in one process (a server's desks), headless: N entry sessions on the sample's
// entry form, one database engine shared, each with its desktop, workspace and person; then
// each types a document, a key at a time, the sessions taking turns key by key.
// per_session_kb: the heap each session beyond the first holds (glibc's count of bytes in
// use, after all are built, against after the first); keystroke_p99_us / keystroke_p50_us:
// the time of one key in one session while the others wait their turn.
// BM_SaveDocument: one clerk's saves of new documents through the entry session (every check,
// the duplicate query, the store) against the engine's own save of the same values, taken in
// turn in one run. form_reads: the passes over the form's values per save; vs_engine_save: the
// session's time per save over the engine's.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "archives/sample_archive.h"
#include "common/entry_session.h"
#include "host/headless/desktop.h"
#include "sample_file.h"

namespace {

namespace sample = kvtarchive::sample;
using Clock = std::chrono::steady_clock;

struct Session {
  std::shared_ptr<kvthost::Desktop> desktop = kvthost::Desktop::Create();
  std::unique_ptr<kvtapp::EntrySession> e;
  kvthost::IPerson& Person() { return e->Work()->Person(); }
};

std::unique_ptr<Session> Open(const std::shared_ptr<kvtengine::ArchiveEngine>& engine) {
  auto s = std::make_unique<Session>();
  std::weak_ptr<kvt::Platform> desk = s->desktop;
  s->e = std::make_unique<kvtapp::EntrySession>(
      [desk](std::shared_ptr<kvthost::Form> f) -> std::unique_ptr<kvthost::IPerson> {
        return std::make_unique<kvthost::User>(std::move(f), desk);
      },
      s->desktop);
  s->e->Open(engine, sample::kArchive, sample::kEntryForm);
  s->e->Start();
  return s;
}

std::size_t HeapInUse() {
  return mallinfo2().uordblks;
}

// What each clerk types, field by field: the keys of one invoice.
const std::vector<std::pair<std::string, std::string>> kDocument = {
    {"NumeroDocumento", "102345"}, {"DataDocumento", "07/12/2026"},
    {"Cliente", "rossi mario"},    {"Quantita", "12"},
    {"Prezzo", "37,50"},           {"Note", "consegna al piano"}};

void BM_TwoSessions(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  kvtbench::SampleFile file("sessions");
  const std::shared_ptr<kvtengine::ArchiveEngine> engine = file.engine;
  std::vector<double> keys_us;
  double per_session_kb = 0;
  for (auto _ : state) {
    std::vector<std::unique_ptr<Session>> sessions;
    malloc_trim(0);
    sessions.push_back(Open(engine));
    const std::size_t first = HeapInUse();
    for (std::size_t i = 1; i < n; ++i) sessions.push_back(Open(engine));
    per_session_kb = static_cast<double>(HeapInUse() - first) / 1024.0 / static_cast<double>(n - 1);
    for (const auto& [field, text] : kDocument) {
      for (auto& s : sessions) {
        if (!s->Person().Focus(field)) throw std::runtime_error("cannot enter " + field);
      }
      for (std::size_t k = 0; k < text.size(); ++k) {
        for (auto& s : sessions) {
          const auto start = Clock::now();
          s->Person().Type(text.substr(k, 1));
          keys_us.push_back(
              std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
      }
    }
    for (auto& s : sessions) {
      if (s->e->Work()->Window().FindControl("Cliente")->Describe() != "ROSSI MARIO" ||
          !s->e->ModifiedMark()) {
        throw std::runtime_error("a session lost its keys:\n" + s->e->Work()->Picture());
      }
    }
  }
  std::sort(keys_us.begin(), keys_us.end());
  auto at = [&](double q) {
    return keys_us[std::min(keys_us.size() - 1, static_cast<std::size_t>(q * keys_us.size()))];
  };
  state.counters["per_session_kb"] = per_session_kb;
  state.counters["keystroke_p50_us"] = at(0.50);
  state.counters["keystroke_p99_us"] = at(0.99);
}
BENCHMARK(BM_TwoSessions)->Arg(100)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_SaveDocument(benchmark::State& state) {
  kvtbench::SampleFile file("save");
  auto s = Open(file.engine);
  auto& e = *s->e;
  auto& fields = e.Work()->Fields();
  std::int64_t n = 100000;
  auto fill = [&] {
    // A whole invoice on the form, a number of its own (no duplicate).
    fields.Item(kvt::Variant("NumeroDocumento"))->LetValue(kvt::Variant(std::to_string(++n)));
    fields.Item(kvt::Variant("DataDocumento"))->LetValue(kvt::Variant(kvt::MakeDate(2026, 12, 7)));
    fields.Item(kvt::Variant("TipoDocumento"))->LetValue(kvt::Variant("FAT"));
    fields.Item(kvt::Variant("Cliente"))->LetValue(kvt::Variant("ROSSI MARIO"));
    fields.Item(kvt::Variant("Quantita"))->LetValue(kvt::Variant("12"));
  };
  double session_us = 0, engine_us = 0;
  std::uint64_t reads = 0, saves = 0;
  for (auto _ : state) {
    fill();
    // The engine's own save of the values the session is about to store, another number.
    auto values = fields.FieldsValue();
    kvt::LetProperty(values, "Item", kvt::Variant(std::to_string(n + 50000000)), "NumeroDocumento");
    auto start = Clock::now();
    file.engine->SaveDocument(sample::kArchive, values);
    engine_us += std::chrono::duration<double, std::micro>(Clock::now() - start).count();

    const auto before = e.Document()->FormReads();
    start = Clock::now();
    const kvtapp::Reply r = e.Save();
    session_us += std::chrono::duration<double, std::micro>(Clock::now() - start).count();
    if (!r.done || r.question || r.notice) {
      throw std::runtime_error("not stored: " + (r.notice ? r.notice->text : e.Status()));
    }
    reads += e.Document()->FormReads() - before;
    ++saves;
    if (!e.New().done) throw std::runtime_error("no new document");
  }
  state.counters["form_reads"] = static_cast<double>(reads) / static_cast<double>(saves);
  state.counters["save_us"] = session_us / static_cast<double>(saves);
  state.counters["engine_save_us"] = engine_us / static_cast<double>(saves);
  state.counters["vs_engine_save"] = session_us / engine_us;
}
BENCHMARK(BM_SaveDocument)->Iterations(2000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
