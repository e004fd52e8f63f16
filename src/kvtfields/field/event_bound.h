// EventBound: a reference to a control that also keeps the field subscribed to the control's
// events; releasing the reference ends the subscription.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "runtime/event_source.h"
#include "runtime/object.h"

namespace kvtfields {

template <class Interface>
class EventBound {
 public:
  /// Holds `control` (which offers Interface as `typed`) with the subscriptions made for it.
  void Bind(kvt::ObjectRef control, Interface* typed, std::vector<kvt::Subscription> subs) {
    Reset();
    object_ = std::move(control);
    typed_ = typed;
    subs_ = std::move(subs);
  }
  /// Unsubscribes, then releases the control.
  void Reset() {
    subs_.clear();
    typed_ = nullptr;
    object_.reset();
  }
  const kvt::ObjectRef& Object() const { return object_; }
  Interface* Typed() const { return typed_; }

 private:
  kvt::ObjectRef object_;
  Interface* typed_ = nullptr;  // the same object as object_, seen through Interface
  std::vector<kvt::Subscription> subs_;
};

}  // namespace kvtfields
