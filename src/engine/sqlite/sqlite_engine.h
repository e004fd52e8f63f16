// The database engine on SQLite: field definitions, layouts, code lists, autocomplete values,
// scripts and saved documents in one database file.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/common/archive_engine.h"
#include "engine/common/lookup_worker.h"
#include "engine/sqlite/database.h"
#include "engine/sqlite/file_folder.h"
#include "kvtfields/contracts/autocomplete_store.h"
#include "runtime/dictionary.h"

namespace kvtsqlite {

inline constexpr const char* kEngineProgId = "kvtDBEngine.DBEngine";

/// What the engine hands out as the connection's AdoConnection: the open database, which is
/// also the autocomplete store.
class DatabaseHandle final : public kvt::Object, public kvtfields::IAutoCompleteStore {
  KVT_OBJECT()

 public:
  /// `worker` answers lookups in the background for a window system with a loop (may be null).
  explicit DatabaseHandle(std::shared_ptr<Database> db,
                          std::shared_ptr<kvtengine::LookupWorker> worker = nullptr)
      : db_(std::move(db)), worker_(std::move(worker)) {}
  const std::shared_ptr<Database>& Get() const { return db_; }
  std::string Path() const { return db_->Path(); }

  void Learn(const std::string& table, const std::string& key, const std::string& value) override;
  std::vector<std::string> LookUp(const std::string& table, const std::string& key,
                                  const std::function<bool(std::string_view)>& wanted,
                                  std::size_t limit) override;
  std::vector<std::string> StartingWith(const std::string& table, const std::string& key,
                                        const std::string& prefix, bool match_case,
                                        std::size_t limit) override;
  void StartingWithLater(const std::string& table, const std::string& key,
                         const std::string& prefix, bool match_case, std::size_t limit,
                         std::function<void(std::vector<std::string>)> done) override;
  void Forget(const std::string& table, const std::string& key, const std::string& value) override;

 private:
  std::shared_ptr<Database> db_;
  std::shared_ptr<kvtengine::LookupWorker> worker_;
};

class Connection final : public kvtfields::IDBConnection {
  KVT_OBJECT()

 public:
  kvt::Variant AdoConnection() override;
  bool IsOpen() override { return db_ != nullptr; }
  /// The database handed out from now on (null: none); lookups in the background open it
  /// again for themselves.
  void Attach(std::shared_ptr<Database> db);

 private:
  std::shared_ptr<Database> db_;
  std::shared_ptr<kvtengine::LookupWorker> worker_;
};

class SqliteEngine final : public kvtengine::ArchiveEngine {
  KVT_OBJECT()

 public:
  SqliteEngine();
  /// An engine with the database at `path` open; `create` makes a missing or empty file a new
  /// database, otherwise only an existing one opens.
  static std::shared_ptr<SqliteEngine> Open(const std::string& path, bool create = true);

  /// Opens a database file, replacing the one open before; on failure nothing changes.
  void OpenDatabase(const std::string& path, std::optional<bool> create = true);
  /// Closes the database: the connection then answers IsOpen False.
  void CloseDatabase();
  /// The open database; raises kNoDatabase when none is.
  Database& Db() const;

  std::shared_ptr<kvtfields::IDBConnection> Connection() override;
  std::string Where() const override;
  void PutField(const kvtengine::FieldDefinition& field) override;
  void PutLayout(const kvtengine::FieldLayout& layout) override;
  void PutScript(const std::string& script_set, const std::string& source) override;
  kvt::Variant GetScript(const std::string& script_set) override;
  bool HasArchive(const std::string& archive) override;
  void DeleteArchive(const std::string& archive) override;
  std::vector<std::string> ListArchives() override;
  std::vector<std::string> ListAllArchives() override;
  std::vector<std::string> ListForms(const std::string& archive) override;
  void Transaction(const std::function<void()>& work) override;
  std::int32_t SaveDocument(const std::string& archive, const kvt::ObjectRef& values) override;
  std::int32_t DocumentCount(const std::string& archive) override;
  kvt::ObjectRef LoadDocument(std::int32_t id) override;
  kvt::ObjectRef LoadDocumentAt(std::int32_t id, kvtengine::VersionInfo& version) override;
  kvtengine::VersionInfo CurrentVersion(std::int32_t id) override;
  /// A file the program may not write (its permissions, a read-only medium) allows no change.
  Rights AccountRights() override;
  std::vector<std::pair<std::int32_t, kvtengine::VersionInfo>> DeletedDocuments(
      const std::string& archive) override;
  HistoryRows ReadHistory(std::int32_t id) override;
  void WriteHistory(std::int32_t id, const HistoryRows& rows) override;
  void ReadDocuments(
      const std::string& archive,
      const std::function<void(kvtengine::StoredDocument&& document)>& each) override;
  void ReadDocumentTexts(
      const std::string& archive,
      const std::function<void(const kvtengine::DocumentText& document)>& each) override;
  std::vector<std::string> DocumentFieldNames(const std::string& archive) override;
  std::vector<std::string> StoredFieldNames() override;
  std::vector<std::int32_t> FindDocuments(
      const std::string& archive,
      const std::vector<std::pair<std::string, kvt::Variant>>& equal) override;
  std::vector<kvtengine::StoredDocument> ListDocuments(const std::string& archive) override;
  std::vector<std::int32_t> SearchDocuments(const std::string& archive,
                                            const std::vector<kvtengine::Criterion>& criteria,
                                            std::int32_t after, std::int32_t limit) override;
  std::int64_t CountDocuments(const std::string& archive,
                              const std::vector<kvtengine::Criterion>& criteria) override;
  void ReadDocumentsById(
      const std::vector<std::int32_t>& ids,
      const std::function<void(kvtengine::StoredDocument&& document)>& each) override;
  std::int64_t RoundTrips() const override;
  bool PutFile(const std::function<std::string_view()>& next,
               const std::function<kvtfiles::StoredFile()>& seal) override;
  bool FindFile(const std::string& sha256, kvtfiles::StoredFile& file) override;
  void ReadFilePieces(const std::string& sha256,
                      const std::function<void(std::string_view piece)>& each) override;
  void ReadFileBuffers(const std::string& sha256, const std::function<std::string()>& spare,
                       const std::function<void(std::string&& piece)>& each) override;
  void ListFiles(const std::function<void(const kvtfiles::StoredFile&)>& each) override;
  std::int64_t CollectOrphanFiles() override;
  bool PutIntake(const std::string& archive, const std::string& sha256,
                 const std::vector<kvtengine::IntakeItem>& items) override;
  std::optional<kvtengine::IntakeItem> TakeIntake(const std::string& archive) override;
  void LeaveIntake(std::int64_t id) override;
  void FileIntake(std::int64_t id, std::int32_t document) override;
  std::vector<kvtengine::IntakeItem> IntakeLedger(const std::string& archive) override;
  std::int64_t IntakeWaiting(const std::string& archive) override;
  std::optional<kvtengine::IntakeItem> NextIntake(const std::string& archive) override;
  std::int64_t KeepFieldBox(const kvtengine::FieldBox& box) override;
  std::vector<kvtengine::FieldBox> FieldBoxes(const std::string& archive,
                                              const std::string& form) override;
  std::string ArchiveSetting(const std::string& archive, const std::string& name) override;
  void PutArchiveSetting(const std::string& archive, const std::string& name,
                         const std::string& value) override;
  void KeepReading(const std::string& sha256, const kvtfiles::FileReading& reading) override;
  std::int32_t IndexWords(std::int32_t after, std::int32_t count) override;
  bool FindReading(const std::string& sha256, kvtfiles::FileReading& reading) override;
  std::vector<std::string> FilesToRead(const std::string& reader, const std::string& after,
                                       int limit) override;
  /// The folder beside the database that holds its documents' files.
  FileFolder Files() const;
  std::int32_t CopyDocument(const std::string& archive,
                            const kvtengine::StoredDocument& document) override;
  std::vector<std::pair<std::string, std::string>> ListScripts() override;
  std::vector<LearntValue> ListLearnt() override;
  void PutLearnt(const LearntValue& learnt) override;

 protected:
  const char* Source() const override { return kSource; }
  ArchiveRead ReadArchive(const std::string& archive) override;
  std::vector<std::string> ReadFieldNames(const std::string& archive) override;
  std::shared_ptr<kvt::RecordSet> ReadDefinition(const std::string& archive,
                                                 const std::string& field) override;
  std::shared_ptr<kvt::RecordSet> ReadLayout(const std::string& archive, const std::string& field,
                                             const std::string& form) override;
  std::unordered_map<std::string, std::vector<kvt::Variant>> ReadLayouts(
      const std::string& archive, const std::string& form) override;
  std::shared_ptr<kvt::RecordSet> ReadCodes(const kvtengine::CodeFilter& filter) override;
  void WriteCode(const std::string& archive, const std::string& field, const std::string& code,
                 const std::string& description) override;
  void EraseCode(const std::string& archive, const std::string& field,
                 const std::string& code) override;
  std::int32_t WriteChange(std::int32_t id, std::int32_t base,
                           const std::vector<std::pair<std::string, kvt::Variant>>* values,
                           kvtengine::Change how) override;

 private:
  // A document's values as its row holds them, and the keys of those that have one.
  struct Packed {
    std::string content, search_keys;
    std::vector<std::pair<std::string, std::string>> keys;  // field, key
  };
  Packed Pack(const std::string& archive,
              const std::vector<std::pair<std::string, kvt::Variant>>& values);
  // Writes the document's key entries and notes its field names.
  void PutKeys(std::int32_t id, const Packed& packed,
               const std::vector<std::pair<std::string, kvt::Variant>>& values);
  // Removes the key entries of the document as its row holds them now.
  void DropKeys(std::int32_t id);
  // Makes the document's searched words anew from the readings of the files it names.
  void IndexWords(std::int64_t document);
  // Whether a search of fields and words reads the words' index first.
  bool WordsFirst(const std::string& archive,
                  const std::vector<kvtengine::KeyCondition>& conditions);
  std::map<std::string, std::int64_t> counted_;  // WordsFirst's counts, by their SQL
  // Moves a taken intake item to `state`; raises when it is not taken.
  void MoveIntake(std::int64_t id, const char* state, std::int32_t document);
  // The document's values in their order (none when it has no row).
  std::vector<std::pair<std::string, kvt::Variant>> StoredValues(std::int32_t id);
  // A row of the history: a version replaced, a value a change replaced.
  void PutVersion(std::int32_t id, const std::string& archive, const kvtengine::VersionInfo& v);
  void PutChange(std::int32_t id, const HistoryRows::Changed& c);
  std::int32_t InsertDocument(const std::string& archive, const std::string& saved_at,
                              const std::vector<std::pair<std::string, kvt::Variant>>& values);
  // The documents a read covers: one, an archive's, or every one.
  struct Scope {
    std::optional<std::int64_t> id = std::nullopt;
    std::optional<std::string> archive = std::nullopt;
  };
  // Runs a read of `scope`. A file from elsewhere may hold a row this engine never writes (not
  // JSON, no object, a field twice, a number out of range, a text too long to read): a failure
  // it explains is said naming that document, not SQLite's words about the whole read.
  template <class F>
  auto Reading(const Scope& scope, F&& read) -> decltype(read()) {
    try {
      return read();
    } catch (const kvt::Error& e) {
      if (e.Number() == kvt::kObjectErrorBase + kDatabaseError) ThrowIfDamaged(scope);
      throw;
    }
  }
  // Raises kDatabaseError naming the first damaged document of `scope`; returns when none is.
  void ThrowIfDamaged(const Scope& scope);
  // Raises it for document `id`, found damaged while reading: why, when the row says it.
  [[noreturn]] void Damaged(std::int64_t id);
  std::shared_ptr<Database> db_;
  std::shared_ptr<kvtsqlite::Connection> connection_;
  bool ever_opened_ = false;
  std::string user_;                 // who saves: the operating system's user
  std::vector<std::string> sealed_;  // files named by the open transaction's new rows
  std::int64_t earlier_trips_ = 0;   // those of databases open before
  // Field names known to be in document_fields (committed, or in the open transaction).
  std::unordered_set<std::string> noted_fields_;
};

/// The name the archive application's code knows this engine by.
using DBEngine = SqliteEngine;

/// Registers "kvtDBEngine.DBEngine" with the class registry (a new engine has no database).
void RegisterEngineClass();

}  // namespace kvtsqlite
