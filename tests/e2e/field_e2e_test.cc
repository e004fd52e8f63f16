// Fields of the sample archive built on a headless form: what the person would see.
#include "e2e/fixture.h"

namespace kvtfields {
namespace {

using kvt::CStr;
using kvt::Variant;
using kvt::testing::CaptureError;
using kvthost::CodeCombo;
using kvthost::DatePicker;
using kvthost::FileLinker;
using kvthost::Label;
using kvthost::MultiLineTextBox;
namespace sample = kvtarchive::sample;

class FieldE2E : public testing::EndToEnd {};

TEST_F(FieldE2E, ATextFieldShowsItsCaptionAndLayout) {
  auto f = Build("Cliente");
  auto label = Control<Label>("Label_Cliente");
  EXPECT_EQ(label->Caption(), "Cliente: ");
  EXPECT_EQ(label->BackStyle(), 0);
  EXPECT_EQ(label->Tag(), "Label_Cliente");
  EXPECT_EQ(label->ToolTipText(), "Ragione sociale del cliente");
  auto box = Control<MultiLineTextBox>("Cliente");
  EXPECT_EQ(box->Height(), kDefaultControlHeight);
  EXPECT_EQ(box->Width(), 4000);
  EXPECT_EQ(box->MaxLength(), 60);
  EXPECT_FALSE(box->MultiLine());
  EXPECT_EQ(box->Tag(), "Cliente");
  EXPECT_EQ(f->LinkedControl(), box);
  EXPECT_EQ(f->LinkedLabel(), label);

  auto note = Build("Note");
  auto note_box = Control<MultiLineTextBox>("Note");
  EXPECT_EQ(note_box->Height(), 900);  // the layout's height replaces the default
  EXPECT_TRUE(note_box->MultiLine());
}

TEST_F(FieldE2E, WithoutALayoutAHostsControlKeepsItsWidthAndLines) {
  auto f = FieldType::Create();
  std::string form = "Nessun modulo";
  f->Init(sample::kArchive, "Note", form, engine_, std::nullopt);
  auto own = std::dynamic_pointer_cast<MultiLineTextBox>(
      kvt::CObj(kvt::CallMethod(form_->Controls(), "Add", kTextBoxClass, "MyNote")));
  own->LetWidth(777);
  own->LetMultiLine(true);
  own->LetHeight(1000);
  f->SetLinkedControl(own);
  EXPECT_EQ(own->Height(), kDefaultControlHeight);
  EXPECT_EQ(own->Width(), 777);
  EXPECT_TRUE(own->MultiLine());
  EXPECT_EQ(own->MaxLength(), 500);
  EXPECT_EQ(own->Tag(), "Note");
}

TEST_F(FieldE2E, CombosGetDescriptionBehaviourAndAnEmptyFirstEntry) {
  Build("TipoDocumento");
  auto tipo = Control<CodeCombo>("TipoDocumento");
  EXPECT_TRUE(tipo->VisibleDescription());
  EXPECT_EQ(tipo->Behavior(), 1);
  EXPECT_EQ(tipo->Width(), 2600);
  EXPECT_EQ(tipo->Height(), 315);  // the combo's own height: the field never sets it
  ASSERT_EQ(tipo->ListCount(), 4);
  EXPECT_EQ(tipo->List(0), "");
  EXPECT_EQ(tipo->List(1), "DDT");  // in code order
  Build("Reparto");
  EXPECT_EQ(Control<CodeCombo>("Reparto")->Behavior(), 2);  // a multi-line layout

  form_->Unload();
  Build("TipoDocumento", nullptr, sample::kReviewForm);
  EXPECT_FALSE(Control<CodeCombo>("TipoDocumento")->VisibleDescription());
}

TEST_F(FieldE2E, DatePickersUseTheCustomFormatAndCanHoldNoDate) {
  auto f = Build("DataDocumento");
  auto picker = Control<DatePicker>("DataDocumento");
  EXPECT_EQ(picker->Format(), 3);
  EXPECT_EQ(picker->CustomFormat(), "dd/MM/yyyy");
  EXPECT_TRUE(picker->CheckBox());
  EXPECT_EQ(picker->Width(), 1600);
  EXPECT_TRUE(f->Value().IsNull());
}

TEST_F(FieldE2E, TheFirstCodeFillsTextFileAndDateControls) {
  AddCode("Cliente", "ZETA", "ultimo");
  AddCode("Cliente", "ACME", "primo");
  AddCode("Allegato", "/archivio/modello.pdf", "");
  AddCode("DataDocumento", "2026-12-05", "");
  auto cliente = Build("Cliente");
  auto allegato = Build("Allegato");
  auto data = Build("DataDocumento");
  EXPECT_EQ(CStr(cliente->Value()), "ACME");
  EXPECT_EQ(CStr(allegato->Value()), "/archivio/modello.pdf");
  EXPECT_EQ(CStr(data->Value()), "05/12/2026");
}

TEST_F(FieldE2E, ValuesRoundTripForEveryKind) {
  auto text = Build("Cliente");
  auto combo = Build("TipoDocumento");
  auto date = Build("DataDocumento");
  auto link = Build("Allegato");
  text->LetValue(Variant("Rossi & C."));
  EXPECT_EQ(text->Value().AsString(), "Rossi & C.");
  combo->LetValue(Variant("NC"));
  EXPECT_EQ(combo->Value().AsString(), "NC");
  EXPECT_EQ(Control<CodeCombo>("TipoDocumento")->Description(), "Nota di credito");
  link->LetValue(Variant("/tmp/f.pdf"));
  EXPECT_EQ(link->Value().AsString(), "/tmp/f.pdf");
  const kvt::Date d = kvt::MakeDate(2026, 12, 5);
  date->LetValue(Variant(d));
  EXPECT_EQ(date->Value().AsDate(), d);
  date->LetValue(Variant(""));
  EXPECT_TRUE(date->Value().IsNull());
  date->LetValue(Variant("31/01/2027"));
  date->LetValue(Variant::Null());
  EXPECT_TRUE(date->Value().IsNull());
  // Null cannot become text: the control keeps what it had.
  EXPECT_EQ(CaptureError([&] { text->LetValue(Variant::Null()); }).Number(), 94u);
  EXPECT_EQ(text->Value().AsString(), "Rossi & C.");
  // An empty text box reads "", a String.
  text->ClearControlValue();
  EXPECT_EQ(text->Value().Type(), kvt::VarType::kString);
}

TEST_F(FieldE2E, WritingTheShownValueIsNoChange) {
  auto text = Build("Cliente");
  auto date = Build("DataDocumento");
  text->LetValue(Variant("uguale"));
  EXPECT_TRUE(text->ValueChanged());  // the box's change event also marks it
  auto fresh = Build("Email");
  kvt::LetProperty(Control<MultiLineTextBox>("Email"), member_id::kTextBoxText, "x@y.it");
  // Writing what the box shows changes nothing and raises no change event.
  auto quiet = FieldType::Create();
  std::string form = sample::kEntryForm;
  quiet->Init(sample::kArchive, "Email", form, engine_, std::nullopt);
  quiet->SetLinkedControl(form_->FindControl("Email"));
  quiet->LetValue(Variant("x@y.it"));
  EXPECT_FALSE(quiet->ValueChanged());
  // A date field that held no date counts "" as a change; clearing a date through Null not.
  date->LetValue(Variant(""));
  EXPECT_TRUE(date->ValueChanged());
}

TEST_F(FieldE2E, LockingUsesTheMembersOfEachKind) {
  auto date = Build("DataDocumento");
  auto link = Build("Allegato");
  bool yes = true, no = false;
  date->LetLocked(yes);
  EXPECT_FALSE(Control<DatePicker>("DataDocumento")->Enabled());
  EXPECT_TRUE(date->Locked());
  link->LetLocked(yes);
  EXPECT_TRUE(Control<FileLinker>("Allegato")->Locked());
  EXPECT_TRUE(link->Locked());  // read back through the enabled flag
  link->LetLocked(no);
  EXPECT_FALSE(link->Locked());
  auto text = Build("Cliente");
  text->LetLocked(yes);
  user_->Focus("Cliente");
  user_->Type("x");
  EXPECT_EQ(CStr(text->Value()), "");
}

TEST_F(FieldE2E, ClearingAComboSelectsTheEmptyEntryOnlyWhenItHasEntries) {
  auto tipo = Build("TipoDocumento");
  tipo->LetValue(Variant("FAT"));
  tipo->ClearControlValue();
  EXPECT_EQ(Control<CodeCombo>("TipoDocumento")->ListIndex(), 0);
  engine_->Db().Execute("DELETE FROM code_lists WHERE fieldType = 'Reparto'");
  auto reparto = Build("Reparto");
  reparto->ClearControlValue();
  EXPECT_EQ(Control<CodeCombo>("Reparto")->ListIndex(), -1);
}

TEST_F(FieldE2E, ChangingTheKindRebuildsTheControlAndKeepsTheLabel) {
  auto f = Build("Quantita");
  auto label = f->LinkedLabel();
  f->LetControlType(std::optional<kvt::ObjectRef>(form_), kCalendar);
  auto picker = Control<DatePicker>("Quantita");
  ASSERT_NE(picker, nullptr);
  EXPECT_EQ(f->LinkedControl(), picker);
  EXPECT_EQ(f->LinkedLabel(), label);
  EXPECT_FALSE(f->IsCalendar());
  f->AddControl(form_);
  EXPECT_EQ(form_->ControlCount(), 3u);  // status bar, label, one control
}

TEST_F(FieldE2E, AnEndedFieldLeavesItsControlsAndListensNoMore) {
  auto owner = std::make_shared<testing::RecordingOwner>();
  auto engine = std::make_shared<testing::RecordingScriptEngine>();
  owner->engine = engine;
  auto f = Build("Cliente", owner);
  f.reset();
  ASSERT_NE(form_->FindControl("Cliente"), nullptr);
  ASSERT_NE(form_->FindControl("Label_Cliente"), nullptr);
  user_->Focus("Cliente");
  user_->Type("a");
  EXPECT_TRUE(owner->events.empty());
}

TEST_F(FieldE2E, AfterSaveTeachesTheAutocompleteOfTextFieldsOnly) {
  auto cliente = Build("Cliente");
  cliente->LetValue(Variant("ACME S.p.A."));
  cliente->NotifyAfterSave();
  Build("TipoDocumento")->NotifyAfterSave();  // no autocomplete: nothing happens
  cliente->ClearControlValue();
  user_->Focus("Cliente");
  user_->Type("ac");
  EXPECT_EQ(Control<MultiLineTextBox>("Cliente")->Suggestions(),
            std::vector<std::string>{"ACME S.p.A."});
}

}  // namespace
}  // namespace kvtfields
