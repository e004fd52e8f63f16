// An owner and a script engine that do nothing, to measure the component's own work.
#pragma once

#include <memory>
#include <string>

#include "kvtfields/contracts/script_engine.h"
#include "kvtfields/field/field_type_event_callback.h"
#include "runtime/class_builder.h"

namespace kvtbench {

class QuietOwner final : public kvt::Object, public kvtfields::IFieldTypeEventCallBack {
  KVT_OBJECT()

 public:
  void EventCallback(const kvt::ObjectRef&, const std::string&) override {}
  kvt::ObjectRef ScriptEngine() override { return engine; }
  kvt::ObjectRef FieldsCollectionObj() override { return shared_from_this(); }
  kvt::ObjectRef engine;
};

class QuietScripts final : public kvtfields::IScriptEngine {
  KVT_OBJECT()

 public:
  void InitEngine(const std::shared_ptr<kvtfields::IDBEngine>&, const std::string&) override {}
  kvt::Variant FieldsToUpdate(kvt::ObjectRef&) override { return {}; }
  std::int32_t EvaluateField(kvt::ObjectRef&, kvt::ObjectRef&) override { return 0; }
  void FieldEnter(const std::string&, kvt::Variant&, kvt::ObjectRef&) override {}
  void FieldExit(const std::string&, kvt::Variant&, kvt::ObjectRef&) override {}
  void FieldValidate(const std::string&, kvt::Variant&, kvt::ObjectRef&, bool&) override {}
  void FieldReserved(const std::string&, kvt::Variant&, kvt::ObjectRef&) override {}
  void FieldChange(const std::string&, kvt::Variant&, kvt::ObjectRef&) override {}
};

inline const kvt::ClassInfo& QuietOwner::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<QuietOwner> b("QuietOwner");
    return kvtfields::IFieldTypeEventCallBack::Describe(b).Build();
  }();
  return info;
}

inline const kvt::ClassInfo& QuietScripts::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<QuietScripts> b("QuietScripts");
    return kvtfields::IScriptEngine::Describe(b).Build();
  }();
  return info;
}

}  // namespace kvtbench
