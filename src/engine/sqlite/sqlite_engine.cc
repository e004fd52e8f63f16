#include "engine/sqlite/sqlite_engine.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <unordered_set>

#include "engine/files/pieces.h"
#include "runtime/class_builder.h"
#include "runtime/class_registry.h"
#include "runtime/platform.h"
#include "runtime/text.h"

namespace kvtsqlite {
namespace {

// A number a row holds where the engine keeps 32 bits (an id, a version, a position): one out of
// range was not written by it, and is refused rather than taken for another.
std::int32_t Number32(std::int64_t n) {
  if (n < 1 || n > std::numeric_limits<std::int32_t>::max()) {
    throw EngineError(kDatabaseError, "a number out of range: " + std::to_string(n));
  }
  return static_cast<std::int32_t>(n);
}

// A value of json_each over a document's row: a name (a text key), else the row is no object
// (an array's keys are numbers, a single value has none).
bool NamedValue(const Statement& q, int key_column) {
  return q.ColumnType(key_column) == SQLITE_TEXT;
}

// The first column of every row, as text.
std::vector<std::string> Texts(Statement& q) {
  std::vector<std::string> out;
  while (q.Step()) out.push_back(q.ColumnText(0));
  return out;
}

// A search query with its parameters bound.
Statement Prepared(Database& db, const kvtengine::SearchSql& sql) {
  auto q = db.Query(sql.sql);
  for (std::size_t i = 0; i < sql.params.size(); ++i) {
    q.Bind(static_cast<int>(i + 1), sql.params[i]);
  }
  return q;
}

}  // namespace

const kvt::ClassInfo& DatabaseHandle::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<DatabaseHandle>("SqliteDatabase")
                                         .Get<&DatabaseHandle::Path>("Path")
                                         .Build();
  return info;
}

const kvt::ClassInfo& Connection::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<Connection> b("Connection");
    return kvtfields::IDBConnection::Describe(b).Build();
  }();
  return info;
}

void DatabaseHandle::Learn(const std::string& table, const std::string& key,
                           const std::string& value) {
  const std::string t = kvtengine::QuotedStoreTable(table, kSource);
  db_->Query("INSERT INTO " + t +
             " (key, value, uses, last_used, folded) VALUES (?1, ?2, 1, (SELECT "
             "coalesce(max(last_used), 0) + 1 FROM " +
             t +
             "), ?3) ON CONFLICT (key, value) DO UPDATE SET uses = uses + 1, last_used = "
             "excluded.last_used")
      .Bind(1, key)
      .Bind(2, value)
      .Bind(3, kvt::ToLower(value))
      .Run();
}

std::vector<std::string> DatabaseHandle::StartingWith(const std::string& table,
                                                      const std::string& key,
                                                      const std::string& prefix, bool match_case,
                                                      std::size_t limit) {
  // A range of the index: the values starting with the prefix lie between it and it followed
  // by the highest character.
  const std::string column = match_case ? "value" : "folded";
  auto q = db_->Query("SELECT value FROM " + kvtengine::QuotedStoreTable(table, kSource) +
                      " WHERE key = ?1 AND " + column + " >= ?2 AND " + column +
                      " < ?3 ORDER BY uses DESC, last_used DESC, value LIMIT ?4");
  const std::string low = match_case ? prefix : kvt::ToLower(prefix);
  q.Bind(1, key)
      .Bind(2, low)
      .Bind(3, low + "\xf4\x8f\xbf\xbf")
      .Bind(4, static_cast<std::int64_t>(limit));
  return Texts(q);
}

std::vector<std::string> DatabaseHandle::LookUp(const std::string& table, const std::string& key,
                                                const std::function<bool(std::string_view)>& wanted,
                                                std::size_t limit) {
  auto q = db_->Query("SELECT value FROM " + kvtengine::QuotedStoreTable(table, kSource) +
                      " WHERE key = ?1 ORDER BY uses DESC, last_used DESC, value");
  q.Bind(1, key);
  std::vector<std::string> out;
  while (out.size() < limit && q.Step()) {
    std::string value = q.ColumnText(0);
    if (wanted(value)) out.push_back(std::move(value));
  }
  return out;
}

void DatabaseHandle::Forget(const std::string& table, const std::string& key,
                            const std::string& value) {
  db_->Query("DELETE FROM " + kvtengine::QuotedStoreTable(table, kSource) +
             " WHERE key = ?1 AND value = ?2")
      .Bind(1, key)
      .Bind(2, value)
      .Run();
}

kvt::Variant Connection::AdoConnection() {
  if (!db_) return kvt::Variant::Nothing();
  return kvt::Variant(std::make_shared<DatabaseHandle>(db_, worker_));
}

void Connection::Attach(std::shared_ptr<Database> db) {
  worker_.reset();  // its connection is to the database before
  db_ = std::move(db);
  if (!db_) return;
  worker_ = std::make_shared<kvtengine::LookupWorker>([path = db_->Path()] {
    return std::make_shared<DatabaseHandle>(Database::Open(path, false));
  });
}

void DatabaseHandle::StartingWithLater(const std::string& table, const std::string& key,
                                       const std::string& prefix, bool match_case,
                                       std::size_t limit,
                                       std::function<void(std::vector<std::string>)> done) {
  kvtengine::AskLater(worker_.get(), *this,
                      {table, key, prefix, match_case, limit, std::move(done)}, kSource);
}

const kvt::ClassInfo& SqliteEngine::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<SqliteEngine> b("DBEngine");
    kvtfields::IDBEngine::Describe(b)
        .Method<&SqliteEngine::OpenDatabase>("OpenDatabase")
        .Params({"Path", "Create"})
        .Method<&SqliteEngine::CloseDatabase>("CloseDatabase");
    return kvtengine::ArchiveEngine::Describe(b).Build();
  }();
  return info;
}

namespace {

// Who saves into a file: the operating system's user running the program.
std::string SystemUser() {
  char buf[4096];
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(geteuid(), &entry, buf, sizeof buf, &found) == 0 && found && found->pw_name) {
    return found->pw_name;
  }
  const char* user = std::getenv("USER");
  return user ? user : "";
}

}  // namespace

SqliteEngine::SqliteEngine()
    : connection_(std::make_shared<kvtsqlite::Connection>()), user_(SystemUser()) {}

std::shared_ptr<SqliteEngine> SqliteEngine::Open(const std::string& path, bool create) {
  auto engine = std::make_shared<SqliteEngine>();
  engine->OpenDatabase(path, create);
  return engine;
}

void SqliteEngine::OpenDatabase(const std::string& path, std::optional<bool> create) {
  auto db = Database::Open(path, create.value_or(true));
  if (db_) earlier_trips_ += db_->Statements();
  db_ = db;
  noted_fields_.clear();
  connection_->Attach(std::move(db));
  ever_opened_ = true;
}

void SqliteEngine::CloseDatabase() {
  if (db_) earlier_trips_ += db_->Statements();
  db_.reset();
  noted_fields_.clear();
  connection_->Attach(nullptr);
}

Database& SqliteEngine::Db() const {
  if (!db_) throw EngineError(kNoDatabase, "no database is open");
  return *db_;
}

std::shared_ptr<kvtfields::IDBConnection> SqliteEngine::Connection() {
  // Before a database was ever opened there is no connection at all; after CloseDatabase the
  // connection stays and answers IsOpen False.
  return ever_opened_ ? connection_ : nullptr;
}

std::string SqliteEngine::Where() const {
  return db_ ? db_->Path() : std::string("no database");
}

void SqliteEngine::WriteCode(const std::string& archive, const std::string& field_name,
                             const std::string& code, const std::string& description) {
  Db().Query(
          "INSERT INTO code_lists (archive, fieldType, \"COD\", \"VALUE\") VALUES (?1, ?2, ?3, ?4) "
          "ON CONFLICT (archive, fieldType, \"COD\") DO UPDATE SET \"VALUE\" = excluded.\"VALUE\"")
      .Bind(1, archive)
      .Bind(2, field_name)
      .Bind(3, code)
      .Bind(4, description)
      .Run();
}

void SqliteEngine::EraseCode(const std::string& archive, const std::string& field_name,
                             const std::string& code) {
  Db().Query("DELETE FROM code_lists WHERE archive = ?1 AND fieldType = ?2 AND \"COD\" = ?3")
      .Bind(1, archive)
      .Bind(2, field_name)
      .Bind(3, code)
      .Run();
}

namespace {

std::vector<kvt::Variant> Row(const Statement& q, int from, int count) {
  std::vector<kvt::Variant> row;
  row.reserve(static_cast<std::size_t>(count));
  for (int i = from; i < from + count; ++i) row.push_back(q.Column(i));
  return row;
}

}  // namespace

SqliteEngine::ArchiveRead SqliteEngine::ReadArchive(const std::string& archive) {
  ArchiveRead read;
  auto q = Db().Query(std::string("SELECT cod, ") + kvtengine::kDefinitionColumnsSql +
                      " FROM field_definitions WHERE archive = ?1 ORDER BY position, cod");
  q.Bind(1, archive);
  while (q.Step()) {
    read.names.push_back(q.ColumnText(0));
    read.definitions.push_back(Row(q, 1, 12));
  }
  auto c = Db().Query(
      "SELECT fieldType, \"COD\", \"VALUE\" FROM code_lists WHERE archive = ?1 "
      "ORDER BY fieldType, \"COD\"");
  c.Bind(1, archive);
  while (c.Step()) read.codes.emplace_back(c.ColumnText(0), Row(c, 1, 2));
  return read;
}

std::vector<std::string> SqliteEngine::ReadFieldNames(const std::string& archive) {
  auto q =
      Db().Query("SELECT cod FROM field_definitions WHERE archive = ?1 ORDER BY position, cod");
  q.Bind(1, archive);
  std::vector<std::string> names;
  while (q.Step()) names.push_back(q.ColumnText(0));
  return names;
}

std::shared_ptr<kvt::RecordSet> SqliteEngine::ReadDefinition(const std::string& archive,
                                                             const std::string& field_name) {
  auto q = Db().Query(std::string("SELECT ") + kvtengine::kDefinitionColumnsSql +
                      " FROM field_definitions WHERE archive = ?1 AND cod = ?2");
  q.Bind(1, archive).Bind(2, field_name);
  return q.ToRecordSet();
}

std::shared_ptr<kvt::RecordSet> SqliteEngine::ReadLayout(const std::string& archive,
                                                         const std::string& field_name,
                                                         const std::string& form_name) {
  auto q = Db().Query(std::string("SELECT ") + kvtengine::kLayoutColumnsSql +
                      " FROM field_layouts WHERE archive = ?1 AND cod = ?2 AND form = ?3");
  q.Bind(1, archive).Bind(2, field_name).Bind(3, form_name);
  return q.ToRecordSet();
}

std::unordered_map<std::string, std::vector<kvt::Variant>> SqliteEngine::ReadLayouts(
    const std::string& archive, const std::string& form) {
  // Archive and form are the ones asked for: only the field's own columns are read.
  auto q = Db().Query(
      "SELECT cod, \"Width\", \"Height\", \"BreakLine\", \"MultiLine\", \"ShowComboLabel\" "
      "FROM field_layouts WHERE archive = ?1 AND form = ?2");
  q.Bind(1, archive).Bind(2, form);
  std::unordered_map<std::string, std::vector<kvt::Variant>> rows;
  const kvt::Variant a(archive), f(form);
  while (q.Step()) {
    std::vector<kvt::Variant> row;
    row.reserve(8);
    row.push_back(a);
    row.push_back(q.Column(0));
    row.push_back(f);
    for (int i = 1; i < 6; ++i) row.push_back(q.Column(i));
    rows.emplace(q.ColumnText(0), std::move(row));
  }
  return rows;
}

std::shared_ptr<kvt::RecordSet> SqliteEngine::ReadCodes(const kvtengine::CodeFilter& f) {
  auto q = Db().Query(f.Sql('?'));
  for (std::size_t i = 0; i < f.equals.size(); ++i) {
    q.Bind(static_cast<int>(i + 1), f.equals[i].second);
  }
  return q.ToRecordSet();
}

void SqliteEngine::PutField(const kvtengine::FieldDefinition& f) {
  DropSnapshot();
  {
    // Named, since without statistics SQLite walks every field of the archive instead.
    auto same = Db().Query(
        "SELECT cod FROM field_definitions INDEXED BY field_definitions_folded WHERE archive = ?1 "
        "AND cod <> ?2 AND lower(cod) = lower(?2)");
    same.Bind(1, f.archive).Bind(2, f.name);
    if (same.Step()) {
      throw EngineError(kBadDefinition, "archive '" + f.archive + "' already has a field '" +
                                            same.ColumnText(0) + "': '" + f.name +
                                            "' differs from it only in letter case");
    }
  }
  Db().Query(
          "INSERT INTO field_definitions (archive, cod, position, \"Label\", \"Descr\", "
          "\"MaxLen\", \"MinLen\", \"Priority\", \"IsIndex\", \"IsRequired\", \"AutoComplete\", "
          "\"DATA_FORMAT\", \"CHAR_FORMAT\", \"IsRetainInMemory\", \"Type\") VALUES (?1, ?2, "
          "(SELECT coalesce(max(position), 0) + 1 FROM field_definitions WHERE archive = ?1), "
          "?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14) "
          "ON CONFLICT (archive, cod) DO UPDATE SET \"Label\" = ?3, \"Descr\" = ?4, "
          "\"MaxLen\" = ?5, \"MinLen\" = ?6, \"Priority\" = ?7, \"IsIndex\" = ?8, "
          "\"IsRequired\" = ?9, \"AutoComplete\" = ?10, \"DATA_FORMAT\" = ?11, "
          "\"CHAR_FORMAT\" = ?12, \"IsRetainInMemory\" = ?13, \"Type\" = ?14")
      .Bind(1, f.archive)
      .Bind(2, f.name)
      .Bind(3, f.label)
      .Bind(4, f.descr)
      .Bind(5, f.max_len)
      .Bind(6, f.min_len)
      .Bind(7, f.priority)
      .Bind(8, f.is_index)
      .Bind(9, f.is_required)
      .Bind(10, f.auto_complete)
      .Bind(11, f.data_format)
      .Bind(12, f.char_format)
      .Bind(13, f.retain_in_memory)
      .Bind(14, f.type)
      .Run();
}

void SqliteEngine::PutLayout(const kvtengine::FieldLayout& l) {
  DropSnapshot();
  Db().Query(
          "INSERT OR REPLACE INTO field_layouts (archive, cod, form, \"Width\", \"Height\", "
          "\"BreakLine\", \"MultiLine\", \"ShowComboLabel\") VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, "
          "?8)")
      .Bind(1, l.archive)
      .Bind(2, l.name)
      .Bind(3, l.form)
      .Bind(4, l.width)
      .Bind(5, l.height)
      .Bind(6, l.break_line)
      .Bind(7, l.multi_line)
      .Bind(8, l.show_combo_label)
      .Run();
}

void SqliteEngine::PutScript(const std::string& script_set, const std::string& source) {
  Db().Query("INSERT OR REPLACE INTO scripts (script_set, source) VALUES (?1, ?2)")
      .Bind(1, script_set)
      .Bind(2, source)
      .Run();
}

kvt::Variant SqliteEngine::GetScript(const std::string& script_set) {
  auto q = Db().Query("SELECT source FROM scripts WHERE script_set = ?1");
  q.Bind(1, script_set);
  return q.Step() ? kvt::Variant(q.ColumnText(0)) : kvt::Variant::Null();
}

bool SqliteEngine::HasArchive(const std::string& archive) {
  auto q = Db().Query("SELECT 1 FROM field_definitions WHERE archive = ?1 LIMIT 1");
  q.Bind(1, archive);
  return q.Step();
}

void SqliteEngine::DeleteArchive(const std::string& archive) {
  DropSnapshot();
  for (const char* table : {"field_definitions", "field_layouts", "code_lists"}) {
    Db().Query("DELETE FROM " + std::string(table) + " WHERE archive = ?1").Bind(1, archive).Run();
  }
  Db().Query("DELETE FROM scripts WHERE script_set = ?1").Bind(1, archive).Run();
}

std::vector<std::string> SqliteEngine::ListArchives() {
  auto q = Db().Query("SELECT DISTINCT archive FROM field_definitions ORDER BY archive");
  return Texts(q);
}

std::vector<std::string> SqliteEngine::ListAllArchives() {
  auto q = Db().Query(
      "SELECT archive FROM field_definitions UNION SELECT archive FROM code_lists UNION "
      "SELECT archive FROM documents ORDER BY 1");
  return Texts(q);
}

std::vector<std::string> SqliteEngine::ListForms(const std::string& archive) {
  auto q = Db().Query("SELECT DISTINCT form FROM field_layouts WHERE archive = ?1 ORDER BY form");
  q.Bind(1, archive);
  return Texts(q);
}

void SqliteEngine::Transaction(const std::function<void()>& work) {
  Database& db = Db();
  // Inside a transaction already: the work joins it, and the outer one decides.
  if (sqlite3_get_autocommit(db.Handle()) == 0) return work();
  db.Execute("BEGIN IMMEDIATE");
  sealed_.clear();
  try {
    work();
    db.Execute("COMMIT");
    sealed_.clear();
  } catch (...) {
    sqlite3_exec(db.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
    // The files only this transaction's rows named go with them.
    for (const auto& path : sealed_) ::unlink(path.c_str());
    sealed_.clear();
    DropSnapshot();         // it may hold codes the rollback took back
    noted_fields_.clear();  // and names noted in it
    throw;
  }
}

SqliteEngine::Packed SqliteEngine::Pack(
    const std::string& archive, const std::vector<std::pair<std::string, kvt::Variant>>& values) {
  Packed p;
  p.content = "{";
  p.search_keys = "{";
  std::unordered_set<std::string_view> seen;
  for (const auto& [field, value] : values) {
    if (!seen.insert(field).second) {
      throw EngineError(kDatabaseError,
                        "a document holds two values of '" + kvt::Printable(field) + "'");
    }
    if (field.find('\0') != std::string::npos) {
      throw EngineError(kDatabaseError, "a field name holds the character NUL");
    }
    if (p.content.size() > 1) p.content += ',';
    AppendJsonName(p.content, field);
    p.content += ':';
    AppendJson(p.content, value);
    if (auto key = kvtengine::SearchKey(KindOf(archive, field), value)) {
      if (p.search_keys.size() > 1) p.search_keys += ',';
      AppendJsonName(p.search_keys, field);
      p.search_keys += ':';
      AppendJsonText(p.search_keys, *key);
      p.keys.emplace_back(field, std::move(*key));
    }
  }
  p.content += '}';
  p.search_keys += '}';
  return p;
}

void SqliteEngine::PutKeys(std::int32_t id, const Packed& packed,
                           const std::vector<std::pair<std::string, kvt::Variant>>& values) {
  if (!packed.keys.empty()) {
    auto q = Db().Query("INSERT INTO document_keys (field, search, document) VALUES (?1, ?2, ?3)");
    q.Bind(3, std::int64_t{id});
    for (const auto& [field, key] : packed.keys) {
      q.Reset();
      q.Bind(1, field).Bind(2, key).Run();
    }
  }
  // The kept files the document names, so that their words find it.
  bool files = false;
  for (const auto& [field, value] : values) {
    if (!value.IsString()) continue;
    if (auto ref = kvtfiles::ParseFileRef(value.AsString())) {
      Db().Query("INSERT OR IGNORE INTO document_files (document, sha256) VALUES (?1, ?2)")
          .Bind(1, std::int64_t{id})
          .Bind(2, ref->sha256)
          .Run();
      files = true;
    }
  }
  if (files) IndexWords(id);
  for (const auto& [field, value] : values) {
    if (noted_fields_.contains(field)) continue;
    Db().Query("INSERT OR IGNORE INTO document_fields (field) VALUES (?1)").Bind(1, field).Run();
    noted_fields_.insert(field);
  }
}

void SqliteEngine::DropKeys(std::int32_t id) {
  std::vector<std::pair<std::string, std::string>> keys;
  Reading({.id = id}, [&] {
    auto q = Db().Query(
        "SELECT k.key, k.value FROM documents d, json_each(d.search_keys) k WHERE d.id = ?1");
    q.Bind(1, std::int64_t{id});
    while (q.Step()) {
      if (!NamedValue(q, 0)) Damaged(id);
      keys.emplace_back(q.ColumnText(0), kvt::CStr(ReadJsonValue(q, 1)));
    }
  });
  Db().Query("DELETE FROM document_files WHERE document = ?1").Bind(1, std::int64_t{id}).Run();
  Db().Query("DELETE FROM document_words WHERE rowid = ?1").Bind(1, std::int64_t{id}).Run();
  for (const auto& [field, key] : keys) {
    Db().Query("DELETE FROM document_keys WHERE field = ?1 AND search = ?2 AND document = ?3")
        .Bind(1, field)
        .Bind(2, key)
        .Bind(3, std::int64_t{id})
        .Run();
  }
}

std::vector<std::pair<std::string, kvt::Variant>> SqliteEngine::StoredValues(std::int32_t id) {
  std::vector<std::pair<std::string, kvt::Variant>> out;
  Reading({.id = id}, [&] {
    auto q = Db().Query(
        "SELECT v.key, v.value FROM documents d, json_each(d.content) v WHERE d.id = ?1");
    q.Bind(1, std::int64_t{id});
    std::unordered_set<std::string> named;
    while (q.Step()) {
      if (!NamedValue(q, 0) || !named.insert(q.ColumnText(0)).second) Damaged(id);
      out.emplace_back(q.ColumnText(0), ReadJsonValue(q, 1));
    }
  });
  return out;
}

std::int32_t SqliteEngine::InsertDocument(
    const std::string& archive, const std::string& saved_at,
    const std::vector<std::pair<std::string, kvt::Variant>>& values) {
  std::int32_t id = 0;
  Transaction([&] {
    const Packed packed = Pack(archive, values);
    Db().Query(
            "INSERT INTO documents (archive, saved_at, saved_by, content, search_keys) VALUES "
            "(?1, ?2, ?3, ?4, ?5)")
        .Bind(1, archive)
        .Bind(2, saved_at)
        .Bind(3, user_)
        .Bind(4, packed.content)
        .Bind(5, packed.search_keys)
        .Run();
    id = static_cast<std::int32_t>(sqlite3_last_insert_rowid(Db().Handle()));
    PutKeys(id, packed, values);
  });
  return id;
}

std::int32_t SqliteEngine::SaveDocument(const std::string& archive, const kvt::ObjectRef& values) {
  return InsertDocument(archive, kvtengine::SavedAtNow(),
                        kvtengine::DocumentValues(values, kSource)->Entries());
}

std::int32_t SqliteEngine::CopyDocument(const std::string& archive,
                                        const kvtengine::StoredDocument& document) {
  return InsertDocument(archive, document.saved_at, document.values);
}

std::int32_t SqliteEngine::DocumentCount(const std::string& archive) {
  auto q = Db().Query("SELECT count(*) FROM documents WHERE archive = ?1");
  q.Bind(1, archive);
  q.Step();
  return static_cast<std::int32_t>(q.ColumnInt(0));
}

namespace {

// Columns version, saved_at, saved_by, change from `first` on.
kvtengine::VersionInfo VersionAt(const Statement& q, int first) {
  return {Number32(q.ColumnInt(first)), q.ColumnText(first + 1), q.ColumnText(first + 2),
          kvtengine::ChangeNamed(q.ColumnText(first + 3))};
}

}  // namespace

kvt::ObjectRef SqliteEngine::LoadDocument(std::int32_t id) {
  kvtengine::VersionInfo version;
  return LoadDocumentAt(id, version);
}

kvt::ObjectRef SqliteEngine::LoadDocumentAt(std::int32_t id, kvtengine::VersionInfo& version) {
  // One statement: the values and their version come from one moment of the file.
  auto dict = kvt::Dictionary::Create();
  bool found = false;
  Reading({.id = id}, [&] {
    auto q = Db().Query(
        "SELECT d.version, d.saved_at, d.saved_by, d.change, v.key, v.value, v.type FROM "
        "documents d LEFT JOIN json_each(d.content) v ON 1 WHERE d.id = ?1");
    q.Bind(1, std::int64_t{id});
    while (q.Step()) {
      if (!found) version = VersionAt(q, 0);
      found = true;
      if (q.ColumnIsNull(6)) continue;  // no values
      if (!NamedValue(q, 4) || dict->Exists(q.ColumnText(4))) Damaged(id);
      dict->Add(q.ColumnText(4), ReadJsonValue(q, 5));
    }
  });
  if (!found) kvtengine::ThrowNoDocument(id, kSource);
  return dict;
}

kvtengine::ArchiveEngine::Rights SqliteEngine::AccountRights() {
  const bool writable = sqlite3_db_readonly(Db().Handle(), "main") == 0;
  return {writable, writable, writable};
}

kvtengine::VersionInfo SqliteEngine::CurrentVersion(std::int32_t id) {
  return Reading({.id = id}, [&] {
    auto q = Db().Query("SELECT version, saved_at, saved_by, change FROM documents WHERE id = ?1");
    q.Bind(1, std::int64_t{id});
    if (!q.Step()) kvtengine::ThrowNoDocument(id, kSource);
    return VersionAt(q, 0);
  });
}

std::vector<std::pair<std::int32_t, kvtengine::VersionInfo>> SqliteEngine::DeletedDocuments(
    const std::string& archive) {
  // A deletion is a document's newest version when no later one exists.
  auto q = Db().Query(
      "SELECT v.document, v.version, v.saved_at, v.saved_by, v.change FROM document_versions v "
      "WHERE v.archive = ?1 AND v.change = 'delete' AND NOT EXISTS (SELECT 1 FROM "
      "document_versions w WHERE w.document = v.document AND w.version > v.version) AND NOT "
      "EXISTS (SELECT 1 FROM documents d WHERE d.id = v.document) ORDER BY v.saved_at DESC, "
      "v.document DESC");
  q.Bind(1, archive);
  std::vector<std::pair<std::int32_t, kvtengine::VersionInfo>> out;
  while (q.Step()) out.emplace_back(Number32(q.ColumnInt(0)), VersionAt(q, 1));
  return out;
}

kvtengine::ArchiveEngine::HistoryRows SqliteEngine::ReadHistory(std::int32_t id) {
  // One statement, so one snapshot of the file (and no write lock: a read-only file has a
  // history too): versions, the newest values and the changes, told apart by the first column.
  HistoryRows out;
  Reading({.id = id}, [&] {
    auto q = Db().Query(
        "SELECT 0, version, saved_at, saved_by, change, 0, NULL, NULL, 0 FROM document_versions "
        "WHERE document = ?1 UNION ALL SELECT 0, version, saved_at, saved_by, change, 0, NULL, "
        "NULL, 0 FROM documents WHERE id = ?1 UNION ALL SELECT 1, 0, NULL, NULL, NULL, v.id, "
        "v.key, v.value, 1 FROM documents d, json_each(d.content) v WHERE d.id = ?1 UNION ALL "
        "SELECT 2, version, NULL, NULL, NULL, position, field, value, present FROM "
        "document_changes WHERE document = ?1 ORDER BY 1, 2, 6");
    q.Bind(1, std::int64_t{id});
    std::unordered_set<std::string> named;
    while (q.Step()) {
      switch (q.ColumnInt(0)) {
        case 0:
          out.versions.push_back(VersionAt(q, 1));
          break;
        case 1:
          if (!NamedValue(q, 6) || !named.insert(q.ColumnText(6)).second) Damaged(id);
          out.current.emplace_back(q.ColumnText(6), ReadJsonValue(q, 7));
          break;
        default:
          out.changes.push_back({Number32(q.ColumnInt(1)), Number32(q.ColumnInt(5)),
                                 q.ColumnText(6), q.Column(7), q.ColumnInt(8) != 0});
      }
    }
  });
  return out;
}

void SqliteEngine::PutVersion(std::int32_t id, const std::string& archive,
                              const kvtengine::VersionInfo& v) {
  Db().Query(
          "INSERT INTO document_versions (document, version, archive, saved_at, saved_by, change) "
          "VALUES (?1, ?2, ?3, ?4, ?5, ?6)")
      .Bind(1, std::int64_t{id})
      .Bind(2, std::int64_t{v.version})
      .Bind(3, archive)
      .Bind(4, v.saved_at)
      .Bind(5, v.saved_by)
      .Bind(6, std::string(kvtengine::ChangeName(v.change)))
      .Run();
}

void SqliteEngine::PutChange(std::int32_t id, const HistoryRows::Changed& c) {
  Db().Query(
          "INSERT INTO document_changes (document, version, position, field, value, present) "
          "VALUES (?1, ?2, ?3, ?4, ?5, ?6)")
      .Bind(1, std::int64_t{id})
      .Bind(2, std::int64_t{c.version})
      .Bind(3, std::int64_t{c.position})
      .Bind(4, c.field)
      .Bind(5, c.value)
      .Bind(6, std::int64_t{c.present ? 1 : 0})
      .Run();
}

void SqliteEngine::WriteHistory(std::int32_t id, const HistoryRows& rows) {
  if (rows.versions.empty()) return;
  const std::int64_t key = id;
  Transaction([&] {
    std::string archive;
    {
      auto q = Db().Query("SELECT archive FROM documents WHERE id = ?1");
      q.Bind(1, key);
      if (!q.Step()) kvtengine::ThrowNoDocument(id, kSource);
      archive = q.ColumnText(0);
    }
    const auto& newest = rows.versions.back();
    const bool deleted = newest.change == kvtengine::Change::kDelete;
    // A live document's newest version is its row in `documents`; a deleted one has none.
    const std::size_t kept = rows.versions.size() - (deleted ? 0 : 1);
    for (std::size_t i = 0; i < kept; ++i) PutVersion(id, archive, rows.versions[i]);
    for (const auto& c : rows.changes) PutChange(id, c);
    if (deleted) {
      DropKeys(id);
      Db().Query("DELETE FROM documents WHERE id = ?1").Bind(1, key).Run();
    } else {
      Db().Query(
              "UPDATE documents SET version = ?2, saved_at = ?3, saved_by = ?4, change = ?5 WHERE "
              "id = ?1")
          .Bind(1, key)
          .Bind(2, std::int64_t{newest.version})
          .Bind(3, newest.saved_at)
          .Bind(4, newest.saved_by)
          .Bind(5, std::string(kvtengine::ChangeName(newest.change)))
          .Run();
    }
  });
}

std::int32_t SqliteEngine::WriteChange(
    std::int32_t id, std::int32_t base,
    const std::vector<std::pair<std::string, kvt::Variant>>* values, kvtengine::Change how) {
  const std::int64_t key = id;
  std::int32_t made = 0;
  // BEGIN IMMEDIATE takes the write lock first: no other program changes the document between
  // the version check and the write.
  Transaction([&] {
    std::string archive;
    kvtengine::VersionInfo cur;
    bool deleted = false;
    Reading({.id = id}, [&] {
      auto q = Db().Query(
          "SELECT archive, version, saved_at, saved_by, change FROM documents WHERE id = ?1");
      q.Bind(1, key);
      if (q.Step()) {
        archive = q.ColumnText(0);
        cur = VersionAt(q, 1);
      } else {
        auto last = Db().Query(
            "SELECT archive, version, saved_at, saved_by, change FROM document_versions WHERE "
            "document = ?1 ORDER BY version DESC LIMIT 1");
        last.Bind(1, key);
        if (!last.Step() || last.ColumnText(4) != "delete") kvtengine::ThrowNoDocument(id, kSource);
        archive = last.ColumnText(0);
        cur = VersionAt(last, 1);
        deleted = true;
      }
    });
    if (cur.version == std::numeric_limits<std::int32_t>::max()) {
      throw EngineError(kDatabaseError, "document " + std::to_string(id) +
                                            " has reached the last version number (" +
                                            std::to_string(cur.version) +
                                            "): it can be read, not changed");
    }
    if (base != 0 && base != cur.version) {
      throw kvtengine::EngineError(kvtengine::kConflict, kSource,
                                   "document " + std::to_string(id) + " is at version " +
                                       std::to_string(cur.version) + ", not " +
                                       std::to_string(base));
    }
    if (deleted && !values) {
      throw kvt::RuntimeError(kvt::ErrorCode::kSubscriptOutOfRange,
                              "document " + std::to_string(id) + " is deleted", kSource);
    }
    std::vector<std::pair<std::string, kvt::Variant>> old;
    if (!deleted) {
      old = StoredValues(id);
      PutVersion(id, archive, cur);
    }
    static const std::vector<std::pair<std::string, kvt::Variant>> kNone;
    const auto& now = values ? *values : kNone;
    auto record = [&](std::size_t position, const std::string& field, const kvt::Variant& value,
                      bool present) {
      PutChange(id, {cur.version, static_cast<std::int32_t>(position + 1), field, value, present});
    };
    // The values this version held that the next one changes; the next one keeps the others
    // as stored, in their place, and the new fields after them.
    std::vector<std::pair<std::string, kvt::Variant>> next;
    for (std::size_t i = 0; i < old.size(); ++i) {
      const auto& [field, was] = old[i];
      const kvt::Variant* is = kvtengine::FindValue(now, field);
      if (is && kvtengine::SameStoredValue(was, *is)) {
        next.push_back(old[i]);
        continue;
      }
      record(i, field, was, true);
      if (is) next.emplace_back(field, *is);
    }
    for (std::size_t i = 0; i < now.size(); ++i) {
      if (kvtengine::FindValue(old, now[i].first)) continue;
      record(i, now[i].first, kvt::Variant::Null(), false);
      next.push_back(now[i]);
    }
    const std::string at = kvtengine::SavedAtNow();
    made = cur.version + 1;
    if (!values) {
      DropKeys(id);
      Db().Query("DELETE FROM documents WHERE id = ?1").Bind(1, key).Run();
      PutVersion(id, archive, {made, at, user_, kvtengine::Change::kDelete});
      return;
    }
    const Packed packed = Pack(archive, next);
    if (deleted) {
      Db().Query(
              "INSERT INTO documents (id, archive, saved_at, version, saved_by, change, content, "
              "search_keys) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)")
          .Bind(1, key)
          .Bind(2, archive)
          .Bind(3, at)
          .Bind(4, std::int64_t{made})
          .Bind(5, user_)
          .Bind(6, std::string(kvtengine::ChangeName(how)))
          .Bind(7, packed.content)
          .Bind(8, packed.search_keys)
          .Run();
    } else {
      DropKeys(id);
      Db().Query(
              "UPDATE documents SET version = ?2, saved_at = ?3, saved_by = ?4, change = ?5, "
              "content = ?6, search_keys = ?7 WHERE id = ?1")
          .Bind(1, key)
          .Bind(2, std::int64_t{made})
          .Bind(3, at)
          .Bind(4, user_)
          .Bind(5, std::string(kvtengine::ChangeName(how)))
          .Bind(6, packed.content)
          .Bind(7, packed.search_keys)
          .Run();
    }
    PutKeys(id, packed, next);
  });
  return made;
}

namespace {

// Rows of (id, saved_at, field, value, version, type) in id order, one document to `each` as
// its rows end; a row that is no document as the engine writes one goes to `damaged`.
void GatherDocuments(Statement& q,
                     const std::function<void(kvtengine::StoredDocument&& document)>& each,
                     const std::function<void(std::int64_t id)>& damaged) {
  std::optional<kvtengine::StoredDocument> doc;  // the one being read
  std::unordered_set<std::string> names;         // its names, once it has many
  while (q.Step()) {
    const std::int64_t row = q.ColumnInt(0);
    if (row < 1 || row > std::numeric_limits<std::int32_t>::max()) damaged(row);
    const auto id = static_cast<std::int32_t>(row);
    if (!doc || doc->id != id) {
      std::size_t expected = 0;  // documents of an archive hold alike many values
      if (doc) {
        expected = doc->values.size();
        each(std::move(*doc));
      }
      doc.emplace(kvtengine::StoredDocument{id, q.ColumnText(1), {}});
      doc->values.reserve(expected);
      doc->version = Number32(q.ColumnInt(4));
      names.clear();
    }
    if (q.ColumnIsNull(5)) continue;  // no values
    if (!NamedValue(q, 2)) damaged(row);
    std::string name = q.ColumnText(2);
    // Each name once: a few values are compared in place, many through a set.
    constexpr std::size_t kFew = 32;
    if (doc->values.size() < kFew) {
      for (const auto& [field, v] : doc->values) {
        if (field == name) damaged(row);
      }
    } else {
      if (names.empty()) {
        for (const auto& [field, v] : doc->values) names.insert(field);
      }
      if (!names.insert(name).second) damaged(row);
    }
    doc->values.emplace_back(std::move(name), ReadJsonValue(q, 3));
  }
  if (doc) each(std::move(*doc));
}

}  // namespace

std::vector<std::int32_t> SqliteEngine::FindDocuments(
    const std::string& archive, const std::vector<std::pair<std::string, kvt::Variant>>& equal) {
  // From the key entries of the first value that has a key, each value probed in the
  // document's row: the cost follows the documents holding the value, not the archive's size.
  // The key narrows, the value as stored decides.
  std::optional<std::size_t> driver;
  std::optional<std::string> driver_key;
  for (std::size_t i = 0; i < equal.size() && !driver; ++i) {
    driver_key = kvtengine::SearchKey(KindOf(archive, equal[i].first), equal[i].second);
    if (driver_key) driver = i;
  }
  // Without statistics the planner could start from the archive's documents: the key table
  // comes first by the join's order.
  std::string sql = driver ? "SELECT d.id FROM document_keys v0 CROSS JOIN documents d ON d.id = "
                             "v0.document WHERE v0.field = ?2 AND v0.search = ?3 AND d.archive = ?1"
                           : "SELECT d.id FROM documents d WHERE d.archive = ?1";
  for (std::size_t i = 0; i < equal.size(); ++i) {
    sql += " AND EXISTS (SELECT 1 FROM json_each(d.content) v WHERE v.key = ?" +
           std::to_string(4 + 2 * i) + " AND v.value IS ?" + std::to_string(5 + 2 * i) + ")";
  }
  // A key's entries come in document order: no sorting.
  sql += driver ? " ORDER BY v0.document" : " ORDER BY d.id";
  auto q = Db().Query(sql);
  q.Bind(1, archive);
  if (driver) q.Bind(2, equal[*driver].first).Bind(3, *driver_key);
  for (std::size_t i = 0; i < equal.size(); ++i) {
    const int n = static_cast<int>(4 + 2 * i);
    q.Bind(n, equal[i].first);
    const kvt::Variant& value = equal[i].second;
    if (value.IsString() && WrittenAsObject(value.AsString())) {
      std::string stored;  // as json_each gives the row's object
      AppendJsonText(stored, value.AsString());
      q.Bind(n + 1, stored);
    } else {
      q.Bind(n + 1, value);
    }
  }
  std::vector<std::int32_t> out;
  Reading({.archive = archive}, [&] {
    while (q.Step()) out.push_back(Number32(q.ColumnInt(0)));
  });
  return out;
}

bool SqliteEngine::WordsFirst(const std::string& archive,
                              const std::vector<kvtengine::KeyCondition>& conditions) {
  const auto field = kvtengine::FieldDriver(conditions);
  const auto words = std::find_if(
      conditions.begin(), conditions.end(),
      [](const kvtengine::KeyCondition& k) { return k.op == kvtengine::KeyCondition::Op::kWords; });
  if (!field || words == conditions.end()) return false;
  // The field leads only when fewer documents hold its value than the words: counting a
  // thousand in each index is quick, reading all of either may not be. (With a thousand or
  // more for the field, the words' first page is near enough whatever the words.)
  constexpr std::int32_t kLook = 1000;
  // Counted once for the connection: the next page of the same search asks again.
  auto count = [&](const kvtengine::KeyCondition& k) -> std::int64_t {
    const auto sql = kvtengine::CountUpTo(kvtengine::SqlDialect::kSqlite, k, kLook);
    if (!sql) return kLook;
    std::string key = sql->sql;
    for (const auto& p : sql->params) key += '\0' + p;
    if (const auto it = counted_.find(key); it != counted_.end()) return it->second;
    const std::int64_t n = Reading({.archive = archive}, [&] {
      auto q = Prepared(Db(), *sql);
      q.Step();
      const std::int64_t found = q.ColumnInt(0);
      q.Run();
      return found;
    });
    if (counted_.size() >= 256) counted_.clear();
    counted_.emplace(std::move(key), n);
    return n;
  };
  const std::int64_t by_field = count(conditions[*field]);
  return by_field >= kLook || count(*words) <= by_field;
}

std::vector<std::int32_t> SqliteEngine::SearchDocuments(
    const std::string& archive, const std::vector<kvtengine::Criterion>& criteria,
    std::int32_t after, std::int32_t limit) {
  const auto conditions = KeyConditions(archive, criteria);
  const auto sql = kvtengine::SearchQuery(kvtengine::SqlDialect::kSqlite, archive, conditions,
                                          after, limit, false, WordsFirst(archive, conditions));
  auto q = Prepared(Db(), sql);
  std::vector<std::int32_t> out;
  Reading({.archive = archive}, [&] {
    while (q.Step()) out.push_back(Number32(q.ColumnInt(0)));
  });
  return out;
}

std::int64_t SqliteEngine::CountDocuments(const std::string& archive,
                                          const std::vector<kvtengine::Criterion>& criteria) {
  const auto conditions = KeyConditions(archive, criteria);
  const auto sql = kvtengine::SearchQuery(kvtengine::SqlDialect::kSqlite, archive, conditions, 0, 0,
                                          true, WordsFirst(archive, conditions));
  return Reading({.archive = archive}, [&] {
    auto q = Prepared(Db(), sql);
    q.Step();
    const std::int64_t n = q.ColumnInt(0);
    q.Run();
    return n;
  });
}

void SqliteEngine::ReadDocumentsById(
    const std::vector<std::int32_t>& ids,
    const std::function<void(kvtengine::StoredDocument&& document)>& each) {
  if (ids.empty()) return;
  // The ids as one JSON array: one statement whatever their number.
  std::string list = "[";
  for (const auto id : ids) list += (list.size() > 1 ? "," : "") + std::to_string(id);
  list += "]";
  Reading({}, [&] {
    auto q = Db().Query(
        "SELECT d.id, d.saved_at, v.key, v.value, d.version, v.type FROM documents d "
        "LEFT JOIN json_each(d.content) v ON 1 "
        "WHERE d.id IN (SELECT value FROM json_each(?1)) ORDER BY d.id");
    q.Bind(1, list);
    GatherDocuments(q, each, [this](std::int64_t id) { Damaged(id); });
  });
}

std::int64_t SqliteEngine::RoundTrips() const {
  return earlier_trips_ + (db_ ? db_->Statements() : 0);
}

void SqliteEngine::ReadDocuments(
    const std::string& archive,
    const std::function<void(kvtengine::StoredDocument&& document)>& each) {
  Reading({.archive = archive}, [&] {
    auto q = Db().Query(
        "SELECT d.id, d.saved_at, v.key, v.value, d.version, v.type FROM documents d "
        "LEFT JOIN json_each(d.content) v ON 1 WHERE d.archive = ?1 ORDER BY d.id");
    q.Bind(1, archive);
    GatherDocuments(q, each, [this](std::int64_t id) { Damaged(id); });
  });
}

void SqliteEngine::ReadDocumentTexts(
    const std::string& archive,
    const std::function<void(const kvtengine::DocumentText& document)>& each) {
  Reading({.archive = archive}, [&] {
    auto q =
        Db().Query("SELECT id, saved_at, content FROM documents WHERE archive = ?1 ORDER BY id");
    q.Bind(1, archive);
    // A document's names and texts gathered in one buffer, reused: no allocation per value.
    std::string buffer;
    std::vector<std::pair<std::size_t, std::size_t>> ends;  // of each name and text in `buffer`
    std::unordered_set<std::string_view> names;
    kvtengine::DocumentText doc;
    while (q.Step()) {
      const std::int64_t row = q.ColumnInt(0);
      if (row < 1 || row > std::numeric_limits<std::int32_t>::max()) Damaged(row);
      doc.id = static_cast<std::int32_t>(row);
      buffer.clear();
      ends.clear();
      const std::string_view content = q.ColumnView(2);
      if (!ScanDocumentTexts(content, buffer, ends)) {
        // Not as this engine writes a row (a file from elsewhere): SQLite reads it.
        auto v = Db().Query("SELECT key, value FROM json_each(?1)");
        v.Bind(1, content);
        while (v.Step()) {
          if (!NamedValue(v, 0)) Damaged(row);
          buffer += v.ColumnView(0);
          const std::size_t name_end = buffer.size();
          buffer += kvt::JoinText(ReadJsonValue(v, 1));
          ends.emplace_back(name_end, buffer.size());
        }
      }
      doc.saved_at = q.ColumnView(1);
      doc.values.clear();
      const std::string_view all(buffer);
      std::size_t from = 0;
      for (const auto& [name_end, text_end] : ends) {
        doc.values.emplace_back(all.substr(from, name_end - from),
                                all.substr(name_end, text_end - name_end));
        from = text_end;
      }
      // Each name once: a few compared in place, many through a set.
      constexpr std::size_t kFew = 32;
      if (doc.values.size() < kFew) {
        for (std::size_t i = 1; i < doc.values.size(); ++i) {
          for (std::size_t j = 0; j < i; ++j) {
            if (doc.values[i].first == doc.values[j].first) Damaged(row);
          }
        }
      } else {
        names.clear();
        for (const auto& [name, text] : doc.values) {
          if (!names.insert(name).second) Damaged(row);
        }
      }
      each(doc);
    }
  });
}

std::vector<std::string> SqliteEngine::StoredFieldNames() {
  auto q = Db().Query("SELECT field FROM document_fields ORDER BY field");
  return Texts(q);
}

std::vector<std::string> SqliteEngine::DocumentFieldNames(const std::string& archive) {
  // A value's place in its row grows as the row is read: with the document's id in the high
  // bits, the smallest key of a name is where it first appears.
  return Reading({.archive = archive}, [&] {
    auto q = Db().Query(
        "SELECT v.key FROM documents d, json_each(d.content) v WHERE d.archive = ?1 GROUP BY "
        "v.key ORDER BY MIN((d.id << 32) + v.id)");
    q.Bind(1, archive);
    return Texts(q);
  });
}

void SqliteEngine::ThrowIfDamaged(const Scope& scope) {
  // Every way a row can differ from what this engine writes, first found first; the reason in
  // the words of the message.
  static constexpr const char* kWhy =
      "CASE WHEN id < 1 OR id > 2147483647 THEN 'its number is outside 1 to 2147483647' "
      "WHEN version < 1 OR version > 2147483647 THEN 'its version is outside 1 to 2147483647' "
      "WHEN EXISTS (SELECT 1 FROM document_versions v WHERE v.document = d.id AND (v.version < "
      "1 OR v.version > 2147483647)) OR EXISTS (SELECT 1 FROM document_changes c WHERE "
      "c.document = d.id AND (c.version < 1 OR c.version > 2147483647 OR c.position < 1 OR "
      "c.position > 2147483647)) THEN 'its history holds a number outside 1 to 2147483647' "
      "WHEN typeof(content) <> 'text' OR NOT json_valid(content) THEN 'its values are not "
      "readable (not JSON)' WHEN json_type(content) <> 'object' THEN 'its values are not a set "
      "of named values' WHEN typeof(search_keys) <> 'text' OR NOT json_valid(search_keys) OR "
      "json_type(search_keys) <> 'object' THEN 'its search keys are not readable' WHEN (SELECT "
      "count(*) <> count(DISTINCT key) FROM json_each(content)) THEN 'it holds a field''s value "
      "more than once' END";
  std::string where = " FROM documents d WHERE 1";
  if (scope.id) where += " AND d.id = ?1";
  if (scope.archive) where += scope.id ? " AND d.archive = ?2" : " AND d.archive = ?1";
  auto bind = [&](Statement& q) {
    int n = 1;
    if (scope.id) q.Bind(n++, *scope.id);
    if (scope.archive) q.Bind(n, *scope.archive);
  };
  std::int64_t id = 0;
  std::string why;
  try {
    auto q = Db().Query(std::string("SELECT id, ") + kWhy + " AS why" + where +
                        " AND why IS NOT NULL ORDER BY id LIMIT 1");
    bind(q);
    if (q.Step()) {
      id = q.ColumnInt(0);
      why = q.ColumnText(1);
    }
  } catch (const kvt::Error&) {
    // A text too long to read stops the whole look: each document is looked at alone.
    auto ids = Db().Query("SELECT id" + where + " ORDER BY id");
    bind(ids);
    while (why.empty() && ids.Step()) {
      const std::int64_t one = ids.ColumnInt(0);
      try {
        auto q = Db().Query(std::string("SELECT ") + kWhy + " FROM documents d WHERE id = ?1");
        q.Bind(1, one);
        if (q.Step() && !q.ColumnIsNull(0)) why = q.ColumnText(0);
      } catch (const kvt::Error&) {
        why = "its values are longer than " + std::to_string(kMaxTextBytes >> 20) +
              " MiB, more than a form holds";
      }
      if (!why.empty()) id = one;
    }
  }
  if (why.empty()) return;
  throw EngineError(kDatabaseError, "document " + std::to_string(id) + " of '" + Db().Path() +
                                        "' is damaged: " + why +
                                        " (it was not written by kvtfields); nothing was read "
                                        "past it");
}

void SqliteEngine::Damaged(std::int64_t id) {
  ThrowIfDamaged({.id = id});
  throw EngineError(kDatabaseError, "document " + std::to_string(id) + " of '" + Db().Path() +
                                        "' is damaged: it is not a set of named values, each "
                                        "once (it was not written by kvtfields)");
}

std::vector<kvtengine::StoredDocument> SqliteEngine::ListDocuments(const std::string& archive) {
  std::vector<kvtengine::StoredDocument> out;
  ReadDocuments(archive, [&](kvtengine::StoredDocument&& d) { out.push_back(std::move(d)); });
  return out;
}

std::vector<std::pair<std::string, std::string>> SqliteEngine::ListScripts() {
  auto q = Db().Query("SELECT script_set, source FROM scripts ORDER BY script_set");
  std::vector<std::pair<std::string, std::string>> out;
  while (q.Step()) out.emplace_back(q.ColumnText(0), q.ColumnText(1));
  return out;
}

std::vector<SqliteEngine::LearntValue> SqliteEngine::ListLearnt() {
  auto q = Db().Query(
      "SELECT key, value, uses, last_used FROM \"SYS_AUTOCOMPLETE\" ORDER BY key, value");
  std::vector<LearntValue> out;
  while (q.Step())
    out.push_back({q.ColumnText(0), q.ColumnText(1), q.ColumnInt(2), q.ColumnInt(3)});
  return out;
}

void SqliteEngine::PutLearnt(const LearntValue& l) {
  Db().Query(
          "INSERT OR REPLACE INTO \"SYS_AUTOCOMPLETE\" (key, value, uses, last_used, folded) "
          "VALUES (?1, ?2, ?3, ?4, ?5)")
      .Bind(1, l.key)
      .Bind(2, l.value)
      .Bind(3, l.uses)
      .Bind(4, l.last_used)
      .Bind(5, kvt::ToLower(l.value))
      .Run();
}

void RegisterEngineClass() {
  kvt::ClassRegistry::Instance().Register(kEngineProgId, {},
                                          [] { return std::make_shared<SqliteEngine>(); });
}

FileFolder SqliteEngine::Files() const {
  return FileFolder(Db().Path() + ".files");
}

bool SqliteEngine::PutFile(const std::function<std::string_view()>& next,
                           const std::function<kvtfiles::StoredFile()>& seal) {
  bool kept = false;
  // Under the write lock: the file is written and synced into the folder before its row is
  // added, so no row ever names bytes that are not there; a transaction rolled back takes the
  // files it named back out (a crash leaves at most an orphan, which check-files collects).
  Transaction([&] {
    const FileFolder folder = Files();
    FileFolder::Writer writer(folder);
    for (std::string_view piece = next(); !piece.empty(); piece = next()) writer.Write(piece);
    const kvtfiles::StoredFile f = seal();
    auto known = Db().Query("SELECT 1 FROM stored_files WHERE sha256 = ?1");
    known.Bind(1, f.sha256);
    if (known.Step()) return;
    known.Reset();
    writer.Seal(f.sha256);
    sealed_.push_back(folder.PathOf(f.sha256));
    Db().Query(
            "INSERT INTO stored_files (sha256, size, media_type, pages, name, stored_at, "
            "stored_by) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)")
        .Bind(1, f.sha256)
        .Bind(2, f.size)
        .Bind(3, f.media_type)
        .Bind(4, std::int64_t{f.pages})
        .Bind(5, f.name)
        .Bind(6, f.stored_at.empty() ? kvtengine::SavedAtNow() : f.stored_at)
        .Bind(7, f.stored_at.empty() ? user_ : f.stored_by)
        .Run();
    if (kvtfiles::PieceDigestsFit(f.piece_digests, f.size)) {
      Db().Query("INSERT INTO file_piece_digests (sha256, digests) VALUES (?1, ?2)")
          .Bind(1, f.sha256)
          .BindBlob(2, f.piece_digests)
          .Run();
    }
    kept = true;
  });
  return kept;
}

namespace {
constexpr const char* kFileColumns =
    "f.sha256, size, media_type, pages, name, stored_at, stored_by, digests FROM stored_files f "
    "LEFT JOIN file_piece_digests d ON d.sha256 = f.sha256";

kvtfiles::StoredFile FileRow(const Statement& q) {
  kvtfiles::StoredFile f;
  f.sha256 = q.ColumnText(0);
  f.size = q.ColumnInt(1);
  f.media_type = q.ColumnText(2);
  f.pages = static_cast<std::int32_t>(q.ColumnInt(3));
  f.name = q.ColumnText(4);
  f.stored_at = q.ColumnText(5);
  f.stored_by = q.ColumnText(6);
  f.piece_digests = q.ColumnBlob(7);
  return f;
}
}  // namespace

bool SqliteEngine::FindFile(const std::string& sha256, kvtfiles::StoredFile& file) {
  auto q = Db().Query(std::string("SELECT ") + kFileColumns + " WHERE f.sha256 = ?1");
  q.Bind(1, sha256);
  if (!q.Step()) return false;
  file = FileRow(q);
  return true;
}

void SqliteEngine::ReadFilePieces(const std::string& sha256,
                                  const std::function<void(std::string_view piece)>& each) {
  const FileFolder folder = Files();
  if (!folder.Read(sha256, each)) {
    throw kvtengine::EngineError(
        kvtengine::kBadFile, kSource,
        "Il file sha256 " + sha256 + " manca dalla cartella " + folder.Root());
  }
}

void SqliteEngine::ReadFileBuffers(const std::string& sha256,
                                   const std::function<std::string()>& spare,
                                   const std::function<void(std::string&& piece)>& each) {
  const FileFolder folder = Files();
  if (!folder.Read(sha256, spare, each)) {
    throw kvtengine::EngineError(
        kvtengine::kBadFile, kSource,
        "Il file sha256 " + sha256 + " manca dalla cartella " + folder.Root());
  }
}

void SqliteEngine::KeepReading(const std::string& sha256, const kvtfiles::FileReading& reading) {
  Transaction([&] {
    if (auto known = Db().Query("SELECT 1 FROM stored_files WHERE sha256 = ?1");
        !known.Bind(1, sha256).Step()) {
      throw kvtengine::EngineError(
          kvtengine::kBadFile, kSource,
          "Il file sha256 " + kvt::Printable(sha256) + " manca dall'archivio");
    }
    std::int64_t id = 0;
    {
      auto q = Db().Query("SELECT id FROM file_readings WHERE sha256 = ?1");
      q.Bind(1, sha256);
      if (q.Step()) id = q.ColumnInt(0);
    }
    if (id != 0) {
      Db().Query("DELETE FROM file_pages WHERE sha256 = ?1").Bind(1, sha256).Run();
      Db().Query("UPDATE file_readings SET reader = ?2, read_at = ?3, failure = ?4 WHERE id = ?1")
          .Bind(1, id)
          .Bind(2, reading.reader)
          .Bind(3, reading.read_at)
          .Bind(4, reading.failure)
          .Run();
    } else {
      Db().Query(
              "INSERT INTO file_readings (sha256, reader, read_at, failure) VALUES (?1, ?2, ?3, "
              "?4)")
          .Bind(1, sha256)
          .Bind(2, reading.reader)
          .Bind(3, reading.read_at)
          .Bind(4, reading.failure)
          .Run();
      id = sqlite3_last_insert_rowid(Db().Handle());
    }
    auto page = Db().Query(
        "INSERT INTO file_pages (sha256, page, width, height, words) VALUES (?1, ?2, ?3, ?4, ?5)");
    for (std::size_t i = 0; i < reading.pages.size(); ++i) {
      const auto& p = reading.pages[i];
      page.Reset();
      page.Bind(1, sha256)
          .Bind(2, static_cast<std::int64_t>(i + 1))
          .Bind(3, std::int64_t{p.width})
          .Bind(4, std::int64_t{p.height})
          .Bind(5, kvtfiles::EncodeWords(p.words))
          .Run();
    }
    // The documents naming the file find it by these words from now on.
    std::vector<std::int64_t> documents;
    auto named = Db().Query("SELECT document FROM document_files WHERE sha256 = ?1");
    named.Bind(1, sha256);
    while (named.Step()) documents.push_back(named.ColumnInt(0));
    named.Reset();
    for (const std::int64_t document : documents) IndexWords(document);
  });
}

std::int32_t SqliteEngine::IndexWords(std::int32_t after, std::int32_t count) {
  std::int32_t last = 0;
  Transaction([&] {
    std::vector<std::int32_t> documents;
    auto q = Db().Query(
        "SELECT DISTINCT l.document FROM document_files l JOIN file_readings r ON r.sha256 = "
        "l.sha256 WHERE l.document > ?1 ORDER BY l.document LIMIT ?2");
    q.Bind(1, std::int64_t{after}).Bind(2, std::int64_t{count});
    while (q.Step()) documents.push_back(static_cast<std::int32_t>(q.ColumnInt(0)));
    q.Reset();
    for (const std::int32_t document : documents) IndexWords(std::int64_t{document});
    if (!documents.empty()) last = documents.back();
  });
  return last;
}

void SqliteEngine::IndexWords(std::int64_t document) {
  Db().Query("DELETE FROM document_words WHERE rowid = ?1").Bind(1, document).Run();
  std::vector<std::string> files;
  {
    auto q = Db().Query(
        "SELECT l.sha256 FROM document_files l JOIN file_readings r ON r.sha256 = l.sha256 WHERE "
        "l.document = ?1 ORDER BY l.sha256");
    q.Bind(1, document);
    while (q.Step()) files.push_back(q.ColumnText(0));
  }
  if (files.empty()) return;
  std::string words;
  for (const std::string& sha256 : files) {
    kvtfiles::FileReading reading;
    if (!FindReading(sha256, reading)) continue;
    const std::string text = kvtfiles::SearchedText(reading);
    if (words.size() + text.size() > kvtfiles::kMaxFileChars) break;
    words += text;
  }
  Db().Query("INSERT INTO document_words (rowid, words) VALUES (?1, ?2)")
      .Bind(1, document)
      .Bind(2, words)
      .Run();
}

bool SqliteEngine::FindReading(const std::string& sha256, kvtfiles::FileReading& reading) {
  auto q = Db().Query("SELECT reader, read_at, failure FROM file_readings WHERE sha256 = ?1");
  q.Bind(1, sha256);
  if (!q.Step()) return false;
  reading = {};
  reading.reader = q.ColumnText(0);
  reading.read_at = q.ColumnText(1);
  reading.failure = q.ColumnText(2);
  q.Reset();
  auto pages = Db().Query(
      "SELECT page, width, height, words FROM file_pages WHERE sha256 = ?1 ORDER BY page");
  pages.Bind(1, sha256);
  while (pages.Step()) {
    kvtfiles::PageText p;
    p.width = static_cast<std::int32_t>(pages.ColumnInt(1));
    p.height = static_cast<std::int32_t>(pages.ColumnInt(2));
    if (pages.ColumnInt(0) != static_cast<std::int64_t>(reading.pages.size() + 1) ||
        !kvtfiles::DecodeWords(pages.ColumnView(3), p.words)) {
      throw kvtengine::EngineError(kvtengine::kDatabaseError, kSource,
                                   "le parole lette dal file sha256 " + kvt::Printable(sha256) +
                                       " sono danneggiate (pagina " +
                                       std::to_string(pages.ColumnInt(0)) + ")");
    }
    reading.pages.push_back(std::move(p));
  }
  return true;
}

std::vector<std::string> SqliteEngine::FilesToRead(const std::string& reader,
                                                   const std::string& after, int limit) {
  auto q = Db().Query(
      "SELECT f.sha256 FROM stored_files f LEFT JOIN file_readings r ON r.sha256 = f.sha256 "
      "WHERE f.sha256 > ?1 AND (r.reader IS NULL OR r.reader <> ?2) ORDER BY f.sha256 LIMIT ?3");
  q.Bind(1, after).Bind(2, reader).Bind(3, std::int64_t{limit});
  std::vector<std::string> out;
  while (q.Step()) out.push_back(q.ColumnText(0));
  return out;
}

namespace {
constexpr const char* kIntakeColumns =
    "SELECT id, archive, sha256, name, first_page, pages, state, done_by, done_at, document, "
    "reason, pages_sha256 FROM intake_items ";

kvtengine::IntakeItem IntakeRow(const Statement& q) {
  kvtengine::IntakeItem i;
  i.id = q.ColumnInt(0);
  i.archive = q.ColumnText(1);
  i.sha256 = q.ColumnText(2);
  i.name = q.ColumnText(3);
  i.first_page = static_cast<std::int32_t>(q.ColumnInt(4));
  i.pages = static_cast<std::int32_t>(q.ColumnInt(5));
  i.state = kvtengine::IntakeStateOf(q.ColumnText(6));
  i.by = q.ColumnText(7);
  i.at = q.ColumnText(8);
  i.document = static_cast<std::int32_t>(q.ColumnInt(9));
  i.reason = q.ColumnText(10);
  i.pages_sha256 = q.ColumnText(11);
  return i;
}
}  // namespace

bool SqliteEngine::PutIntake(const std::string& archive, const std::string& sha256,
                             const std::vector<kvtengine::IntakeItem>& items) {
  bool added = false;
  Transaction([&] {
    if (auto q = Db().Query("SELECT 1 FROM intake_items WHERE archive = ?1 AND sha256 = ?2");
        q.Bind(1, archive).Bind(2, sha256).Step()) {
      return;
    }
    const std::string at = kvtengine::SavedAtNow();
    auto q = Db().Query(
        "INSERT INTO intake_items (archive, sha256, name, first_page, pages, state, done_by, "
        "done_at, document, reason, pages_sha256) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, 0, ?9, "
        "?10)");
    for (const auto& i : items) {
      q.Reset();
      q.Bind(1, archive)
          .Bind(2, sha256)
          .Bind(3, i.name)
          .Bind(4, std::int64_t{i.first_page})
          .Bind(5, std::int64_t{i.pages})
          .Bind(6, std::string(kvtengine::IntakeStateName(i.state)))
          .Bind(7, user_)
          .Bind(8, at)
          .Bind(9, i.reason)
          .Bind(10, i.pages_sha256)
          .Run();
    }
    added = true;
  });
  return added;
}

std::optional<kvtengine::IntakeItem> SqliteEngine::TakeIntake(const std::string& archive) {
  std::optional<kvtengine::IntakeItem> taken;
  // Under the write lock: no other program takes the same item between the look and the take.
  Transaction([&] {
    auto q = Db().Query(std::string(kIntakeColumns) +
                        "WHERE archive = ?1 AND state = 'in coda' ORDER BY id LIMIT 1");
    q.Bind(1, archive);
    if (!q.Step()) return;
    taken = IntakeRow(q);
    q.Reset();
    taken->state = kvtengine::IntakeItem::State::kTaken;
    taken->by = user_;
    taken->at = kvtengine::SavedAtNow();
    Db().Query("UPDATE intake_items SET state = 'preso', done_by = ?2, done_at = ?3 WHERE id = ?1")
        .Bind(1, taken->id)
        .Bind(2, user_)
        .Bind(3, taken->at)
        .Run();
  });
  return taken;
}

void SqliteEngine::MoveIntake(std::int64_t id, const char* state, std::int32_t document) {
  Transaction([&] {
    Db().Query(
            "UPDATE intake_items SET state = ?2, document = ?3, done_by = ?4, done_at = ?5 WHERE "
            "id = ?1 AND state = 'preso'")
        .Bind(1, id)
        .Bind(2, std::string(state))
        .Bind(3, std::int64_t{document})
        .Bind(4, user_)
        .Bind(5, kvtengine::SavedAtNow())
        .Run();
    if (sqlite3_changes(Db().Handle()) == 0) kvtengine::ThrowIntakeNotTaken(id, kSource);
  });
}

void SqliteEngine::LeaveIntake(std::int64_t id) {
  MoveIntake(id, "in coda", 0);
}

void SqliteEngine::FileIntake(std::int64_t id, std::int32_t document) {
  MoveIntake(id, "archiviato", document);
}

std::vector<kvtengine::IntakeItem> SqliteEngine::IntakeLedger(const std::string& archive) {
  auto q = Db().Query(std::string(kIntakeColumns) + "WHERE archive = ?1 ORDER BY id");
  q.Bind(1, archive);
  std::vector<kvtengine::IntakeItem> out;
  while (q.Step()) out.push_back(IntakeRow(q));
  return out;
}

std::int64_t SqliteEngine::IntakeWaiting(const std::string& archive) {
  auto q = Db().Query("SELECT count(*) FROM intake_items WHERE archive = ?1 AND state = 'in coda'");
  q.Bind(1, archive);
  return q.Step() ? q.ColumnInt(0) : 0;
}

std::optional<kvtengine::IntakeItem> SqliteEngine::NextIntake(const std::string& archive) {
  auto q = Db().Query(std::string(kIntakeColumns) +
                      "WHERE archive = ?1 AND state = 'in coda' ORDER BY id LIMIT 1");
  q.Bind(1, archive);
  if (!q.Step()) return std::nullopt;
  return IntakeRow(q);
}

namespace {
std::int64_t BoxUnits(double fraction) {
  return std::llround(std::clamp(fraction, 0.0, 1.0) * kvtengine::kFieldBoxUnits);
}
}  // namespace

std::int64_t SqliteEngine::KeepFieldBox(const kvtengine::FieldBox& box) {
  std::int64_t id = box.id;
  // Both statements take the box as ?1-?12 (an update leaves the first three, its key, alone).
  auto bind = [&](Statement& q) -> Statement& {
    return q.Bind(1, box.archive)
        .Bind(2, box.form)
        .Bind(3, box.field)
        .Bind(4, std::int64_t{box.page})
        .Bind(5, BoxUnits(box.x))
        .Bind(6, BoxUnits(box.y))
        .Bind(7, BoxUnits(box.width))
        .Bind(8, BoxUnits(box.height))
        .Bind(9, box.shape)
        .Bind(10, box.letterhead)
        .Bind(11, std::int64_t{box.used})
        .Bind(12, box.used_at);
  };
  Transaction([&] {
    if (id != 0) {
      auto q = Db().Query(
          "UPDATE field_boxes SET page = ?4, x = ?5, y = ?6, width = ?7, height = ?8, shape = ?9, "
          "letterhead = ?10, used = ?11, used_at = ?12 WHERE id = ?13 AND archive = ?1 AND form "
          "= ?2 AND field = ?3");
      bind(q).Bind(13, id).Run();
      if (sqlite3_changes(Db().Handle()) > 0) return;
    }
    auto q = Db().Query(
        "INSERT INTO field_boxes (archive, form, field, page, x, y, width, height, shape, "
        "letterhead, used, used_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    bind(q).Run();
    id = sqlite3_last_insert_rowid(Db().Handle());
    // A field keeps a layout per supplier it met lately, not every box ever drawn.
    Db().Query(
            "DELETE FROM field_boxes WHERE archive = ?1 AND form = ?2 AND field = ?3 AND id NOT IN "
            "(SELECT id FROM field_boxes WHERE archive = ?1 AND form = ?2 AND field = ?3 ORDER BY "
            "used_at DESC, id DESC LIMIT ?4)")
        .Bind(1, box.archive)
        .Bind(2, box.form)
        .Bind(3, box.field)
        .Bind(4, std::int64_t{kvtengine::kMaxFieldBoxes})
        .Run();
  });
  return id;
}

std::string SqliteEngine::ArchiveSetting(const std::string& archive, const std::string& name) {
  auto q = Db().Query("SELECT value FROM archive_settings WHERE archive = ?1 AND name = ?2");
  q.Bind(1, archive).Bind(2, name);
  return q.Step() ? q.ColumnText(0) : std::string();
}

void SqliteEngine::PutArchiveSetting(const std::string& archive, const std::string& name,
                                     const std::string& value) {
  Transaction([&] {
    if (value.empty()) {
      Db().Query("DELETE FROM archive_settings WHERE archive = ?1 AND name = ?2")
          .Bind(1, archive)
          .Bind(2, name)
          .Run();
      return;
    }
    Db().Query("INSERT OR REPLACE INTO archive_settings (archive, name, value) VALUES (?1, ?2, ?3)")
        .Bind(1, archive)
        .Bind(2, name)
        .Bind(3, value)
        .Run();
  });
}

std::vector<kvtengine::FieldBox> SqliteEngine::FieldBoxes(const std::string& archive,
                                                          const std::string& form) {
  auto q = Db().Query(
      "SELECT id, field, page, x, y, width, height, shape, letterhead, used, used_at FROM "
      "field_boxes WHERE archive = ?1 AND form = ?2 ORDER BY used DESC, used_at DESC, id");
  q.Bind(1, archive).Bind(2, form);
  std::vector<kvtengine::FieldBox> out;
  while (q.Step()) {
    kvtengine::FieldBox b;
    b.id = q.ColumnInt(0);
    b.archive = archive;
    b.form = form;
    b.field = q.ColumnText(1);
    b.page = static_cast<std::int32_t>(q.ColumnInt(2));
    b.x = static_cast<double>(q.ColumnInt(3)) / kvtengine::kFieldBoxUnits;
    b.y = static_cast<double>(q.ColumnInt(4)) / kvtengine::kFieldBoxUnits;
    b.width = static_cast<double>(q.ColumnInt(5)) / kvtengine::kFieldBoxUnits;
    b.height = static_cast<double>(q.ColumnInt(6)) / kvtengine::kFieldBoxUnits;
    b.shape = q.ColumnText(7);
    b.letterhead = q.ColumnText(8);
    b.used = static_cast<std::int32_t>(q.ColumnInt(9));
    b.used_at = q.ColumnText(10);
    out.push_back(std::move(b));
  }
  return out;
}

void SqliteEngine::ListFiles(const std::function<void(const kvtfiles::StoredFile&)>& each) {
  auto q = Db().Query(std::string("SELECT ") + kFileColumns + " ORDER BY f.sha256");
  while (q.Step()) each(FileRow(q));
}

std::int64_t SqliteEngine::CollectOrphanFiles() {
  std::int64_t removed = 0;
  Transaction([&] {  // the write lock: no writer is between its file and its row
    removed = Files().RemoveOrphans([&](const std::string& sha256) {
      auto q = Db().Query("SELECT 1 FROM stored_files WHERE sha256 = ?1");
      q.Bind(1, sha256);
      return q.Step();
    });
  });
  return removed;
}

}  // namespace kvtsqlite
