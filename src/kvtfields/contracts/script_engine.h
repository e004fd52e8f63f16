// The archive's script engine, as the fields and the fields collection call it. Engines live
// outside the component; one is created by programmatic identifier kScriptEngineProgId.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kvtfields/contracts/db_engine.h"
#include "runtime/class_builder.h"
#include "runtime/object.h"

namespace kvtfields {

inline constexpr const char* kScriptEngineProgId = "kvtScripting.ScriptEngine";

/// Operations in interface order. `field` is a FieldType and `fields` a FieldsCollection, both
/// passed by reference (the engine may replace them). The four field events receive the field
/// name, its value (which the script may change) and the collection.
class IScriptEngine : public kvt::Object {
 public:
  /// Prepares a new engine: the database engine (may be null) and the name of a script set.
  virtual void InitEngine(const std::shared_ptr<IDBEngine>& db_engine,
                          const std::string& script_set) = 0;
  /// Names of the fields to recompute after `field` changed: Empty for none, otherwise an
  /// array or enumerable object of names.
  virtual kvt::Variant FieldsToUpdate(kvt::ObjectRef& field) = 0;
  /// The new value of `field`.
  virtual std::int32_t EvaluateField(kvt::ObjectRef& field, kvt::ObjectRef& fields) = 0;
  /// "ingresso": the field got the focus.
  virtual void FieldEnter(const std::string& field_name, kvt::Variant& value,
                          kvt::ObjectRef& fields) = 0;
  /// "uscita": the field lost the focus.
  virtual void FieldExit(const std::string& field_name, kvt::Variant& value,
                         kvt::ObjectRef& fields) = 0;
  /// "valida": the field is validated; the script may set or clear `cancel`.
  virtual void FieldValidate(const std::string& field_name, kvt::Variant& value,
                             kvt::ObjectRef& fields, bool& cancel) = 0;
  /// Kept for the interface's order; the component never calls it.
  virtual void FieldReserved(const std::string& field_name, kvt::Variant& value,
                             kvt::ObjectRef& fields) = 0;
  /// "modificato": the field's content changed.
  virtual void FieldChange(const std::string& field_name, kvt::Variant& value,
                           kvt::ObjectRef& fields) = 0;

  template <class C>
  static kvt::ClassBuilder<C>& Describe(kvt::ClassBuilder<C>& b) {
    return b.template Method<&IScriptEngine::InitEngine>("InitEngine")
        .Params({"DBEngine", "ScriptSet"})
        .template Method<&IScriptEngine::FieldsToUpdate>("FieldsToUpdate")
        .Params({"Field"})
        .template Method<&IScriptEngine::EvaluateField>("EvaluateField")
        .Params({"Field", "Fields"})
        .template Method<&IScriptEngine::FieldEnter>("FieldEnter")
        .Params({"FieldName", "Value", "Fields"})
        .template Method<&IScriptEngine::FieldExit>("FieldExit")
        .Params({"FieldName", "Value", "Fields"})
        .template Method<&IScriptEngine::FieldValidate>("FieldValidate")
        .Params({"FieldName", "Value", "Fields", "Cancel"})
        .template Method<&IScriptEngine::FieldReserved>("FieldReserved")
        .Params({"FieldName", "Value", "Fields"})
        .template Method<&IScriptEngine::FieldChange>("FieldChange")
        .Params({"FieldName", "Value", "Fields"});
  }
};

}  // namespace kvtfields
