// Late-bound calls by name and by member id beside the direct typed call they wrap.
#include <benchmark/benchmark.h>

#include <array>

#include "runtime/class_builder.h"
#include "runtime/dictionary.h"
#include "runtime/object.h"

namespace {

class Counter : public kvt::Object {
  KVT_OBJECT()

 public:
  std::int32_t Add(std::int32_t a, std::int32_t b) { return a + b + base_; }
  void LetBase(std::int32_t b) { base_ = b; }

 private:
  std::int32_t base_ = 0;
};

const kvt::ClassInfo& Counter::StaticClass() {
  // A table of realistic size: the lookups must not depend on the member's position.
  static const kvt::ClassInfo info = kvt::ClassBuilder<Counter>("Counter")
                                         .Let<&Counter::LetBase>("ControlType")
                                         .Let<&Counter::LetBase>("LinkedControl")
                                         .Let<&Counter::LetBase>("LinkedLabel")
                                         .Let<&Counter::LetBase>("IsRetainInMemory")
                                         .Let<&Counter::LetBase>("Name")
                                         .Let<&Counter::LetBase>("Value")
                                         .Let<&Counter::LetBase>("IsRequired")
                                         .Let<&Counter::LetBase>("AutoComplete")
                                         .Let<&Counter::LetBase>("IsIndex")
                                         .Let<&Counter::LetBase>("DataFormat")
                                         .Method<&Counter::Add>("Add")
                                         .Id(0x68030001)
                                         .Build();
  return info;
}

void BM_DirectTypedCall(benchmark::State& state) {
  auto c = std::make_shared<Counter>();
  std::int32_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(c->Add(i, 1));
    ++i;
  }
}
BENCHMARK(BM_DirectTypedCall);

void BM_LateBoundByName(benchmark::State& state) {
  kvt::ObjectRef c = std::make_shared<Counter>();
  std::array<kvt::Variant, 2> args{kvt::Variant(1), kvt::Variant(1)};
  for (auto _ : state) {
    benchmark::DoNotOptimize(kvt::Invoke(c, "aDD", kvt::MemberKind::kMethod, args));
  }
}
BENCHMARK(BM_LateBoundByName);

void BM_LateBoundById(benchmark::State& state) {
  kvt::ObjectRef c = std::make_shared<Counter>();
  std::array<kvt::Variant, 2> args{kvt::Variant(1), kvt::Variant(1)};
  for (auto _ : state) {
    benchmark::DoNotOptimize(kvt::Invoke(c, 0x68030001, kvt::MemberKind::kMethod, args));
  }
}
BENCHMARK(BM_LateBoundById);

void BM_DictionaryItemLateBound(benchmark::State& state) {
  auto d = kvt::Dictionary::Create();
  d->Add("Totale", 3);
  kvt::ObjectRef o = d;
  std::array<kvt::Variant, 1> key{kvt::Variant("Totale")};
  for (auto _ : state) {
    benchmark::DoNotOptimize(kvt::Invoke(o, kvt::kDefaultMember, kvt::MemberKind::kGet, key));
  }
}
BENCHMARK(BM_DictionaryItemLateBound);

}  // namespace
