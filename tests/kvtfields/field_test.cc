// FieldType against test doubles: what it asks of the engine and of its controls, in order.
#include "kvtfields/field/field_type.h"

#include "kvtfields/doubles.h"
#include "test_support.h"

namespace kvtfields {
namespace {

using kvt::CStr;
using kvt::ObjectRef;
using kvt::Variant;
using kvt::testing::CaptureError;
using kvt::testing::ErrorIs;
using testing::DefinitionRow;
using testing::FakeEngine;

constexpr std::uint32_t k513 = kvt::kObjectErrorBase + 513;

// A combo that logs every member the field sets or calls on it.
class RecordingCombo final : public kvt::Object, public ICodeComboControl {
  KVT_OBJECT()

 public:
  std::string Tag() const { return tag; }
  void LetTag(const std::string& v) { Log("Tag", v), tag = v; }
  void LetToolTipText(const std::string& v) { Log("ToolTipText", v); }
  void LetWidth(std::int32_t v) { Log("Width", std::to_string(v)); }
  void LetVisibleDescription(bool v) { Log("VisibleDescription", v ? "True" : "False"); }
  void LetBehavior(std::int32_t v) { Log("Behavior", std::to_string(v)); }
  void LetHaveEmptyElement(bool v) { Log("HaveEmptyElement", v ? "True" : "False"); }
  void SetDataRows(ObjectRef rows) {
    Log("DataRows", rows ? "record set" : "Nothing");
    data_rows = std::dynamic_pointer_cast<kvt::RecordSet>(rows);
  }
  void LetRequeryRecordset(bool v) { Log("RequeryRecordset", v ? "True" : "False"); }
  void LetComboBinding(const std::string& v) { Log("ComboBinding", v); }
  void LetLabelBinding(const std::string& v) { Log("LabelBinding", v); }
  void Refill() { Log("Refill", data_rows && data_rows->IsOpen() ? "open" : "closed"); }
  InputEvents& Events() override { return events; }
  CodeEvents& CodeMaintenance() override { return code_events; }

  std::vector<std::string> log;
  std::string tag;
  std::shared_ptr<kvt::RecordSet> data_rows;

 private:
  void Log(const std::string& name, const std::string& v) { log.push_back(name + "=" + v); }
  InputEvents events;
  CodeEvents code_events;
};

const kvt::ClassInfo& RecordingCombo::StaticClass() {
  using C = RecordingCombo;
  static const kvt::ClassInfo info = kvt::ClassBuilder<C>("RecordingCombo")
                                         .Get<&C::Tag>("Tag")
                                         .Let<&C::LetTag>("Tag")
                                         .Let<&C::LetToolTipText>("ToolTipText")
                                         .Let<&C::LetWidth>("Width")
                                         .Let<&C::LetVisibleDescription>("VisibleDescription")
                                         .Let<&C::LetBehavior>("Behavior")
                                         .Let<&C::LetHaveEmptyElement>("HaveEmptyElement")
                                         .Set<&C::SetDataRows>("DataRows")
                                         .Let<&C::LetRequeryRecordset>("RequeryRecordset")
                                         .Let<&C::LetComboBinding>("ComboBinding")
                                         .Let<&C::LetLabelBinding>("LabelBinding")
                                         .Method<&C::Refill>("Refill")
                                         .Build();
  return info;
}

class FieldTest : public ::testing::Test {
 protected:
  void Define(const std::string& field, std::vector<Variant> row) {
    engine_->definitions["A1/" + field] = std::move(row);
  }
  void Init(const std::shared_ptr<FieldType>& f, const std::string& field) {
    std::string form = "Modulo";
    f->Init("A1", field, form, engine_, std::nullopt);
  }

  std::shared_ptr<FakeEngine> engine_ = std::make_shared<FakeEngine>();
  std::shared_ptr<FieldType> field_ = FieldType::Create();
};

TEST_F(FieldTest, AFreshFieldAnswersDefaultsAndGuardsTheRest) {
  EXPECT_FALSE(field_->IsRequired() || field_->AutoComplete() || field_->IsIndex() ||
               field_->IsCalendar() || field_->IsRetainInMemory());
  EXPECT_EQ(field_->DataFormat(), 0);
  EXPECT_EQ(field_->Label(), "");
  EXPECT_EQ(field_->ControlType(std::nullopt), kTextBox);
  std::string form;
  EXPECT_TRUE(field_->VisualProperty(form).IsNothing());
  ObjectRef f = field_;
  const std::vector<std::function<void()>> guarded = {
      [&] { field_->Name(); },
      [&] { field_->LinkedControl(); },
      [&] { field_->SetLinkedControl(nullptr); },
      [&] { field_->LinkedLabel(); },
      [&] { field_->SetLinkedLabel(nullptr); },
      [&] { field_->AddLabel(nullptr); },
      [&] { field_->AddControl(nullptr); },
      [&] { field_->Value(); },
      [&] { field_->LetValue(Variant("x")); },
      [&] { field_->Locked(); },
      [&] { kvt::LetProperty(f, "Locked", true); },
      [&] { field_->ClearControlValue(); },
  };
  for (const auto& call : guarded) {
    const kvt::Error e = CaptureError(call);
    EXPECT_THAT(e, ErrorIs(k513, "You must call first Init with a valid DBEngine Istance"));
    EXPECT_EQ(e.Source(), "kvtFields.FieldType");
  }
  // ControlType: the same value does nothing; another is stored, then the guard fails.
  field_->LetControlType(std::nullopt, kTextBox);
  EXPECT_EQ(CaptureError([&] { field_->LetControlType(std::nullopt, kCalendar); }).Number(), k513);
  EXPECT_EQ(field_->ControlType(std::nullopt), kCalendar);
  EXPECT_FALSE(field_->IsCalendar());
}

TEST_F(FieldTest, InitWithoutAnUsableEngineReturnsSilently) {
  std::string form = "Modulo";
  field_->Init("A1", "F1", form, nullptr, std::nullopt);
  engine_->connection = nullptr;
  field_->Init("A1", "F1", form, engine_, std::nullopt);
  engine_->connection = std::make_shared<testing::FakeConnection>();
  engine_->connection->open = false;
  field_->Init("A1", "F1", form, engine_, std::nullopt);
  EXPECT_EQ(CaptureError([&] { field_->Name(); }).Number(), k513);
  EXPECT_TRUE(engine_->calls.empty());
}

TEST_F(FieldTest, TheDefinitionIsReadColumnByColumnInOrder) {
  Define("F1", DefinitionRow("Cliente", "Calendar"));
  Init(field_, "F1");
  EXPECT_EQ(engine_->columns_read, testing::kDefinitionColumns);
  EXPECT_EQ(field_->Name(), "F1");
  EXPECT_EQ(field_->ControlType(std::nullopt), kCalendar);
  EXPECT_TRUE(field_->IsCalendar());
  EXPECT_EQ(engine_->calls.back(), "GetFieldVisualProperties A1/F1/Modulo");
}

TEST_F(FieldTest, AFailingColumnLeavesTheEarlierOnesAndAllowsAnotherInit) {
  auto row = DefinitionRow("Cliente", "TextBox");
  row[3] = Variant("abc");  // MinLen
  Define("F1", row);
  EXPECT_EQ(CaptureError([&] { Init(field_, "F1"); }).Number(), 13u);
  EXPECT_EQ(field_->Label(), "Cliente");
  EXPECT_EQ(field_->Descr(), "Descrizione di Cliente");
  EXPECT_EQ(engine_->columns_read.back(), "MinLen");
  EXPECT_EQ(CaptureError([&] { field_->Name(); }).Number(), k513);

  row[3] = Variant(2);
  row[0] = Variant("Ragione sociale");
  Define("F1", row);
  Init(field_, "F1");
  EXPECT_EQ(field_->Label(), "Ragione sociale");
}

TEST_F(FieldTest, ConversionsAreStrict) {
  auto row = DefinitionRow("X", "TextBox");
  row[4] = Variant(40000);  // Priority is a Long: fine
  row[8] = Variant(1.5);    // DATA_FORMAT rounds half to even
  Define("Ok", row);
  Init(field_, "Ok");
  EXPECT_EQ(field_->DataFormat(), 2);

  auto too_long = DefinitionRow("X", "TextBox");
  too_long[2] = Variant(40000);  // MaxLen is an Integer
  Define("Big", too_long);
  auto other = FieldType::Create();
  EXPECT_EQ(CaptureError([&] { Init(other, "Big"); }).Number(), 6u);

  auto null_label = DefinitionRow("X", "TextBox");
  null_label[0] = Variant::Null();
  Define("Null", null_label);
  EXPECT_EQ(CaptureError([&] { Init(FieldType::Create(), "Null"); }).Number(), 94u);
}

TEST_F(FieldTest, TypeTextsAreExactAndANullTypeKeepsTheKind) {
  auto lower = DefinitionRow("X", "calendar");
  Define("Lower", lower);
  Init(field_, "Lower");
  EXPECT_EQ(field_->ControlType(std::nullopt), kTextBox);
  EXPECT_FALSE(field_->IsCalendar());
  auto null_type = DefinitionRow("X", "");
  null_type[11] = Variant::Null();
  Define("NullType", null_type);
  auto other = FieldType::Create();
  Init(other, "NullType");
  EXPECT_EQ(other->ControlType(std::nullopt), kTextBox);
}

TEST_F(FieldTest, ASecondInitFailsAndKeepsTheFirstDefinition) {
  Define("F1", DefinitionRow("Primo", "ComboBox"));
  Define("F2", DefinitionRow("Secondo", "TextBox"));
  Init(field_, "F1");
  EXPECT_THAT(CaptureError([&] { Init(field_, "F2"); }),
              ErrorIs(kvt::kObjectErrorBase + 516, "This istance is just initializated"));
  EXPECT_EQ(field_->Name(), "F1");
  EXPECT_EQ(field_->Label(), "Primo");
  EXPECT_EQ(field_->ControlType(std::nullopt), kComboBox);
}

TEST_F(FieldTest, AnUnknownFieldIs514) {
  EXPECT_THAT(CaptureError([&] { Init(field_, "Nessuno"); }),
              ErrorIs(kvt::kObjectErrorBase + 514, "Archive or FieldName not found in database"));
  EXPECT_EQ(CaptureError([&] { field_->Name(); }).Number(), k513);
}

TEST_F(FieldTest, BindingAForeignComboConfiguresItAndLoadsItsCodesInOrder) {
  Define("F1", DefinitionRow("Tipo", "ComboBox"));
  const std::string filter = "archive = 'A1' and fieldType='F1' order by cod";
  engine_->codes[filter] = {{Variant("FAT"), Variant("Fattura")}};
  Init(field_, "F1");
  auto combo = std::make_shared<RecordingCombo>();
  field_->SetLinkedControl(combo);
  EXPECT_EQ(engine_->calls.back(), "GetCodeList " + filter);
  EXPECT_EQ(combo->log,
            (std::vector<std::string>{"VisibleDescription=True", "ToolTipText=Descrizione di Tipo",
                                      "Tag=F1", "HaveEmptyElement=True", "DataRows=record set",
                                      "RequeryRecordset=False", "ComboBinding=COD",
                                      "LabelBinding=VALUE", "Refill=open"}));
  EXPECT_FALSE(engine_->code_lists_returned.back()->IsOpen());  // closed right after Refill
  EXPECT_EQ(field_->LinkedControl(), combo);
  combo->log.clear();
  field_->SetLinkedControl(combo);  // its tag is now the field name: not set up again
  EXPECT_TRUE(combo->log.empty());
}

TEST_F(FieldTest, AControlOfAnotherKindIsRefused) {
  Define("F1", DefinitionRow("Nome", "TextBox"));
  Init(field_, "F1");
  EXPECT_THAT(
      CaptureError([&] { field_->SetLinkedControl(std::make_shared<RecordingCombo>()); }),
      ErrorIs(kvt::kObjectErrorBase + 515, "Incongruence between control type and istance type"));
  EXPECT_EQ(field_->LinkedControl(), nullptr);
  EXPECT_EQ(
      CaptureError([&] { field_->SetLinkedLabel(std::make_shared<RecordingCombo>()); }).Number(),
      13u);
}

// Slots, kinds and ids of every member are the golden type library's (tests/server); here
// only what late binding does with them.
TEST(FieldTypeClass, TheControlTypeLetTakesTheValueAfterTheOptionalForm) {
  ObjectRef f = FieldType::Create();
  kvt::LetProperty(f, "ControlType", kTextBox);
  EXPECT_EQ(kvt::CLng(kvt::GetProperty(f, "ControlType")), kTextBox);
}

}  // namespace
}  // namespace kvtfields
