// The Lua script engine on its own: the bridge, errors both ways, the sandbox.
#include "scripting/lua/script_engine.h"

#include <chrono>

#include "runtime/dictionary.h"
#include "test_support.h"

namespace kvtlua {
namespace {

using kvt::CStr;
using kvt::Variant;
using kvt::testing::CaptureError;
using kvt::testing::ErrorIs;

class LuaEngineTest : public ::testing::Test {
 protected:
  // Runs the "ingresso" event of the loaded script on `value`.
  Variant Enter(Variant value, const std::string& name = "Campo") {
    engine_->FieldEnter(name, value, fields_);
    return value;
  }

  std::shared_ptr<ScriptEngine> engine_ = std::make_shared<ScriptEngine>();
  std::shared_ptr<kvt::Dictionary> dict_ = kvt::Dictionary::Create();
  kvt::ObjectRef fields_ = dict_;
};

TEST_F(LuaEngineTest, WithoutAScriptEventsLeaveValueAndCancelAlone) {
  engine_->InitEngine(nullptr, "32");
  EXPECT_EQ(CStr(Enter(Variant("x"))), "x");
  Variant v("y");
  bool cancel = true;
  engine_->FieldValidate("Campo", v, fields_, cancel);
  EXPECT_TRUE(cancel);
  kvt::ObjectRef none;
  EXPECT_TRUE(engine_->FieldsToUpdate(none).IsEmpty());
}

TEST_F(LuaEngineTest, ScriptsUseAutomationObjectsLateBound) {
  dict_->Add("Totale", 1);
  engine_->LoadScript(R"(
    function ingresso(nome, valore, campi)
      campi:Add("Nuovo", valore .. "!")
      campi.Item = 5            -- a let with no index has nowhere to go: an error the script sees
    end
    function uscita(nome, valore, campi)
      return campi.Count * 10 + (campi:Exists("Totale") and 1 or 0)
    end)",
                      "prova");
  EXPECT_EQ(CaptureError([&] { Enter(Variant("a")); }).Number(), 449u);
  EXPECT_EQ(CStr(dict_->Item("Nuovo")), "a!");
  Variant v;
  engine_->FieldExit("Campo", v, fields_);
  EXPECT_EQ(kvt::CLng(v), 21);
}

TEST_F(LuaEngineTest, NullAndDatesCrossBothWaysWithoutLoss) {
  engine_->LoadScript(R"(
    function ingresso(nome, valore, campi)
      if valore == null then return date(2026, 12, 5) end
      if getmetatable(valore) and valore.year then
        return tostring(valore) .. " " .. valore.day .. "/" .. valore.month
      end
      return null
    end)",
                      "date");
  const Variant d = Enter(Variant::Null());
  ASSERT_EQ(d.Type(), kvt::VarType::kDate);
  EXPECT_EQ(d.AsDate(), kvt::MakeDate(2026, 12, 5));
  EXPECT_EQ(CStr(Enter(d)), "05/12/2026 5/12");
  EXPECT_TRUE(Enter(Variant("x")).IsNull());
  const Variant exact(kvt::MakeDate(2026, 1, 2, 10, 30));
  engine_->LoadScript("function ingresso(n, v) return v end", "same");
  EXPECT_EQ(Enter(exact).AsDate(), exact.AsDate());  // the time of day survives too
}

TEST_F(LuaEngineTest, ErrorsNameTheScriptLineBothWays) {
  engine_->LoadScript("function uscita(n, v, campi)\n  local x = 1\n  return campi:Missing()\nend",
                      "Fatture");
  Variant v;
  const kvt::Error e = CaptureError([&] { engine_->FieldExit("Campo", v, fields_); });
  EXPECT_EQ(e.Number(), 438u);  // the runtime's own error, through the script
  EXPECT_THAT(e.Description(), ::testing::HasSubstr("Fatture:3:"));
  engine_->LoadScript("function uscita()\n error('importo negativo')\nend", "Fatture");
  EXPECT_THAT(CaptureError([&] { engine_->FieldExit("Campo", v, fields_); }),
              ErrorIs(kvt::kObjectErrorBase + kScriptError, "Fatture:2: importo negativo"));
  // A script may catch the runtime's errors and read them.
  engine_->LoadScript(R"(function uscita(n, v, c)
      local ok, err = pcall(function() return c:Missing() end)
      return err.number
    end)",
                      "Fatture");
  engine_->FieldExit("Campo", v, fields_);
  EXPECT_EQ(kvt::CLng(v), 438);
  EXPECT_EQ(CaptureError([&] { engine_->LoadScript("function (", "rotto"); }).Number(),
            kvt::kObjectErrorBase + kScriptSyntax);
}

TEST_F(LuaEngineTest, RunawayAndHostileScriptsEndQuicklyAndLeaveTheEngineUsable) {
  const std::vector<std::pair<std::string, std::uint32_t>> cases = {
      {"while true do end", kBudgetExceeded},
      {"local s = string.rep('x', 1024 * 1024 * 1024)", kMemoryExceeded},
      {"io.open('/etc/passwd')", kScriptError},
      {"os.execute('true')", kScriptError},
      {"require('os')", kScriptError},
      {"load(string.dump(print))", kScriptError},
  };
  for (const auto& [body, number] : cases) {
    engine_->LoadScript(
        "function ingresso(n, v) " + body + " end\nfunction uscita(n, v) return 'ok' end",
        "ostile");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CaptureError([&] { Enter(Variant()); }).Number(), kvt::kObjectErrorBase + number)
        << body;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << body;
    Variant v;
    engine_->FieldExit("Campo", v, fields_);  // the next event runs normally
    EXPECT_EQ(CStr(v), "ok") << body;
  }
}

TEST_F(LuaEngineTest, UpdatesNameFieldsAndEvaluateToIntegers) {
  engine_->LoadScript(R"(
    function aggiorna(campo) return { "Totale", "Iva" } end
    function calcola(campo, campi) return 2.5 end)",
                      "calc");
  kvt::ObjectRef any = dict_;
  const Variant names = engine_->FieldsToUpdate(any);
  ASSERT_EQ(names.AsArray().size(), 2u);
  EXPECT_EQ(CStr(names.AsArray()[1]), "Iva");
  EXPECT_EQ(engine_->EvaluateField(any, fields_), 2);  // half to even
}

}  // namespace
}  // namespace kvtlua
