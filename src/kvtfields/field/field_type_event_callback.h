// IFieldTypeEventCallBack: how a field reports the events of its control to its owner.
#pragma once

#include <string>

#include "runtime/class_builder.h"
#include "runtime/object.h"

namespace kvtfields {

/// Implemented by a field's owner (the FieldsCollection). Operations in interface order.
class IFieldTypeEventCallBack {
 public:
  virtual ~IFieldTypeEventCallBack() = default;
  /// The field `control` reports `event_name` ("GotFocus", "GlobalChange", "SingleChange",
  /// "Validate").
  virtual void EventCallback(const kvt::ObjectRef& control, const std::string& event_name) = 0;
  /// The script engine the field hands its script events to.
  virtual kvt::ObjectRef ScriptEngine() = 0;
  /// The FieldsCollection that owns the field.
  virtual kvt::ObjectRef FieldsCollectionObj() = 0;

  template <class C>
  static kvt::ClassBuilder<C>& Describe(kvt::ClassBuilder<C>& b) {
    return b.template Method<&IFieldTypeEventCallBack::EventCallback>("EventCallback")
        .Params({"Control", "EventName"})
        .ByRef({"Control", "EventName"})
        .ParamType("Control", "FieldType")
        .template Method<&IFieldTypeEventCallBack::ScriptEngine>("ScriptEngine")
        .template Method<&IFieldTypeEventCallBack::FieldsCollectionObj>("FieldsCollectionObj")
        .ResultType("FieldsCollection");
  }
};

/// The library's own class for the interface: hosts cannot create it, and its operations do
/// nothing (the two functions return Nothing).
class FieldTypeEventCallBack final : public kvt::Object, public IFieldTypeEventCallBack {
  KVT_OBJECT()

 public:
  void EventCallback(const kvt::ObjectRef&, const std::string&) override {}
  kvt::ObjectRef ScriptEngine() override { return nullptr; }
  kvt::ObjectRef FieldsCollectionObj() override { return nullptr; }
};

namespace internal {
/// Within the component: the owner's coordinator, through which input checks report
/// (the FieldsCollection implements it). Null when there is none.
class CoordinatorSource {
 public:
  virtual ~CoordinatorSource() = default;
  virtual kvt::ObjectRef Coordinator() = 0;
};
}  // namespace internal

}  // namespace kvtfields
