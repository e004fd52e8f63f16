// A field's control events on the headless form, with a recording owner and script engine.
#include "e2e/fixture.h"

namespace kvtfields {
namespace {

using kvt::CStr;
using kvt::Variant;
using kvt::testing::CaptureError;
using kvthost::CodeCombo;
using kvthost::MultiLineTextBox;
using Log = std::vector<std::string>;

class FieldEventsE2E : public testing::EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    owner_->engine = scripts_;
    owner_->log = &log_;
    scripts_->log = &log_;
  }
  // Builds a field reporting to the owner and clears it, as the collection does.
  std::shared_ptr<FieldType> Field(const std::string& name) {
    auto f = Build(name, owner_);
    f->ClearControlValue();
    log_.clear();
    return f;
  }

  Log log_;
  std::shared_ptr<testing::RecordingOwner> owner_ = std::make_shared<testing::RecordingOwner>();
  std::shared_ptr<testing::RecordingScriptEngine> scripts_ =
      std::make_shared<testing::RecordingScriptEngine>();
};

TEST_F(FieldEventsE2E, OneEventEndToEnd) {
  auto cliente = Field("Cliente");
  auto email = Field("Email");
  auto box = Control<MultiLineTextBox>("Cliente");
  box->LetText("ab");
  log_.clear();

  user_->Focus("Cliente");
  EXPECT_EQ(log_, (Log{"ingresso Cliente ab", "GotFocus"}));
  EXPECT_EQ(box->BackColor(), kHighlightColor);
  EXPECT_EQ(box->SelStart(), 0);
  EXPECT_EQ(box->SelLength(), 2);  // all its text selected

  log_.clear();
  user_->Type("xy");  // replaces the selection, one change per character
  EXPECT_EQ(log_,
            (Log{"modificato Cliente x", "SingleChange", "modificato Cliente xy", "SingleChange"}));

  log_.clear();
  user_->Tab();
  // Leaving: the upper-case rule writes the text (a change), then valida, Validate, uscita.
  EXPECT_EQ(log_, (Log{"modificato Cliente XY", "SingleChange", "valida Cliente XY", "Validate",
                       "uscita Cliente XY", "GlobalChange", "ingresso Email ", "GotFocus"}));
  EXPECT_EQ(box->BackColor(), kvthost::kWhite);
  EXPECT_FALSE(cliente->ValueChanged());
}

TEST_F(FieldEventsE2E, LeavingWithoutAChangeRaisesNoGlobalChange) {
  auto email = Field("Email");
  auto quantita = Field("Quantita");
  user_->Focus("Email");
  user_->Tab();
  EXPECT_EQ(std::count(owner_->events.begin(), owner_->events.end(), "GlobalChange"), 0);
  EXPECT_EQ(owner_->events, (Log{"GotFocus", "GotFocus"}));  // empty text: no Validate
}

TEST_F(FieldEventsE2E, AScriptValueOnEntryCountsAsAChange) {
  auto prezzo = Field("Prezzo");
  auto totale = Field("Totale");
  scripts_->script = [](const std::string& ev, const std::string&, Variant& v, bool*) {
    if (ev == "ingresso" && kvt::JoinText(v).empty()) v = Variant("0");
  };
  user_->Focus("Prezzo");
  EXPECT_EQ(CStr(prezzo->Value()), "0");
  // The write-back raised the box's change event inside the focus handler.
  EXPECT_EQ(log_, (Log{"ingresso Prezzo ", "modificato Prezzo 0", "SingleChange", "GotFocus"}));
  user_->Tab();
  EXPECT_EQ(std::count(owner_->events.begin(), owner_->events.end(), "GlobalChange"), 1);
}

TEST_F(FieldEventsE2E, ACancelFromTheScriptKeepsTheFocusAndSuppressesValidate) {
  auto email = Field("Email");
  auto quantita = Field("Quantita");
  scripts_->script = [](const std::string& ev, const std::string&, Variant&, bool* cancel) {
    if (ev == "valida") *cancel = true;
  };
  user_->Focus("Email");
  user_->Type("a@b.it");
  EXPECT_FALSE(user_->Tab());
  EXPECT_EQ(user_->Focused(), "Email");
  EXPECT_EQ(std::count(owner_->events.begin(), owner_->events.end(), "Validate"), 0);
}

TEST_F(FieldEventsE2E, AFailingExitScriptStopsTheHandler) {
  auto email = Field("Email");
  auto quantita = Field("Quantita");
  scripts_->script = [](const std::string& ev, const std::string&, Variant&, bool*) {
    if (ev == "uscita") throw kvt::Error(1000, "Script", "riga 3: errore");
  };
  user_->Focus("Email");
  user_->Type("z");
  EXPECT_EQ(CaptureError([&] { user_->Tab(); }).Description(), "riga 3: errore");
  EXPECT_TRUE(email->ValueChanged());
  EXPECT_EQ(std::count(owner_->events.begin(), owner_->events.end(), "GlobalChange"), 0);
}

TEST_F(FieldEventsE2E, AFieldWithoutOwnerColoursAndTracksButReportsNothing) {
  auto f = Build("Email");
  user_->Focus("Email");
  EXPECT_EQ(Control<MultiLineTextBox>("Email")->BackColor(), kHighlightColor);
  user_->Type("q");
  EXPECT_TRUE(f->ValueChanged());
  EXPECT_TRUE(scripts_->own_log.empty());
  EXPECT_TRUE(log_.empty());
}

TEST_F(FieldEventsE2E, CodesAddedAndDeletedInTheComboReachTheDatabase) {
  auto tipo = Field("TipoDocumento");
  auto combo = Control<CodeCombo>("TipoDocumento");
  user_->Focus("TipoDocumento");
  user_->AddCode("  ", "solo spazi");
  EXPECT_EQ(combo->ListCount(), 4);
  user_->AddCode(" PRO ", "Proforma");
  EXPECT_EQ(combo->ListCount(), 5);
  EXPECT_EQ(CStr(tipo->Value()), " PRO ");  // stored and selected with its spaces
  std::string filter = "archive = 'Fatture' and fieldType='TipoDocumento' and cod = ' PRO '";
  EXPECT_FALSE(engine_->GetCodeList(filter)->Eof());

  for (const char* code : {" PRO ", "DDT", "FAT", "NC"}) user_->DeleteCode(code);
  // The last deletion left no codes: the list is not refilled and keeps its last entries.
  EXPECT_EQ(combo->ListCount(), 2);
  EXPECT_TRUE(engine_->GetCodeList(filter)->Eof());
  user_->DeleteCode("");  // no check of the code
}

TEST_F(FieldEventsE2E, EditingADateMarksTheFieldChanged) {
  auto data = Field("DataDocumento");
  auto numero = Field("NumeroDocumento");
  user_->Focus("DataDocumento");
  user_->PickDate(Variant("05/12/2026"));
  EXPECT_TRUE(data->ValueChanged());
  user_->Tab();
  EXPECT_EQ(std::count(owner_->events.begin(), owner_->events.end(), "GlobalChange"), 1);
  EXPECT_EQ(std::count(owner_->events.begin(), owner_->events.end(), "Validate"), 1);
}

}  // namespace
}  // namespace kvtfields
