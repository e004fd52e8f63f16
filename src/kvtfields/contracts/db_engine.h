// The database engine the component reads definitions, layouts and code lists through, and the
// engine's connection. Engines live outside the component (for example the SQLite engine).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "runtime/class_builder.h"
#include "runtime/object.h"
#include "runtime/record_set.h"

namespace kvtfields {

/// The engine's connection object. Operations in interface order.
class IDBConnection : public kvt::Object {
 public:
  /// The underlying data connection, handed unchanged to the autocomplete class.
  virtual kvt::Variant AdoConnection() = 0;
  /// False: the database is not open, and the component's Init does nothing.
  virtual bool IsOpen() = 0;

  template <class C>
  static kvt::ClassBuilder<C>& Describe(kvt::ClassBuilder<C>& b) {
    return b.template Get<&IDBConnection::AdoConnection>("AdoConnection")
        .template Get<&IDBConnection::IsOpen>("IsOpen");
  }
};

/// The database engine. Operations in interface order; the arguments marked by reference are
/// the engine's to read, it need not change them. Errors pass to the caller unchanged.
class IDBEngine : public kvt::Object {
 public:
  /// The connection, or null when there is no database.
  virtual std::shared_ptr<IDBConnection> Connection() = 0;
  /// Stores a code with its description; the next GetCodeList holds it.
  virtual void AddCode(const std::string& archive, const std::string& field_name,
                       const std::string& code, const std::string& description) = 0;
  /// Removes a code; the next GetCodeList no longer holds it.
  virtual void DeleteCode(const std::string& archive, const std::string& field_name,
                          const std::string& code) = 0;
  /// The archive's field names in their order; the same list serves every form.
  virtual std::vector<std::string> GetFormFields(const std::string& archive) = 0;
  /// The field's definition as the current row; BOF and EOF both False means found.
  virtual std::shared_ptr<kvt::RecordSet> GetFieldDefinition(const std::string& archive,
                                                             const std::string& field_name) = 0;
  /// The field's layout on a form as a record set, or Nothing when the form has none.
  virtual kvt::Variant GetFieldVisualProperties(const std::string& archive,
                                                const std::string& field_name,
                                                const std::string& form_name) = 0;
  /// The codes selected by a filter text, with the columns "COD" and "VALUE".
  virtual std::shared_ptr<kvt::RecordSet> GetCodeList(const std::string& filter) = 0;

  template <class C>
  static kvt::ClassBuilder<C>& Describe(kvt::ClassBuilder<C>& b) {
    return b.template Get<&IDBEngine::Connection>("Connection")
        .template Method<&IDBEngine::AddCode>("AddCode")
        .Params({"Archive", "FieldName", "Code", "Description"})
        .ByRef({"Archive", "FieldName", "Code", "Description"})
        .template Method<&IDBEngine::DeleteCode>("DeleteCode")
        .Params({"Archive", "FieldName", "Code"})
        .ByRef({"Archive", "FieldName", "Code"})
        .template Method<&IDBEngine::GetFormFields>("GetFormFields")
        .Params({"Archive"})
        .template Method<&IDBEngine::GetFieldDefinition>("GetFieldDefinition")
        .Params({"Archive", "FieldName"})
        .template Method<&IDBEngine::GetFieldVisualProperties>("GetFieldVisualProperties")
        .Params({"Archive", "FieldName", "FormName"})
        .ByRef({"Archive", "FieldName", "FormName"})
        .template Method<&IDBEngine::GetCodeList>("GetCodeList")
        .Params({"Filter"})
        .ByRef({"Filter"});
  }
};

}  // namespace kvtfields
