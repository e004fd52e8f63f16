// FieldType: definition, initialisation and the init guard.
#include "kvtfields/field/field_type.h"

#include "runtime/class_builder.h"
#include "runtime/error.h"
#include "runtime/record_set.h"

namespace kvtfields {
namespace {
constexpr const char* kSource = "kvtFields.FieldType";
}  // namespace

const kvt::ClassInfo& FieldType::StaticClass() {
  using F = FieldType;
  static const kvt::ClassInfo info =
      kvt::ClassBuilder<F>("FieldType")
          .Property<&F::ControlType, &F::LetControlType>("ControlType")
          .Params({"FormItem"})
          .Set<&F::SetLinkedControl>("LinkedControl")
          .Params({"TheControl"})
          .Get<&F::LinkedControl>("LinkedControl")
          .Set<&F::SetLinkedLabel>("LinkedLabel")
          .Params({"TheLabel"})
          .Get<&F::LinkedLabel>("LinkedLabel")
          .Get<&F::IsRetainInMemory>("IsRetainInMemory")
          .Get<&F::Name>("Name")
          .Property<&F::Value, &F::LetValue>("Value")
          .Get<&F::IsRequired>("IsRequired")
          .Get<&F::AutoComplete>("AutoComplete")
          .Get<&F::IsIndex>("IsIndex")
          .Get<&F::DataFormat>("DataFormat")
          .Get<&F::IsCalendar>("IsCalendar")
          .Get<&F::Label>("Label")
          .Get<&F::Descr>("Descr")
          .Property<&F::Locked, &F::LetLocked>("Locked")
          .ByRef({"vdata"})
          .Method<&F::Init>("Init")
          .Params({"Archive", "FieldName", "FormName", "DBEng", "CallBackObj"})
          .ByRef({"FormName", "CallBackObj"})
          .Method<&F::ClearControlValue>("ClearControlValue")
          .Method<&F::AddLabel>("AddLabel")
          .Params({"FormItem"})
          .Method<&F::AddControl>("AddControl")
          .Params({"FormItem"})
          .Method<&F::VisualProperty>("VisualProperty")
          .Params({"FormName"})
          .ByRef({"FormName"})
          .Build();
  return info;
}

FieldType::~FieldType() {
  mVisualProperty.reset();
  mctlTextBox.Reset();
  mctlComboBox.Reset();
  mctlCalendar.Reset();
  mctlFileLinker.Reset();
  mDBEngine.reset();
  mAutoCompleter.reset();
  mLinkedLabel.reset();
}

void FieldType::EnsureInitialized() const {
  if (!mInitialized) {
    throw kvt::ObjectError(kErrNotInitialized, kSource,
                           "You must call first Init with a valid DBEngine Istance");
  }
}

std::string FieldType::Name() {
  EnsureInitialized();
  return mFieldName;
}

void FieldType::Init(std::string archive, std::string field_name, const std::string& form_name,
                     std::shared_ptr<IDBEngine> db_eng,
                     std::optional<kvt::ObjectRef> call_back_obj) {
  if (mInitialized) {
    throw kvt::ObjectError(kErrAlreadyInitialized, kSource, "This istance is just initializated");
  }
  if (!db_eng) return;
  auto connection = db_eng->Connection();
  if (!connection) return;
  if (!connection->IsOpen()) return;
  mDBEngine = db_eng;
  mArchive = archive;
  mFieldName = field_name;
  mFormName = form_name;
  if (call_back_obj && *call_back_obj) {
    mCallBackPtr = *call_back_obj;  // no reference is taken
    mCallBackFacet = dynamic_cast<IFieldTypeEventCallBack*>(call_back_obj->get());
  }
  auto rs = db_eng->GetFieldDefinition(mArchive, field_name);
  if (!rs) throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "GetFieldDefinition", kSource);
  if (rs->Eof() || rs->Bof()) {
    throw kvt::ObjectError(kErrNotFound, kSource, "Archive or FieldName not found in database");
  }
  ReadDefinition(*rs);
  rs->Close();
  mInitialized = true;
  mVisualProperty = FieldVisualProperty::Create();
  mVisualProperty->Init(db_eng, archive, field_name, form_name);
}

void FieldType::ReadDefinition(kvt::RecordSet& rs) {
  // Column by column, in this order: a failing column leaves the earlier ones read.
  mLabel = kvt::CStr(rs.Value("Label"));
  mDescr = kvt::CStr(rs.Value("Descr"));
  mMaxLen = kvt::CInt(rs.Value("MaxLen"));
  mMinLen = kvt::CInt(rs.Value("MinLen"));
  mPriority = kvt::CLng(rs.Value("Priority"));
  mIsIndex = kvt::CBool(rs.Value("IsIndex"));
  mIsRequired = kvt::CBool(rs.Value("IsRequired"));
  mAutoComplete = kvt::CBool(rs.Value("AutoComplete"));
  mDataFormat = kvt::CLng(rs.Value("DATA_FORMAT"));
  mCharFormat = kvt::CLng(rs.Value("CHAR_FORMAT"));
  mIsRetainInMemory = kvt::CBool(rs.Value("IsRetainInMemory"));
  const kvt::Variant type = rs.Value("Type");
  if (!type.IsString()) return;  // null or a number names no kind
  const std::string& t = type.AsString();
  if (t == "TextBox") {
    mControlType = kTextBox;
  } else if (t == "ComboBox") {
    mControlType = kComboBox;
  } else if (t == "Calendar") {
    mControlType = kCalendar;
    mIsCalendar = true;
  } else if (t == "FileLinker") {
    mControlType = kFileLinker;
  }
}

kvt::Variant FieldType::VisualProperty(const std::string& /*form_name*/) {
  return kvt::Variant(kvt::ObjectRef(mVisualProperty));
}

}  // namespace kvtfields
