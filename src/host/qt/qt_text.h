// Text between the controls and Qt; what a widget shows of a text box comes from its view
// (host/common/control_view.h), positions convert with host/common/text_positions.h.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "host/common/text_positions.h"

namespace kvthost::qt {

inline QString ToQt(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}
inline std::string FromQt(const QString& s) {
  const QByteArray b = s.toUtf8();
  return std::string(b.constData(), static_cast<std::size_t>(b.size()));
}

}  // namespace kvthost::qt
