// Test doubles built on the component's contracts: an engine that serves definitions from
// memory and records its calls, a recording owner, a recording script engine.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kvtfields/contracts/db_engine.h"
#include "kvtfields/contracts/script_engine.h"
#include "kvtfields/field/field_type_event_callback.h"
#include "runtime/class_builder.h"
#include "runtime/record_set.h"

namespace kvtfields::testing {

/// The twelve definition columns, in the order the field reads them.
inline const std::vector<std::string> kDefinitionColumns = {
    "Label",      "Descr",        "MaxLen",      "MinLen",      "Priority",         "IsIndex",
    "IsRequired", "AutoComplete", "DATA_FORMAT", "CHAR_FORMAT", "IsRetainInMemory", "Type"};

/// A definition row with sensible values; change what a test needs.
std::vector<kvt::Variant> DefinitionRow(const std::string& label, const std::string& type);

/// A record set that logs the columns read from it, by name.
class LoggingRecordSet final : public kvt::RecordSet {
 public:
  LoggingRecordSet(std::vector<std::string> columns, std::vector<std::vector<kvt::Variant>> rows,
                   std::vector<std::string>* log)
      : columns_(std::move(columns)), rows_(std::move(rows)), log_(log) {}

 protected:
  std::int64_t RowCount() const override { return static_cast<std::int64_t>(rows_.size()); }
  std::int32_t ColumnCount() const override { return static_cast<std::int32_t>(columns_.size()); }
  const std::string& ColumnName(std::int32_t i) const override {
    return columns_[static_cast<std::size_t>(i)];
  }
  const kvt::Variant& Cell(std::int64_t r, std::int32_t c) const override {
    if (log_) log_->push_back(columns_[static_cast<std::size_t>(c)]);
    return rows_[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
  }

 private:
  std::vector<std::string> columns_;
  std::vector<std::vector<kvt::Variant>> rows_;
  std::vector<std::string>* log_;
};

class FakeConnection final : public IDBConnection {
  KVT_OBJECT()

 public:
  kvt::Variant AdoConnection() override { return kvt::Variant::Nothing(); }
  bool IsOpen() override { return open; }
  bool open = true;
};

/// An engine whose definitions, layouts and codes live in maps, and that logs every call.
class FakeEngine final : public IDBEngine {
  KVT_OBJECT()

 public:
  std::shared_ptr<IDBConnection> Connection() override { return connection; }
  void AddCode(const std::string& archive, const std::string& field, const std::string& code,
               const std::string& description) override;
  void DeleteCode(const std::string& archive, const std::string& field,
                  const std::string& code) override;
  std::vector<std::string> GetFormFields(const std::string& archive) override;
  std::shared_ptr<kvt::RecordSet> GetFieldDefinition(const std::string& archive,
                                                     const std::string& field) override;
  kvt::Variant GetFieldVisualProperties(const std::string& archive, const std::string& field,
                                        const std::string& form) override;
  std::shared_ptr<kvt::RecordSet> GetCodeList(const std::string& filter) override;

  std::shared_ptr<FakeConnection> connection = std::make_shared<FakeConnection>();
  std::map<std::string, std::vector<std::string>> fields;               // archive → names
  std::map<std::string, std::vector<kvt::Variant>> definitions;         // "archive/field" → row
  std::map<std::string, std::vector<std::vector<kvt::Variant>>> codes;  // filter → rows
  std::vector<std::string> calls;
  std::vector<std::string> columns_read;
  std::vector<std::shared_ptr<kvt::RecordSet>> code_lists_returned;
};

/// Records what the fields report and hands out a script engine; it is also its own fields
/// collection, and may offer a coordinator for error reports.
class RecordingOwner final : public kvt::Object,
                             public IFieldTypeEventCallBack,
                             public internal::CoordinatorSource {
  KVT_OBJECT()

 public:
  void EventCallback(const kvt::ObjectRef& control, const std::string& event_name) override;
  kvt::ObjectRef ScriptEngine() override { return engine; }
  kvt::ObjectRef FieldsCollectionObj() override { return shared_from_this(); }
  kvt::ObjectRef Coordinator() override { return coordinator; }

  kvt::ObjectRef engine;
  kvt::ObjectRef coordinator;
  std::vector<std::string>* log = nullptr;  // shared with the script engine, when set
  std::vector<std::string> events;
  std::function<void(const std::string&)> on_event;
};

/// Records the script events ("ingresso Name value") and runs what a test gives it.
class RecordingScriptEngine final : public IScriptEngine {
  KVT_OBJECT()

 public:
  void InitEngine(const std::shared_ptr<IDBEngine>& db, const std::string& set) override;
  kvt::Variant FieldsToUpdate(kvt::ObjectRef& field) override;
  std::int32_t EvaluateField(kvt::ObjectRef& field, kvt::ObjectRef& fields) override;
  void FieldEnter(const std::string& name, kvt::Variant& value, kvt::ObjectRef& fields) override;
  void FieldExit(const std::string& name, kvt::Variant& value, kvt::ObjectRef& fields) override;
  void FieldValidate(const std::string& name, kvt::Variant& value, kvt::ObjectRef& fields,
                     bool& cancel) override;
  void FieldReserved(const std::string&, kvt::Variant&, kvt::ObjectRef&) override {}
  void FieldChange(const std::string& name, kvt::Variant& value, kvt::ObjectRef& fields) override;

  std::vector<std::string>* log = nullptr;  // where events go; `own_log` when unset
  std::vector<std::string> own_log;
  /// Called for every field event: (event, field name, value, cancel or null).
  std::function<void(const std::string&, const std::string&, kvt::Variant&, bool*)> script;
  kvt::Variant update_list;                       // what FieldsToUpdate answers
  std::map<std::string, std::int32_t> evaluated;  // what EvaluateField answers, by field name
  std::string init_text;
  int init_count = 0;

 private:
  void Record(const std::string& event, const std::string& name, kvt::Variant& value, bool* cancel);
};

}  // namespace kvtfields::testing
