// The layout control "kvtFieldsResizer.Resizer": arranges a window's field labels and controls
// in a flow of rows, in twips.
//
// Layout rules, for the fields in collection order:
// - a field starts a new row when its layout says BreakLine (the first field always starts
//   the first row); otherwise it goes right of the previous field on the same row;
// - a field is its caption and its control; the caption stands left of the control, or above
//   it when the control is at least kTallControl high (a tall box reads better with its
//   caption on top);
// - the control keeps its own Width and Height (the field set them from its layout);
// - fields on a row are kFieldGap apart; a row is as tall as its tallest field; rows are
//   kRowGap apart; the flow starts kMargin from the window's top left corner;
// - the window's client area grows to hold every field plus kMargin, never shrinks.
// Nothing overlaps, reading order follows the collection, and arranging is linear in the
// number of fields.
#pragma once

#include <cstdint>

#include "kvtfields/contracts/layout_control.h"
#include "runtime/weak_ref.h"

namespace kvtaddons {

inline constexpr std::int32_t kMargin = 120;
inline constexpr std::int32_t kCaptionGap = 60;
inline constexpr std::int32_t kFieldGap = 240;
inline constexpr std::int32_t kRowGap = 120;
inline constexpr std::int32_t kTallControl = 600;

class Resizer final : public kvtfields::ILayoutControl {
  KVT_OBJECT()

 public:
  /// Keeps the window and the fields collection (weakly: the viewer and the host own them).
  void AttachFields(const kvt::Variant& db_engine, kvt::ObjectRef& window,
                    const kvt::Variant& fields) override;
  /// Places every field's label and control; without AttachFields, error 91.
  void ArrangeFields() override;

 private:
  kvt::WeakRef<kvt::Object> window_;
  kvt::WeakRef<kvt::Object> fields_;
};

/// Registers "kvtFieldsResizer.Resizer" with the class registry.
void RegisterResizerClass();

}  // namespace kvtaddons
