// FieldVisualProperty: the layout of one field on one form (size, lines, combo description,
// new row), read from the database. Hosts receive it from FieldType.VisualProperty.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kvtfields/contracts/db_engine.h"
#include "kvtfields/internal/live_object.h"
#include "runtime/object.h"

namespace kvtfields {

class FieldVisualProperty final : public kvt::Object {
  KVT_OBJECT()

  // Only Create makes one: the object hands itself out as a counted reference.
  struct Private {
    explicit Private() = default;
  };

 public:
  static std::shared_ptr<FieldVisualProperty> Create() {
    return std::make_shared<FieldVisualProperty>(Private{});
  }
  explicit FieldVisualProperty(Private) {}

  /// Reads the layout row of the field on the form: every column but "archive", "cod" and
  /// "form" is assigned to the property of its name. No layout row: HasVisualProperty False.
  /// Errors (a column naming no property, a value that does not convert) pass to the caller.
  void Init(const std::shared_ptr<IDBEngine>& db_link, const std::string& archive,
            const std::string& field_name, const std::string& form_name);
  bool HasVisualProperty() const { return mHasVisualProperty; }
  std::int32_t Width() const { return mWidth; }
  void LetWidth(std::int32_t vdata) { mWidth = vdata; }
  std::int32_t Height() const { return mHeight; }
  void LetHeight(std::int32_t vdata) { mHeight = vdata; }
  bool BreakLine() const { return mBreakLine; }
  void LetBreakLine(bool vdata) { mBreakLine = vdata; }
  bool MultiLine() const { return mMultiLine; }
  void LetMultiLine(bool vdata) { mMultiLine = vdata; }
  bool ShowComboLabel() const { return mShowComboLabel; }
  void LetShowComboLabel(bool vdata) { mShowComboLabel = vdata; }

 private:
  bool mHasVisualProperty = false;
  std::int32_t mWidth = 0;
  std::int32_t mHeight = 0;
  bool mBreakLine = true;
  bool mMultiLine = false;
  bool mShowComboLabel = true;
  internal::LiveObject mLive;  // counts towards "may the library unload"
};

}  // namespace kvtfields
