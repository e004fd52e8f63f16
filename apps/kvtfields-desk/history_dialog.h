// The desk's windows on what happened to documents: one document's versions with the fields
// each changed, and the archive's deleted documents. They show; the desk restores.
#pragma once

#include <QDialog>
#include <QPointer>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/common/archive_engine.h"

class QListWidget;
class QPushButton;
class QTableWidget;

namespace kvtdesk {

/// Visualizza > Cronologia: every version of a document, newest first; the values of the one
/// chosen, the fields it changed marked with what they held before.
class HistoryDialog final : public QDialog {
 public:
  /// `caption` names a field as the form does; `restore(version)` is asked to bring a version
  /// back (the dialog then reads the history again).
  HistoryDialog(QWidget* parent, std::int32_t id, std::vector<kvtengine::DocumentVersion> history,
                std::function<std::string(const std::string&)> caption,
                std::function<void(std::int32_t version)> restore);
  /// Shows another reading of the history (after a restore).
  void SetHistory(std::vector<kvtengine::DocumentVersion> history);
  std::int32_t Id() const { return id_; }
  /// The newest version the dialog shows (0: none).
  std::int32_t NewestVersion() const { return history_.empty() ? 0 : history_.back().version; }
  /// The version whose values are shown.
  std::int32_t SelectedVersion() const;
  void SelectVersion(std::int32_t version);
  /// Field, value, value before: a changed field's row is marked.
  QTableWidget* Values() const { return values_; }
  QListWidget* Versions() const { return versions_; }
  QPushButton* RestoreButton() const { return restore_button_; }

 private:
  void ShowVersion(int row);
  std::int32_t id_;
  std::vector<kvtengine::DocumentVersion> history_;  // oldest first
  std::function<std::string(const std::string&)> caption_;
  QListWidget* versions_;
  QTableWidget* values_;
  QPushButton* restore_button_;
};

/// Visualizza > Documenti eliminati: the archive's deleted documents, newest first, to see
/// their history or bring one back.
class DeletedDialog final : public QDialog {
 public:
  DeletedDialog(QWidget* parent,
                std::vector<std::pair<std::int32_t, kvtengine::VersionInfo>> deleted,
                std::function<void(std::int32_t id)> history,
                std::function<void(std::int32_t id)> restore);
  QTableWidget* Table() const { return table_; }
  /// The deleted document chosen (0: none).
  std::int32_t Selected() const;

 private:
  std::vector<std::pair<std::int32_t, kvtengine::VersionInfo>> deleted_;
  QTableWidget* table_;
};

/// One line for a version: "3 · corretto da anna · 06/12/2026 17:05".
std::string VersionText(const kvtengine::VersionInfo& v);

}  // namespace kvtdesk
