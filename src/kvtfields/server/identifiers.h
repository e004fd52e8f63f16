// The library's fixed identifiers: assigned once, kept across versions, so that hosts built
// against the library keep working. The public classes' own identifiers are in
// public_classes.cc; registration and the type library read both from there.
#pragma once

#include <cstdint>

#include "kvtfields/server/version.h"

namespace kvtfields::server {

inline constexpr const char* kTypeLibraryName = "kvtFields";
inline constexpr const char* kTypeLibraryId = "{992C5B6C-FCD5-41B1-959A-FDD118A6933D}";
inline constexpr std::uint16_t kTypeLibraryMajor = 4;
inline constexpr std::uint16_t kTypeLibraryMinor = 1;
inline constexpr std::uint32_t kTypeLibraryLocale = 1033;
inline constexpr const char* kProgIdPrefix = "kvtFields.";

/// The interface owners implement; no class of it is creatable.
inline constexpr const char* kCallBackInterface = "IFieldTypeEventCallBack";
inline constexpr const char* kCallBackIid = "{0DA4AF5A-D16E-4B86-91A6-A89334A59F9C}";

}  // namespace kvtfields::server
