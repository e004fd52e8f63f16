// The database engine on PostgreSQL: the archives, code lists, autocomplete values, scripts
// and documents of an office in one database that several people type into at once. Every
// write is one transaction; adding a code or learning a value that another person adds at the
// same moment succeeds for both.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/common/archive_engine.h"
#include "engine/common/document_search.h"
#include "engine/common/lookup_worker.h"
#include "engine/postgresql/pg_database.h"
#include "kvtfields/contracts/autocomplete_store.h"

namespace kvtpg {

/// What the connection hands out as AdoConnection: the database, which is also the
/// autocomplete store.
class PgStore final : public kvt::Object, public kvtfields::IAutoCompleteStore {
  KVT_OBJECT()

 public:
  /// `worker` answers lookups in the background for a window system with a loop (may be null).
  explicit PgStore(std::shared_ptr<PgDatabase> db,
                   std::shared_ptr<kvtengine::LookupWorker> worker = nullptr)
      : db_(std::move(db)), worker_(std::move(worker)) {}
  std::string Where() const { return db_->Where(); }
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
  std::shared_ptr<PgDatabase> db_;
  std::shared_ptr<kvtengine::LookupWorker> worker_;
};

class PgConnection final : public kvtfields::IDBConnection {
  KVT_OBJECT()

 public:
  explicit PgConnection(std::shared_ptr<PgDatabase> db);
  kvt::Variant AdoConnection() override;
  bool IsOpen() override { return true; }

 private:
  std::shared_ptr<PgDatabase> db_;
  std::shared_ptr<kvtengine::LookupWorker> worker_;  // its own connection to the same database
};

class PgEngine final : public kvtengine::ArchiveEngine {
  KVT_OBJECT()

 public:
  /// Connects (libpq connection string); see PgDatabase::Open for `create`.
  static std::shared_ptr<PgEngine> Open(const std::string& conninfo, bool create = true);
  std::string WhyUnstorable(std::string_view text) const override {
    return kvtpg::WhyUnstorable(text);
  }
  explicit PgEngine(std::shared_ptr<PgDatabase> db);

  std::shared_ptr<kvtfields::IDBConnection> Connection() override { return connection_; }
  std::string Where() const override { return db_->Where(); }
  Rights AccountRights() override;
  /// The office's roles on this database, made or brought up to date in one transaction:
  /// kvt_designer changes everything, kvt_clerk documents, their history, codes and learnt
  /// values and reads the rest, kvt_reader reads; PUBLIC keeps nothing. The account needs
  /// CREATEROLE and must own the tables.
  void SetUpRoles();
  /// Gives `user` (an existing login) one of the roles ("kvt_designer", "kvt_clerk",
  /// "kvt_reader"), taking away the other two; another role name raises 5.
  void GrantRole(const std::string& user, const std::string& role);
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
  std::vector<std::pair<std::int32_t, kvtengine::VersionInfo>> DeletedDocuments(
      const std::string& archive) override;
  HistoryRows ReadHistory(std::int32_t id) override;
  void WriteHistory(std::int32_t id, const HistoryRows& rows) override;
  void ReadDocuments(
      const std::string& archive,
      const std::function<void(kvtengine::StoredDocument&& document)>& each) override;
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
  void ListFiles(const std::function<void(const kvtfiles::StoredFile&)>& each) override;
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
  // The archive of a stored or deleted document (9 when never stored): remembered, as a
  // document never moves, so that a correction costs one trip.
  std::string ArchiveOf(std::int32_t id);
  void Remember(std::int32_t id, const std::string& archive);
  // A document's fields, values and search keys as three text[] parameters for unnest().
  std::vector<Param> Arrays(const std::string& archive,
                            const std::vector<std::pair<std::string, kvt::Variant>>& values);
  std::int32_t InsertDocument(const std::string& archive, const std::string& saved_at,
                              const std::vector<std::pair<std::string, kvt::Variant>>& values);
  // Runs a search's SQL: planned anew for its words when it has words.
  Result SearchResult(const std::vector<kvtengine::Criterion>& criteria,
                      const kvtengine::SearchSql& sql);
  std::shared_ptr<PgDatabase> db_;
  std::shared_ptr<PgConnection> connection_;
  std::unordered_map<std::int32_t, std::string> archives_;  // of documents read or written
};

}  // namespace kvtpg
