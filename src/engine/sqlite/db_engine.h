// The database engine on SQLite: field definitions, layouts, code lists, autocomplete values,
// scripts and saved documents in one database file.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/sqlite/database.h"
#include "kvtfields/contracts/autocomplete_store.h"
#include "kvtfields/contracts/db_engine.h"
#include "kvtfields/contracts/script_source.h"
#include "runtime/dictionary.h"

namespace kvtsqlite {

inline constexpr const char* kEngineProgId = "kvtDBEngine.DBEngine";

/// What the engine hands out as the connection's AdoConnection: the open database, which is
/// also the autocomplete store.
class DatabaseHandle final : public kvt::Object, public kvtfields::IAutoCompleteStore {
  KVT_OBJECT()

 public:
  explicit DatabaseHandle(std::shared_ptr<Database> db) : db_(std::move(db)) {}
  const std::shared_ptr<Database>& Get() const { return db_; }
  std::string Path() const { return db_->Path(); }

  void Learn(const std::string& table, const std::string& key, const std::string& value) override;
  std::vector<std::string> LookUp(const std::string& table, const std::string& key,
                                  const std::function<bool(std::string_view)>& wanted,
                                  std::size_t limit) override;
  void Forget(const std::string& table, const std::string& key, const std::string& value) override;

 private:
  std::shared_ptr<Database> db_;
};

class Connection final : public kvtfields::IDBConnection {
  KVT_OBJECT()

 public:
  kvt::Variant AdoConnection() override;
  bool IsOpen() override { return db_ != nullptr; }
  void Attach(std::shared_ptr<Database> db) { db_ = std::move(db); }

 private:
  std::shared_ptr<Database> db_;
};

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

class DBEngine final : public kvtfields::IDBEngine, public kvtfields::IScriptSource {
  KVT_OBJECT()

 public:
  DBEngine();
  /// An engine with the database at `path` open; `create` makes a missing or empty file a new
  /// database, otherwise only an existing one opens.
  static std::shared_ptr<DBEngine> Open(const std::string& path, bool create = true);

  /// Opens a database file, replacing the one open before; on failure nothing changes.
  void OpenDatabase(const std::string& path, std::optional<bool> create = true);
  /// Closes the database: the connection then answers IsOpen False.
  void CloseDatabase();
  /// The open database; raises kNoDatabase when none is.
  Database& Db() const;

  // The engine operations of the component's contract.
  std::shared_ptr<kvtfields::IDBConnection> Connection() override;
  void AddCode(const std::string& archive, const std::string& field_name, const std::string& code,
               const std::string& description) override;
  void DeleteCode(const std::string& archive, const std::string& field_name,
                  const std::string& code) override;
  std::vector<std::string> GetFormFields(const std::string& archive) override;
  std::shared_ptr<kvt::RecordSet> GetFieldDefinition(const std::string& archive,
                                                     const std::string& field_name) override;
  kvt::Variant GetFieldVisualProperties(const std::string& archive, const std::string& field_name,
                                        const std::string& form_name) override;
  std::shared_ptr<kvt::RecordSet> GetCodeList(const std::string& filter) override;

  // Maintenance of definitions, layouts and scripts.
  /// Adds or replaces a field; a new field goes after the archive's last one.
  void PutField(const FieldDefinition& field);
  void PutLayout(const FieldLayout& layout);
  void PutScript(const std::string& script_set, const std::string& source);
  /// The script of a set, or Null when the set has none.
  kvt::Variant GetScript(const std::string& script_set) override;
  /// True when the archive has at least one field.
  bool HasArchive(const std::string& archive);
  /// Removes an archive's definitions, layouts, code lists and script (not its documents).
  void DeleteArchive(const std::string& archive);
  /// The archives that have fields, in name order.
  std::vector<std::string> ListArchives();
  /// The forms that have a layout for the archive's fields, in name order.
  std::vector<std::string> ListForms(const std::string& archive);
  /// Runs several changes as one transaction; inside another one, as part of it.
  void Transaction(const std::function<void()>& work);

  // Documents saved by a host.
  /// Stores one document's values (field name → value); returns its id.
  std::int32_t SaveDocument(const std::string& archive, const kvt::ObjectRef& values);
  std::int32_t DocumentCount(const std::string& archive);
  /// The values of a stored document as a Dictionary; an unknown id raises 9.
  kvt::ObjectRef LoadDocument(std::int32_t id);
  /// Replaces the values of a stored document, in one transaction; an unknown id raises 9 and
  /// changes nothing.
  void UpdateDocument(std::int32_t id, const kvt::ObjectRef& values);
  /// One stored document with its values in field order.
  struct StoredDocument {
    std::int32_t id = 0;
    std::string saved_at;  // UTC, ISO 8601
    std::vector<std::pair<std::string, kvt::Variant>> values;
  };
  /// The archive's stored documents, oldest first, read in one query.
  std::vector<StoredDocument> ListDocuments(const std::string& archive);

 private:
  void InsertValues(std::int32_t id, const kvt::Dictionary& values);
  std::shared_ptr<Database> db_;
  std::shared_ptr<kvtsqlite::Connection> connection_;
  bool ever_opened_ = false;
};

/// Registers "kvtDBEngine.DBEngine" with the class registry (a new engine has no database).
void RegisterEngineClass();

}  // namespace kvtsqlite
