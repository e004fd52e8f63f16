// An engine that passes every call on to another one, after telling itself which call it is.
// The base for engines that watch calls: a test's engine that fails the N-th call, a program's
// that counts what a form or a save costs. Not part of the component.
#pragma once

#include <memory>

#include "engine/common/archive_engine.h"

namespace kvtengine {

class ForwardingEngine : public ArchiveEngine {
  KVT_OBJECT()

 public:
  explicit ForwardingEngine(std::shared_ptr<ArchiveEngine> inner) : inner_(std::move(inner)) {}
  /// The engine every call goes to.
  ArchiveEngine& Inner() const { return *inner_; }

  std::shared_ptr<kvtfields::IDBConnection> Connection() override;
  kvt::Variant GetScript(const std::string& script_set) override;
  std::string Where() const override { return inner_->Where(); }
  Rights AccountRights() override { return inner_->AccountRights(); }
  std::string WhyUnstorable(std::string_view text) const override {
    return inner_->WhyUnstorable(text);
  }
  void PutField(const FieldDefinition& field) override;
  void PutLayout(const FieldLayout& layout) override;
  void PutScript(const std::string& script_set, const std::string& source) override;
  bool HasArchive(const std::string& archive) override;
  void DeleteArchive(const std::string& archive) override;
  std::vector<std::string> ListArchives() override;
  std::vector<std::string> ListAllArchives() override;
  std::vector<std::string> ListForms(const std::string& archive) override;
  void Transaction(const std::function<void()>& work) override;
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
                 const std::vector<IntakeItem>& items) override;
  std::optional<IntakeItem> TakeIntake(const std::string& archive) override;
  void LeaveIntake(std::int64_t id) override;
  void FileIntake(std::int64_t id, std::int32_t document) override;
  std::vector<IntakeItem> IntakeLedger(const std::string& archive) override;
  std::int64_t IntakeWaiting(const std::string& archive) override;
  std::optional<IntakeItem> NextIntake(const std::string& archive) override;
  std::int64_t KeepFieldBox(const FieldBox& box) override;
  std::vector<FieldBox> FieldBoxes(const std::string& archive, const std::string& form) override;
  std::string ArchiveSetting(const std::string& archive, const std::string& name) override;
  void PutArchiveSetting(const std::string& archive, const std::string& name,
                         const std::string& value) override;
  void KeepReading(const std::string& sha256, const kvtfiles::FileReading& reading) override;
  std::int32_t IndexWords(std::int32_t after, std::int32_t count) override;
  bool FindReading(const std::string& sha256, kvtfiles::FileReading& reading) override;
  std::vector<std::string> FilesToRead(const std::string& reader, const std::string& after,
                                       int limit) override;
  std::int32_t SaveDocument(const std::string& archive, const kvt::ObjectRef& values) override;
  std::int32_t DocumentCount(const std::string& archive) override;
  kvt::ObjectRef LoadDocument(std::int32_t id) override;
  kvt::ObjectRef LoadDocumentAt(std::int32_t id, VersionInfo& version) override;
  VersionInfo CurrentVersion(std::int32_t id) override;
  std::vector<std::pair<std::int32_t, VersionInfo>> DeletedDocuments(
      const std::string& archive) override;
  HistoryRows ReadHistory(std::int32_t id) override;
  void WriteHistory(std::int32_t id, const HistoryRows& rows) override;
  void ReadDocuments(const std::string& archive,
                     const std::function<void(StoredDocument&& document)>& each) override;
  void ReadDocumentTexts(const std::string& archive,
                         const std::function<void(const DocumentText& document)>& each) override;
  std::vector<std::string> DocumentFieldNames(const std::string& archive) override;
  std::vector<std::string> StoredFieldNames() override;
  std::vector<std::int32_t> FindDocuments(
      const std::string& archive,
      const std::vector<std::pair<std::string, kvt::Variant>>& equal) override;
  std::vector<StoredDocument> ListDocuments(const std::string& archive) override;
  std::vector<std::int32_t> SearchDocuments(const std::string& archive,
                                            const std::vector<Criterion>& criteria,
                                            std::int32_t after, std::int32_t limit) override;
  std::int64_t CountDocuments(const std::string& archive,
                              const std::vector<Criterion>& criteria) override;
  void ReadDocumentsById(const std::vector<std::int32_t>& ids,
                         const std::function<void(StoredDocument&& document)>& each) override;
  std::int64_t RoundTrips() const override { return inner_->RoundTrips(); }
  std::int32_t CopyDocument(const std::string& archive, const StoredDocument& document) override;
  std::vector<std::pair<std::string, std::string>> ListScripts() override;
  std::vector<LearntValue> ListLearnt() override;
  void PutLearnt(const LearntValue& learnt) override;

 protected:
  /// Called before each call is passed on, with the call's name; may raise to fail it.
  virtual void Before(const char* call) { (void)call; }

  const char* Source() const override { return inner_->Source(); }
  ArchiveRead ReadArchive(const std::string& archive) override;
  std::vector<std::string> ReadFieldNames(const std::string& archive) override;
  std::shared_ptr<kvt::RecordSet> ReadDefinition(const std::string& archive,
                                                 const std::string& field) override;
  std::shared_ptr<kvt::RecordSet> ReadLayout(const std::string& archive, const std::string& field,
                                             const std::string& form) override;
  std::unordered_map<std::string, std::vector<kvt::Variant>> ReadLayouts(
      const std::string& archive, const std::string& form) override;
  std::shared_ptr<kvt::RecordSet> ReadCodes(const CodeFilter& filter) override;
  void WriteCode(const std::string& archive, const std::string& field, const std::string& code,
                 const std::string& description) override;
  void EraseCode(const std::string& archive, const std::string& field,
                 const std::string& code) override;
  std::int32_t WriteChange(std::int32_t id, std::int32_t base,
                           const std::vector<std::pair<std::string, kvt::Variant>>* values,
                           Change how) override;

 private:
  std::shared_ptr<ArchiveEngine> inner_;
};

}  // namespace kvtengine
