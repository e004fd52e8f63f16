// The desktop program's main window: one archive's entry form, built by the library, with the
// commands a person who types documents needs (new, save, next document with the retained
// values, find and correct a stored document, the field viewer), on the Qt window system.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QProgressDialog>
#include <QTableView>
#include <memory>
#include <optional>
#include <string>

#include "common/document_session.h"
#include "common/document_walk.h"
#include "common/workspace.h"
#include "history_dialog.h"
#include "host/qt/qt_desktop.h"
#include "print/document_print.h"

class QAction;
class QLabel;

namespace kvtdesk {

class DocumentsModel;

class DeskWindow final : public QMainWindow {
 public:
  /// Opens `db` on `archive`'s `form`; with `make_sample`, a missing `db` is made with the
  /// sample archive. Errors are shown to the person; the window then offers File > Open.
  DeskWindow(std::string db, std::string archive, std::string form, bool make_sample = false);
  ~DeskWindow() override;

  /// Opens another database; on failure the one open stays.
  bool OpenDatabase(const std::string& db);
  /// The databases opened last, the latest first (a server's without its password), as File >
  /// Database recenti offers them.
  static QStringList RecentDatabases();
  /// Where the person worked last: the database (as RecentDatabases names it), the archive
  /// and the form; nothing before a first form opened.
  struct Place {
    std::string db, archive, form;
  };
  static std::optional<Place> LastPlace();
  /// The commands of the menus. Every one that leaves the document on the form asks first
  /// when it holds unsaved changes (MayLeaveDocument).
  void NewDocument();
  bool Save();
  void NextDocument();
  void FindDocuments();
  void OpenFieldViewer();
  /// Opens a stored document for correction on the review form.
  void Correct(std::int32_t id);
  /// The record navigator's moves through the archive's documents, or through the documents
  /// found when one was opened from Trova; each asks first about unsaved changes.
  enum class Step { kFirst, kPrevious, kNext, kLast };
  void Move(Step step);
  /// Where the document on the form is in the navigator's walk: "3 di 8".
  QString PositionText() const;
  /// The navigator's command for `step` (enabled only where it leads somewhere).
  QAction* StepAction(Step step) const;
  /// Deletes the stored document on the form, after the person confirms.
  bool DeleteDocument();
  /// Visualizza > Cronologia: the versions of document `id` (0: the one on the form).
  void ShowHistory(std::int32_t id = 0);
  /// Brings `version` of document `id` back as its newest version, the history read at `base`
  /// (a change since is a conflict), and opens it; asks first about unsaved changes. False
  /// when nothing was restored (said already).
  bool RestoreVersion(std::int32_t id, std::int32_t version, std::int32_t base);
  /// Visualizza > Documenti eliminati: the archive's deleted documents, to bring one back.
  void ShowDeleted();
  HistoryDialog* History() const { return history_; }
  DeletedDialog* Deleted() const { return deleted_; }
  /// The document on the form (`found` false) or every document Trova found, as a PDF at
  /// `path`, written whole or not at all; false when it was not written (said already).
  bool ExportPdf(const std::string& path, bool found);
  /// The same on a printer the person chooses.
  void Print(bool found);
  /// Esc: the focused field back to its value on entry; when it has it, the whole document
  /// back to its last saved state.
  void UndoChanges();
  /// File > Impostazioni: what Enter does (move to the next field, or save).
  void ChooseSettings();
  /// True when the document on the form may be left: nothing unsaved, or the person answered
  /// "Salvare le modifiche?" with Sì (and it was stored) or No.
  bool MayLeaveDocument();
  /// Asks the person for one of the database's archives and one of its forms, and opens it.
  void ChooseArchive();
  /// Opens `archive`'s `form` in the database open; on failure the form open stays.
  bool OpenArchive(const std::string& archive, const std::string& form);

  kvtapp::Workspace* Work() const { return work_.get(); }
  /// The id of the stored document on the form, 0 while it is new.
  std::int32_t Correcting() const { return session_ ? session_->Id() : 0; }
  /// The document session on the form (null before a database opened).
  kvtapp::DocumentSession* Session() const { return session_.get(); }
  QDialog* FindDialog() const { return find_; }
  QTableView* DocumentTable() const { return table_; }
  QLineEdit* DocumentFilter() const { return filter_; }
  /// Where the search looks: every field, or one chosen.
  QComboBox* DocumentSearchField() const { return search_field_; }
  /// The find-by-form input of a field: a line for text, numbers and dates, a list of codes for
  /// a combo.
  struct CriterionInput {
    std::string field;
    kvtengine::SearchKind kind;
    QPointer<QLineEdit> text;
    QPointer<QComboBox> codes;
  };
  const std::vector<CriterionInput>& CriteriaInputs() const { return criteria_inputs_; }
  /// Pulisci: every criterion taken away (every document found).
  void ClearCriteria();
  /// Sorts what was found by a column (0: the number) as its field's kind orders, in `order`
  /// or else the other way from the last sort by it. False when there are too many to sort.
  bool SortFound(int column, std::optional<Qt::SortOrder> order = std::nullopt);
  /// How many documents the search found.
  QString FoundText() const;
  /// The message in the status bar.
  QString StatusText() const;
  /// How many times the progress of building a form was shown (forms of many fields only).
  int ProgressShown() const { return progress_shown_; }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildMenus();
  void FollowForm(kvthost::Form& form);
  void CloseFieldViewer();
  void MarkRequired();
  // Offers only what the account may do (a reader: no saving, deleting or restoring).
  void ApplyRights();
  // The status bar says what this account may not do with documents ("salvarli").
  void SayReadOnly(const char* refused);
  void ShowOutcome(const kvtapp::SaveOutcome& outcome);
  // A save refused because someone else changed the document: asks whether to keep mine (the
  // outcome of storing it), see theirs, or stay; false when nothing was stored.
  bool SettleConflict(kvtapp::SaveOutcome& outcome);
  // A deleted document left the form (a new one is there): out of the walk, said so.
  void LeftBehind(std::int32_t id, const std::string& said);
  void RefreshHistory(std::int32_t id);
  void Open(const std::string& db);
  void ShowForm();
  void ReleaseForm();
  void ShowError(const std::string& what, const std::string& todo);
  // An operation that failed with `e`: `what` failed, then why and what to do in Italian
  // (`todo` when the error does not say better), the original error under the details.
  void ShowFailure(const std::string& what, const std::exception& e, const std::string& todo);
  void RefreshTitle();
  void ShowProgress(int done, int total);
  // Puts the database first among the recent ones and remembers the place (LastPlace).
  void RememberPlace(const std::string& db);
  // Searches what the find dialog says; false when the database failed (said already).
  bool RunSearch();
  // A criterion on `field` ("" any) as a person writes it: "da..a" a range, * anywhere, text
  // starting with it, a number or date equal to it.
  kvtengine::Criterion CriterionOf(const std::string& field, std::string text);
  // Why the engine refused one of `criteria` (a date that is none), in Italian, by caption.
  std::string RefusedCriterion(const std::vector<kvtengine::Criterion>& criteria);
  // The navigator's walk (every document of the archive unless a search set one).
  kvtapp::DocumentWalk& Walk();
  // Shows where the document on the form is in the walk, and what the navigator may do.
  void RefreshPosition();
  // A new document: the walk of the whole archive is counted again when next needed.
  void ForgetWalkOfAll();
  // What Print and ExportPdf put on paper; nullopt when the person declined or it failed.
  std::optional<std::vector<kvtprint::PrintedDocument>> ToPrint(bool found);
  // Opens a stored document for correction without asking (the caller asked).
  void OpenStored(std::int32_t id);

  std::string db_;
  std::string archive_;
  std::string entry_form_;
  std::string review_form_ = "Consultazione";
  std::unique_ptr<kvtapp::Workspace> work_;
  std::unique_ptr<kvtapp::Workspace> viewer_work_;  // the field viewer's own window
  std::unique_ptr<kvtapp::DocumentSession> session_;
  std::size_t errors_seen_ = 0;  // error-list entries when the focus last moved or was kept
  bool modified_shown_ = false;
  bool noted_ = false;  // a control's note is in the status bar, said as its field was left
  int progress_shown_ = 0;
  bool make_sample_ = false;  // only for the database the window was opened on
  QPointer<QLabel> message_;
  QPointer<QProgressDialog> progress_;
  QPointer<QWidget> viewer_frame_;  // the field viewer's scrolling window
  QPointer<QDialog> find_;
  QPointer<HistoryDialog> history_;
  QPointer<QAction> save_action_, delete_action_;
  kvtengine::ArchiveEngine::Rights rights_;  // of the account, read when a form opens
  QPointer<DeletedDialog> deleted_;
  QPointer<QTableView> table_;
  QPointer<QLineEdit> filter_;
  QPointer<QComboBox> search_field_;
  QPointer<QLabel> found_;
  std::vector<CriterionInput> criteria_inputs_;
  DocumentsModel* documents_ = nullptr;  // owned by the find dialog
  std::unique_ptr<kvtapp::DocumentWalk> walk_;
  std::int32_t walk_id_ = -1;     // the document whose place walk_index_ is
  std::int64_t walk_index_ = -1;  // its place in the walk, -1 when not in it (new)
  QPointer<QLabel> position_;
  QAction* steps_[4] = {};
  bool sized_ = false;  // its columns fitted to the first page
};

/// Qt's own words (standard buttons, the file dialog) in Italian, from Qt's translations;
/// false when they are not installed (Debian's qt6-translations-l10n).
bool SpeakItalian();

/// The person of the Qt window system, for the workspace.
kvtapp::Workspace::PersonOn QtPersonOn();

/// The question asked before unsaved changes would be lost.
inline constexpr const char* kSaveChangesQuestion =
    "Salvare le modifiche?\n\nIl documento sul modulo contiene modifiche non salvate.";

/// Puts a red asterisk beside the caption of every required field of the workspace's form
/// (again after each rebuild); the captions' own text stays as the library set it.
void MarkRequiredFields(kvtapp::Workspace& w);

}  // namespace kvtdesk
