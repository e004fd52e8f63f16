// A host form full of working fields: the collection built from the sample archive on the
// headless window system, used as a host and a person would.
#include "e2e/fixture.h"
#include "kvtfields/collection/fields_collection.h"
#include "runtime/class_registry.h"

namespace kvtfields {
namespace {

using kvt::CStr;
using kvt::Variant;
using kvt::testing::CaptureError;
using kvt::testing::ErrorIs;
using kvthost::MultiLineTextBox;
namespace sample = kvtarchive::sample;

constexpr std::uint32_t k513 = kvt::kObjectErrorBase + 513;

class CollectionE2E : public testing::EndToEnd {
 protected:
  void SetUp() override {
    EndToEnd::SetUp();
    coordinator_->SetDBEngine(engine_);
    coordinator_->SetScriptEngine(scripts_);
    fields_->InitEx(coordinator_);
  }
  void Fill() { fields_->FillCollection(sample::kArchive, sample::kEntryForm, form_); }
  const std::vector<kvthost::ErrorList::Entry>& Errors() {
    return coordinator_->Errors().Entries();
  }
  std::string Text(const std::string& name) { return CStr(fields_->Item(Variant(name))->Value()); }

  std::shared_ptr<kvthost::Coordinator> coordinator_ = std::make_shared<kvthost::Coordinator>();
  std::shared_ptr<testing::RecordingScriptEngine> scripts_ =
      std::make_shared<testing::RecordingScriptEngine>();
  std::shared_ptr<FieldsCollection> fields_ = FieldsCollection::Create();
};

TEST_F(CollectionE2E, APersonFillsInADocument) {
  Fill();
  ASSERT_EQ(fields_->Count(), 12);
  fields_->SortTab(std::nullopt);
  fields_->FocusOnFirstControl();
  EXPECT_EQ(user_->Focused(), "NumeroDocumento");
  EXPECT_EQ(HelpText(), "Numero progressivo della fattura (solo cifre, almeno 3)");
  user_->Type("2026");
  user_->Tab();
  EXPECT_EQ(user_->Focused(), "DataDocumento");
  EXPECT_EQ(HelpText(), "Data di emissione");

  // Leaving a changed field lets the script engine recompute another one.
  scripts_->update_list = Variant(Variant::Array{Variant("Totale")});
  scripts_->evaluated["Totale"] = 42;
  user_->Focus("Quantita");
  user_->Type("3");
  user_->Tab();
  EXPECT_EQ(Text("Totale"), "42");
  EXPECT_TRUE(desktop_->Messages().empty());
}

TEST_F(CollectionE2E, RequiredFieldsAreCheckedBeforeSaving) {
  Fill();
  fields_->Item(Variant("NumeroDocumento"))->LetValue(Variant("123"));
  // TipoDocumento and Cliente are required and empty; the date field never counts as missing.
  EXPECT_FALSE(fields_->CheckInsValue());
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0].message,
            "Il Campo \"Tipo documento\" è obbligatorio e non può quindi essere lasciato vuoto. "
            "Prima di salvare il documento è necessario quindi riempire questo campo con un valore "
            "corretto");
  EXPECT_EQ(Errors()[0].kind, 2);
  EXPECT_EQ(Errors()[0].field, "TipoDocumento");
  EXPECT_EQ(user_->Focused(), "TipoDocumento");

  fields_->Item(Variant("TipoDocumento"))->LetValue(Variant("FAT"));
  fields_->Item(Variant("Cliente"))->LetValue(Variant(" "));  // a space is a value
  EXPECT_TRUE(fields_->CheckInsValue());
}

TEST_F(CollectionE2E, ValuesGoOutAndComeBackAsADictionary) {
  Fill();
  fields_->Item(Variant("Cliente"))->LetValue(Variant("ACME"));
  fields_->Item(Variant("DataDocumento"))->LetValue(Variant(kvt::MakeDate(2026, 12, 5)));
  auto values = std::dynamic_pointer_cast<kvt::Dictionary>(fields_->FieldsValue());
  ASSERT_EQ(values->Count(), 12);
  EXPECT_EQ(CStr(values->Keys()[0]), "NumeroDocumento");
  fields_->ClearControlsValue();
  EXPECT_EQ(Text("Cliente"), "");
  fields_->SetFieldsValue(values);
  EXPECT_EQ(Text("Cliente"), "ACME");
  EXPECT_EQ(Text("DataDocumento"), "05/12/2026");

  auto wrong = kvt::Dictionary::Create();
  wrong->Add("Cliente", "BETA");
  wrong->Add("Sconosciuto", "x");
  EXPECT_THAT(CaptureError([&] { fields_->SetFieldsValue(wrong); }),
              ErrorIs(k513, "Item Sconosciuto doesn't exist in FieldsCollection"));
  EXPECT_EQ(Text("Cliente"), "BETA");  // assigned before the bad name
  EXPECT_EQ(fields_->Index("Sconosciuto"), 0);
}

TEST_F(CollectionE2E, AfterSaveTeachesTheAutocompleteAndTheFormCanBeRebuilt) {
  Fill();
  fields_->Item(Variant("Cliente"))->LetValue(Variant("ACME S.p.A."));
  engine_->SaveDocument(sample::kArchive, fields_->FieldsValue());
  fields_->AfterSave();
  fields_->RemoveAll();
  EXPECT_EQ(fields_->Count(), 0);
  Fill();
  EXPECT_EQ(fields_->Count(), 12);
  user_->Focus("Cliente");
  user_->Type("acm");
  EXPECT_EQ(
      std::dynamic_pointer_cast<MultiLineTextBox>(form_->FindControl("Cliente"))->Suggestions(),
      std::vector<std::string>{"ACME S.p.A."});
}

TEST_F(CollectionE2E, LookupByPositionAndByName) {
  Fill();
  EXPECT_EQ(fields_->Item(Variant(3))->Name(), "TipoDocumento");
  EXPECT_EQ(fields_->Item(Variant(3.0))->Name(), "TipoDocumento");
  EXPECT_THAT(CaptureError([&] { fields_->Item(Variant("3")); }),
              ErrorIs(k513, "Item 3 doesn't exist in FieldsCollection"));
  EXPECT_EQ(CaptureError([&] { fields_->Item(Variant(13)); }).Number(), 9u);
  EXPECT_EQ(CaptureError([&] { fields_->Item(Variant(0)); }).Number(), 9u);
  EXPECT_EQ(CaptureError([&] { fields_->Item(Variant(2147483648.0)); }).Number(), 9u);
  EXPECT_EQ(CaptureError([&] { fields_->Item(Variant(4294967296.0)); }).Number(), 6u);
  EXPECT_EQ(fields_->Index("NumeroDocumento"), 1);
  EXPECT_EQ(fields_->Index("numerodocumento"), 0);
  EXPECT_EQ(fields_->Count(), 12);
  // Late-bound, Item is the default member.
  std::array<Variant, 1> index{Variant(2)};
  kvt::ObjectRef f =
      kvt::CObj(kvt::Invoke(fields_, kvt::kDefaultMember, kvt::MemberKind::kGet, index));
  EXPECT_EQ(CStr(kvt::GetProperty(f, "Name")), "DataDocumento");
}

TEST_F(CollectionE2E, ArchiveAndFieldNamesWithApostrophesBuildTheirForm) {
  engine_->PutField(
      {.archive = "Fatture dell'anno", .name = "Sant'Angelo", .label = "Sede", .type = "ComboBox"});
  std::string archive = "Fatture dell'anno", field = "Sant'Angelo", code = "SA", descr = "Sede";
  engine_->AddCode(archive, field, code, descr);
  fields_->FillCollection("Fatture dell'anno", "Modulo", form_);
  auto combo = Control<kvthost::CodeCombo>("Sant'Angelo");
  ASSERT_NE(combo, nullptr);
  EXPECT_EQ(combo->Entries().size(), 2u);  // the empty entry and SA
  user_->Focus("Sant'Angelo");
  user_->Choose("SA");
  EXPECT_EQ(CStr(fields_->Item(Variant("Sant'Angelo"))->Value()), "SA");
}

TEST_F(CollectionE2E, NamesDifferingInCaseAreTwoFieldsButNoArchiveMayDefineThem) {
  engine_->PutField({.archive = "Casi", .name = "Nome", .label = "Nome"});
  EXPECT_THAT(CaptureError(
                  [&] { engine_->PutField({.archive = "Casi", .name = "NOME", .label = "NOME"}); }),
              ErrorIs(kvt::kObjectErrorBase + kvtsqlite::kBadDefinition, "letter case"));
  // Written by another tool all the same: the form is refused, not built with one control
  // standing for two fields.
  engine_->Db().Execute(
      "INSERT INTO field_definitions (archive, cod, position, \"Label\", \"Descr\", \"MaxLen\", "
      "\"MinLen\", \"Priority\", \"IsIndex\", \"IsRequired\", \"AutoComplete\", "
      "\"DATA_FORMAT\", \"CHAR_FORMAT\", \"IsRetainInMemory\", \"Type\") VALUES ('Casi', "
      "'NOME', 2, 'NOME', '', 0, 0, 0, 0, 0, 0, 0, 0, 0, 'TextBox')");
  EXPECT_THAT(CaptureError([&] { fields_->FillCollection("Casi", "Modulo", form_); }),
              ErrorIs(kvt::kObjectErrorBase + kvtsqlite::kBadDefinition, "'NOME'"));
  // The collection itself keeps names apart by letter case.
  fields_->AddItem("Casi", "Nome", "Modulo", form_);
  fields_->AddItem("Casi", "NOME", "Modulo", form_);
  EXPECT_EQ(fields_->Count(), 2);
  EXPECT_EQ(fields_->Item(Variant("NOME"))->Label(), "NOME");
  EXPECT_EQ(fields_->Index("NOME"), 2);
}

TEST_F(CollectionE2E, SortTabPutsTheControlsInCollectionOrder) {
  auto empty = FieldsCollection::Create();
  empty->InitEx(coordinator_);
  empty->SortTab(std::nullopt);  // nothing to sort, nothing reported
  Fill();
  // Scramble the form's tab order first.
  form_->FindControl("Note")->LetTabIndex(0);
  form_->FindControl("Cliente")->LetTabIndex(0);
  fields_->SortTab(std::nullopt);
  for (std::int32_t i = 1; i <= fields_->Count(); ++i) {
    EXPECT_EQ(kvt::CLng(kvt::GetProperty(fields_->Item(Variant(i))->LinkedControl(), "TabIndex")),
              i - 1);
  }
  fields_->SortTab(5);
  EXPECT_EQ(kvt::CLng(kvt::GetProperty(fields_->Item(Variant(1))->LinkedControl(), "TabIndex")), 5);
}

TEST_F(CollectionE2E, FillingTwiceFailsOnTheFirstDuplicateAndKeepsTheFirstSet) {
  Fill();
  auto first = fields_->Item(Variant(1));
  EXPECT_EQ(CaptureError([&] { Fill(); }).Number(), 457u);
  EXPECT_EQ(fields_->Count(), 12);
  EXPECT_EQ(fields_->Item(Variant(1)), first);
}

TEST_F(CollectionE2E, AnUnusableEngineLeavesTheCollectionUninitialised) {
  auto closed = kvtsqlite::SqliteEngine::Open(dir_.File("chiuso.kvtdb"));
  closed->CloseDatabase();
  auto fc = FieldsCollection::Create();
  fc->Init(closed);
  EXPECT_THAT(CaptureError([&] { fc->Count(); }),
              ErrorIs(k513, "You must call first Init with a valid DBEngine Istance"));
  fc->Init(engine_);
  auto other = kvtsqlite::SqliteEngine::Open(dir_.File("altro.kvtdb"));
  fc->Init(other);  // a second Init is ignored: the first engine stays
  fc->FillCollection(sample::kArchive, sample::kEntryForm, form_);
  EXPECT_EQ(fc->Count(), 12);
}

TEST_F(CollectionE2E, TheHostFormMayGoBeforeTheCollection) {
  Fill();
  user_.reset();
  form_.reset();
  EXPECT_EQ(fields_->Count(), 12);
  fields_->ClearControlsValue();  // the controls outlive their form and still answer
  fields_->RemoveAll();
}

TEST_F(CollectionE2E, WithChildEventsOffTheStatusBarKeepsItsText) {
  Fill();
  fields_->LetEnableChildEvents(false);
  user_->Focus("Cliente");
  EXPECT_EQ(HelpText(), "");
  EXPECT_EQ(scripts_->own_log.size(), 1u);  // the field's own script event still ran
}

TEST_F(CollectionE2E, AMissingFieldInTheUpdateListEndsInAMessage) {
  Fill();
  scripts_->update_list =
      Variant(Variant::Array{Variant("Totale"), Variant("Manca"), Variant("Note")});
  scripts_->evaluated = {{"Totale", 7}, {"Note", 9}};
  user_->Focus("Quantita");
  user_->Type("1");
  user_->Tab();
  ASSERT_EQ(desktop_->Messages().size(), 1u);
  EXPECT_EQ(desktop_->Messages()[0].prompt,
            "Unable to find Manca field in the fields collection...maybe a vbscript engine error. "
            "Try to check your protoUpdate script code");
  EXPECT_EQ(Text("Totale"), "7");
  EXPECT_EQ(Text("Note"), "");  // after the failing name: not processed
  EXPECT_EQ(fields_->Index("Manca"), 0);
}

TEST_F(CollectionE2E, WithoutCoordinatorEveryRequestPreparesAFreshEngine) {
  int made = 0;
  kvt::ScopedRegistration reg(kScriptEngineProgId, [&] {
    ++made;
    return std::make_shared<testing::RecordingScriptEngine>();
  });
  auto fc = FieldsCollection::Create();
  fc->Init(engine_);
  auto a = std::dynamic_pointer_cast<testing::RecordingScriptEngine>(fc->ScriptEngine());
  auto b = std::dynamic_pointer_cast<testing::RecordingScriptEngine>(fc->ScriptEngine());
  EXPECT_EQ(made, 2);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->init_text, "32");
  EXPECT_EQ(fc->FieldsCollectionObj(), fc);
}

// Input checks of text fields, reported to the coordinator's error list.
TEST_F(CollectionE2E, AShortNonNumericTextGivesTwoReportsAndKeepsTheFocus) {
  Fill();
  user_->Focus("NumeroDocumento");
  user_->Type("ab");
  EXPECT_FALSE(user_->Tab());
  ASSERT_EQ(Errors().size(), 2u);
  EXPECT_EQ(Errors()[0].message,
            "Il campo \"Numero documento\" ammette solo dati più lunghi di 3 caratteri");
  EXPECT_EQ(Errors()[0].kind, 0);
  EXPECT_EQ(Errors()[1].message, "Il campo \"Numero documento\" ammette solo valori numerici");
  EXPECT_EQ(Errors()[1].kind, 1);
  EXPECT_EQ(Errors()[1].field, "NumeroDocumento");
  EXPECT_EQ(user_->Focused(), "NumeroDocumento");
  user_->Clear();
  user_->Type("1.234");  // exactly the minimum... and numeric in the Italian way
  coordinator_->Errors().Clear();
  EXPECT_TRUE(user_->Tab());
  EXPECT_TRUE(Errors().empty());
}

TEST_F(CollectionE2E, LetterCaseIsConvertedOnLeaving) {
  Fill();
  user_->Focus("Cliente");
  user_->Type("àbc");
  user_->Tab();
  EXPECT_EQ(Text("Cliente"), "ÀBC");
  user_->Focus("Email");
  user_->Type("Mario.Rossi@Esempio.IT");
  user_->Tab();
  EXPECT_EQ(Text("Email"), "mario.rossi@esempio.it");
}

TEST_F(CollectionE2E, TheScriptMayLetAFailedCheckThrough) {
  Fill();
  scripts_->script = [](const std::string& ev, const std::string&, Variant&, bool* cancel) {
    if (ev == "valida") *cancel = false;
  };
  user_->Focus("CodiceFiscale");
  user_->Type("RSSMRA");  // shorter than 16: reported, then cleared by the script
  EXPECT_TRUE(user_->Tab());
  EXPECT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Text("CodiceFiscale"), "RSSMRA");
}

TEST_F(CollectionE2E, EmptyTextRunsNoCheckAndNoScript) {
  Fill();
  user_->Focus("NumeroDocumento");
  scripts_->own_log.clear();
  user_->Tab();
  EXPECT_TRUE(Errors().empty());
  ASSERT_FALSE(scripts_->own_log.empty());
  EXPECT_EQ(scripts_->own_log[0], "uscita NumeroDocumento ");  // no "valida" before it
}

// Retained values: copy, rebuild the form, paste.
TEST_F(CollectionE2E, CopiedRetainedValuesArePastedIntoTheNextDocument) {
  Fill();
  EXPECT_EQ(fields_->RetInMemCount(), 3);
  EXPECT_EQ(fields_->RetInMemKeys(),
            (std::vector<std::string>{"TipoDocumento", "Reparto", "Cliente"}));
  EXPECT_EQ(fields_->FirstNotRetInMemKey(), "CodiceFiscale");
  fields_->CopyPaste(true);  // paste before any copy: nothing, no focus
  EXPECT_EQ(user_->Focused(), "");

  fields_->Item(Variant("TipoDocumento"))->LetValue(Variant("FAT"));
  fields_->Item(Variant("Cliente"))->LetValue(Variant("ACME"));
  fields_->CopyPaste(false);
  fields_->RemoveAll();
  form_->Unload();
  Fill();
  EXPECT_EQ(Text("Cliente"), "");
  coordinator_->Viewer().LetMode(2);
  fields_->CopyPaste(true);
  EXPECT_EQ(Text("Cliente"), "");  // read-only viewer: nothing pasted
  coordinator_->Viewer().LetMode(1);
  fields_->CopyPaste(true);
  EXPECT_EQ(Text("TipoDocumento"), "FAT");
  EXPECT_EQ(Text("Cliente"), "ACME");
  EXPECT_EQ(Text("Reparto"), "");  // copied empty: untouched
  EXPECT_EQ(user_->Focused(), "CodiceFiscale");
}

TEST_F(CollectionE2E, ARetainedNameThatIsNoLongerAFieldFailsThePaste) {
  Fill();
  fields_->Item(Variant("Cliente"))->LetValue(Variant("ACME"));
  fields_->CopyPaste(false);
  fields_->RemoveAll();
  engine_->PutField({.archive = "Altro", .name = "Solo"});
  fields_->FillCollection("Altro", "Modulo", form_);
  EXPECT_THAT(CaptureError([&] { fields_->CopyPaste(true); }),
              ErrorIs(k513, "Item Cliente doesn't exist in FieldsCollection"));
}

}  // namespace
}  // namespace kvtfields
