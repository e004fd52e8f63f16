#include "file_dialogs.h"

#include <QAbstractFileIconProvider>
#include <QFileDialog>
#include <QFileInfo>

namespace kvtdesk {
namespace {

// Icons and kinds by the name alone: Qt's own provider reads a file's first bytes to tell its
// kind when the name does not.
class NameOnlyIcons final : public QAbstractFileIconProvider {
 public:
  QIcon icon(IconType type) const override { return QAbstractFileIconProvider::icon(type); }
  QIcon icon(const QFileInfo& info) const override {
    return QAbstractFileIconProvider::icon(info.isDir() ? Folder : File);
  }
  QString type(const QFileInfo& info) const override {
    if (info.isDir()) return QStringLiteral("Cartella");
    return info.suffix().isEmpty() ? QStringLiteral("File")
                                   : QStringLiteral("File %1").arg(info.suffix().toUpper());
  }
};

QString Choose(QWidget* parent, const QString& title, const QString& name, const QString& filter,
               bool save) {
  // The toolkit's own dialog, not the desktop's: a native one may read the files it lists here,
  // in this process, as well.
  QFileDialog dialog(parent, title, QString(), filter);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  NameOnlyIcons icons;
  dialog.setIconProvider(&icons);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!name.isEmpty()) dialog.selectFile(name);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().front();
}

}  // namespace

QString ChooseFileToOpen(QWidget* parent, const QString& title, const QString& filter) {
  return Choose(parent, title, {}, filter, false);
}

QString ChooseFileToSave(QWidget* parent, const QString& title, const QString& name,
                         const QString& filter) {
  return Choose(parent, title, name, filter, true);
}

}  // namespace kvtdesk
