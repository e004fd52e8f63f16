#include "engine/common/forwarding_engine.h"

#include "runtime/class_builder.h"

namespace kvtengine {

const kvt::ClassInfo& ForwardingEngine::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<ForwardingEngine> b("ForwardingEngine");
    kvtfields::IDBEngine::Describe(b);
    return ArchiveEngine::Describe(b).Build();
  }();
  return info;
}

std::shared_ptr<kvtfields::IDBConnection> ForwardingEngine::Connection() {
  Before("Connection");
  return inner_->Connection();
}
kvt::Variant ForwardingEngine::GetScript(const std::string& script_set) {
  Before("GetScript");
  return inner_->GetScript(script_set);
}
void ForwardingEngine::PutField(const FieldDefinition& field) {
  Before("PutField");
  DropSnapshot();
  inner_->PutField(field);
}
void ForwardingEngine::PutLayout(const FieldLayout& layout) {
  Before("PutLayout");
  DropSnapshot();
  inner_->PutLayout(layout);
}
void ForwardingEngine::PutScript(const std::string& script_set, const std::string& source) {
  Before("PutScript");
  inner_->PutScript(script_set, source);
}
bool ForwardingEngine::PutFile(const std::function<std::string_view()>& next,
                               const std::function<kvtfiles::StoredFile()>& seal) {
  Before("PutFile");
  return inner_->PutFile(next, seal);
}
bool ForwardingEngine::FindFile(const std::string& sha256, kvtfiles::StoredFile& file) {
  Before("FindFile");
  return inner_->FindFile(sha256, file);
}
void ForwardingEngine::ReadFilePieces(const std::string& sha256,
                                      const std::function<void(std::string_view piece)>& each) {
  Before("ReadFilePieces");
  inner_->ReadFilePieces(sha256, each);
}
void ForwardingEngine::ListFiles(const std::function<void(const kvtfiles::StoredFile&)>& each) {
  Before("ListFiles");
  inner_->ListFiles(each);
}
void ForwardingEngine::ReadFileBuffers(const std::string& sha256,
                                       const std::function<std::string()>& spare,
                                       const std::function<void(std::string&& piece)>& each) {
  Before("ReadFileBuffers");
  inner_->ReadFileBuffers(sha256, spare, each);
}
std::int64_t ForwardingEngine::CollectOrphanFiles() {
  Before("CollectOrphanFiles");
  return inner_->CollectOrphanFiles();
}
bool ForwardingEngine::PutIntake(const std::string& archive, const std::string& sha256,
                                 const std::vector<IntakeItem>& items) {
  Before("PutIntake");
  return inner_->PutIntake(archive, sha256, items);
}
std::optional<IntakeItem> ForwardingEngine::TakeIntake(const std::string& archive) {
  Before("TakeIntake");
  return inner_->TakeIntake(archive);
}
void ForwardingEngine::LeaveIntake(std::int64_t id) {
  Before("LeaveIntake");
  inner_->LeaveIntake(id);
}
void ForwardingEngine::FileIntake(std::int64_t id, std::int32_t document) {
  Before("FileIntake");
  inner_->FileIntake(id, document);
}
std::vector<IntakeItem> ForwardingEngine::IntakeLedger(const std::string& archive) {
  Before("IntakeLedger");
  return inner_->IntakeLedger(archive);
}

std::int64_t ForwardingEngine::IntakeWaiting(const std::string& archive) {
  Before("IntakeWaiting");
  return inner_->IntakeWaiting(archive);
}
std::optional<IntakeItem> ForwardingEngine::NextIntake(const std::string& archive) {
  Before("NextIntake");
  return inner_->NextIntake(archive);
}

std::int64_t ForwardingEngine::KeepFieldBox(const FieldBox& box) {
  Before("KeepFieldBox");
  return inner_->KeepFieldBox(box);
}

std::vector<FieldBox> ForwardingEngine::FieldBoxes(const std::string& archive,
                                                   const std::string& form) {
  Before("FieldBoxes");
  return inner_->FieldBoxes(archive, form);
}
std::string ForwardingEngine::ArchiveSetting(const std::string& archive, const std::string& name) {
  Before("ArchiveSetting");
  return inner_->ArchiveSetting(archive, name);
}
void ForwardingEngine::PutArchiveSetting(const std::string& archive, const std::string& name,
                                         const std::string& value) {
  Before("PutArchiveSetting");
  inner_->PutArchiveSetting(archive, name, value);
}
void ForwardingEngine::KeepReading(const std::string& sha256,
                                   const kvtfiles::FileReading& reading) {
  Before("KeepReading");
  inner_->KeepReading(sha256, reading);
}
bool ForwardingEngine::FindReading(const std::string& sha256, kvtfiles::FileReading& reading) {
  Before("FindReading");
  return inner_->FindReading(sha256, reading);
}
std::int32_t ForwardingEngine::IndexWords(std::int32_t after, std::int32_t count) {
  Before("IndexWords");
  return inner_->IndexWords(after, count);
}

std::vector<std::string> ForwardingEngine::FilesToRead(const std::string& reader,
                                                       const std::string& after, int limit) {
  Before("FilesToRead");
  return inner_->FilesToRead(reader, after, limit);
}
bool ForwardingEngine::HasArchive(const std::string& archive) {
  Before("HasArchive");
  return inner_->HasArchive(archive);
}
void ForwardingEngine::DeleteArchive(const std::string& archive) {
  Before("DeleteArchive");
  DropSnapshot();
  inner_->DeleteArchive(archive);
}
std::vector<std::string> ForwardingEngine::ListArchives() {
  Before("ListArchives");
  return inner_->ListArchives();
}
std::vector<std::string> ForwardingEngine::ListAllArchives() {
  Before("ListAllArchives");
  return inner_->ListAllArchives();
}
std::vector<std::string> ForwardingEngine::ListForms(const std::string& archive) {
  Before("ListForms");
  return inner_->ListForms(archive);
}
void ForwardingEngine::Transaction(const std::function<void()>& work) {
  Before("Transaction");
  try {
    inner_->Transaction(work);
  } catch (...) {
    DropSnapshot();  // what it answers from may have been rolled back
    throw;
  }
}
std::int32_t ForwardingEngine::SaveDocument(const std::string& archive,
                                            const kvt::ObjectRef& values) {
  Before("SaveDocument");
  return inner_->SaveDocument(archive, values);
}
std::int32_t ForwardingEngine::DocumentCount(const std::string& archive) {
  Before("DocumentCount");
  return inner_->DocumentCount(archive);
}
kvt::ObjectRef ForwardingEngine::LoadDocument(std::int32_t id) {
  Before("LoadDocument");
  return inner_->LoadDocument(id);
}
kvt::ObjectRef ForwardingEngine::LoadDocumentAt(std::int32_t id, VersionInfo& version) {
  Before("LoadDocumentAt");
  return inner_->LoadDocumentAt(id, version);
}
VersionInfo ForwardingEngine::CurrentVersion(std::int32_t id) {
  Before("CurrentVersion");
  return inner_->CurrentVersion(id);
}
std::vector<std::pair<std::int32_t, VersionInfo>> ForwardingEngine::DeletedDocuments(
    const std::string& archive) {
  Before("DeletedDocuments");
  return inner_->DeletedDocuments(archive);
}
ArchiveEngine::HistoryRows ForwardingEngine::ReadHistory(std::int32_t id) {
  Before("ReadHistory");
  return inner_->ReadHistory(id);
}
void ForwardingEngine::WriteHistory(std::int32_t id, const HistoryRows& rows) {
  Before("WriteHistory");
  inner_->WriteHistory(id, rows);
}
std::int32_t ForwardingEngine::WriteChange(
    std::int32_t id, std::int32_t base,
    const std::vector<std::pair<std::string, kvt::Variant>>* values, Change how) {
  Before("WriteChange");
  return inner_->WriteChange(id, base, values, how);
}

void ForwardingEngine::ReadDocuments(const std::string& archive,
                                     const std::function<void(StoredDocument&& document)>& each) {
  Before("ReadDocuments");
  inner_->ReadDocuments(archive, each);
}

std::vector<std::string> ForwardingEngine::DocumentFieldNames(const std::string& archive) {
  Before("DocumentFieldNames");
  return inner_->DocumentFieldNames(archive);
}

std::vector<std::int32_t> ForwardingEngine::FindDocuments(
    const std::string& archive, const std::vector<std::pair<std::string, kvt::Variant>>& equal) {
  Before("FindDocuments");
  return inner_->FindDocuments(archive, equal);
}
std::vector<std::int32_t> ForwardingEngine::SearchDocuments(const std::string& archive,
                                                            const std::vector<Criterion>& criteria,
                                                            std::int32_t after,
                                                            std::int32_t limit) {
  Before("SearchDocuments");
  return inner_->SearchDocuments(archive, criteria, after, limit);
}
std::int64_t ForwardingEngine::CountDocuments(const std::string& archive,
                                              const std::vector<Criterion>& criteria) {
  Before("CountDocuments");
  return inner_->CountDocuments(archive, criteria);
}
void ForwardingEngine::ReadDocumentTexts(
    const std::string& archive, const std::function<void(const DocumentText& document)>& each) {
  Before("ReadDocumentTexts");
  inner_->ReadDocumentTexts(archive, each);
}

void ForwardingEngine::ReadDocumentsById(
    const std::vector<std::int32_t>& ids,
    const std::function<void(StoredDocument&& document)>& each) {
  Before("ReadDocumentsById");
  inner_->ReadDocumentsById(ids, each);
}
std::vector<std::string> ForwardingEngine::StoredFieldNames() {
  Before("StoredFieldNames");
  return inner_->StoredFieldNames();
}
std::vector<StoredDocument> ForwardingEngine::ListDocuments(const std::string& archive) {
  Before("ListDocuments");
  return inner_->ListDocuments(archive);
}
std::int32_t ForwardingEngine::CopyDocument(const std::string& archive,
                                            const StoredDocument& document) {
  Before("CopyDocument");
  return inner_->CopyDocument(archive, document);
}
std::vector<std::pair<std::string, std::string>> ForwardingEngine::ListScripts() {
  Before("ListScripts");
  return inner_->ListScripts();
}
std::vector<ArchiveEngine::LearntValue> ForwardingEngine::ListLearnt() {
  Before("ListLearnt");
  return inner_->ListLearnt();
}
void ForwardingEngine::PutLearnt(const LearntValue& learnt) {
  Before("PutLearnt");
  inner_->PutLearnt(learnt);
}
ArchiveEngine::ArchiveRead ForwardingEngine::ReadArchive(const std::string& archive) {
  Before("ReadArchive");
  return inner_->ReadArchive(archive);
}
std::vector<std::string> ForwardingEngine::ReadFieldNames(const std::string& archive) {
  Before("ReadFieldNames");
  return inner_->ReadFieldNames(archive);
}
std::shared_ptr<kvt::RecordSet> ForwardingEngine::ReadDefinition(const std::string& archive,
                                                                 const std::string& field) {
  Before("ReadDefinition");
  return inner_->ReadDefinition(archive, field);
}
std::shared_ptr<kvt::RecordSet> ForwardingEngine::ReadLayout(const std::string& archive,
                                                             const std::string& field,
                                                             const std::string& form) {
  Before("ReadLayout");
  return inner_->ReadLayout(archive, field, form);
}
std::unordered_map<std::string, std::vector<kvt::Variant>> ForwardingEngine::ReadLayouts(
    const std::string& archive, const std::string& form) {
  Before("ReadLayouts");
  return inner_->ReadLayouts(archive, form);
}
std::shared_ptr<kvt::RecordSet> ForwardingEngine::ReadCodes(const CodeFilter& filter) {
  Before("ReadCodes");
  return inner_->ReadCodes(filter);
}
void ForwardingEngine::WriteCode(const std::string& archive, const std::string& field,
                                 const std::string& code, const std::string& description) {
  Before("WriteCode");
  inner_->WriteCode(archive, field, code, description);
}
void ForwardingEngine::EraseCode(const std::string& archive, const std::string& field,
                                 const std::string& code) {
  Before("EraseCode");
  inner_->EraseCode(archive, field, code);
}

}  // namespace kvtengine
