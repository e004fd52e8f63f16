#include "runtime/error.h"

namespace kvt {

Error::Error(std::uint32_t number, std::string source, std::string description)
    : std::runtime_error(description),
      number_(number),
      source_(std::move(source)),
      description_(std::move(description)) {}

const char* DefaultDescription(ErrorCode code) noexcept {
  switch (code) {
    case ErrorCode::kInvalidProcedureCall:
      return "Invalid procedure call or argument";
    case ErrorCode::kOverflow:
      return "Overflow";
    case ErrorCode::kSubscriptOutOfRange:
      return "Subscript out of range";
    case ErrorCode::kTypeMismatch:
      return "Type mismatch";
    case ErrorCode::kObjectNotSet:
      return "Object variable or With block variable not set";
    case ErrorCode::kInvalidUseOfNull:
      return "Invalid use of Null";
    case ErrorCode::kObjectRequired:
      return "Object required";
    case ErrorCode::kCannotCreateObject:
      return "Can't create object";
    case ErrorCode::kNotSupported:
      return "Object doesn't support this property or method";
    case ErrorCode::kArgumentNotOptional:
      return "Argument not optional";
    case ErrorCode::kWrongArgumentCount:
      return "Wrong number of arguments or invalid property assignment";
    case ErrorCode::kDuplicateKey:
      return "This key is already associated with an element of this collection";
    case ErrorCode::kElementNotFound:
      return "Element not found";
    case ErrorCode::kRecordSetClosed:
      return "Operation is not allowed when the object is closed";
    case ErrorCode::kNoCurrentRecord:
      return "Either BOF or EOF is True, or the current record has been deleted";
    case ErrorCode::kFieldNotFound:
      return "Item cannot be found in the collection corresponding to the requested name or "
             "ordinal";
  }
  return "Application-defined or object-defined error";
}

Error RuntimeError(ErrorCode code, const std::string& detail, const std::string& source) {
  std::string text = DefaultDescription(code);
  if (!detail.empty()) text.append(": ").append(detail);
  return Error(static_cast<std::uint32_t>(code), source, std::move(text));
}

Error ObjectError(std::uint32_t n, std::string source, std::string description) {
  return Error(kObjectErrorBase + n, std::move(source), std::move(description));
}

}  // namespace kvt
