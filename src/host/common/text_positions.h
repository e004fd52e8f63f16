// Text positions between the controls and a widget toolkit or a browser: the controls count
// code points and keep line ends as "\r\n"; most toolkits (Qt, a browser's JavaScript strings)
// count UTF-16 units and show a line end as "\n".
#pragma once

#include <cstdint>
#include <string>

namespace kvthost {

/// A control position (code points, "\r\n" counting two) as a position in UTF-16 units of the
/// text as a widget shows it ("\r\n" as "\n").
int ShownPosition(const std::string& text, std::int32_t chars);
/// A position in UTF-16 units of the shown text as a control position.
std::int32_t ControlPosition(const std::string& text, int shown);

}  // namespace kvthost
