// An archive script from any text, loaded and run through every event with small limits:
// it may fail, with the engine's errors, but never crash, hang or outgrow its memory.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/dictionary.h"
#include "runtime/error.h"
#include "scripting/lua/lua_script_engine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto engine = std::make_shared<kvtlua::ScriptEngine>();
  engine->SetInstructionBudget(200'000);
  engine->SetTimeLimit(std::chrono::milliseconds(200));
  engine->SetMemoryCap(8u << 20);
  auto dict = kvt::Dictionary::Create();
  dict->Add("Campo", "valore");
  kvt::ObjectRef fields = dict;
  auto attempt = [](auto&& f) {
    try {
      f();
    } catch (const kvt::Error&) {
    }
  };
  attempt(
      [&] { engine->LoadScript(std::string(reinterpret_cast<const char*>(data), size), "fuzz"); });
  kvt::Variant value("12");
  bool cancel = false;
  attempt([&] { engine->FieldEnter("Campo", value, fields); });
  attempt([&] { engine->FieldChange("Campo", value, fields); });
  attempt([&] { engine->FieldValidate("Campo", value, fields, cancel); });
  attempt([&] { engine->FieldExit("Campo", value, fields); });
  attempt([&] { (void)engine->FieldsToUpdate(fields); });
  attempt([&] { (void)engine->EvaluateField(fields, fields); });
  return 0;
}
