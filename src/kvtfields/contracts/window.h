// What the component needs of a window it asks the platform for (the field viewer's window):
// a late-bound form (Caption, ScaleWidth, ScaleHeight, KeyPreview, Controls, Unload) that also
// raises its key events through this interface.
#pragma once

#include <cstdint>

#include "runtime/event_source.h"

namespace kvtfields {

class IWindowKeys {
 public:
  virtual ~IWindowKeys() = default;
  /// Key code and shift state (1 Shift, 2 Ctrl, 4 Alt), before the focused control sees them.
  virtual kvt::EventSource<std::int16_t&, std::int16_t&>& KeyDownEvent() = 0;
  /// A typed character, before the focused control sees it; 0 swallows it.
  virtual kvt::EventSource<std::int32_t&>& KeyPressEvent() = 0;
};

}  // namespace kvtfields
