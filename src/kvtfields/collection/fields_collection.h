// FieldsCollection: the fields of one host form as one object. The host initialises it with a
// database engine (Init) or a coordinator (InitEx), fills it for an archive and form, and then
// treats all fields at once: values, lock, focus, required fields, retained values. It is also
// every field's owner: fields report their control events to it, and it hands them the script
// engine.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "kvtfields/contracts/db_engine.h"
#include "kvtfields/contracts/script_engine.h"
#include "kvtfields/field/field_type.h"
#include "kvtfields/field/field_type_event_callback.h"
#include "kvtfields/internal/live_object.h"
#include "runtime/dictionary.h"
#include "runtime/object.h"
#include "runtime/weak_ref.h"

namespace kvtfields {

class FieldsCollection final : public kvt::Object,
                               public IFieldTypeEventCallBack,
                               public internal::CoordinatorSource {
  KVT_OBJECT()

  // Only Create makes one: the object hands itself out as a counted reference.
  struct Private {
    explicit Private() = default;
  };

 public:
  static std::shared_ptr<FieldsCollection> Create() {
    return std::make_shared<FieldsCollection>(Private{});
  }
  explicit FieldsCollection(Private);
  /// The class's name where the type library names a parameter or result of this class.
  static constexpr const char* kTypeLibName = "FieldsCollection";
  /// Releases the position index, then the fields; their controls stay on the form.
  ~FieldsCollection() override;

  // The interface, in slot order.

  /// Takes an engine whose connection is open; otherwise nothing happens. Once only.
  void Init(std::shared_ptr<IDBEngine> db_eng);
  /// Takes a coordinator (kept weakly) and its DBEngine. Once only.
  void InitEx(kvt::ObjectRef o_coordinator);
  /// Adds a field for every field name of the archive, built on `form_item`.
  void FillCollection(const std::string& archive, const std::string& form_name,
                      kvt::ObjectRef form_item);
  /// Builds one field on the form and adds it; a name already present raises 457.
  std::shared_ptr<FieldType> AddItem(const std::string& archive, const std::string& field_name,
                                     const std::string& form_name, kvt::ObjectRef form_item);
  void ClearControlsValue();
  void ControlsLocked(bool locked);
  /// Focus on the first field, when the host is ready and its main window not minimised.
  void FocusOnFirstControl();
  /// False, after one Italian report, when a required field is empty.
  bool CheckInsValue();
  /// Forgets every field (their controls stay on the form); the copy store stays.
  void RemoveAll();
  /// Puts the fields' controls into the form's tab order from `using_index` on.
  void SortTab(std::optional<std::int32_t> using_index);
  bool EnableChildEvents() const { return mEnableChildEvents; }
  void LetEnableChildEvents(bool vdata) { mEnableChildEvents = vdata; }
  std::int32_t Count();
  /// A field by name (a String index), or by 1-based position (any other index).
  std::shared_ptr<FieldType> Item(const kvt::Variant& index);
  /// The 1-based position of a field, 0 when there is none.
  std::int32_t Index(const std::string& key) const;
  std::int32_t RetInMemCount();
  std::vector<std::string> RetInMemKeys();
  std::string FirstNotRetInMemKey();
  /// A new dictionary: field name → value, in collection order.
  kvt::ObjectRef FieldsValue();
  /// Sets the value of each field named in the dictionary; a name that is no field raises 513.
  void SetFieldsValue(kvt::ObjectRef vdata);
  void AfterSave();
  /// True pastes the copied retained values into the controls; False copies them.
  void CopyPaste(bool for_copy);

  // IFieldTypeEventCallBack.
  void EventCallback(const kvt::ObjectRef& control, const std::string& event_name) override;
  kvt::ObjectRef ScriptEngine() override;
  kvt::ObjectRef FieldsCollectionObj() override { return shared_from_this(); }

  // Within the component.

  /// The coordinator given to InitEx, or null.
  kvt::ObjectRef Coordinator() override { return mCoordinatorPtr.Resolve(); }

 private:
  void EnsureInitialized() const;
  void AddToCollection(const std::string& key, std::shared_ptr<FieldType> field);
  std::shared_ptr<FieldType> Find(const std::string& name) const;
  kvt::ObjectRef HostForm() const { return mFormItemPtr.Resolve(); }
  /// The coordinator for an operation that needs one; a clear 91 when there is none.
  kvt::ObjectRef RequireCoordinator(const char* operation) const;
  std::int32_t FormLoaderStatus(const kvt::ObjectRef& coordinator) const;
  void ComputeRetained();
  std::shared_ptr<IScriptEngine> GetScriptEngine();
  void ApplyScriptUpdates(const kvt::ObjectRef& control);
  void ShowHelp(const kvt::ObjectRef& control);

  bool mInitialized = false;
  bool mEnableChildEvents = true;
  std::unique_ptr<std::unordered_map<std::string, std::shared_ptr<FieldType>>> mFields;
  std::vector<std::string> mKeys;
  std::unique_ptr<std::unordered_map<std::string, std::int32_t>> mIndexes;
  std::shared_ptr<IDBEngine> mDBEngine;
  std::int32_t mRetInMemCount = -1;
  std::vector<std::string> mRetInMemKeys;
  std::string mFirstNotRetInMemKey;
  kvt::WeakRef<kvt::Object> mFormItemPtr;
  kvt::WeakRef<kvt::Object> mCoordinatorPtr;
  std::shared_ptr<kvt::Dictionary> mCopyStore;
  internal::LiveObject mLive;  // counts towards "may the library unload"
};

}  // namespace kvtfields
