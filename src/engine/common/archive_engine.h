// What every database engine of the programs offers beside the component's contract: archive
// maintenance, scripts and stored documents; and the component's questions answered from one
// read of the archive per form build (a server answers each query over the network).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine/common/code_filter.h"
#include "engine/common/document_search.h"
#include "engine/files/page_text.h"
#include "engine/files/stored_file.h"
#include "kvtfields/contracts/db_engine.h"
#include "kvtfields/contracts/script_source.h"
#include "runtime/dictionary.h"
#include "runtime/variant.h"

namespace kvtengine {

/// One field of an archive as stored; values are stored as given (nulls and wrong kinds too).
struct FieldDefinition {
  std::string archive;
  std::string name;
  kvt::Variant label = "";
  kvt::Variant descr = "";
  kvt::Variant max_len = 0;
  kvt::Variant min_len = 0;
  kvt::Variant priority = 0;
  kvt::Variant is_index = false;
  kvt::Variant is_required = false;
  kvt::Variant auto_complete = false;
  kvt::Variant data_format = 0;
  kvt::Variant char_format = 0;
  kvt::Variant retain_in_memory = false;
  kvt::Variant type = "TextBox";
};

/// The layout of a field on one form.
struct FieldLayout {
  std::string archive;
  std::string name;
  std::string form;
  kvt::Variant width = 0;
  kvt::Variant height = 0;
  kvt::Variant break_line = true;
  kvt::Variant multi_line = false;
  kvt::Variant show_combo_label = true;
};

/// How a version of a document came to be: saved first, corrected, corrected over another's
/// change ("keep mine"), deleted, or brought back from an older version.
enum class Change { kSave, kCorrect, kOverwrite, kDelete, kRestore };
/// The word a change is stored as ("save", "correct", "overwrite", "delete", "restore").
const char* ChangeName(Change change);
/// The change a stored word names; an unknown one is a save.
Change ChangeNamed(std::string_view name);

/// One version of a document: its number, when (UTC, ISO 8601), who (empty: unknown), and how.
struct VersionInfo {
  std::int32_t version = 0;
  std::string saved_at;
  std::string saved_by;
  Change change = Change::kSave;
};

/// A version as the history shows it: the values it held (none after a deletion) and the
/// fields that differ from the version before it.
struct DocumentVersion : VersionInfo {
  std::vector<std::pair<std::string, kvt::Variant>> values;
  std::vector<std::string> changed;
};

/// Why a change was refused: the version stored now, and each field that differs from the
/// version the change started from, with its value then and now (Null: no value).
struct Conflict {
  VersionInfo now;
  struct Field {
    std::string name;
    kvt::Variant then, now;
  };
  std::vector<Field> fields;
};

/// One stored document with its values in field order.
struct StoredDocument {
  std::int32_t id = 0;
  std::string saved_at;  // UTC, ISO 8601
  std::vector<std::pair<std::string, kvt::Variant>> values;
  std::int32_t version = 1;  // above 1: it has a history
};

/// Pages of a scanned stack waiting in an archive's intake queue, or what became of them: every
/// page of every stack taken in is in exactly one item (the ledger).
struct IntakeItem {
  enum class State { kQueued, kTaken, kFiled, kSetAside };
  std::int64_t id = 0;
  std::string archive;
  std::string sha256;           // the stack: a kept file
  std::string name;             // the stack's name when it was taken in
  std::string pages_sha256;     // the item's pages as a kept file of their own ("": the stack's)
  std::int32_t first_page = 1;  // from 1
  std::int32_t pages = 1;
  State state = State::kQueued;
  std::string by, at;         // who took it in, or who took, filed or set it aside, and when
  std::int32_t document = 0;  // kFiled: the document it became
  std::string reason;         // kSetAside: why (a separator sheet, a blank page)
};
/// The state's name as kept ("in coda", "preso", "archiviato", "scartato").
const char* IntakeStateName(IntakeItem::State state);
/// The state a kept name stands for (kSetAside for a name none has).
IntakeItem::State IntakeStateOf(std::string_view name);

/// Where on its document's page a clerk took a field's value from: the next document laid out the
/// same way (the same words heading its first page) gets the value in that place proposed.
struct FieldBox {
  std::int64_t id = 0;  // 0: not kept yet
  std::string archive, form, field;
  std::int32_t page = 1;                       // of the document, from 1
  double x = 0, y = 0, width = 0, height = 0;  // fractions of the page's width and height
  std::string shape;       // the value's shape: each digit 9, each letter a, the rest as it is
  std::string letterhead;  // the words heading the document's first page, a blank between them
  std::int32_t used = 1;   // how many documents took a value from it
  std::string used_at;     // the last time, UTC
};
/// The boxes kept per field at most: a layout for each of a dozen suppliers.
inline constexpr int kMaxFieldBoxes = 12;
/// The setting naming the barcode of the separator sheets an archive's stacks are split at.
inline constexpr const char* kSeparatorSetting = "separatore";
/// A box's place as kept: in ten-thousandths of the page.
inline constexpr double kFieldBoxUnits = 10000.0;

/// A stored document's values as the text a person reads (Null and Empty: ""), borrowed for one
/// call: what an export writes, without a copy per value.
struct DocumentText {
  std::int32_t id = 0;
  std::string_view saved_at;
  std::vector<std::pair<std::string_view, std::string_view>> values;  // field name, text
};

/// The largest width or height of a layout, in twips (32,000 pixels): larger ones are refused
/// when a layout is read or an archive file checked.
inline constexpr std::int32_t kMaxLayoutTwips = 480000;

/// The round trips every engine of this process has made (a program's --verbose); each
/// engine's database calls CountRoundTrip for one.
std::int64_t ProcessRoundTrips();
void CountRoundTrip();

/// The value `field` holds among a document's values, or null when it holds none.
const kvt::Variant* FindValue(const std::vector<std::pair<std::string, kvt::Variant>>& values,
                              const std::string& field);
/// Raises 9 from `source`: no stored document `id`.
[[noreturn]] void ThrowNoDocument(std::int32_t id, const char* source);

/// True when two values would be stored as the same value: both empty, the same number, or the
/// same text. A value in memory compares as storing would keep it (a date as its text).
bool SameStoredValue(const kvt::Variant& a, const kvt::Variant& b);

/// The time of saving a document gets: now, UTC, ISO 8601 to the second.
std::string SavedAtNow();
/// The Dictionary a document's values come in; anything else raises 13 from `source`.
std::shared_ptr<kvt::Dictionary> DocumentValues(const kvt::ObjectRef& values, const char* source);

/// The columns of a definition answer, and of a layout answer, in order.
const std::vector<std::string>& DefinitionColumns();
const std::vector<std::string>& LayoutColumns();
/// The same columns as a SELECT list, as both engines' SQL names them.
extern const char* const kDefinitionColumnsSql;
extern const char* const kLayoutColumnsSql;
/// The autocomplete store's table as quoted SQL; a name that is not a plain identifier raises
/// 5 from `source`.
std::string QuotedStoreTable(const std::string& table, const char* source);

class ArchiveEngine : public kvtfields::IDBEngine, public kvtfields::IScriptSource {
 public:
  /// The members beyond the engine contract that scripts and hosts call by name; an engine
  /// describes them after the contract's and its own.
  template <class C>
  static kvt::ClassBuilder<C>& Describe(kvt::ClassBuilder<C>& b) {
    return b.template Method<&C::GetScript>("GetScript")
        .Params({"ScriptSet"})
        .template Method<&C::HasArchive>("HasArchive")
        .Params({"Archive"})
        .template Method<&C::SaveDocument>("SaveDocument")
        .Params({"Archive", "Values"})
        .template Method<&C::DocumentCount>("DocumentCount")
        .Params({"Archive"})
        .template Method<&C::LoadDocument>("LoadDocument")
        .Params({"Id"});
  }

  ArchiveEngine();
  ~ArchiveEngine() override;

  // The component's questions. While a form is built they are answered from the snapshot
  // GetFormFields reads; a question asked twice, or about a field the build has passed, means
  // the build is over and goes to the database.
  void AddCode(const std::string& archive, const std::string& field_name, const std::string& code,
               const std::string& description) final;
  void DeleteCode(const std::string& archive, const std::string& field_name,
                  const std::string& code) final;
  std::vector<std::string> GetFormFields(const std::string& archive) final;
  std::shared_ptr<kvt::RecordSet> GetFieldDefinition(const std::string& archive,
                                                     const std::string& field_name) final;
  kvt::Variant GetFieldVisualProperties(const std::string& archive, const std::string& field_name,
                                        const std::string& form_name) final;
  std::shared_ptr<kvt::RecordSet> GetCodeList(const std::string& filter) final;
  /// On (the default): a form build reads the archive in one go. Off: one query per question.
  void SetFormSnapshot(bool on);

  /// What the account may change; the rest it may only read.
  struct Rights {
    bool documents = true;  // save, correct, delete and restore documents
    bool codes = true;      // add and delete codes of a list
    bool design = true;     // change definitions, layouts and scripts
  };
  /// The rights of the account this engine works as (a read-only file has none).
  virtual Rights AccountRights() { return {}; }
  /// Where the engine's data is, for messages: a file name, or a connection without password.
  virtual std::string Where() const = 0;
  /// Why the engine cannot store `text` as it is (a NUL, bytes that are not UTF-8), or empty
  /// when it can; a program copying data in checks every text first.
  virtual std::string WhyUnstorable(std::string_view /*text*/) const { return {}; }
  /// Adds or replaces a field; a new field goes after the archive's last one.
  virtual void PutField(const FieldDefinition& field) = 0;
  virtual void PutLayout(const FieldLayout& layout) = 0;
  virtual void PutScript(const std::string& script_set, const std::string& source) = 0;
  /// True when the archive has at least one field.
  virtual bool HasArchive(const std::string& archive) = 0;
  /// Removes an archive's definitions, layouts, code lists and script (not its documents).
  virtual void DeleteArchive(const std::string& archive) = 0;
  /// The archives that have fields, in name order.
  virtual std::vector<std::string> ListArchives() = 0;
  /// Every archive named anywhere (fields, code lists, documents), in name order.
  virtual std::vector<std::string> ListAllArchives() = 0;
  /// The forms that have a layout for the archive's fields, in name order.
  virtual std::vector<std::string> ListForms(const std::string& archive) = 0;
  /// Runs several changes as one transaction; inside another one, as part of it.
  virtual void Transaction(const std::function<void()>& work) = 0;

  /// Stores one document's values (field name → value) in one transaction; returns its id.
  virtual std::int32_t SaveDocument(const std::string& archive, const kvt::ObjectRef& values) = 0;
  virtual std::int32_t DocumentCount(const std::string& archive) = 0;
  /// The values of a stored document as a Dictionary; an unknown id raises 9.
  virtual kvt::ObjectRef LoadDocument(std::int32_t id) = 0;
  /// The values of a stored document and the version they are, read together; an id never
  /// stored, or deleted, raises 9.
  virtual kvt::ObjectRef LoadDocumentAt(std::int32_t id, VersionInfo& version) = 0;
  /// The version a stored document is at; an id never stored, or deleted, raises 9.
  virtual VersionInfo CurrentVersion(std::int32_t id) = 0;
  /// Corrects a document read at version `base` in one transaction, keeping the version it
  /// replaces; returns the new version. When the stored version is not `base` nothing is
  /// written and kConflict says who changed it, when, and which fields differ. A deleted
  /// document comes back with these values. An id never stored raises 9.
  std::int32_t CorrectDocument(std::int32_t id, const kvt::ObjectRef& values, std::int32_t base,
                               Change how = Change::kCorrect);
  /// Deletes a document read at version `base` (0: whichever is stored) as CorrectDocument
  /// corrects it; the history keeps it. Returns the deletion's version.
  std::int32_t DeleteDocument(std::int32_t id, std::int32_t base = 0);
  /// Makes an older version (or a deleted document's last) the document's newest, as a
  /// correction from `base` (0: whichever is stored); returns the new version.
  std::int32_t RestoreDocument(std::int32_t id, std::int32_t version, std::int32_t base = 0);
  /// Every version of a document, oldest first, with its values; empty for an id never stored.
  /// Every version is a whole copy of the values: a history of more than kHistoryValues values
  /// in all raises kDatabaseError rather than fill the memory (WalkHistory reads any).
  std::vector<DocumentVersion> History(std::int32_t id);
  /// The most values History gives at once (versions × values).
  static constexpr std::size_t kHistoryValues = 1'000'000;
  /// One version as WalkHistory gives it: the fields it changed with their values before and
  /// after (Null: none), or, for the first version and one back from a deletion, all its values.
  struct VersionStep {
    struct Change {
      std::string field;
      kvt::Variant before, after;
    };
    std::vector<Change> changed;
    std::vector<std::pair<std::string, kvt::Variant>> whole;  // the first, or after a deletion
    bool first_or_back = false;
  };
  /// Every version of a document, oldest first, one at a time, in memory proportional to what
  /// is stored (not versions × values): what a listing of the history needs. Empty for an id
  /// never stored.
  void WalkHistory(std::int32_t id,
                   const std::function<void(const VersionInfo&, const VersionStep&)>& visit);
  /// What is stored now against version `base` of the document: for saying why a change that
  /// started from `base` was refused.
  Conflict ConflictSince(std::int32_t id, std::int32_t base);
  /// The archive's deleted documents, each with its deletion, newest first: what can be
  /// brought back.
  virtual std::vector<std::pair<std::int32_t, VersionInfo>> DeletedDocuments(
      const std::string& archive) = 0;
  /// The ids, oldest first, of the archive's stored documents holding every given value (field
  /// name, value; equal as stored). One query on the document values.
  virtual std::vector<std::int32_t> FindDocuments(
      const std::string& archive,
      const std::vector<std::pair<std::string, kvt::Variant>>& equal) = 0;
  /// Gives the archive's stored documents to `each`, oldest first, as they are read: one
  /// ordered pass in constant memory. `each` must not change this engine's documents.
  virtual void ReadDocuments(const std::string& archive,
                             const std::function<void(StoredDocument&& document)>& each) = 0;
  /// ReadDocuments with each value as its text, valid during the call of `each` only.
  virtual void ReadDocumentTexts(const std::string& archive,
                                 const std::function<void(const DocumentText& document)>& each);
  /// The field names the archive's stored documents hold values for, in the order they first
  /// appear (oldest document first, then as stored in it).
  virtual std::vector<std::string> DocumentFieldNames(const std::string& archive) = 0;
  /// Every field name any stored document holds a value for, in any archive, in name order;
  /// read from the key index a name at a time, never the values.
  virtual std::vector<std::string> StoredFieldNames() = 0;
  /// The archive's stored documents, oldest first, read in one query.
  virtual std::vector<StoredDocument> ListDocuments(const std::string& archive) = 0;
  /// One page of the archive's documents meeting every criterion: the ids above `after`,
  /// ascending, at most `limit`; one query on the key index. A criterion on a field the archive
  /// does not define, or with a value its field cannot hold, raises 5 and reads nothing.
  virtual std::vector<std::int32_t> SearchDocuments(const std::string& archive,
                                                    const std::vector<Criterion>& criteria,
                                                    std::int32_t after, std::int32_t limit) = 0;
  /// How many of the archive's documents meet every criterion (raises as SearchDocuments).
  virtual std::int64_t CountDocuments(const std::string& archive,
                                      const std::vector<Criterion>& criteria) = 0;
  /// Gives the stored documents `ids` to `each`, in id order, read in one query; ids not
  /// stored are left out.
  virtual void ReadDocumentsById(const std::vector<std::int32_t>& ids,
                                 const std::function<void(StoredDocument&& document)>& each) = 0;
  /// How a field of the archive is searched (text for one it does not define): read with the
  /// archive once, again after a definition changes.
  SearchKind KindOf(const std::string& archive, const std::string& field);
  /// The number of statements sent to the database since the engine was made: on a server,
  /// its round trips.
  virtual std::int64_t RoundTrips() const = 0;
  /// Stores a document as it was stored elsewhere (its time of saving kept); returns its id.
  virtual std::int32_t CopyDocument(const std::string& archive, const StoredDocument& document) = 0;

  // The documents' files, kept by the archive under their SHA-256; file_store.h stores and
  // reads them checked.
  /// Keeps the bytes `next` gives, piece by piece until an empty piece, as one file; `seal`, called
  /// after the last piece, says what they were (SHA-256, size, media type, name; a time and
  /// account of its own when it was kept elsewhere before, else now and this account). In one
  /// transaction, or the caller's. False, and nothing more kept, when the archive holds a file
  /// of that SHA-256 already; what `next` or `seal` raise leaves nothing kept.
  virtual bool PutFile(const std::function<std::string_view()>& next,
                       const std::function<kvtfiles::StoredFile()>& seal) = 0;
  /// What the archive keeps of the file `sha256`; false when it keeps none.
  virtual bool FindFile(const std::string& sha256, kvtfiles::StoredFile& file) = 0;
  /// The bytes kept of file `sha256` (FindFile found it), piece by piece, as stored: unchecked.
  virtual void ReadFilePieces(const std::string& sha256,
                              const std::function<void(std::string_view piece)>& each) = 0;
  /// ReadFilePieces with each piece read into a buffer `spare` gives (one the caller is done
  /// with, or empty) and handed over whole: a caller that keeps pieces takes them uncopied.
  virtual void ReadFileBuffers(const std::string& sha256, const std::function<std::string()>& spare,
                               const std::function<void(std::string&& piece)>& each) {
    ReadFilePieces(sha256, [&](std::string_view piece) {
      std::string buffer = spare();
      buffer.assign(piece);
      each(std::move(buffer));
    });
  }
  /// Every kept file, in SHA-256 order, read a few at a time.
  virtual void ListFiles(const std::function<void(const kvtfiles::StoredFile&)>& each) = 0;
  /// Removes what a crash or a failed save left of files never kept; returns how many. An
  /// engine that keeps files inside its transactions leaves none.
  virtual std::int64_t CollectOrphanFiles() { return 0; }

  // What was read off the kept files' pages (page_text.h), once per file and reader.
  /// Keeps `reading` of file `sha256` (FindFile found it) in place of an earlier one; its words
  /// are searched from then on. In one transaction, or the caller's.
  virtual void KeepReading(const std::string& sha256, const kvtfiles::FileReading& reading) = 0;
  /// The reading kept of file `sha256`; false when it was never read.
  virtual bool FindReading(const std::string& sha256, kvtfiles::FileReading& reading) = 0;
  /// Kept files that `reader` has not read (never read, or by another reader), in SHA-256 order
  /// after `after`, at most `limit`.
  virtual std::vector<std::string> FilesToRead(const std::string& reader, const std::string& after,
                                               int limit) = 0;
  /// Makes the searched words of the next `count` documents after `after` that name a read
  /// file anew from the readings kept, in one transaction; the last one done, 0 when none is
  /// left.
  virtual std::int32_t IndexWords(std::int32_t after, std::int32_t count) = 0;

  // The intake queue: scanned stacks waiting to become documents, a page ledger of them all.
  /// Adds the items stack `sha256` (a kept file) was split into, in one transaction; false, and
  /// nothing added, when the archive's intake has the stack already.
  virtual bool PutIntake(const std::string& archive, const std::string& sha256,
                         const std::vector<IntakeItem>& items) = 0;
  /// Takes the archive's next queued item, which nobody else then gets until it is left;
  /// nothing when none waits.
  virtual std::optional<IntakeItem> TakeIntake(const std::string& archive) = 0;
  /// Puts item `id`, taken, back in the queue.
  virtual void LeaveIntake(std::int64_t id) = 0;
  /// Item `id`, taken, became `document` (in the caller's transaction: with the document).
  virtual void FileIntake(std::int64_t id, std::int32_t document) = 0;
  /// Every item of the archive's intake, stack by stack, in page order.
  virtual std::vector<IntakeItem> IntakeLedger(const std::string& archive) = 0;
  /// How many items of the archive's intake wait in the queue.
  virtual std::int64_t IntakeWaiting(const std::string& archive) = 0;
  /// The item TakeIntake would give now, not taken (another clerk may take it first): its
  /// pages can be made ready beforehand. Nothing when none waits.
  virtual std::optional<IntakeItem> NextIntake(const std::string& archive) = 0;

  // The places on the page the clerks took fields' values from (FieldBox).
  /// Keeps `box`: a new one (id 0), or the one it names used again (its place, use count and
  /// time as `box` says); returns its id. Past kMaxFieldBoxes for its field, the least used
  /// recently are forgotten.
  virtual std::int64_t KeepFieldBox(const FieldBox& box) = 0;
  /// The boxes kept for the fields of `archive`'s `form`, the most used first.
  virtual std::vector<FieldBox> FieldBoxes(const std::string& archive, const std::string& form) = 0;

  // An archive's settings (kSeparatorSetting, for one).
  /// The archive's setting `name`; "" when it has none.
  virtual std::string ArchiveSetting(const std::string& archive, const std::string& name) = 0;
  /// Sets it; "" takes it away.
  virtual void PutArchiveSetting(const std::string& archive, const std::string& name,
                                 const std::string& value) = 0;

  /// Every script set with its source, in set order.
  virtual std::vector<std::pair<std::string, std::string>> ListScripts() = 0;
  /// Every code of an archive as (field, COD, VALUE), in field then code order.
  std::vector<std::pair<std::string, std::vector<kvt::Variant>>> ListCodes(
      const std::string& archive) {
    return ReadArchive(archive).codes;
  }

  /// One value learnt by the autocomplete store, for copying between databases.
  struct LearntValue {
    std::string key, value;
    std::int64_t uses = 1, last_used = 0;
  };
  virtual std::vector<LearntValue> ListLearnt() = 0;
  virtual void PutLearnt(const LearntValue& learnt) = 0;

 protected:
  /// One read of an archive: its fields in order with their definitions (DefinitionColumns),
  /// and every code of the archive as (field, COD, VALUE) in field then code order.
  struct ArchiveRead {
    std::vector<std::string> names;
    std::vector<std::vector<kvt::Variant>> definitions;
    std::vector<std::pair<std::string, std::vector<kvt::Variant>>> codes;
  };
  virtual const char* Source() const = 0;
  virtual ArchiveRead ReadArchive(const std::string& archive) = 0;
  virtual std::vector<std::string> ReadFieldNames(const std::string& archive) = 0;
  virtual std::shared_ptr<kvt::RecordSet> ReadDefinition(const std::string& archive,
                                                         const std::string& field) = 0;
  virtual std::shared_ptr<kvt::RecordSet> ReadLayout(const std::string& archive,
                                                     const std::string& field,
                                                     const std::string& form) = 0;
  /// Every layout row (LayoutColumns) of the archive on one form, by field name.
  virtual std::unordered_map<std::string, std::vector<kvt::Variant>> ReadLayouts(
      const std::string& archive, const std::string& form) = 0;
  virtual std::shared_ptr<kvt::RecordSet> ReadCodes(const CodeFilter& filter) = 0;
  virtual void WriteCode(const std::string& archive, const std::string& field,
                         const std::string& code, const std::string& description) = 0;
  virtual void EraseCode(const std::string& archive, const std::string& field,
                         const std::string& code) = 0;
  /// What a document's history is made of, read in one transaction.
 public:
  struct HistoryRows {
    std::vector<VersionInfo> versions;  // oldest first; the last is the newest
    std::vector<std::pair<std::string, kvt::Variant>> current;  // the newest version's values
    struct Changed {
      std::int32_t version = 0, position = 0;
      std::string field;
      kvt::Variant value;  // what the version held (present), before the next one changed it
      bool present = false;
    };
    std::vector<Changed> changes;  // in version, then position order
  };
  /// The rows of a document's history as stored, for copying it whole.
  virtual HistoryRows ReadHistory(std::int32_t id) = 0;
  /// Gives stored document `id` (just copied in) the history `rows` read elsewhere, in one
  /// transaction: its versions, their changes, and the newest version's number, author and
  /// change; a history ending in a deletion deletes it. An id not stored raises 9.
  virtual void WriteHistory(std::int32_t id, const HistoryRows& rows) = 0;

 protected:
  /// Writes one change of a document from version `base` (0: any) in one transaction: its new
  /// values, or none to delete it; raises kConflict, or 9 for an id never stored. Returns the
  /// new version.
  virtual std::int32_t WriteChange(std::int32_t id, std::int32_t base,
                                   const std::vector<std::pair<std::string, kvt::Variant>>* values,
                                   Change how) = 0;
  /// Any change but a code's makes the snapshot unfit: the engines call this when they write.
  void DropSnapshot();
  /// The criteria as key conditions on the archive's fields; an unknown field raises 5.
  std::vector<KeyCondition> KeyConditions(const std::string& archive,
                                          const std::vector<Criterion>& criteria);

 private:
  friend class ForwardingEngine;  // passes the protected reads and writes on to its engine
  struct Snapshot;
  void RememberKinds(const std::string& archive, const ArchiveRead& read);
  // The archive's fields and their kinds, read when not known yet.
  const std::unordered_map<std::string, SearchKind>& KindsOf(const std::string& archive);
  std::unique_ptr<Snapshot> snapshot_;
  bool use_snapshot_ = true;
  // Per archive: each defined field's search kind.
  std::unordered_map<std::string, std::unordered_map<std::string, SearchKind>> kinds_;
};

}  // namespace kvtengine
