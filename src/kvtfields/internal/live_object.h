// Counts the component's objects that are alive, so that the library can tell whether it may
// be unloaded (the process's other automation objects are not the library's). Each public class
// holds one LiveObject member.
#pragma once

#include <atomic>
#include <cstddef>

namespace kvtfields::internal {

class LiveObject {
 public:
  LiveObject() noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
  LiveObject(const LiveObject&) noexcept { count_.fetch_add(1, std::memory_order_relaxed); }
  LiveObject& operator=(const LiveObject&) noexcept { return *this; }
  ~LiveObject() { count_.fetch_sub(1, std::memory_order_relaxed); }
  static std::size_t Count() noexcept { return count_.load(std::memory_order_relaxed); }

 private:
  // Sessions may live on threads of their own; the count is read from any of them.
  static inline std::atomic<std::size_t> count_ = 0;
};

}  // namespace kvtfields::internal
