#include "kvtfields/doubles.h"

namespace kvtfields::testing {

std::vector<kvt::Variant> DefinitionRow(const std::string& label, const std::string& type) {
  return {kvt::Variant(label), kvt::Variant("Descrizione di " + label),
          kvt::Variant(20),    kvt::Variant(0),
          kvt::Variant(1),     kvt::Variant(false),
          kvt::Variant(false), kvt::Variant(false),
          kvt::Variant(0),     kvt::Variant(0),
          kvt::Variant(false), kvt::Variant(type)};
}

const kvt::ClassInfo& FakeConnection::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<FakeConnection> b("FakeConnection");
    return IDBConnection::Describe(b).Build();
  }();
  return info;
}

const kvt::ClassInfo& FakeEngine::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<FakeEngine> b("FakeEngine");
    return IDBEngine::Describe(b).Build();
  }();
  return info;
}

void FakeEngine::AddCode(const std::string& archive, const std::string& field,
                         const std::string& code, const std::string& description) {
  calls.push_back("AddCode " + archive + "/" + field + " [" + code + "] " + description);
}

void FakeEngine::DeleteCode(const std::string& archive, const std::string& field,
                            const std::string& code) {
  calls.push_back("DeleteCode " + archive + "/" + field + " [" + code + "]");
}

std::vector<std::string> FakeEngine::GetFormFields(const std::string& archive) {
  calls.push_back("GetFormFields " + archive);
  return fields[archive];
}

std::shared_ptr<kvt::RecordSet> FakeEngine::GetFieldDefinition(const std::string& archive,
                                                               const std::string& field) {
  calls.push_back("GetFieldDefinition " + archive + "/" + field);
  std::vector<std::vector<kvt::Variant>> rows;
  if (auto it = definitions.find(archive + "/" + field); it != definitions.end()) {
    rows.push_back(it->second);
  }
  return std::make_shared<LoggingRecordSet>(kDefinitionColumns, std::move(rows), &columns_read);
}

kvt::Variant FakeEngine::GetFieldVisualProperties(const std::string& archive,
                                                  const std::string& field,
                                                  const std::string& form) {
  calls.push_back("GetFieldVisualProperties " + archive + "/" + field + "/" + form);
  return kvt::Variant::Nothing();
}

std::shared_ptr<kvt::RecordSet> FakeEngine::GetCodeList(const std::string& filter) {
  calls.push_back("GetCodeList " + filter);
  auto rs = kvt::MemoryRecordSet::Create({"COD", "VALUE"}, codes[filter]);
  code_lists_returned.push_back(rs);
  return rs;
}

const kvt::ClassInfo& RecordingOwner::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<RecordingOwner> b("RecordingOwner");
    return IFieldTypeEventCallBack::Describe(b).Build();
  }();
  return info;
}

void RecordingOwner::EventCallback(const kvt::ObjectRef& control, const std::string& event_name) {
  (void)control;
  events.push_back(event_name);
  if (log) log->push_back(event_name);
  if (on_event) on_event(event_name);
}

const kvt::ClassInfo& RecordingScriptEngine::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<RecordingScriptEngine> b("RecordingScriptEngine");
    return IScriptEngine::Describe(b).Build();
  }();
  return info;
}

void RecordingScriptEngine::InitEngine(const std::shared_ptr<IDBEngine>&, const std::string& set) {
  init_text = set;
  ++init_count;
}

kvt::Variant RecordingScriptEngine::FieldsToUpdate(kvt::ObjectRef&) {
  return update_list;
}

std::int32_t RecordingScriptEngine::EvaluateField(kvt::ObjectRef& field, kvt::ObjectRef&) {
  const std::string name = kvt::CStr(kvt::GetProperty(field, "Name"));
  auto it = evaluated.find(name);
  if (it == evaluated.end())
    throw kvt::Error(1001, "RecordingScriptEngine", "no value for " + name);
  return it->second;
}

void RecordingScriptEngine::Record(const std::string& event, const std::string& name,
                                   kvt::Variant& value, bool* cancel) {
  (log ? *log : own_log).push_back(event + " " + name + " " + kvt::JoinText(value));
  if (script) script(event, name, value, cancel);
}

void RecordingScriptEngine::FieldEnter(const std::string& n, kvt::Variant& v, kvt::ObjectRef&) {
  Record("ingresso", n, v, nullptr);
}
void RecordingScriptEngine::FieldExit(const std::string& n, kvt::Variant& v, kvt::ObjectRef&) {
  Record("uscita", n, v, nullptr);
}
void RecordingScriptEngine::FieldValidate(const std::string& n, kvt::Variant& v, kvt::ObjectRef&,
                                          bool& cancel) {
  Record("valida", n, v, &cancel);
}
void RecordingScriptEngine::FieldChange(const std::string& n, kvt::Variant& v, kvt::ObjectRef&) {
  Record("modificato", n, v, nullptr);
}

}  // namespace kvtfields::testing
