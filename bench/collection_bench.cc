// A fields collection filled from archives of 10 to 10,000 fields on the headless window
// system: the cost per field must stay flat, and lookup by name must not depend on the size.
#include <benchmark/benchmark.h>

#include "addons/autocomplete/store_auto_completer.h"
#include "addons/layout/resizer.h"
#include "host/common/coordinator.h"
#include "host/headless/desktop.h"
#include "kvtfields/collection/fields_collection.h"
#include "quiet.h"
#include "sample_file.h"

namespace {

namespace sample = kvtarchive::sample;

struct World {
  std::shared_ptr<kvthost::Desktop> desktop = kvthost::Desktop::Install();
  kvtbench::SampleFile file{"collection-bench"};
  World() {
    kvtaddons::RegisterAutoCompleterClass();
    for (int n : {10, 100, 1000, 10000}) {
      sample::CreateScaledArchive(*file.engine, Archive(n), n);
    }
  }
  static std::string Archive(std::int64_t n) { return "Scala" + std::to_string(n); }
};

World& W() {
  static World w;
  return w;
}

// A filled form: the form, a coordinator and the collection.
struct Filled {
  std::shared_ptr<kvthost::Form> form = kvthost::Form::Create("frm");
  std::shared_ptr<kvthost::Coordinator> coordinator = std::make_shared<kvthost::Coordinator>();
  std::shared_ptr<kvtfields::FieldsCollection> fields = kvtfields::FieldsCollection::Create();
  explicit Filled(std::int64_t n) {
    coordinator->SetDBEngine(W().file.engine);
    coordinator->SetScriptEngine(std::make_shared<kvtbench::QuietScripts>());
    fields->InitEx(coordinator);
    fields->FillCollection(World::Archive(n), sample::kEntryForm, form);
  }
};

void PerField(benchmark::State& state) {
  state.counters["per_field"] =
      benchmark::Counter(static_cast<double>(state.iterations() * state.range(0)),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FillCollection(benchmark::State& state) {
  W();
  for (auto _ : state) {
    Filled f(state.range(0));
    benchmark::DoNotOptimize(f.fields->Count());
    state.PauseTiming();  // clearing away the form is not filling it
    { Filled gone = std::move(f); }
    state.ResumeTiming();
  }
  PerField(state);
}
BENCHMARK(BM_FillCollection)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond);

void BM_SortTab(benchmark::State& state) {
  Filled f(state.range(0));
  for (auto _ : state) f.fields->SortTab(std::nullopt);
  PerField(state);
}
BENCHMARK(BM_SortTab)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_FieldsValueGet(benchmark::State& state) {
  Filled f(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(f.fields->FieldsValue());
  PerField(state);
}
BENCHMARK(BM_FieldsValueGet)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond);

void BM_FieldsValueSet(benchmark::State& state) {
  Filled f(state.range(0));
  kvt::ObjectRef values = f.fields->FieldsValue();
  for (auto _ : state) f.fields->SetFieldsValue(values);
  PerField(state);
}
BENCHMARK(BM_FieldsValueSet)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond);

void BM_CheckInsValue(benchmark::State& state) {
  Filled f(state.range(0));
  // Every field filled: the check walks them all.
  for (std::int64_t i = 1; i <= state.range(0); ++i) {
    f.fields->Item(kvt::Variant(static_cast<std::int32_t>(i)))->LetValue(kvt::Variant("x"));
  }
  for (auto _ : state) benchmark::DoNotOptimize(f.fields->CheckInsValue());
  PerField(state);
}
BENCHMARK(BM_CheckInsValue)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond);

void BM_ItemByName(benchmark::State& state) {
  Filled f(state.range(0));
  const kvt::Variant name("Campo" + std::to_string(state.range(0) / 2 + 1));
  for (auto _ : state) benchmark::DoNotOptimize(f.fields->Item(name));
}
BENCHMARK(BM_ItemByName)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000);

void BM_ArrangeFields(benchmark::State& state) {
  Filled f(state.range(0));
  kvtaddons::Resizer resizer;
  kvt::ObjectRef window = f.form;
  resizer.AttachFields(kvt::Variant(), window, kvt::Variant(kvt::ObjectRef(f.fields)));
  for (auto _ : state) resizer.ArrangeFields();
  PerField(state);
}
BENCHMARK(BM_ArrangeFields)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
