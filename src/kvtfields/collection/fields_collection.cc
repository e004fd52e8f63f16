// FieldsCollection: building and lookup.
#include "kvtfields/collection/fields_collection.h"

#include <cmath>

#include "runtime/class_builder.h"
#include "runtime/error.h"

namespace kvtfields {
namespace {
constexpr const char* kSource = "kvtFields.FieldsCollection";
}  // namespace

const kvt::ClassInfo& FieldsCollection::StaticClass() {
  using C = FieldsCollection;
  static const kvt::ClassInfo info = kvt::ClassBuilder<C>("FieldsCollection")
                                         .Method<&C::Init>("Init")
                                         .Params({"DBEng"})
                                         .Method<&C::InitEx>("InitEx")
                                         .Params({"oCoordinator"})
                                         .Method<&C::FillCollection>("FillCollection")
                                         .Params({"Archive", "FormName", "FormItem"})
                                         .Method<&C::AddItem>("AddItem")
                                         .Params({"Archive", "FieldName", "FormName", "FormItem"})
                                         .Method<&C::ClearControlsValue>("ClearControlsValue")
                                         .Method<&C::ControlsLocked>("ControlsLocked")
                                         .Params({"Locked"})
                                         .Method<&C::FocusOnFirstControl>("FocusOnFirstControl")
                                         .Method<&C::CheckInsValue>("CheckInsValue")
                                         .Method<&C::RemoveAll>("RemoveAll")
                                         .Method<&C::SortTab>("SortTab")
                                         .Params({"UsingIndex"})
                                         .Get<&C::EnableChildEvents>("EnableChildEvents")
                                         .Let<&C::LetEnableChildEvents>("EnableChildEvents")
                                         .Params({"vdata"})
                                         .Get<&C::Count>("Count")
                                         .Get<&C::Item>("Item")
                                         .Default()
                                         .Params({"Index"})
                                         .Get<&C::Index>("Index")
                                         .Params({"Key"})
                                         .Method<&C::RetInMemCount>("RetInMemCount")
                                         .Method<&C::RetInMemKeys>("RetInMemKeys")
                                         .Method<&C::FirstNotRetInMemKey>("FirstNotRetInMemKey")
                                         .Get<&C::FieldsValue>("FieldsValue")
                                         .Set<&C::SetFieldsValue>("FieldsValue")
                                         .Params({"vdata"})
                                         .Method<&C::AfterSave>("AfterSave")
                                         .Method<&C::CopyPaste>("CopyPaste")
                                         .Params({"ForCopy"})
                                         .Build();
  return info;
}

FieldsCollection::FieldsCollection(Private)
    : mFields(std::make_unique<std::unordered_map<std::string, std::shared_ptr<FieldType>>>()),
      mIndexes(std::make_unique<std::unordered_map<std::string, std::int32_t>>()) {}

FieldsCollection::~FieldsCollection() {
  mIndexes.reset();
  mFields.reset();
}

void FieldsCollection::EnsureInitialized() const {
  if (!mInitialized) {
    throw kvt::ObjectError(kErrNotInitialized, kSource,
                           "You must call first Init with a valid DBEngine Istance");
  }
}

void FieldsCollection::Init(std::shared_ptr<IDBEngine> db_eng) {
  if (mInitialized || !db_eng || !db_eng->Connection()) return;
  if (!db_eng->Connection()->IsOpen()) return;  // the connection is asked for again here
  mDBEngine = std::move(db_eng);
  mInitialized = true;
}

void FieldsCollection::InitEx(kvt::ObjectRef o_coordinator) {
  if (mInitialized) return;
  mCoordinatorPtr = o_coordinator;
  mDBEngine = kvt::FromVariant<std::shared_ptr<IDBEngine>>(
      kvt::GetProperty(o_coordinator, member::kDBEngine));
  mInitialized = true;
}

void FieldsCollection::FillCollection(const std::string& archive, const std::string& form_name,
                                      kvt::ObjectRef form_item) {
  EnsureInitialized();
  mFormItemPtr = form_item;
  if (!mDBEngine) throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "DBEngine", kSource);
  const std::vector<std::string> names = mDBEngine->GetFormFields(archive);
  for (const std::string& name : names) AddItem(archive, name, form_name, form_item);
}

std::shared_ptr<FieldType> FieldsCollection::AddItem(const std::string& archive,
                                                     const std::string& field_name,
                                                     const std::string& form_name,
                                                     kvt::ObjectRef form_item) {
  EnsureInitialized();
  auto field = FieldType::Create();
  field->Init(archive, field_name, form_name, mDBEngine, shared_from_this());
  field->SetLinkedLabel(field->AddLabel(form_item));
  field->SetLinkedControl(field->AddControl(form_item));
  AddToCollection(field_name, field);
  field->ClearControlValue();  // every new control starts empty
  return field;
}

void FieldsCollection::AddToCollection(const std::string& key, std::shared_ptr<FieldType> field) {
  if (!mFields->emplace(key, std::move(field)).second) {
    throw kvt::RuntimeError(kvt::ErrorCode::kDuplicateKey, "field '" + key + "'", kSource);
  }
  const auto pos = static_cast<std::int32_t>(mKeys.size());
  mIndexes->emplace(key, pos + 1);
  mKeys.push_back(key);
}

std::shared_ptr<FieldType> FieldsCollection::Find(const std::string& name) const {
  auto it = mFields->find(name);
  return it == mFields->end() ? nullptr : it->second;
}

std::int32_t FieldsCollection::Count() {
  EnsureInitialized();
  return static_cast<std::int32_t>(mFields->size());
}

std::shared_ptr<FieldType> FieldsCollection::Item(const kvt::Variant& index) {
  EnsureInitialized();
  if (index.IsString()) {
    if (auto f = Find(index.AsString())) return f;
    throw kvt::ObjectError(kErrNotInitialized, kSource,
                           "Item " + index.AsString() + " doesn't exist in FieldsCollection");
  }
  const std::int32_t p = kvt::CLng(kvt::Variant(kvt::CDbl(index) - 1));
  if (p < 0 || static_cast<std::size_t>(p) >= mKeys.size()) {
    throw kvt::RuntimeError(kvt::ErrorCode::kSubscriptOutOfRange,
                            "position " + std::to_string(std::int64_t{p} + 1) + " of " +
                                std::to_string(mKeys.size()) + " fields",
                            kSource);
  }
  return mFields->at(mKeys[static_cast<std::size_t>(p)]);
}

std::int32_t FieldsCollection::Index(const std::string& key) const {
  auto it = mIndexes->find(key);
  return it == mIndexes->end() ? 0 : it->second;
}

void FieldsCollection::RemoveAll() {
  mKeys.clear();
  mFields->clear();
  mIndexes->clear();
}

void FieldsCollection::SortTab(std::optional<std::int32_t> using_index) {
  EnsureInitialized();
  const std::int32_t start = using_index.value_or(0);
  try {
    // Last field first, each given the same position: the form's tab-order rule shifts the
    // ones placed before it, so they end in collection order from `start` on.
    for (auto it = mKeys.rbegin(); it != mKeys.rend(); ++it) {
      kvt::LetProperty(mFields->at(*it)->LinkedControl(), member::kTabIndex, start);
    }
  } catch (const kvt::Error&) {
    // Any error ends the sorting silently; what was assigned stays.
  }
}

}  // namespace kvtfields
