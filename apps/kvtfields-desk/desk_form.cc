#include "desk_form.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QLocale>
#include <QScrollBar>
#include <QSettings>
#include <QTranslator>
#include <algorithm>

#include "common/document_session.h"
#include "host/qt/qt_control.h"
#include "host/qt/qt_person.h"

namespace kvtdesk {

namespace {

QString Q(const std::string& s) {
  return QString::fromStdString(s);
}

}  // namespace

int KeyReturnSetting() {
  return QSettings("kvtfields", "kvtfields-desk").value("Settings/keyreturn", 1).toInt();
}

void ApplySettings(kvtapp::Workspace& w) {
  w.Host().Settings().SaveSetting("Settings", "keyreturn", kvt::Variant(KeyReturnSetting()));
  w.Window().SetMultiLineTakesEnter(true);  // a memo still takes its lines
}

bool SpeakItalian() {
  auto* app = QCoreApplication::instance();
  if (!app) return false;
  auto* words = new QTranslator(app);
  if (!words->load(QLocale(QLocale::Italian, QLocale::Italy), "qtbase", "_",
                   QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete words;
    return false;
  }
  QCoreApplication::installTranslator(words);
  return true;
}

namespace {

// A mark beside the captions of some of the form's fields, drawn again from nothing each time.
struct Mark {
  const char* name;  // the marks' object name, to take the old ones away
  QString text;
  const char* color;
  const char* tip;
  const char* spoken;  // for a screen reader
};

// Puts `mark` before the shown caption of each field `wanted` picks; `room` is the space kept
// between the mark and the caption for another mark (the required one).
template <class Wanted, class Room>
void MarkFields(kvtapp::Workspace& w, const Mark& m, Wanted wanted, Room room) {
  auto form = std::dynamic_pointer_cast<kvthost::qt::QtForm>(w.WindowRef());
  if (!form || !form->ClientArea()) return;
  for (QLabel* old : form->ClientArea()->findChildren<QLabel*>(m.name)) delete old;
  auto& fields = w.Fields();
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    auto field = fields.Item(kvt::Variant(i));
    if (!wanted(*field)) continue;
    auto* caption = dynamic_cast<kvthost::qt::QtControl*>(field->LinkedLabel().get());
    auto* label = caption ? qobject_cast<QLabel*>(caption->Widget()) : nullptr;
    if (!label || label->isHidden()) continue;
    auto* mark = new QLabel(m.text, form->ClientArea());
    mark->setObjectName(m.name);
    mark->setStyleSheet(QString("color: %1; font-weight: bold;").arg(m.color));
    mark->setToolTip(m.tip);
    mark->setAccessibleName(m.spoken);
    // Just before the caption, where a reader's eye starts.
    mark->setContentsMargins(0, 0, 0, 0);
    mark->setFixedWidth(mark->fontMetrics().horizontalAdvance(m.text) + 1);
    mark->move(std::max(0, label->x() - room(*field, *mark) - mark->width() - 1), label->y());
    mark->show();
  }
}

}  // namespace

void MarkRequiredFields(kvtapp::Workspace& w) {
  MarkFields(
      w, {"kvtRequiredMark", "*", "#c00000", "Campo obbligatorio", "obbligatorio"},
      [](kvtfields::FieldType& f) { return f.IsRequired(); },
      [](kvtfields::FieldType&, QLabel&) { return 0; });
}

void MarkPinnedFields(kvtapp::Workspace& w, const std::set<std::string>& pinned) {
  MarkFields(
      w,
      {"kvtPinnedMark", QString(QChar(0x2193)), "#0050c0",
       "Mantenuto: passa al documento successivo (F7 per lasciarlo)", "mantenuto"},
      [&](kvtfields::FieldType& f) { return pinned.count(f.Name()) != 0; },
      // Before the required mark, if any.
      [](kvtfields::FieldType& f, QLabel& mark) {
        return f.IsRequired() ? mark.fontMetrics().horizontalAdvance('*') + 2 : 0;
      });
}

void NameInputs(kvtapp::Workspace& w) {
  auto& fields = w.Fields();
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    auto field = fields.Item(kvt::Variant(i));
    auto* input = dynamic_cast<kvthost::qt::QtControl*>(field->LinkedControl().get());
    QWidget* widget = input ? input->FocusWidget() : nullptr;
    if (!widget) continue;
    const std::string caption = kvtapp::Caption(*field);
    widget->setAccessibleName(Q(caption));
    widget->setAccessibleDescription(Q(field->Descr()));
    auto* label_control = dynamic_cast<kvthost::qt::QtControl*>(field->LinkedLabel().get());
    if (auto* label = label_control ? qobject_cast<QLabel*>(label_control->Widget()) : nullptr) {
      label->setBuddy(widget);
    }
  }
}

kvtapp::Workspace::PersonOn QtPersonOn() {
  return [](std::shared_ptr<kvthost::Form> form) -> std::unique_ptr<kvthost::IPerson> {
    return std::make_unique<kvthost::qt::QtPerson>(
        std::dynamic_pointer_cast<kvthost::qt::QtForm>(std::move(form)));
  };
}

void ShowWhole(QScrollArea& scroll, const QRect& rect) {
  const QSize view = scroll.viewport()->size();
  auto follow = [](QScrollBar* bar, int from, int to, int room) {
    int at = bar->value();
    if (to > at + room) at = to - room;
    if (from < at) at = from;
    bar->setValue(at);
  };
  follow(scroll.horizontalScrollBar(), rect.left(), rect.right() + 1, view.width());
  follow(scroll.verticalScrollBar(), rect.top(), rect.bottom() + 1, view.height());
}

}  // namespace kvtdesk
