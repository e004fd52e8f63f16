// Counts the component's objects that are alive, so that the library can tell whether it may
// be unloaded (the process's other automation objects are not the library's). Each public class
// holds one LiveObject member.
#pragma once

#include <cstddef>

namespace kvtfields::internal {

class LiveObject {
 public:
  LiveObject() noexcept { ++count_; }
  LiveObject(const LiveObject&) noexcept { ++count_; }
  LiveObject& operator=(const LiveObject&) noexcept = default;
  ~LiveObject() { --count_; }
  static std::size_t Count() noexcept { return count_; }

 private:
  static inline std::size_t count_ = 0;  // one UI thread: no lock
};

}  // namespace kvtfields::internal
