// FieldsCollection: what it does with the events its fields report, and the script engine.
#include "kvtfields/collection/fields_collection.h"
#include "kvtfields/contracts/host.h"
#include "runtime/class_registry.h"
#include "runtime/error.h"
#include "runtime/platform.h"

namespace kvtfields {
namespace {
constexpr const char* kSource = "kvtFields.FieldsCollection";
}  // namespace

void FieldsCollection::EventCallback(const kvt::ObjectRef& control, const std::string& event_name) {
  if (!mEnableChildEvents) return;
  if (event_name == "GotFocus") {
    ShowHelp(control);
  } else if (event_name == "GlobalChange") {
    ApplyScriptUpdates(control);
  }
}

void FieldsCollection::ShowHelp(const kvt::ObjectRef& control) {
  try {
    const std::string help = kvt::CStr(kvt::GetProperty(control, "Descr"));
    const kvt::ObjectRef form = HostForm();
    if (!form) return;  // filled by AddItem alone: no form to show it on
    const kvt::ObjectRef bar = kvt::CObj(kvt::GetProperty(form, member::kStatusBar));
    const kvt::ObjectRef panels = kvt::CObj(kvt::GetProperty(bar, member::kPanels));
    kvt::LetProperty(kvt::CObj(kvt::GetProperty(panels, member::kItem, host::kHelpPanelKey)),
                     member::kText, help);
  } catch (const kvt::Error&) {
    // A form without status bar or panel simply shows no help.
  }
}

std::shared_ptr<IScriptEngine> FieldsCollection::GetScriptEngine() {
  if (mCoordinatorPtr.IsSet()) {
    // The coordinator's engine, asked for at every call and never kept.
    const kvt::ObjectRef coordinator = mCoordinatorPtr.Get();
    auto engine = kvt::FromVariant<std::shared_ptr<IScriptEngine>>(
        kvt::GetProperty(coordinator, member::kScriptEngine));
    if (!engine) {
      throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "the coordinator has no ScriptEngine",
                              kSource);
    }
    return engine;
  }
  auto engine = std::dynamic_pointer_cast<IScriptEngine>(kvt::CreateObject(kScriptEngineProgId));
  if (!engine) {
    throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch,
                            std::string(kScriptEngineProgId) + " is not a script engine", kSource);
  }
  engine->InitEngine(mDBEngine, "32");
  return engine;
}

kvt::ObjectRef FieldsCollection::ScriptEngine() {
  return GetScriptEngine();
}

void FieldsCollection::ApplyScriptUpdates(const kvt::ObjectRef& control) {
  std::shared_ptr<IScriptEngine> engine = GetScriptEngine();
  kvt::ObjectRef changed = control;  // the engine may replace its argument
  const kvt::Variant list = engine->FieldsToUpdate(changed);
  if (list.IsEmpty()) return;
  const std::vector<kvt::Variant> names = kvt::Enumerate(list);
  std::string name;
  try {
    kvt::ObjectRef self = shared_from_this();
    for (const kvt::Variant& n : names) {
      name = kvt::JoinText(n);
      auto field = Find(name);
      if (!field) throw kvt::ObjectError(kErrNotInitialized, kSource, "no field " + name);
      engine = GetScriptEngine();
      kvt::ObjectRef field_ref = field;
      const std::int32_t value = engine->EvaluateField(field_ref, self);
      // The script may have emptied the collection meanwhile: then the name is no field.
      auto target = Find(name);
      if (!target) throw kvt::ObjectError(kErrNotInitialized, kSource, "no field " + name);
      target->LetValue(kvt::Variant(value));
    }
  } catch (const kvt::Error&) {
    kvt::CurrentPlatform().MsgBox("Unable to find " + name +
                                      " field in the fields collection...maybe a vbscript engine "
                                      "error. Try to check your protoUpdate script code",
                                  kvt::kMsgBoxOkOnly, "");
  }
}

}  // namespace kvtfields
