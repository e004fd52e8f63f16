// File dialogs that never open a file to see what it is. SQLite's locks on a database are POSIX
// locks, which belong to the whole process: a file of the database opened and closed anywhere
// else in this program (a dialog reading a file's first bytes for its icon) drops them, and
// another program could then checkpoint and remove the write-ahead log this one still writes to.
#pragma once

#include <QString>

class QWidget;

namespace kvtdesk {

/// An existing file chosen to be read ("" when none was).
QString ChooseFileToOpen(QWidget* parent, const QString& title, const QString& filter = {});
/// A file chosen to be written, starting from `name` ("" when none was).
QString ChooseFileToSave(QWidget* parent, const QString& title, const QString& name,
                         const QString& filter);

}  // namespace kvtdesk
