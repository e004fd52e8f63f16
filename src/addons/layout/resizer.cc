#include "addons/layout/resizer.h"

#include <algorithm>
#include <limits>

#include "kvtfields/contracts/host_contract.h"
#include "runtime/class_registry.h"
#include "runtime/error.h"

namespace kvtaddons {
namespace {

namespace member = kvtfields::member;

constexpr const char* kSource = "kvtFieldsResizer.Resizer";

kvt::ObjectRef Member(const kvt::ObjectRef& o, const char* name) {
  return kvt::CObj(kvt::GetProperty(o, name));
}

std::int32_t Long(const kvt::ObjectRef& o, const char* name) {
  return kvt::CLng(kvt::GetProperty(o, name));
}

// Positions are summed in 64 bits and kept within what a window can take, whatever sizes
// the controls report: a huge layout makes a large window, never an overflow.
constexpr std::int64_t kMaxPosition = std::numeric_limits<std::int32_t>::max() / 2;

std::int32_t Clamped(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, -kMaxPosition, kMaxPosition));
}

// One field's caption and control, and the box they take together.
struct Placed {
  kvt::ObjectRef label;
  kvt::ObjectRef control;
  std::int64_t label_w, label_h, control_w, control_h;
  bool above;
  std::int64_t Width() const {
    return above ? std::max(label_w, control_w) : label_w + kCaptionGap + control_w;
  }
  std::int64_t Height() const {
    return above ? label_h + kCaptionGap + control_h : std::max(label_h, control_h);
  }
};

}  // namespace

const kvt::ClassInfo& Resizer::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<Resizer> b("Resizer");
    return kvtfields::ILayoutControl::Describe(b).Build();
  }();
  return info;
}

void Resizer::AttachFields(const kvt::Variant&, kvt::ObjectRef& window,
                           const kvt::Variant& fields) {
  window_ = window;
  fields_ = kvt::CObj(fields);
}

void Resizer::ArrangeFields() {
  const kvt::ObjectRef window = window_.Resolve();
  const kvt::ObjectRef fields = fields_.Resolve();
  if (!window || !fields) {
    throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "AttachFields first", kSource);
  }
  const std::int32_t count = Long(fields, "Count");
  std::int64_t x = kMargin, row_top = kMargin, row_height = 0, right = 0;
  for (std::int32_t i = 1; i <= count; ++i) {
    const kvt::ObjectRef field = kvt::CObj(kvt::GetProperty(fields, "Item", i));
    Placed p;
    p.label = Member(field, "LinkedLabel");
    p.control = Member(field, "LinkedControl");
    p.label_w = Long(p.label, "Width");
    p.label_h = Long(p.label, "Height");
    p.control_w = Long(p.control, "Width");
    p.control_h = Long(p.control, "Height");
    p.above = p.control_h >= kTallControl;
    const kvt::ObjectRef layout = kvt::CObj(kvt::CallMethod(field, "VisualProperty", ""));
    const bool break_line = !layout || kvt::CBool(kvt::GetProperty(layout, "BreakLine"));
    if (i > 1 && break_line) {
      row_top += row_height + kRowGap;
      row_height = 0;
      x = kMargin;
    }
    // Caption and control share the field's top; the row only decides where the next row goes.
    kvt::LetProperty(p.label, member::kLeft, Clamped(x));
    kvt::LetProperty(p.label, member::kTop, Clamped(row_top));
    if (p.above) {
      kvt::LetProperty(p.control, member::kLeft, Clamped(x));
      kvt::LetProperty(p.control, member::kTop, Clamped(row_top + p.label_h + kCaptionGap));
    } else {
      kvt::LetProperty(p.control, member::kLeft, Clamped(x + p.label_w + kCaptionGap));
      kvt::LetProperty(p.control, member::kTop, Clamped(row_top));
    }
    x = std::min(x + p.Width() + kFieldGap, kMaxPosition);
    right = std::max(right, x - kFieldGap);
    row_height = std::min(std::max(row_height, p.Height()), kMaxPosition);
    row_top = std::min(row_top, kMaxPosition);
  }
  const std::int64_t bottom = row_top + row_height;
  if (Long(window, "ScaleWidth") < right + kMargin)
    kvt::LetProperty(window, member::kScaleWidth, Clamped(right + kMargin));
  if (Long(window, "ScaleHeight") < bottom + kMargin) {
    kvt::LetProperty(window, member::kScaleHeight, Clamped(bottom + kMargin));
  }
}

void RegisterResizerClass() {
  kvt::ClassRegistry::Instance().Register(kvtfields::kLayoutControlProgId, {},
                                          [] { return std::make_shared<Resizer>(); });
}

}  // namespace kvtaddons
