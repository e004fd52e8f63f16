// WeakRef: a non-owning back reference that resolves to a counted reference for one use, or to
// Nothing once the object is gone.
#pragma once

#include <memory>

#include "runtime/error.h"

namespace kvt {

template <class T>
class WeakRef {
 public:
  WeakRef() = default;
  WeakRef(const std::shared_ptr<T>& target) : ptr_(target) {}  // NOLINT: implicit by design

  /// A counted reference for one use; null when nothing was stored or the object is gone.
  std::shared_ptr<T> Resolve() const noexcept { return ptr_.lock(); }

  /// Like Resolve, but a gone or missing object raises error 91.
  std::shared_ptr<T> Get() const {
    auto p = ptr_.lock();
    if (!p) throw RuntimeError(ErrorCode::kObjectNotSet);
    return p;
  }

  /// True when a reference was stored (the "address" is not 0), even if the object is gone.
  bool IsSet() const noexcept {
    const std::weak_ptr<T> empty;
    return ptr_.owner_before(empty) || empty.owner_before(ptr_);
  }

  void Reset() noexcept { ptr_.reset(); }

 private:
  std::weak_ptr<T> ptr_;
};

}  // namespace kvt
