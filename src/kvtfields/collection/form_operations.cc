// FieldsCollection: operations on all fields of the form.
#include <array>

#include "kvtfields/collection/fields_collection.h"
#include "kvtfields/contracts/host.h"
#include "runtime/error.h"

namespace kvtfields {
namespace {
constexpr const char* kSource = "kvtFields.FieldsCollection";
}  // namespace

kvt::ObjectRef FieldsCollection::RequireCoordinator(const char* operation) const {
  kvt::ObjectRef c = mCoordinatorPtr.Resolve();
  if (!c) {
    throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet,
                            std::string(operation) + " needs the coordinator given to InitEx",
                            kSource);
  }
  return c;
}

std::int32_t FieldsCollection::FormLoaderStatus(const kvt::ObjectRef& coordinator) const {
  return kvt::CLng(kvt::GetProperty(kvt::CObj(kvt::GetProperty(coordinator, member::kApplication)),
                                    member::kFormLoaderStatus));
}

void FieldsCollection::ClearControlsValue() {
  EnsureInitialized();
  for (const auto& key : mKeys) mFields->at(key)->ClearControlValue();
}

void FieldsCollection::ControlsLocked(bool locked) {
  EnsureInitialized();
  for (const auto& key : mKeys) mFields->at(key)->LetLocked(locked);
}

void FieldsCollection::FocusOnFirstControl() {
  const kvt::ObjectRef coordinator = RequireCoordinator("FocusOnFirstControl");
  if (FormLoaderStatus(coordinator) != host::kFormLoaderReady) return;
  const kvt::ObjectRef app = kvt::CObj(kvt::GetProperty(coordinator, member::kApplication));
  const kvt::ObjectRef main = kvt::CObj(kvt::GetProperty(app, member::kMainForm));
  if (kvt::CLng(kvt::GetProperty(main, member::kWindowState)) == host::kWindowMinimized) return;
  if (mKeys.empty()) return;
  kvt::CallMethod(mFields->at(mKeys.front())->LinkedControl(), member::kSetFocus);
}

bool FieldsCollection::CheckInsValue() {
  for (const auto& key : mKeys) {
    const auto& field = mFields->at(key);
    if (!field->IsRequired() || kvt::EqualsText(field->Value(), "") != kvt::Tri::kTrue) continue;
    const std::string message =
        std::string("Il Campo ") + "\"" + field->Label() + "\"" + " è obbligatorio e non " +
        "può quindi essere lasciato vuoto. Prima di salvare il documento è " +
        "necessario quindi riempire questo campo con un valore corretto";
    const kvt::ObjectRef coordinator = RequireCoordinator("CheckInsValue");
    std::array<kvt::Variant, 3> args{kvt::Variant(message), kvt::Variant(host::kErrorRequiredEmpty),
                                     kvt::Variant(field->Name())};
    kvt::Invoke(kvt::CObj(kvt::GetProperty(coordinator, member::kErrori)),
                member::kAggiungiUnErrore, kvt::MemberKind::kMethod, args);
    if (FormLoaderStatus(coordinator) == host::kFormLoaderReady) {
      kvt::CallMethod(field->LinkedControl(), member::kSetFocus);
    }
    return false;  // only the first missing field is reported
  }
  return true;
}

kvt::ObjectRef FieldsCollection::FieldsValue() {
  EnsureInitialized();
  auto values = kvt::Dictionary::Create();
  for (const auto& key : mKeys) values->Add(key, mFields->at(key)->Value());
  return values;
}

void FieldsCollection::SetFieldsValue(kvt::ObjectRef vdata) {
  EnsureInitialized();
  if (!vdata) throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "FieldsValue", kSource);
  const std::vector<kvt::Variant> keys = kvt::Enumerate(kvt::CallMethod(vdata, "Keys"));
  for (const kvt::Variant& k : keys) {
    const std::string name = kvt::CStr(k);
    auto field = Find(name);
    if (!field) {
      throw kvt::ObjectError(kErrNotInitialized, kSource,
                             "Item " + name + " doesn't exist in FieldsCollection");
    }
    field->LetValue(kvt::GetProperty(vdata, "Item", name));
  }
}

void FieldsCollection::AfterSave() {
  EnsureInitialized();
  for (const auto& key : mKeys) mFields->at(key)->NotifyAfterSave();
}

}  // namespace kvtfields
