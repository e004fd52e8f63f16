// A SQLite database file with a cache of prepared statements. Used by the engine and by the
// autocomplete class; not part of the component.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/common/engine_error.h"
#include "engine/sqlite/document_json.h"
#include "runtime/error.h"
#include "runtime/record_set.h"
#include "runtime/variant.h"

namespace kvtsqlite {

inline constexpr const char* kSource = "kvtDBEngine.DBEngine";

// The engines' shared error numbers.
using kvtengine::kBadDefinition;
using kvtengine::kBadFilter;
using kvtengine::kDatabaseError;
using kvtengine::kNewerSchema;
using kvtengine::kNoDatabase;
using kvtengine::kNotOurDatabase;

kvt::Error EngineError(std::uint32_t n, std::string description);

/// The longest text or row the engine reads from a file (32 MiB); a longer one is an error.
inline constexpr int kMaxTextBytes = 32 << 20;

class Statement;

/// A value AppendJson wrote, from json_each's value column of `q`.
kvt::Variant ReadJsonValue(const Statement& q, int value_column);

/// One open database file. Opening a new, empty file applies the schema and an older kvtfields
/// file is upgraded; a file with another schema, or no SQLite file at all, raises
/// kNotOurDatabase, one from a newer program kNewerSchema, and neither is written.
class Database {
 public:
  /// Opens the file at `path`. With `create`, a missing or empty file is made a new database;
  /// without it, only an existing kvtfields database opens and nothing is written.
  static std::shared_ptr<Database> Open(const std::string& path, bool create = true);
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  const std::string& Path() const { return path_; }
  sqlite3* Handle() const { return db_; }

  /// Runs SQL text without results (several statements allowed).
  void Execute(std::string_view sql);

  /// A row source for a statement prepared once and reused.
  Statement Query(std::string_view sql);
  /// How many statements Execute and Query have been given.
  std::int64_t Statements() const { return statements_; }
  /// The longest one step of a statement may run before it is stopped with kDatabaseError (a
  /// file from elsewhere is untrusted: nothing in it may hang the program). 60 s by default.
  void SetStatementLimit(std::chrono::milliseconds limit) { limit_ = limit; }

 private:
  Database(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
  void Upgrade(const std::string& path);
  /// Starts the clock of SetStatementLimit for the work about to be done.
  void Arm() { deadline_ = CoarseNow() + limit_; }
  // The limit's clock: read at every step, so the cheap one (a few milliseconds fine).
  static std::chrono::nanoseconds CoarseNow() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
    return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
  }
  static int Progress(void* self);
  [[noreturn]] void Stopped() const;
  friend class Statement;
  std::int64_t statements_ = 0;
  struct Cached {
    sqlite3_stmt* stmt = nullptr;
    bool busy = false;
  };
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept {
      return std::hash<std::string_view>{}(s);
    }
  };
  sqlite3* db_;
  std::string path_;
  std::chrono::milliseconds limit_{60000};
  std::chrono::nanoseconds deadline_{};
  std::unordered_map<std::string, Cached, Hash, std::equal_to<>> cache_;
};

/// A prepared statement in use: bind, step, read columns. Resets itself when it goes.
class Statement {
 public:
  ~Statement();
  Statement(Statement&& o) noexcept;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement& operator=(Statement&&) = delete;

  Statement& Bind(int index, std::string_view text);
  Statement& Bind(int index, const std::string& text) {
    return Bind(index, std::string_view(text));
  }
  Statement& Bind(int index, std::int64_t number);
  /// Binds bytes as a BLOB.
  Statement& BindBlob(int index, std::string_view bytes);
  Statement& Bind(int index, const kvt::Variant& value);
  /// Advances to the next row; false when there is none.
  bool Step();
  /// Runs a statement that returns no rows.
  void Run();
  /// Makes the statement ready to be bound and run again (the same statement for many rows).
  void Reset();
  int ColumnCount() const;
  kvt::Variant Column(int index) const;
  std::string ColumnText(int index) const;
  /// A BLOB column's bytes (empty for NULL).
  std::string ColumnBlob(int index) const;
  std::int64_t ColumnInt(int index) const;
  bool ColumnIsNull(int index) const;
  /// SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB or SQLITE_NULL.
  int ColumnType(int index) const;
  /// The column's text, valid until the next step.
  std::string_view ColumnView(int index) const;
  /// Every remaining row as an in-memory record set.
  std::shared_ptr<kvt::RecordSet> ToRecordSet();

 private:
  friend class Database;
  Statement(Database& db, sqlite3_stmt* stmt, bool* busy_flag, bool owned);
  Database* db_;
  sqlite3_stmt* stmt_;
  bool* busy_flag_;  // the cache entry's flag; null when the statement is not cached
  bool owned_;       // a one-off statement, finalized when done
};

/// Converts a value of a result column into a variant: NULL → Null, integers → Long (Double
/// outside the 32-bit range), reals → Double, text and blobs → String.
kvt::Variant ColumnValue(sqlite3_stmt* stmt, int index);

}  // namespace kvtsqlite
