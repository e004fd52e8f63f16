// A clerk's work on one archive, whatever window system shows it: the database and the form,
// the document on it from new to stored, the navigator's walk, finding by form, the status
// line and what the account may do. It shows nothing itself: what only the person can decide
// comes back as a Question, what they must read as a Notice, the rest as state to draw.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/document_session.h"
#include "common/document_walk.h"
#include "common/workspace.h"

namespace kvtapp {

/// The question asked before unsaved changes would be lost.
inline constexpr const char* kSaveChangesQuestion =
    "Salvare le modifiche?\n\nIl documento sul modulo contiene modifiche non salvate.";

/// Something only the person decides; the front end asks it and gives the answer to Answer.
struct Question {
  std::string id;    // which one: "salva-modifiche", "doppione", "conflitto", "elimina", "stampa"
  std::string text;  // in Italian, as asked
  int buttons = 0;   // the buttons and the default one, as kvt::kMsgBox* styles say them
};

/// Something the person reads before going on: a refusal, or what failed and what to do.
struct Notice {
  std::string text;
  std::string details;  // the original error, under the details ("" for a refusal)
};

/// What a command came to. A notice is shown first; a question is then asked, and the command
/// goes on with the answer (Answer), which replies in turn.
struct Reply {
  std::optional<Notice> notice;
  std::optional<Question> question;
  bool done = false;         // the command did what was asked
  std::int32_t touched = 0;  // a stored document whose history changed (stored, deleted)
};

class EntrySession {
 public:
  /// Where the document on the form is in the navigator's walk, and where it may go.
  struct Position {
    std::string text;  // "3 di 8", "Nuovo, 8 documenti", ...; empty when nothing is known
    bool first = false, previous = false, next = false, last = false;
  };
  enum class Step { kFirst, kPrevious, kNext, kLast };

  /// `person_on` is the window system's person; `platform` the session's (none: the one in use).
  explicit EntrySession(Workspace::PersonOn person_on,
                        std::shared_ptr<kvt::Platform> platform = nullptr);
  ~EntrySession();
  EntrySession(const EntrySession&) = delete;
  EntrySession& operator=(const EntrySession&) = delete;

  /// Opens `db` on `archive`'s `form` (`create`: made with the sample archive when missing) and
  /// starts a new document. Raises what failed; the work open before stays as it was.
  void Open(const std::string& db, const std::string& archive, const std::string& form,
            bool create = false);
  /// The same on an engine opened elsewhere (one a server's sessions share).
  void Open(std::shared_ptr<kvtengine::ArchiveEngine> engine, const std::string& archive,
            const std::string& form);
  /// Once the form is shown: reads what the account may do (a reader is told so in the status
  /// line) and puts the focus on the first field.
  void Start();
  /// Told while a form is built: fields done, fields in all.
  std::function<void(int done, int total)> on_progress;
  /// Told when the status line changed outside a command (the person moved or was refused).
  std::function<void()> on_status;
  /// Told when a newly built form is about to replace the one open (a window lets go of it).
  std::function<void()> on_replacing;
  /// Told after the focus moved to another control (a window scrolls to it).
  std::function<void()> on_focus_moved;
  /// Told when the unsaved-changes mark may have changed (Modified), as the person types.
  std::function<void()> on_changed;
  /// Told after any control's content changed (typed, picked, chosen), each time.
  std::function<void()> on_content;
  /// Told why a key typed was refused (a letter in a numbers-only field) or the focused field
  /// refused to be left, also in the status line: a window shows it beside the field too.
  std::function<void(const std::string& why)> on_refused;

  /// The commands. Those that leave the document ask "salva-modifiche" first when it holds
  /// unsaved changes the account could store.
  Reply New();
  Reply Next();
  Reply Save();
  Reply Delete();  // asks "elimina" first
  /// Esc: the values offered under the focused box closed; else the focused field back to its
  /// value on entry; when it has it, the whole document.
  Reply Undo();
  /// The focus to the form's first field (Ctrl+Home).
  Reply FirstField();
  /// The focus to the next required field still empty; the status line says when none is.
  Reply NextMissing();
  /// Ctrl+': the focused field takes its value in the document before (on the navigator; from
  /// a new document, the one this session stored last, else the archive's last), as the person
  /// would type or choose it.
  Reply CopyPrevious();
  /// Pins the focused field for this session, or lets it go when pinned: its value goes into
  /// each next document (Next) beside the archive's retained fields.
  Reply TogglePin();
  Reply Move(Step step);
  /// Opens stored document `id` for correction on the review form.
  Reply Correct(std::int32_t id);
  /// Opens document `id` of those found by `criteria` (`sorted`: in this order), which the
  /// navigator walks from then on.
  Reply OpenFound(std::int32_t id, std::vector<kvtengine::Criterion> criteria,
                  std::vector<std::int32_t> sorted);
  /// Brings `version` of document `id` back as its newest, the history read at `base`.
  Reply Restore(std::int32_t id, std::int32_t version, std::int32_t base);
  /// Documento > Da archiviare: once the document may be left, the next one (the retained
  /// values in it) takes the archive's next queued item, its pages named in the form's first
  /// file-link field. Saving it files the item as the document, in the same transaction; a
  /// document left unsaved puts the item back in the queue. The status line says when none waits.
  Reply TakeIntake();
  /// The queued item on the form; nothing when none.
  const std::optional<kvtengine::IntakeItem>& Intake() const { return intake_; }
  /// How many items wait in the archive's intake (0 when the database cannot say).
  std::int64_t IntakeWaiting();
  /// Runs `then` once the document may be left (nothing unsaved, or saved, or given up).
  Reply Leave(std::function<Reply()> then);
  /// The answer to the question the last reply asked (a kvt::kMsgBoxAnswer*).
  Reply Answer(int answer);
  /// True while a question waits for its answer.
  bool Asking() const { return static_cast<bool>(pending_); }

  /// A find criterion on `field` ("" any) as a person writes it: "da..a" a range, * anywhere,
  /// text starting with it, a number or date equal to it.
  kvtengine::Criterion CriterionOf(const std::string& field, const std::string& text);
  /// Why the engine refuses one of `criteria`, in Italian, by caption.
  std::string RefusedCriterion(const std::vector<kvtengine::Criterion>& criteria);

  /// The window's title: document, archive, form, database; "* " first with unsaved changes.
  std::string Title() const;
  /// True when the document holds changes not stored, as the controls' changes say (followed
  /// one by one while on_changed listens, worked out when asked otherwise).
  bool ModifiedMark() const;
  /// Where the document is in the walk; nothing when the database cannot say.
  Position Where();
  const std::string& Status() const { return status_; }
  /// The status line's whole text when it is longer than a line shows ("" none).
  const std::string& StatusDetail() const { return status_detail_; }
  void SetStatus(std::string text, std::string detail = {});
  /// Whether the account may store documents (read when the form opened).
  bool MayStore() const { return rights_.documents; }
  /// Says in the status line what this account may not do with documents ("salvarli").
  void SayReadOnly(const std::string& refused);
  /// Counts the forms built: a front end that marks fields redraws when it changes.
  std::uint64_t FormsBuilt() const { return built_; }

  Workspace* Work() const { return work_.get(); }
  DocumentSession* Document() const { return document_.get(); }
  /// The id of the stored document on the form, 0 while it is new.
  std::int32_t Id() const { return document_ ? document_->Id() : 0; }
  const std::string& Database() const { return db_; }
  const std::string& Archive() const { return archive_; }
  const std::string& EntryForm() const { return entry_form_; }
  const std::string& ReviewForm() const { return review_form_; }
  /// The failure `e` as the person reads it: `what` failed, why, and what to do (`todo` when
  /// the error does not say better).
  static Notice Failure(const std::string& what, const std::exception& e, const std::string& todo);
  /// A refusal: what and what to do.
  static Notice Refusal(const std::string& what, const std::string& todo);

 private:
  // Builds the form on `next` (opened) and makes it the work of the session.
  void Install(std::unique_ptr<Workspace> next, const std::string& db, const std::string& archive,
               const std::string& form);
  Reply Ask(Question q, std::function<Reply(int)> then);
  // A new document begun by `start` once the old one may be left; `failed`: what failed and
  // what to do.
  Reply Begin(void (DocumentSession::*start)(), std::string said,
              std::pair<std::string, std::string> failed);
  Reply Stored(const SaveOutcome& outcome);
  Reply AfterSave(SaveOutcome outcome, const std::function<Reply(bool saved)>& then);
  Reply SettleConflict(SaveOutcome outcome, const std::function<Reply(bool saved)>& then);
  // Saves with every question it needs, then tells `then` whether it stored (or had stored).
  Reply SaveThen(std::function<Reply(bool saved)> then);
  Reply OpenStored(std::int32_t id);
  // The item on the form back in the queue (the document on it is being left unsaved).
  void ReturnIntake();
  // A deleted document left the form (a new one is there): out of the walk, said so.
  void LeftBehind(std::int32_t id, const std::string& said);
  void Follow(kvthost::Form& form);
  // The field of the focused control, null when the focus is on none.
  std::shared_ptr<kvtfields::FieldType> FocusedField();
  void Built();
  DocumentWalk& Walk();
  void ForgetWalkOfAll();
  // The mark as the followed changes say, or (nobody listening) left to be worked out.
  void RefreshMark() const;
  void Remark() const;

  Workspace::PersonOn person_on_;
  std::shared_ptr<kvt::Platform> platform_;
  std::unique_ptr<Workspace> work_;
  std::unique_ptr<DocumentSession> document_;
  std::function<Reply(int)> pending_;
  std::string db_, archive_, entry_form_;
  std::string review_form_ = "Consultazione";
  std::string status_, status_detail_;
  kvtengine::ArchiveEngine::Rights rights_;
  std::uint64_t built_ = 0;
  std::size_t errors_seen_ = 0;  // error-list entries when the focus last moved or was kept
  bool noted_ = false;  // a control's note is in the status line, said as its field was left
  mutable bool modified_mark_ = false;
  mutable bool mark_stale_ = false;  // changes came while nobody followed them
  std::unique_ptr<DocumentWalk> walk_;
  std::int32_t walk_id_ = -1;                    // the document whose place walk_index_ is
  std::int32_t last_stored_ = 0;                 // the document this session stored last (Ctrl+')
  std::int64_t walk_index_ = -1;                 // its place in the walk, -1 when not in it (new)
  std::optional<kvtengine::IntakeItem> intake_;  // the queued item on the form
};

}  // namespace kvtapp
