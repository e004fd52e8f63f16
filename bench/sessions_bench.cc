// Many clerks in one process (a server's desks), headless: N sessions on the sample's entry
// form, one database engine shared, each with its desktop, workspace and person; then each
// types a document, a key at a time, the sessions taking turns key by key.
// per_session_kb: the heap each session beyond the first holds (glibc's count of bytes in
// use, after all are built, against after the first); keystroke_p99_us / keystroke_p50_us:
// the time of one key in one session while the others wait their turn.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "archives/sample_archive.h"
#include "common/workspace.h"
#include "host/headless/desktop.h"
#include "sample_file.h"

namespace {

namespace sample = kvtarchive::sample;
using Clock = std::chrono::steady_clock;

struct Session {
  std::shared_ptr<kvthost::Desktop> desktop = kvthost::Desktop::Create();
  std::unique_ptr<kvtapp::Workspace> w;
};

std::unique_ptr<Session> Open(const std::shared_ptr<kvtengine::ArchiveEngine>& engine) {
  auto s = std::make_unique<Session>();
  std::weak_ptr<kvt::Platform> desk = s->desktop;
  s->w = std::make_unique<kvtapp::Workspace>(
      [desk](std::shared_ptr<kvthost::Form> f) -> std::unique_ptr<kvthost::IPerson> {
        return std::make_unique<kvthost::User>(std::move(f), desk);
      },
      s->desktop);
  s->w->Use(engine);
  s->w->Build(sample::kArchive, sample::kEntryForm);
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
        if (!s->w->Person().Focus(field)) throw std::runtime_error("cannot enter " + field);
      }
      for (std::size_t k = 0; k < text.size(); ++k) {
        for (auto& s : sessions) {
          const auto start = Clock::now();
          s->w->Person().Type(text.substr(k, 1));
          keys_us.push_back(
              std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
      }
    }
    for (auto& s : sessions) {
      if (s->w->Window().FindControl("Cliente")->Describe() != "ROSSI MARIO") {
        throw std::runtime_error("a session lost its keys:\n" + s->w->Picture());
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

}  // namespace

BENCHMARK_MAIN();
