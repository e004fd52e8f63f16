// FieldsCollection: the retained fields and copying their values into the next document.
#include "kvtfields/collection/fields_collection.h"
#include "runtime/error.h"

namespace kvtfields {

void FieldsCollection::ComputeRetained() {
  mRetInMemCount = 0;
  const std::int32_t count = Count();
  for (std::int32_t i = 1; i <= count; ++i) {
    auto field = Item(kvt::Variant(i));
    if (!field->IsRetainInMemory()) continue;
    ++mRetInMemCount;
    mRetInMemKeys.push_back(field->Name());
    if (i < count && mFirstNotRetInMemKey.empty()) {
      auto next = Item(kvt::Variant(i + 1));
      if (!next->IsRetainInMemory()) mFirstNotRetInMemKey = next->Name();
    }
  }
}

std::int32_t FieldsCollection::RetInMemCount() {
  EnsureInitialized();
  if (mRetInMemCount == -1) ComputeRetained();  // once for the life of the collection
  return mRetInMemCount;
}

std::vector<std::string> FieldsCollection::RetInMemKeys() {
  EnsureInitialized();
  if (mRetInMemCount == -1) ComputeRetained();
  return mRetInMemKeys;
}

std::string FieldsCollection::FirstNotRetInMemKey() {
  EnsureInitialized();
  if (mRetInMemCount == -1) ComputeRetained();
  return mFirstNotRetInMemKey;
}

void FieldsCollection::CopyPaste(bool for_copy) {
  if (!mCopyStore) mCopyStore = kvt::Dictionary::Create();
  if (for_copy) {  // True pastes
    const std::int32_t count = RetInMemCount();
    const kvt::ObjectRef viewer =
        kvt::CObj(kvt::GetProperty(RequireCoordinator("CopyPaste"), member::kDocViewer));
    // Both tests read the mode, as the host expects to be asked twice.
    const std::int32_t mode_a = kvt::CLng(kvt::GetProperty(viewer, member::kMode));
    const std::int32_t mode_b = kvt::CLng(kvt::GetProperty(viewer, member::kMode));
    if (count == 0 || (mode_a != 0 && mode_b != 1)) return;
    const std::vector<std::string> keys = RetInMemKeys();
    bool pasted = false;
    for (const std::string& key : keys) {
      const kvt::Variant* stored = mCopyStore->Find(key);  // a name never copied counts as ""
      const std::string text = stored ? kvt::CStr(*stored) : std::string();
      if (text.empty()) continue;
      // Straight into the control, not through the field's Value.
      kvt::LetProperty(Item(kvt::Variant(key))->LinkedControl(), member::kText, text);
      pasted = true;
    }
    if (!pasted) return;
    try {
      const std::string next = FirstNotRetInMemKey();
      auto target = next.empty() ? Item(kvt::Variant(1)) : Item(kvt::Variant(next));
      kvt::CallMethod(target->LinkedControl(), member::kSetFocus);
    } catch (const kvt::Error&) {
      // Moving the focus after a paste is a courtesy; its failure is ignored.
    }
  } else {  // False copies
    for (const std::string& key : RetInMemKeys()) {
      mCopyStore->LetItem(key, kvt::JoinText(Item(kvt::Variant(key))->Value()));
    }
  }
}

}  // namespace kvtfields
