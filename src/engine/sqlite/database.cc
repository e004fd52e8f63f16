#include "engine/sqlite/database.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <optional>

#include "engine/common/archive_engine.h"
#include "engine/common/document_search.h"
#include "engine/files/stored_file.h"
#include "runtime/text.h"

namespace kvtsqlite {

extern const char* const kSchemaSql;

namespace {

constexpr const char* kSchemaName = "kvtfields";

// A CREATE statement as compared: letter case and blanks do not count, string literals do.
std::string Normalized(std::string_view sql) {
  std::string out;
  bool blank = false;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'') {  // a literal, as it is
      const std::size_t end = sql.find('\'', i + 1);
      const std::size_t to = end == std::string_view::npos ? sql.size() : end + 1;
      out.append(sql.substr(i, to - i));
      i = to - 1;
      blank = false;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      blank = true;
      continue;
    }
    const bool mark = std::string_view("(),=").find(c) != std::string_view::npos;
    if (blank && !mark && !out.empty() &&
        std::string_view("(,=").find(out.back()) == std::string_view::npos) {
      out.push_back(' ');
    }
    blank = false;
    out.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c);
  }
  return out;
}

// The virtual tables this program makes (the words by document, and by file before schema
// 13), as SQLite keeps their statements.
bool OurVirtualTable(std::string_view sql) {
  static const std::vector<std::string> ours = {
      Normalized("CREATE VIRTUAL TABLE document_words USING fts5(words, tokenize = 'unicode61 "
                 "remove_diacritics 2')"),
      Normalized("CREATE VIRTUAL TABLE file_words USING fts5(words, tokenize = 'unicode61 "
                 "remove_diacritics 2')")};
  return std::find(ours.begin(), ours.end(), Normalized(sql)) != ours.end();
}

// Every index this program has ever made, as SQLite keeps its statement.
bool OurIndex(std::string_view sql) {
  static const std::vector<std::string> ours = [] {
    std::vector<std::string> out;
    for (const char* s :
         {"CREATE INDEX documents_archive ON documents (archive)",
          "CREATE INDEX field_definitions_order ON field_definitions (archive, position)",
          "CREATE INDEX field_definitions_order ON field_definitions (archive, position, cod)",
          "CREATE INDEX field_definitions_folded ON field_definitions (archive, lower(cod))",
          "CREATE INDEX document_values_by_value ON document_values (field, value)",
          "CREATE INDEX document_values_by_key ON document_values (field, search, document)",
          "CREATE INDEX \"SYS_AUTOCOMPLETE_folded\" ON \"SYS_AUTOCOMPLETE\" (key, folded)",
          "CREATE INDEX \"SYS_AUTOCOMPLETE_recent\" ON \"SYS_AUTOCOMPLETE\" (last_used)",
          "CREATE INDEX document_versions_deleted ON document_versions (archive, document) "
          "WHERE change = 'delete'",
          "CREATE INDEX document_files_by_file ON document_files (sha256, document)",
          "CREATE INDEX intake_items_queue ON intake_items (archive, state, id)",
          "CREATE UNIQUE INDEX intake_items_pages ON intake_items (archive, sha256, first_page)",
          "CREATE INDEX field_boxes_form ON field_boxes (archive, form, field)"}) {
      out.push_back(Normalized(s));
    }
    return out;
  }();
  return std::find(ours.begin(), ours.end(), Normalized(sql)) != ours.end();
}

// The word of a table's statement that would make SQLite compute something on every write (a
// CHECK, a generated column, a default that is an expression), or empty. Quoted names,
// literals and comments are passed over.
std::string ComputedPart(std::string_view sql) {
  std::string last;
  for (std::size_t i = 0; i < sql.size();) {
    const char c = sql[i];
    if (c == '\'' || c == '"' || c == '`' || c == '[') {
      const char close = c == '[' ? ']' : c;
      const std::size_t end = sql.find(close, i + 1);
      i = end == std::string_view::npos ? sql.size() : end + 1;
      last.clear();
      continue;
    }
    if (sql.substr(i, 2) == "--") {
      const std::size_t end = sql.find('\n', i);
      i = end == std::string_view::npos ? sql.size() : end + 1;
      continue;
    }
    if (sql.substr(i, 2) == "/*") {
      const std::size_t end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 2;
      continue;
    }
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      std::string word;
      while (i < sql.size() &&
             (std::isalnum(static_cast<unsigned char>(sql[i])) || sql[i] == '_')) {
        word.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(sql[i++]))));
      }
      if (word == "check" || word == "generated" || word == "as") return word;
      last = word;
      continue;
    }
    if (c == '(' && last == "default") return "default (...)";
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') last.clear();
    ++i;
  }
  return {};
}

kvt::Variant ValueOf(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_NULL:
      return kvt::Variant::Null();
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return kvt::Variant(sqlite3_value_double(v));
    default: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
      return kvt::Variant(
          std::string(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v))));
    }
  }
}

void ResultText(sqlite3_context* ctx, const std::optional<std::string>& text) {
  if (text) {
    sqlite3_result_text64(ctx, text->data(), text->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  } else {
    sqlite3_result_null(ctx);
  }
}

// kvt_search_key(type, data_format, value): a stored value's search key, as the engine gives
// it when storing; the schema upgrade keys the values stored before.
void SearchKeyFunction(sqlite3_context* ctx, int, sqlite3_value** args) {
  try {
    const auto kind = kvtengine::SearchKindOf(ValueOf(args[0]), ValueOf(args[1]));
    ResultText(ctx, kvtengine::SearchKey(kind, ValueOf(args[2])));
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

// kvt_json(value): the value as JSON, as the engine writes a document's values; the schema
// upgrade moves the values stored before.
void JsonFunction(sqlite3_context* ctx, int, sqlite3_value** args) {
  try {
    std::string out;
    switch (sqlite3_value_type(args[0])) {
      case SQLITE_NULL:
        out = "null";
        break;
      case SQLITE_INTEGER:
        out = std::to_string(sqlite3_value_int64(args[0]));
        break;
      case SQLITE_FLOAT:
        AppendJsonDouble(out, sqlite3_value_double(args[0]));
        break;
      default: {
        const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(args[0]));
        AppendJsonText(
            out,
            std::string_view(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(args[0]))));
      }
    }
    sqlite3_result_text64(ctx, out.data(), out.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

// kvt_file_sha256(value): the SHA-256 of the kept file a value names, or NULL; the schema
// upgrade links the documents stored before to their files.
void FileShaFunction(sqlite3_context* ctx, int, sqlite3_value** args) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(args[0]));
  const auto ref = kvtfiles::ParseFileRef(
      std::string_view(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(args[0]))));
  ResultText(ctx, ref ? std::optional<std::string>(ref->sha256) : std::nullopt);
}

// kvt_lower(text): the text in lower case under the runtime's locale.
void LowerFunction(sqlite3_context* ctx, int, sqlite3_value** args) {
  try {
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(args[0]));
    ResultText(ctx, kvt::ToLower(std::string_view(
                        p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(args[0])))));
  } catch (const std::exception& e) {
    sqlite3_result_error(ctx, e.what(), -1);
  }
}

}  // namespace

kvt::Variant ReadJsonValue(const Statement& q, int value_column) {
  if (q.ColumnType(value_column) == SQLITE_TEXT) {
    std::string text;
    if (DecodeJsonText(q.ColumnView(value_column), text)) return kvt::Variant(std::move(text));
  }
  return q.Column(value_column);
}

namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
  throw EngineError(kDatabaseError, what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

}  // namespace

kvt::Error EngineError(std::uint32_t n, std::string description) {
  return kvt::ObjectError(n, kSource, std::move(description));
}

namespace {

// Why a database could not be opened or written, in words a person can act on.
std::string Why(const std::string& path, sqlite3* db, const std::string& sqlite_message) {
  namespace fs = std::filesystem;
  const int err = db ? sqlite3_system_errno(db) : 0;
  const int code = db ? (sqlite3_errcode(db) & 0xFF) : SQLITE_OK;
  if (code == SQLITE_FULL || err == ENOSPC || err == EFBIG || err == EDQUOT) {
    return "the disk is full: free some space (the database needs room for its journal)";
  }
  const fs::path p(path);
  const fs::path folder = p.has_parent_path() ? p.parent_path() : fs::path(".");
  if (::access(folder.c_str(), W_OK) != 0) {
    return "the folder '" + folder.string() + "' is not writable (the database keeps its " +
           "journal beside it)";
  }
  if (fs::exists(p) && ::access(path.c_str(), W_OK) != 0) return "the file is read-only";
  return sqlite_message;
}

}  // namespace

std::shared_ptr<Database> Database::Open(const std::string& path, bool create) {
  // Memory statistics cost a global lock on every allocation and nobody reads them. This only
  // takes effect before SQLite's first use in the process; afterwards the call is refused.
  static const int configured = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
  (void)configured;
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(
      path.c_str(), &raw,
      SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = raw ? sqlite3_errmsg(raw) : "out of memory";
    sqlite3_close(raw);
    if (!create && !std::filesystem::exists(path)) msg = "there is no such file";
    throw EngineError(kDatabaseError, "cannot open '" + path + "': " + Why(path, nullptr, msg));
  }
  std::shared_ptr<Database> db(new Database(raw, path));
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, 5000);  // another process may hold the write lock for a moment
  // A file may come from anywhere: its schema runs no functions with side effects, cannot be
  // written around SQLite, and no statement runs for ever.
  sqlite3_db_config(raw, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(raw, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_progress_handler(raw, 10000, &Database::Progress, db.get());
  // No text in a file is read whole past this size: a value that large was not typed into a
  // form (a field holds 32,767 characters), and reading it would take the memory many times.
  sqlite3_limit(raw, SQLITE_LIMIT_LENGTH, kMaxTextBytes);
  // Only this program's own statements call them: no schema or file can (DIRECTONLY).
  constexpr int kOwn = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_DIRECTONLY;
  sqlite3_create_function(raw, "kvt_search_key", 3, kOwn, nullptr, &SearchKeyFunction, nullptr,
                          nullptr);
  sqlite3_create_function(raw, "kvt_lower", 1, kOwn, nullptr, &LowerFunction, nullptr, nullptr);
  sqlite3_create_function(raw, "kvt_json", 1, kOwn, nullptr, &JsonFunction, nullptr, nullptr);
  sqlite3_create_function(raw, "kvt_file_sha256", 1, kOwn, nullptr, &FileShaFunction, nullptr,
                          nullptr);

  auto count_tables = [&] {
    try {
      auto q = db->Query("SELECT count(*) FROM sqlite_master");
      q.Step();
      return q.ColumnInt(0);
    } catch (const kvt::Error&) {
      // Only a file SQLite cannot read as a database is somebody else's; a folder or disk that
      // refuses the journal is said as such.
      const int code = sqlite3_errcode(raw) & 0xFF;
      if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT) {
        throw EngineError(kNotOurDatabase,
                          "'" + path + "' is not a kvtfields database: " + sqlite3_errmsg(raw));
      }
      throw EngineError(kDatabaseError,
                        "cannot read '" + path + "': " + Why(path, raw, sqlite3_errmsg(raw)));
    }
  };

  if (count_tables() == 0) {
    // An empty file becomes a database only when one is being made: nothing else writes it.
    if (!create) {
      throw EngineError(kNotOurDatabase, "'" + path + "' is empty, not a kvtfields database");
    }
    try {
      // Pages of 8 KiB: storing a document touches a handful of key pages, and fewer, fuller
      // levels make each touch cheaper. Only an empty file takes it, before its transaction.
      db->Execute("PRAGMA page_size = 8192");
      db->Execute("BEGIN IMMEDIATE");
    } catch (const kvt::Error&) {
      throw EngineError(kDatabaseError,
                        "cannot create '" + path + "': " + Why(path, raw, sqlite3_errmsg(raw)));
    }
    try {
      if (count_tables() == 0) db->Execute(kSchemaSql);  // nobody else created it meanwhile
      db->Execute("COMMIT");
    } catch (...) {
      sqlite3_exec(raw, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  // This program makes no triggers or views: one found was put there by somebody else, and
  // would run its own SQL on every read or write.
  {
    auto q = db->Query(
        "SELECT type, name FROM sqlite_master WHERE type IN ('trigger', 'view') ORDER BY name");
    if (q.Step()) {
      throw EngineError(kNotOurDatabase, "'" + path + "' is not a kvtfields database: it holds " +
                                             "the " + q.ColumnText(0) + " '" +
                                             kvt::Printable(q.ColumnText(1)) +
                                             "' that kvtfields did not make");
    }
  }
  // Nor indexes over anything but its columns, virtual tables, or tables that compute on
  // write: somebody else's expression runs on every save (a 200 KB file made one save take
  // 700 MB), or SQL of theirs behind a table's name.
  {
    auto q = db->Query(
        "SELECT type, name, sql FROM sqlite_master WHERE sql IS NOT NULL AND type IN ('index', "
        "'table') ORDER BY name");
    while (q.Step()) {
      const std::string type = q.ColumnText(0), name = q.ColumnText(1), sql = q.ColumnText(2);
      std::string why;
      if (type == "index" && !OurIndex(sql)) {
        why = "the index '" + kvt::Printable(name) + "'";
      } else if (type == "table" && Normalized(sql).starts_with("create virtual") &&
                 !OurVirtualTable(sql)) {
        why = "the virtual table '" + kvt::Printable(name) + "'";
      } else if (type == "table") {
        if (const std::string part = ComputedPart(sql); !part.empty()) {
          why = "the table '" + kvt::Printable(name) + "' computing on every write (" + part + ")";
        }
      }
      if (!why.empty()) {
        throw EngineError(kNotOurDatabase, "'" + path + "' is not a kvtfields database: it holds " +
                                               why + " that kvtfields did not make");
      }
    }
  }
  std::string schema, version;
  try {
    auto q = db->Query("SELECT key, value FROM kvt_meta WHERE key IN ('schema', 'version')");
    while (q.Step()) {
      (q.ColumnText(0) == "schema" ? schema : version) = q.ColumnText(1);
    }
  } catch (const kvt::Error&) {
    // no kvt_meta table: somebody else's database
  }
  if (schema != kSchemaName) {
    throw EngineError(kNotOurDatabase, "'" + path + "' is not a kvtfields database");
  }
  kvtengine::CheckSchemaVersion(kSource, "'" + path + "'", version);
  if (std::stoi(version) < kvtengine::kSchemaVersion) db->Upgrade(path);
  try {
    db->Execute("PRAGMA journal_mode=WAL; PRAGMA foreign_keys=ON;");
  } catch (const kvt::Error&) {
    throw EngineError(kDatabaseError,
                      "cannot use '" + path + "': " + Why(path, raw, sqlite3_errmsg(raw)));
  }
  return db;
}

void Database::Upgrade(const std::string& path) {
  const auto limit = limit_;
  try {
    Execute("BEGIN IMMEDIATE");
  } catch (const kvt::Error&) {
    throw EngineError(kDatabaseError, "cannot upgrade '" + path + "' to this program's version: " +
                                          Why(path, db_, sqlite3_errmsg(db_)));
  }
  try {
    // Read again inside the write lock: another program may have upgraded it meanwhile.
    auto q = Query("SELECT value FROM kvt_meta WHERE key = 'version'");
    q.Step();
    const int from = std::stoi(q.ColumnText(0));
    q.Run();
    // The words of a large archive take minutes to move: the limit on a statement is for
    // what a person waits for.
    limit_ = std::chrono::hours(24);
    for (int v = from; v < kvtengine::kSchemaVersion; ++v) {
      Execute(kvtengine::UpgradeStep(v, kvtengine::SqlDialect::kSqlite));
      // 13: the words kept by file become the words of the documents naming the files.
      if (v == 12 && Query("SELECT 1 FROM sqlite_master WHERE name = 'file_words'").Step()) {
        Execute(
            "INSERT OR REPLACE INTO document_words (rowid, words) SELECT document, "
            "group_concat(words, char(10)) FROM (SELECT l.document, w.words FROM document_files "
            "l JOIN file_readings r ON r.sha256 = l.sha256 JOIN file_words w ON w.rowid = r.id "
            "ORDER BY l.document, l.sha256) GROUP BY document;"
            "DROP TABLE file_words;");
      }
    }
    limit_ = limit;
    Query("UPDATE kvt_meta SET value = ?1 WHERE key = 'version'")
        .Bind(1, std::int64_t{kvtengine::kSchemaVersion})
        .Run();
    Execute("COMMIT");
  } catch (...) {
    limit_ = limit;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void Database::Stopped() const {
  throw EngineError(kDatabaseError, "'" + path_ + "': a query ran longer than " +
                                        std::to_string(limit_.count()) +
                                        " ms and was stopped (is the file from a trusted source?)");
}

int Database::Progress(void* self) {
  return CoarseNow() > static_cast<Database*>(self)->deadline_ ? 1 : 0;
}

Database::~Database() {
  for (auto& [sql, c] : cache_) sqlite3_finalize(c.stmt);
  sqlite3_close(db_);
}

void Database::Execute(std::string_view sql) {
  ++statements_;
  kvtengine::CountRoundTrip();
  char* err = nullptr;
  const std::string text(sql);
  Arm();
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    if ((sqlite3_errcode(db_) & 0xFF) == SQLITE_INTERRUPT) {
      sqlite3_free(err);
      Stopped();
    }
    std::string msg = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    throw EngineError(kDatabaseError, msg);
  }
}

Statement Database::Query(std::string_view sql) {
  ++statements_;
  kvtengine::CountRoundTrip();
  auto it = cache_.find(sql);
  if (it != cache_.end() && !it->second.busy) {
    it->second.busy = true;
    return Statement(*this, it->second.stmt, &it->second.busy, false);
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                         &stmt, nullptr) != SQLITE_OK) {
    Fail(db_, "cannot prepare a statement");
  }
  if (it == cache_.end()) {
    auto [slot, inserted] = cache_.emplace(std::string(sql), Cached{stmt, true});
    return Statement(*this, stmt, &slot->second.busy, false);
  }
  // The cached one is in use further up the stack: this one lives for one use.
  return Statement(*this, stmt, nullptr, true);
}

Statement::Statement(Database& db, sqlite3_stmt* stmt, bool* busy_flag, bool owned)
    : db_(&db), stmt_(stmt), busy_flag_(busy_flag), owned_(owned) {}

Statement::Statement(Statement&& o) noexcept
    : db_(o.db_), stmt_(o.stmt_), busy_flag_(o.busy_flag_), owned_(o.owned_) {
  o.stmt_ = nullptr;
  o.busy_flag_ = nullptr;
}

Statement::~Statement() {
  if (!stmt_) return;
  if (owned_) {
    sqlite3_finalize(stmt_);
    return;
  }
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  if (busy_flag_) *busy_flag_ = false;
}

Statement& Statement::Bind(int index, std::string_view text) {
  if (sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK) {
    Fail(db_->db_, "cannot bind a value");
  }
  return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
  if (sqlite3_bind_blob64(stmt_, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT) !=
      SQLITE_OK) {
    Fail(db_->db_, "cannot bind a value");
  }
  return *this;
}

Statement& Statement::Bind(int index, std::int64_t number) {
  if (sqlite3_bind_int64(stmt_, index, number) != SQLITE_OK) Fail(db_->db_, "cannot bind a value");
  return *this;
}

Statement& Statement::Bind(int index, const kvt::Variant& value) {
  int rc = SQLITE_OK;
  switch (value.Type()) {
    case kvt::VarType::kEmpty:
    case kvt::VarType::kNull:
      rc = sqlite3_bind_null(stmt_, index);
      break;
    case kvt::VarType::kBoolean:
      rc = sqlite3_bind_int(stmt_, index, value.AsBool() ? 1 : 0);
      break;
    case kvt::VarType::kInteger:
    case kvt::VarType::kLong:
      rc = sqlite3_bind_int(stmt_, index, kvt::CLng(value));
      break;
    case kvt::VarType::kDouble:
      rc = sqlite3_bind_double(stmt_, index, value.AsDouble());
      break;
    default:
      return Bind(index, kvt::CStr(value));  // dates as their text, like a person reads them
  }
  if (rc != SQLITE_OK) Fail(db_->db_, "cannot bind a value");
  return *this;
}

bool Statement::Step() {
  db_->Arm();
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  if ((rc & 0xFF) == SQLITE_INTERRUPT) db_->Stopped();
  Fail(db_->db_, "query failed");
}

void Statement::Run() {
  while (Step()) {
  }
}

void Statement::Reset() {
  sqlite3_reset(stmt_);
}

int Statement::ColumnCount() const {
  return sqlite3_column_count(stmt_);
}

kvt::Variant Statement::Column(int index) const {
  return ColumnValue(stmt_, index);
}

std::string Statement::ColumnText(int index) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, index));
  return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, index)))
           : std::string();
}

std::string Statement::ColumnBlob(int index) const {
  const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, index));
  return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, index)))
           : std::string();
}

std::int64_t Statement::ColumnInt(int index) const {
  return sqlite3_column_int64(stmt_, index);
}

std::string_view Statement::ColumnView(int index) const {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, index));
  return p ? std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, index)))
           : std::string_view();
}

int Statement::ColumnType(int index) const {
  return sqlite3_column_type(stmt_, index);
}

bool Statement::ColumnIsNull(int index) const {
  return sqlite3_column_type(stmt_, index) == SQLITE_NULL;
}

std::shared_ptr<kvt::RecordSet> Statement::ToRecordSet() {
  const int n = ColumnCount();
  std::vector<std::string> columns;
  columns.reserve(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) columns.emplace_back(sqlite3_column_name(stmt_, i));
  std::vector<std::vector<kvt::Variant>> rows;
  while (Step()) {
    std::vector<kvt::Variant> row;
    row.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) row.push_back(Column(i));
    rows.push_back(std::move(row));
  }
  return kvt::MemoryRecordSet::Create(std::move(columns), std::move(rows));
}

kvt::Variant ColumnValue(sqlite3_stmt* stmt, int index) {
  switch (sqlite3_column_type(stmt, index)) {
    case SQLITE_NULL:
      return kvt::Variant::Null();
    case SQLITE_INTEGER: {
      const std::int64_t v = sqlite3_column_int64(stmt, index);
      if (v >= std::numeric_limits<std::int32_t>::min() &&
          v <= std::numeric_limits<std::int32_t>::max()) {
        return kvt::Variant(static_cast<std::int32_t>(v));
      }
      return kvt::Variant(static_cast<double>(v));
    }
    case SQLITE_FLOAT:
      return kvt::Variant(sqlite3_column_double(stmt, index));
    default: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
      return kvt::Variant(
          std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, index))));
    }
  }
}

}  // namespace kvtsqlite
