// The sample archive's Lua script at work on a headless form.
#include "e2e/fixture.h"
#include "kvtfields/collection/fields_collection.h"
#include "scripting/lua/lua_script_engine.h"

namespace kvtfields {
namespace {

using kvt::CStr;
using kvt::Variant;
using kvt::testing::CaptureError;
namespace sample = kvtarchive::sample;

class ScriptingE2E : public testing::EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    scripts_->InitEngine(engine_, sample::kArchive);  // the coordinator's engine per archive
    coordinator_->SetDBEngine(engine_);
    coordinator_->SetScriptEngine(scripts_);
    fields_->InitEx(coordinator_);
    fields_->FillCollection(sample::kArchive, sample::kEntryForm, form_);
  }
  std::string Text(const std::string& name) { return CStr(fields_->Item(Variant(name))->Value()); }

  std::shared_ptr<kvthost::Coordinator> coordinator_ = std::make_shared<kvthost::Coordinator>();
  std::shared_ptr<kvtlua::ScriptEngine> scripts_ = std::make_shared<kvtlua::ScriptEngine>();
  std::shared_ptr<FieldsCollection> fields_ = FieldsCollection::Create();
};

TEST_F(ScriptingE2E, QuantityTimesPriceGivesTheTotal) {
  user_->Focus("Quantita");
  EXPECT_EQ(Text("Quantita"), "1");  // proposed on entry, after the text was selected
  user_->Clear();
  user_->Type("3");
  user_->Tab();
  EXPECT_EQ(user_->Focused(), "Prezzo");
  EXPECT_EQ(Text("Totale"), "0,00");
  user_->Type("2,5");
  user_->Tab();
  EXPECT_EQ(Text("Totale"), "7,50");  // euro and cents, written by the script
}

TEST_F(ScriptingE2E, TheScriptRefusesAQuantityAndKeepsTheFocus) {
  user_->Focus("Quantita");
  user_->Type("20000");
  EXPECT_FALSE(user_->Tab());
  EXPECT_EQ(user_->Focused(), "Quantita");
  user_->Clear();
  user_->Type("2");
  EXPECT_TRUE(user_->Tab());
}

TEST_F(ScriptingE2E, ADefaultProposedOnEntryCountsAsAChange) {
  user_->Focus("Quantita");
  user_->Tab();  // nothing typed: the proposed 1 is a change, and leaving writes the total
  EXPECT_EQ(Text("Totale"), "0,00");
  EXPECT_FALSE(fields_->Item(Variant("Quantita"))->ValueChanged());
}

TEST_F(ScriptingE2E, AScriptErrorReachesTheControlNamingTheLine) {
  scripts_->LoadScript(
      "function uscita(nome)\n  if nome == 'Email' then\n    error('campo bloccato')\n  end\nend",
      sample::kArchive);
  user_->Focus("Email");
  const kvt::Error e = CaptureError([&] { user_->Tab(); });
  EXPECT_EQ(e.Number(), kvt::kObjectErrorBase + kvtlua::kScriptError);
  EXPECT_THAT(e.Description(), ::testing::HasSubstr("Fatture:3: campo bloccato"));
}

TEST_F(ScriptingE2E, AMissingFieldInTheUpdateListStopsTheUpdates) {
  scripts_->LoadScript(R"(
    function aggiorna(campo) return { "Manca", "Totale" } end
    function calcola(campo, campi) return 99 end)",
                       sample::kArchive);
  user_->Focus("Prezzo");
  user_->Type("5");
  user_->Tab();
  ASSERT_EQ(desktop_->Messages().size(), 1u);
  EXPECT_THAT(desktop_->Messages()[0].prompt, ::testing::StartsWith("Unable to find Manca field"));
  EXPECT_EQ(Text("Totale"), "");
}

TEST_F(ScriptingE2E, ARecomputeThatEmptiesTheCollectionEndsInItsMessage) {
  scripts_->LoadScript(R"(
    function aggiorna(campo) return { "Totale" } end
    function calcola(campo, campi) campi:RemoveAll() return 99 end)",
                       sample::kArchive);
  user_->Focus("Prezzo");
  user_->Type("5");
  user_->Tab();
  ASSERT_EQ(desktop_->Messages().size(), 1u);
  EXPECT_THAT(desktop_->Messages()[0].prompt, ::testing::StartsWith("Unable to find Totale field"));
  EXPECT_EQ(fields_->Index("Totale"), 0);
}

TEST_F(ScriptingE2E, ScriptsReadAndWriteFieldsThroughTheCollection) {
  scripts_->LoadScript(R"lua(
    function uscita(nome, valore, campi)
      if nome == "Cliente" then
        campi:Item("Note").Value = campi:Item("Cliente").Label .. ": " .. valore .. " (" .. campi.Count .. ")"
      end
    end)lua",
                       sample::kArchive);
  user_->Focus("Cliente");
  user_->Type("acme");
  user_->Tab();
  EXPECT_EQ(Text("Note"), "Cliente: ACME (12)");
}

}  // namespace
}  // namespace kvtfields
