// Building a field of each kind on the sample archive and a headless form, beside the engine
// calls that building needs; and one focus-in / change / focus-out round trip of a field.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "addons/autocomplete/store_auto_completer.h"
#include "archives/sample_archive.h"
#include "engine/sqlite/sqlite_engine.h"
#include "host/headless/desktop.h"
#include "kvtfields/contracts/script_engine.h"
#include "kvtfields/field/field_type.h"
#include "quiet.h"
#include "sample_file.h"
#include "scripting/lua/lua_script_engine.h"

namespace {

namespace sample = kvtarchive::sample;

struct World {
  std::shared_ptr<kvthost::Desktop> desktop = kvthost::Desktop::Install();
  kvtbench::SampleFile file{"field-bench"};
  std::shared_ptr<kvtsqlite::SqliteEngine>& engine = file.engine;
  World() { kvtaddons::RegisterAutoCompleterClass(); }
};

World& W() {
  static World w;
  return w;
}

// One field of each kind: text (with autocomplete), combo, date, file link.
const char* const kFields[] = {"Cliente", "TipoDocumento", "DataDocumento", "Allegato"};

// Each field is built on a new form, as filling a form does. The forms are made, and the
// fields and forms cleared away, untimed, a batch at a time: pausing the timer costs more than
// a microsecond, too much to pay for every field. `per_field` is the time of one build.
void BM_BuildField(benchmark::State& state) {
  const std::string name = kFields[state.range(0)];
  constexpr int kBatch = 16;
  std::vector<std::shared_ptr<kvthost::Form>> forms;
  std::vector<std::shared_ptr<kvtfields::FieldType>> built;
  for (auto _ : state) {
    state.PauseTiming();
    built.clear();
    forms.clear();
    for (int i = 0; i < kBatch; ++i) forms.push_back(kvthost::Form::Create("frm"));
    state.ResumeTiming();
    for (const auto& form : forms) {
      auto f = kvtfields::FieldType::Create();
      std::string form_name = sample::kEntryForm;
      f->Init(sample::kArchive, name, form_name, W().engine, std::nullopt);
      f->SetLinkedLabel(f->AddLabel(form));
      f->SetLinkedControl(f->AddControl(form));
      built.push_back(std::move(f));
    }
  }
  state.counters["per_field"] =
      benchmark::Counter(static_cast<double>(state.iterations() * kBatch),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetLabel(name);
}
BENCHMARK(BM_BuildField)->DenseRange(0, 3);

// What building one field asks of the engine, on its own.
void BM_EngineCallsOfBuild(benchmark::State& state) {
  const std::string name = kFields[state.range(0)];
  auto& e = *W().engine;
  for (auto _ : state) {
    std::string archive = sample::kArchive, field = name, form = sample::kEntryForm;
    benchmark::DoNotOptimize(e.Connection()->IsOpen());
    e.GetFieldDefinition(archive, field)->Close();
    benchmark::DoNotOptimize(e.GetFieldVisualProperties(archive, field, form));
    std::string filter = "archive = '" + archive + "' and fieldType='" + field + "' order by cod";
    e.GetCodeList(filter)->Close();
    if (name == "Cliente") benchmark::DoNotOptimize(e.Connection()->AdoConnection());
  }
  state.SetLabel(name);
}
BENCHMARK(BM_EngineCallsOfBuild)->DenseRange(0, 3);

// The fields "Email" and "Note" on `form`, reporting to `owner`.
std::vector<std::shared_ptr<kvtfields::FieldType>> TwoFields(
    const std::shared_ptr<kvthost::Form>& form, const kvt::ObjectRef& owner) {
  std::vector<std::shared_ptr<kvtfields::FieldType>> fields;
  for (const char* name : {"Email", "Note"}) {
    auto f = kvtfields::FieldType::Create();
    std::string form_name = sample::kEntryForm;
    f->Init(sample::kArchive, name, form_name, W().engine, owner);
    f->SetLinkedLabel(f->AddLabel(form));
    f->SetLinkedControl(f->AddControl(form));
    fields.push_back(f);
  }
  return fields;
}

void BM_FocusChangeLeaveRoundTrip(benchmark::State& state) {
  auto owner = std::make_shared<kvtbench::QuietOwner>();
  owner->engine = std::make_shared<kvtbench::QuietScripts>();
  auto form = kvthost::Form::Create("frm");
  const auto fields = TwoFields(form, owner);
  auto email = std::dynamic_pointer_cast<kvthost::MultiLineTextBox>(form->FindControl("Email"));
  auto note = form->FindControl("Note");
  form->MoveFocus(note);
  bool flip = false;
  for (auto _ : state) {
    form->MoveFocus(email);                      // focus in
    email->LetText((flip = !flip) ? "x" : "y");  // one change
    form->MoveFocus(note);                       // focus out: validate, lost, GlobalChange
  }
}
BENCHMARK(BM_FocusChangeLeaveRoundTrip);

// Focus in and out of a field: "ingresso" through the script engine and the "GotFocus"
// callback, with a no-op engine (0) or a one-line Lua script (1).
void BM_ScriptEventRoundTrip(benchmark::State& state) {
  auto owner = std::make_shared<kvtbench::QuietOwner>();
  if (state.range(0) == 0) {
    owner->engine = std::make_shared<kvtbench::QuietScripts>();
  } else {
    auto lua = std::make_shared<kvtlua::ScriptEngine>();
    lua->LoadScript("function ingresso(nome, valore, campi) return valore end", "bench");
    owner->engine = lua;
  }
  auto form = kvthost::Form::Create("frm");
  const auto fields = TwoFields(form, owner);
  auto email = form->FindControl("Email");
  auto note = form->FindControl("Note");
  form->MoveFocus(note);
  for (auto _ : state) {
    form->MoveFocus(email);
    form->MoveFocus(note);
  }
  state.SetLabel(state.range(0) == 0 ? "no-op engine" : "Lua, one line");
}
BENCHMARK(BM_ScriptEventRoundTrip)->Arg(0)->Arg(1);

}  // namespace
