// Documents in batches: 10,000 CSV rows entered through the sample's entry form (checks and
// script included). vs_dry_run: storing them against only checking them; vs_empty_store:
// storing them with 100,000 customer names already learnt against an empty store; vs_build:
// one stored row against one build of the form (built once and reused, a row must cost less).
// BM_ImportFile: the memory of the program importing a file of a million rows.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>

#include <chrono>
#include <filesystem>
#include <fstream>
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

// One import of `rows` on a fresh sample file: `learnt` customer names learnt beforehand, the
// rows stored or not. Seconds, and (first) one build of the form, the median of five.
std::pair<double, double> Import(const std::vector<std::vector<std::string>>& rows, bool store,
                                 std::int64_t learnt, kvthost::Desktop& desktop) {
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
  return {seconds, builds[2]};
}

// The same rows three ways in one run: checked only (the dry run), stored into a store that
// has learnt nothing, and stored with 100,000 customer names already learnt.
void BM_ImportDocuments(benchmark::State& state) {
  auto desktop = kvthost::Desktop::Install();
  const std::int64_t n = state.range(0);
  const auto rows = Rows(n);
  double dry = 0, stored = 0, learnt = 0, build = 0;
  for (auto _ : state) {
    dry = Import(rows, false, 0, *desktop).first;
    std::tie(stored, build) = Import(rows, true, 0, *desktop);
    learnt = Import(rows, true, 100000, *desktop).first;
  }
  desktop->Uninstall();
  state.counters["rows_per_s"] = static_cast<double>(n) / stored;
  state.counters["dry_rows_per_s"] = static_cast<double>(n) / dry;
  state.counters["vs_dry_run"] = stored / dry;
  state.counters["vs_empty_store"] = learnt / stored;
  state.counters["vs_build"] = (stored / static_cast<double>(n)) / build;
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
