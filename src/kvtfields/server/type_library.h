// The type library "kvtFields" 4.1 (locale 1033) as JSON, generated from the classes' member
// tables: every public class and interface with its fixed identifier and its members in slot
// order.
#pragma once

#include <string>

namespace kvtfields::server {

std::string TypeLibraryJson();

}  // namespace kvtfields::server
