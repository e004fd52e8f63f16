#include "host/qt/qt_text.h"

namespace kvthost::qt {

QString ShownText(const std::string& text) {
  QString shown = ToQt(text);
  shown.replace("\r\n", "\n");
  return shown;
}

}  // namespace kvthost::qt
