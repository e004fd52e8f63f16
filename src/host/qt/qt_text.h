// Text positions between the controls and Qt: the controls count code points and keep line
// ends as "\r\n"; Qt counts UTF-16 units and shows "\n".
#pragma once

#include <QString>
#include <cstdint>
#include <string>

namespace kvthost::qt {

inline QString ToQt(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string FromQt(const QString& s) {
  const QByteArray b = s.toUtf8();
  return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}
/// The control's text as a widget shows it ("\r\n" becomes "\n").
QString ShownText(const std::string& text);
/// A control position (code points, "\r\n" counting two) as a position in ShownText.
int ShownPosition(const std::string& text, std::int32_t chars);
/// A position in ShownText as a control position.
std::int32_t ControlPosition(const std::string& text, int shown);

}  // namespace kvthost::qt
