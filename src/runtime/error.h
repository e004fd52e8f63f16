// The one error type of the automation runtime: number, source and description.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kvt {

/// Error numbers of the runtime, with their classic meanings.
enum class ErrorCode : std::uint32_t {
  kInvalidProcedureCall = 5,
  kOverflow = 6,
  kSubscriptOutOfRange = 9,
  kTypeMismatch = 13,
  kObjectNotSet = 91,
  kInvalidUseOfNull = 94,
  kObjectRequired = 424,
  kCannotCreateObject = 429,
  kNotSupported = 438,
  kArgumentNotOptional = 449,
  kWrongArgumentCount = 450,
  kDuplicateKey = 457,
  kElementNotFound = 32811,
  kRecordSetClosed = 3704,
  kNoCurrentRecord = 3021,
  kFieldNotFound = 3265,
};

/// Base of object errors: an object error n has the number kObjectErrorBase + n.
inline constexpr std::uint32_t kObjectErrorBase = 0x80040000u;

/// The source given to errors that the runtime raises itself.
inline constexpr const char* kRuntimeSource = "kvtRuntime";

/// An error raised by the runtime, a component or a host; thrown as an exception.
class Error : public std::runtime_error {
 public:
  Error(std::uint32_t number, std::string source, std::string description);

  std::uint32_t Number() const noexcept { return number_; }
  const std::string& Source() const noexcept { return source_; }
  const std::string& Description() const noexcept { return description_; }

 private:
  std::uint32_t number_;
  std::string source_;
  std::string description_;
};

/// The classic English text of a runtime error code.
const char* DefaultDescription(ErrorCode code) noexcept;

/// A runtime error with its classic text; `detail`, when given, is appended after ": ".
Error RuntimeError(ErrorCode code, const std::string& detail = {},
                   const std::string& source = kRuntimeSource);

/// Object error n (number kObjectErrorBase + n).
Error ObjectError(std::uint32_t n, std::string source, std::string description);

/// True when `e` carries the runtime error `code`.
inline bool Is(const Error& e, ErrorCode code) noexcept {
  return e.Number() == static_cast<std::uint32_t>(code);
}

}  // namespace kvt
