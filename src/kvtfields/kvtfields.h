// What a program may ask of the component as a whole. The server's headers stay the
// component's own: programs read its version and type library here.
#pragma once

#include <string>

namespace kvtfields {

/// The file version as the platform shows it, major.minor (two digits).patch (four digits).
const char* FileVersion() noexcept;
/// The type library "kvtFields" 4.1 as JSON: every public class and interface, members in
/// slot order.
std::string TypeLibraryJson();

}  // namespace kvtfields
