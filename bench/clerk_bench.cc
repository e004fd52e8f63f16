// A clerk's day counted in keys: the X server replay of twenty invoices typed into the real
// desk (tests/x11/clerk_day.sh, which reads every invoice back from the database).
// - BM_ClerkKeystrokes: new_median, the keys a new invoice took (Ctrl+N to Ctrl+S), and
//   next_median, one for the customer of the one before (Ctrl+Shift+N). Keys, not time: the
//   figures do not depend on how busy the machine is.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <string>

namespace {

void BM_ClerkKeystrokes(benchmark::State& state) {
  const std::string command = std::string("bash '") + KVT_CLERK_DAY + "' '" + KVTFIELDS_DESK +
                              "' '" + KVTFIELDS_PROGRAM + "' 2>&1";
  std::string out;
  int status = -1;
  for (auto _ : state) {
    out.clear();
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) {
      state.SkipWithError("the day's script did not start");
      return;
    }
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
    status = ::pclose(pipe.release());
  }
  std::smatch m;
  static const std::regex figures("new_median=([0-9.]+) next_median=([0-9.]+)");
  if (status != 0 || !std::regex_search(out, m, figures)) {
    std::fputs(out.c_str(), stderr);
    state.SkipWithError("the day's replay failed (its output above)");
    return;
  }
  state.counters["new_median"] = std::stod(m[1]);
  state.counters["next_median"] = std::stod(m[2]);
}
// One day is one replay of some thirty seconds, and its counts are the same every time.
BENCHMARK(BM_ClerkKeystrokes)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
