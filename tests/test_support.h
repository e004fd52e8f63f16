// Helpers shared by the test programs.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <utility>

#include "runtime/error.h"

namespace kvt {
/// Shows errors readably in test failures.
inline void PrintTo(const Error& e, std::ostream* os) {
  *os << "Error " << e.Number() << " (" << e.Source() << "): " << e.Description();
}
}  // namespace kvt

namespace kvt::testing {

/// Runs `f` and returns the kvt::Error it raised; a test failure when it raised none.
template <class F>
Error CaptureError(F&& f) {
  try {
    std::forward<F>(f)();
  } catch (const Error& e) {
    return e;
  }
  ADD_FAILURE() << "expected a kvt::Error, none was raised";
  return Error(0, "", "");
}

/// Matches an Error by number and a piece of its description.
MATCHER_P2(ErrorIs, number, text, "") {
  return arg.Number() == static_cast<std::uint32_t>(number) &&
         arg.Description().find(text) != std::string::npos;
}

inline std::uint32_t Code(ErrorCode c) {
  return static_cast<std::uint32_t>(c);
}

}  // namespace kvt::testing
