// One document on a workspace's form from new to stored: new, open a stored one for correction,
// save, next with the retained values, delete. What may be stored is decided here once, for
// every program: the desk, `enter`, `documents import` and the demo only present the outcome.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "common/workspace.h"

namespace kvtapp {

/// The name a person knows a field by: its caption, else its inner name.
std::string Caption(kvtfields::FieldType& field);
/// The caption of the form's field named `name`; the name itself when the form has none.
std::string CaptionOf(kvtfields::FieldsCollection& fields, const std::string& name);

/// Why a value breaks its field's rules, as a refusal says it: longer than the field takes, or
/// holding a control character (U+XXXX).
std::string TooLongText(const std::string& caption, std::int32_t max);
std::string ControlCharacterText(const std::string& caption, char32_t c);

/// A time stored in UTC (ISO 8601) as a person here reads it: "06/12/2026 17:05", local time.
std::string LocalTime(const std::string& utc);
/// Who made a version, for a person: the account, or "utente sconosciuto".
std::string Author(const std::string& saved_by);
/// What made a version, in Italian ("salvato", "corretto", ...).
std::string ChangeWord(kvtengine::Change change);

/// A field's values as the session compares them: name and value as text, in form order.
using Snapshot = std::vector<std::pair<std::string, std::string>>;

struct SaveOutcome {
  enum class Result {
    kStored,     // stored as a new document or as a correction (id)
    kUnchanged,  // stored already, nothing changed since: nothing written
    kRefused,    // a rule refused it (reasons); nothing written
    kDuplicate,  // its index fields equal a stored document's (duplicates); nothing written
    kConflict,   // someone changed or deleted the stored document since it was opened
                 // (conflict); nothing written
  };
  Result result = Result::kRefused;
  std::int32_t id = 0;
  std::int32_t version = 0;  // kStored: the version stored; kUnchanged: the version kept
  bool corrected = false;    // kStored: a stored document was corrected, not a new one made
  /// Why it was refused: the field ("" for the document) and an Italian message, in order.
  std::vector<std::pair<std::string, std::string>> reasons;
  std::vector<std::int32_t> duplicates;  // kDuplicate: the stored documents it repeats
  kvtengine::Conflict conflict;          // kConflict: the version stored now, what differs
  /// kConflict: the fields both people changed, to different values: (name, mine, theirs).
  /// The other fields either changed merge without a question (Merge).
  std::vector<std::tuple<std::string, std::string, std::string>> both_changed;
  bool merged = false;  // kStored: another person's changes were merged into this version

  bool Stored() const { return result == Result::kStored; }
  /// The outcome in one Italian text for the person (empty when stored or unchanged).
  std::string Message() const;
};

class DocumentSession {
 public:
  /// Works on the form the workspace built; the current document is the one on the form, new.
  explicit DocumentSession(Workspace& w);
  /// The same for one save and no more (a row of a batch): the values are not kept for
  /// Modified and Revert, which cost a copy of the form before and after the save.
  struct OneSave {};
  DocumentSession(Workspace& w, OneSave);

  /// An empty form for a new document (the archive's entry form), the focus on the first
  /// required field still empty.
  void New();
  /// The next document: a new one holding the retained and the pinned fields' values.
  void Next();
  /// Pins field `name` for the session (`on`) or lets it go: a pinned field keeps its value
  /// into the next document, as the archive's retained ones do.
  void Pin(const std::string& name, bool on);
  /// The pinned fields' names (those the form does not show are kept and skipped).
  const std::set<std::string>& Pinned() const { return pinned_; }
  /// Opens a stored document for correction on `form` (the entry form when empty).
  void Open(std::int32_t id, const std::string& form = {});
  /// Also done, with the id, in the transaction that stores the document on the form when it is
  /// new: stored together or neither (a queued item filed as this document). Kept until a save
  /// stores it or another document begins.
  void StoreWith(std::function<void(std::int32_t id)> also) { also_ = std::move(also); }
  /// The form as it is now becomes what Modified and Revert compare with: a new document's
  /// pages, named before the person begins, stay when the person's changes are undone.
  void Settle() {
    if (tracks_) Baseline();
  }
  /// Saves the document on the form, in this order: the focused field's exit checks, the
  /// required-fields check of the collection, every value against its field's rules, every
  /// missing required field, then (new documents) the probable duplicate. A document stored
  /// already and not changed since is not stored again.
  /// With `store` false everything is decided and nothing written (kStored: would be stored).
  /// A duplicate the person confirms (`allow_duplicate` after a kDuplicate), nothing changed
  /// since, is stored as it was checked, without leaving the field and checking all again.
  SaveOutcome Save(bool allow_duplicate = false, bool store = true);
  /// Puts every field back to the document's last saved (or first shown) values.
  void Revert();
  /// Stores the document over the change that made the last Save a conflict ("keep mine"),
  /// recorded as such; the same rules as Save, and a conflict again if yet another came.
  SaveOutcome KeepMine();
  /// After a conflict with a change (not a deletion): the fields only the other person changed
  /// take their values, the fields only this one changed keep theirs, and the fields both
  /// changed (both_changed) keep this person's values when `mine_where_both`, else take the
  /// other's. Stored over the other version by the same rules as Save (a conflict again if yet
  /// another change came); kUnchanged when the result is what is stored.
  SaveOutcome Merge(bool mine_where_both);
  /// Deletes the stored document open for correction and starts a new one; false for a new one.
  /// A change by someone else since it was opened raises kConflict and deletes nothing.
  bool Delete();

  /// The stored document on the form, 0 while it is new.
  std::int32_t Id() const { return id_; }
  /// The version of the stored document the form started from (0 while new).
  std::int32_t Version() const { return version_; }
  /// Says the document on the form was read at `version` (a program that read it before
  /// opening it here): a save then corrects that version, or is a conflict.
  void StartedFrom(std::int32_t version) { version_ = version; }
  /// True when the form holds changes not stored (since New, Next, Open or the last save).
  bool Modified() const;
  /// The values on the form now.
  Snapshot Values() const;
  /// The stored values under names the form does not show (a field renamed since, or a form
  /// that shows only some): kept as they are through a correction.
  const std::vector<std::pair<std::string, kvt::Variant>>& Extras() const { return extras_; }
  /// Why the values on the form break their fields' rules, whoever wrote them (the person, a
  /// script, a paste, a row of a file): one (field, message) each.
  std::vector<std::pair<std::string, std::string>> RuleFailures() const;
  /// The captions of the required fields left empty, in form order (dates included).
  std::vector<std::string> MissingRequired() const;
  /// Follows a change of one of the form's controls; true while the form holds changes not
  /// stored as far as the changes followed since the last baseline say (Modified reads all).
  bool FollowChange(const kvthost::Control& control);
  /// The same without a change: what the changes followed since the last baseline say.
  bool Followed() const { return !differing_.empty() || InputPending(); }
  /// Compares every field with the saved values again (changes went unfollowed meanwhile).
  void Resync() { Rebase(/*compare=*/true); }
  /// The focus to the form's first field that takes it; false when it stayed (the field left
  /// refused, or there is none).
  bool FocusFirstField();
  /// The focus to the next required field still empty after the focused one, from the first
  /// again at the end; false when none is left (or the field left refused).
  bool FocusNextMissing();
  /// Document `id` as the clerk knows it, by the archive's index fields: "documento 1030 del
  /// 06/12/2026" (the one on the form by its values now, another as stored); "documento 5"
  /// when they are empty or cannot be read.
  std::string Named(std::int32_t id) const;
  /// The same with a capital letter, to begin a sentence.
  std::string NamedFirst(std::int32_t id) const;
  /// How many times the form's values were read, field by field (a save reads them once).
  std::uint64_t FormReads() const { return reads_; }

 private:
  // The form's values in one pass: as the collection gives and takes them, raw and as text.
  struct FormRead {
    kvt::ObjectRef values;
    std::vector<kvt::Variant> raw;  // in form order
    Snapshot texts;
    std::uint64_t at = 0;  // the form's change count when read
  };
  // Reads the form; within a save (ReadOnce), the last read while no control changed since.
  const FormRead& Read() const;
  // A save's reads of the form: one, unless a script or the person changed it meanwhile.
  class ReadOnce {
   public:
    explicit ReadOnce(const DocumentSession& s) : s_(s), was_(s.reuse_) { s_.reuse_ = true; }
    ~ReadOnce() {
      s_.reuse_ = was_;
      if (!was_) s_.read_ = {};
    }
    ReadOnce(const ReadOnce&) = delete;
    ReadOnce& operator=(const ReadOnce&) = delete;

   private:
    const DocumentSession& s_;
    bool was_;
  };
  std::vector<std::pair<std::string, std::string>> RuleFailures(const FormRead& now) const;
  std::vector<std::string> MissingRequired(const FormRead& now) const;
  void Baseline();
  // The fields' places by control, and (`compare`) which differ from saved_, just set.
  void Rebase(bool compare = false);
  // Back to where the person was after a save (or the first missing field), the caret too.
  void Return(const std::shared_ptr<kvthost::Control>& back);
  // The first required field left empty gets the focus (where a clerk starts a document).
  void FocusFirstMissing();
  // Moves the focus to `field`'s control as the person would; a failing script there is shown.
  bool FocusField(const std::shared_ptr<kvtfields::FieldType>& field);
  // The form's values with the extras after them, as they are stored.
  kvt::ObjectRef StoredValues(const kvt::ObjectRef& form_values) const;
  // Every rule in order; `back` is the field left for the checks, to be focused again.
  SaveOutcome Check(bool allow_duplicate, std::shared_ptr<kvthost::Control>& back);
  Workspace& w_;
  std::string entry_form_;
  // Writes the checked document: new, or a correction of version `base` made as `how`.
  void Store(SaveOutcome& out, std::int32_t base, kvtengine::Change how);
  // Input typed into the focused control and not settled yet.
  bool InputPending() const;
  // The conflict in Italian: who, when, and each field by caption with its value then and now.
  std::string ConflictMessage(const kvtengine::Conflict& c);
  std::int32_t id_ = 0;
  std::int32_t version_ = 0;
  std::int32_t theirs_ = 0;  // the version the last conflict found stored
  Snapshot saved_;
  kvt::ObjectRef saved_values_;  // the same, as the collection gives and takes them
  std::optional<std::pair<std::int32_t, std::int32_t>> caret_;  // of the field left to save
  bool tracks_ = true;  // keeps the saved values (false: OneSave)
  // The form's values as the last check read them, for the store that follows it at once.
  kvt::ObjectRef checked_values_;
  // The form as the last Save found it a probable duplicate; nothing when it was not one.
  std::optional<Snapshot> duplicate_;
  std::vector<std::pair<std::string, kvt::Variant>> extras_;
  kvtengine::Conflict conflict_;                               // the last conflict, for Merge
  std::unordered_map<std::string, std::size_t> index_;         // a field's control name: its place
  std::pair<std::uint64_t, std::int32_t> indexed_{~0ull, -1};  // the build and fields it is of
  std::set<std::string> pinned_;
  std::function<void(std::int32_t)> also_;  // StoreWith
  std::set<std::size_t> differing_;         // the places of the fields that differ from saved_
  mutable FormRead read_;
  mutable bool reuse_ = false;
  mutable std::uint64_t reads_ = 0;
};

}  // namespace kvtapp
