// Trova documenti: the archive's documents found by a quick search or by the form's own fields
// typed as criteria, in a table read a page at a time, sorted by a column, opened for
// correction; what was found printed or written as a PDF.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTableView>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/entry_session.h"

namespace kvtdesk {

class DocumentsModel;

class FindDialog final : public QDialog {
 public:
  // Down in the search box or a criterion goes to the list.
  bool eventFilter(QObject* watched, QEvent* event) override;
  /// What the dialog asks of the window around it.
  struct Hooks {
    /// Opens document `id` of those found by `criteria` (`sorted`: in this order).
    std::function<void(std::int32_t id, std::vector<kvtengine::Criterion> criteria,
                       std::vector<std::int32_t> sorted)>
        open;
    std::function<void()> print;                         // what was found, on paper
    std::function<void(const std::string& path)> pdf;    // what was found, as a PDF
    std::function<void(const kvtapp::Notice&)> failure;  // the database failed
  };
  /// The criteria are the fields of the session's form as it is now.
  FindDialog(QWidget* parent, kvtapp::EntrySession& session, Hooks hooks);

  /// Searches what the dialog says; false when the database failed (said already).
  bool RunSearch();
  /// Searches, shows the dialog and puts the cursor in the quick search.
  void Present();
  /// Pulisci: every criterion taken away (every document found).
  void ClearCriteria();
  /// Sorts what was found by a column (0: the number) as its field's kind orders, in `order`
  /// or else the other way from the last sort by it. False when there are too many to sort.
  bool SortFound(int column, std::optional<Qt::SortOrder> order = std::nullopt);
  /// How many documents the search found, or why a criterion was refused.
  QString FoundText() const { return found_ ? found_->text() : QString(); }
  /// How many documents the search found, and by what.
  std::int64_t Total() const;
  const std::vector<kvtengine::Criterion>& Criteria() const;

  QTableView* Table() const { return table_; }
  QLineEdit* Filter() const { return filter_; }
  /// Words on the pages of the documents' files.
  QLineEdit* Words() const { return words_; }
  /// Where the quick search looks: every field, or one chosen.
  QComboBox* SearchField() const { return search_field_; }
  /// The find-by-form input of a field: a line for text, numbers and dates, a list of codes
  /// for a combo.
  struct CriterionInput {
    std::string field;
    kvtengine::SearchKind kind;
    QPointer<QLineEdit> text;
    QPointer<QComboBox> codes;
  };
  const std::vector<CriterionInput>& Inputs() const { return inputs_; }

 private:
  void Open();
  kvtapp::EntrySession& session_;
  Hooks hooks_;
  QPointer<QTableView> table_;
  QPointer<QLineEdit> filter_;
  QPointer<QLineEdit> words_;
  QPointer<QComboBox> search_field_;
  QPointer<QLabel> found_;
  std::vector<CriterionInput> inputs_;
  DocumentsModel* documents_ = nullptr;  // a child of the dialog
  bool sized_ = false;                   // its columns fitted to the first page
};

}  // namespace kvtdesk
