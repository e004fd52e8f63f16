// The desktop program's main window: one archive's entry form, built by the library, with the
// commands a person who types documents needs (new, save, next document with the retained
// values, find and correct a stored document, the field viewer), on the Qt window system. What
// the commands do is the entry session's; the window draws it and asks its questions.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QPointer>
#include <QProgressDialog>
#include <QTableView>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "common/entry_session.h"
#include "desk_form.h"
#include "find_dialog.h"
#include "history_dialog.h"
#include "host/qt/qt_desktop.h"
#include "preview_pane.h"
#include "print/document_print.h"
#include "reading/page_reading.h"

class QAction;
class QDockWidget;
class QLabel;

namespace kvtdesk {

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
  /// Sized and placed as the person left it, or the first time to most of the screen it is on.
  void PlaceOnScreen();
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
  /// Ctrl+;: today's date into the focused date field (the status line says where it goes).
  void PutToday();
  /// File > Impostazioni: what Enter does (move to the next field, or save).
  void ChooseSettings();
  /// True when the document on the form may be left: nothing unsaved, or the person answered
  /// "Salvare le modifiche?" with Sì (and it was stored) or No.
  bool MayLeaveDocument();
  /// Asks the person for one of the database's archives and one of its forms, and opens it.
  void ChooseArchive();
  /// Opens `archive`'s `form` in the database open; on failure the form open stays.
  bool OpenArchive(const std::string& archive, const std::string& form);

  /// Documento > Allega file: keeps the file at `path` with the document, named in the focused
  /// file-link field (or the form's first), as the field's "..." does; false when the form has
  /// none or the file cannot be kept (said already).
  bool AttachFile(const std::string& path);
  /// Puts a word read off the page shown into the focused field as if it were typed there (a
  /// date field takes "05.12.26" as 05/12/2026, a number field "1.234,50" as 1234,50); false,
  /// said in the status line, when no field is focused or the word is no date for a date.
  bool PutWord(const std::string& word);
  /// The same for words taken off page `page` (from 1) of the file shown, from `place`
  /// (fractions of the page): once the document is saved, the place is remembered for the
  /// field, to propose its value on the next document laid out the same way. False, said, when
  /// there are no words or too many for a value.
  bool PutWords(const std::string& words, int page, const QRectF& place);
  /// Documento > Da archiviare: the archive's next queued pages on a new document, each field
  /// the places learnt propose a value for holding it, marked, until the person leaves the field
  /// (accepted) or types over it. False when nothing was taken (said already).
  bool TakeIntake();
  /// The fields holding a value proposed and neither accepted nor typed over, with the value.
  std::map<std::string, std::string> Proposals() const;
  /// The pane that shows the document's file beside the form.
  PreviewPane* Preview() const { return preview_; }
  QDockWidget* PreviewDock() const { return preview_dock_; }

  kvtapp::Workspace* Work() const { return entry_.Work(); }
  /// The id of the stored document on the form, 0 while it is new.
  std::int32_t Correcting() const { return entry_.Id(); }
  /// The document session on the form (null before a database opened).
  kvtapp::DocumentSession* Session() const { return entry_.Document(); }
  /// The entry session the window shows.
  kvtapp::EntrySession& Entry() { return entry_; }
  QDialog* FindDialog() const { return find_; }
  QTableView* DocumentTable() const { return find_ ? find_->Table() : nullptr; }
  QLineEdit* DocumentFilter() const { return find_ ? find_->Filter() : nullptr; }
  /// Trova's words on the pages of the documents' files.
  QLineEdit* DocumentWords() const { return find_ ? find_->Words() : nullptr; }
  /// Where the search looks: every field, or one chosen.
  QComboBox* DocumentSearchField() const { return find_ ? find_->SearchField() : nullptr; }
  using CriterionInput = kvtdesk::FindDialog::CriterionInput;
  const std::vector<CriterionInput>& CriteriaInputs() const;
  /// Pulisci: every criterion taken away (every document found).
  void ClearCriteria();
  /// Sorts what was found by a column (0: the number) as its field's kind orders, in `order`
  /// or else the other way from the last sort by it. False when there are too many to sort.
  bool SortFound(int column, std::optional<Qt::SortOrder> order = std::nullopt);
  /// How many documents the search found.
  QString FoundText() const { return find_ ? find_->FoundText() : QString(); }
  /// The message in the status bar.
  QString StatusText() const;
  /// How many times the progress of building a form was shown (forms of many fields only).
  int ProgressShown() const { return progress_shown_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void BuildMenus();
  // Shows what a command of the session came to: its notice, each question asked in turn, then
  // the window drawn again. Returns whether the command did what was asked.
  bool Run(kvtapp::Reply reply);
  void Show(const kvtapp::Notice& notice);
  // The title, the status line, the navigator and the marks, as the session has them now.
  void Redraw();
  void ShowStatus();
  void FollowFocus();
  void CloseFieldViewer();
  void MarkRequired();
  // The file-link fields turn a file picked into a reference to it kept with the document.
  void KeepPickedFiles();
  // The file-link field a file picked goes to: the focused one, or the form's first; null.
  std::shared_ptr<kvthost::FileLinker> FileLink(std::string* name = nullptr) const;
  // The preview follows the file the document names.
  void UpdatePreview();
  void BuildPreview();
  // Offers only what the account may do (a reader: no saving, deleting or restoring).
  void ApplyRights();
  void RefreshHistory(std::int32_t id);
  void Open(const std::string& db);
  // The kept file the form's first file link holding one names (the one the pane shows).
  std::optional<kvtfiles::FileRef> ShownFile() const;
  // Puts the values the learnt places propose into the fields, marked as proposed.
  void ProposeValues();
  // Has the preview draw the queue's next pages beforehand.
  void PrepareNextIntake();
  // A proposed field typed over, or left (accepted), is a proposal no more.
  void FollowProposals();
  void Unmark(const std::string& field);
  // Remembers, for the document just stored, where each field's value was taken from.
  void LearnPlaces();
  // Reads the pages of the database's kept files in the background, after everything else.
  void ReadPages(const std::string& db);
  void ShowForm();
  void ReleaseForm();
  void ShowError(const std::string& what, const std::string& todo);
  void ShowFailure(const std::string& what, const std::exception& e, const std::string& todo);
  void ShowProgress(int done, int total);
  // Puts the database first among the recent ones and remembers the place (LastPlace).
  void RememberPlace(const std::string& db);
  // What Print and ExportPdf put on paper; nullopt when the person declined or it failed.
  std::optional<std::vector<kvtprint::PrintedDocument>> ToPrint(bool found);

  std::string archive_;
  std::string entry_form_;
  kvtapp::EntrySession entry_;
  std::unique_ptr<kvtread::PageReading> reading_;
  std::string reading_db_;
  std::unique_ptr<kvtapp::Workspace> viewer_work_;  // the field viewer's own window
  std::uint64_t marked_ = 0;                        // the form whose required fields were marked
  std::pair<std::uint64_t, std::set<std::string>> pins_marked_;  // the form and pins marked
  int progress_shown_ = 0;
  bool make_sample_ = false;  // only for the database the window was opened on
  QPointer<QLabel> message_;
  QPointer<QProgressDialog> progress_;
  QPointer<QWidget> viewer_frame_;  // the field viewer's scrolling window
  QPointer<kvtdesk::FindDialog> find_;
  QPointer<HistoryDialog> history_;
  QPointer<QAction> save_action_, delete_action_;
  QPointer<DeletedDialog> deleted_;
  QPointer<QLabel> position_;
  QAction* steps_[4] = {};
  QPointer<PreviewPane> preview_;
  QDockWidget* preview_dock_ = nullptr;
  // The form's file-link controls with their fields (found once per build), and what the
  // preview was last asked to show.
  std::vector<std::pair<std::weak_ptr<kvthost::FileLinker>, std::string>> links_;
  std::uint64_t links_built_ = 0;
  std::string shown_link_;
  QPointer<QAction> intake_action_;
  // What the person took off the page for a field: where, and the field's text it gave.
  struct Taken {
    kvtengine::FieldBox box;
    std::string words;  // as on the page ("": an accepted proposal's)
    std::string text;   // the field's then
  };
  std::map<std::string, Taken> taken_;
  std::uint64_t taken_built_ = 0;  // the form taken_ and proposed_ are of
  // Values proposed and not yet accepted or typed over: where they were read, the value, and
  // the input's own look to give back.
  struct Proposed {
    kvtengine::FieldBox box;
    std::string words;  // as read in the box's place
    std::string text;   // the field's, once put in
    QString style;
  };
  std::map<std::string, Proposed> proposed_;
  std::vector<kvtengine::FieldBox> boxes_;  // the form's learnt places, read at each take
  std::string focused_;                     // the field the focus was in last
  bool proposing_ = false;                  // ProposeValues is typing the values in
};

}  // namespace kvtdesk
