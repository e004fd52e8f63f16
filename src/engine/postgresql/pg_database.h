// One connection to a PostgreSQL database (libpq), with statements prepared once per
// connection and values passed as parameters, never spliced into SQL. Not part of the
// component.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/common/engine_error.h"
#include "runtime/record_set.h"
#include "runtime/variant.h"

namespace kvtpg {

inline constexpr const char* kSource = "kvtDBEngine.PgEngine";

/// A parameter in text form; nullopt is SQL NULL.
using Param = std::optional<std::string>;

/// A query's rows; values are read by the column's type (text, integers, jsonb).
class Result {
 public:
  explicit Result(PGresult* r) : r_(r, &PQclear) {}
  const PGresult* Get() const { return r_.get(); }
  int Rows() const { return PQntuples(r_.get()); }
  int Columns() const { return PQnfields(r_.get()); }
  bool IsNull(int row, int col) const { return PQgetisnull(r_.get(), row, col) != 0; }
  std::string Text(int row, int col) const;
  std::int64_t Int(int row, int col) const;
  /// The value as the engines give it: NULL → Null, integers → Long (Double outside 32 bits),
  /// jsonb → the kind it was stored as, anything else → String.
  kvt::Variant Value(int row, int col) const;
  /// Columns [from, from + count) of a row.
  std::vector<kvt::Variant> Row(int row, int from, int count) const;
  /// Every row as an in-memory record set with the query's column names.
  std::shared_ptr<kvt::RecordSet> ToRecordSet() const;

 private:
  std::unique_ptr<PGresult, void (*)(PGresult*)> r_;
};

class PgDatabase {
 public:
  /// Connects with a libpq connection string (URI or keywords). With `create`, an empty
  /// database gets the schema; otherwise only a kvtfields database opens. An older schema is
  /// upgraded; a newer one, or another program's tables, are refused and left untouched.
  static std::shared_ptr<PgDatabase> Open(const std::string& conninfo, bool create);
  ~PgDatabase();
  PgDatabase(const PgDatabase&) = delete;
  PgDatabase& operator=(const PgDatabase&) = delete;

  /// The connection as "postgresql://user@host:port/db", without its password.
  const std::string& Where() const { return where_; }
  /// The connection string as given, password included: for opening a second connection
  /// only, never to be shown.
  const std::string& ConnectionString() const { return conninfo_; }
  /// Runs SQL text without parameters (several statements allowed).
  void Execute(const std::string& sql);
  /// Runs a statement, prepared on this connection the first time its text is seen (in the
  /// same trip to the server).
  Result Query(const std::string& sql, const std::vector<Param>& params = {});
  struct Statement {
    std::string sql;
    std::vector<Param> params;
  };
  /// Runs several statements in one trip to the server (one pipeline), their results in order;
  /// the first that fails raises.
  std::vector<Result> QueryAll(const std::vector<Statement>& statements);
  /// Runs one statement unprepared, with `bytes` as one more parameter after `params`, passed as
  /// binary (bytea, not copied into text); `binary_result`: the columns come back as binary
  /// (a bytea's raw bytes).
  Result QueryBytes(const std::string& sql, const std::vector<Param>& params,
                    std::optional<std::string_view> bytes, bool binary_result);
  /// The requests sent to the server since connecting (each a round trip).
  std::int64_t RoundTrips() const { return trips_; }
  /// Nesting depth of Transaction; 0 outside one.
  int depth = 0;

 private:
  PgDatabase(PGconn* conn, std::string where) : conn_(conn), where_(std::move(where)) {}
  // Pipeline mode: the next command's result; and out of the pipeline again.
  Result NextResult();
  void EndPipeline();
  [[noreturn]] void Fail(const std::string& what, const PGresult* r = nullptr) const;
  PGconn* conn_;
  std::string where_;
  std::string conninfo_;
  std::unordered_map<std::string, std::string> prepared_;  // SQL text → statement name
  std::int64_t trips_ = 0;
};

/// True when `text` names a PostgreSQL database rather than a file: a postgresql:// (or
/// postgres://) URI, or anything with '=' (libpq keywords such as "host=... dbname=..."). A
/// keyword string libpq rejects is still one: it gives an error, never a file of that name.
bool IsConnectionString(const std::string& text);

/// `text` (a message, libpq's or ours) with every password that `conninfo` carries replaced by
/// "***": the URI's userinfo password and its password parameter, the password keyword, read
/// without libpq so that malformed strings are covered too. Every message quoting a connection
/// string or libpq's words goes through it.
std::string WithoutPassword(std::string text, const std::string& conninfo);

/// The connection string without its password, for messages: "postgresql://user@host:port/db".
/// A text libpq cannot read raises kDatabaseError.
std::string Redacted(const std::string& conninfo);

/// The connection string without its password but with every other setting it gives (TLS
/// mode and certificates, timeouts, options), as libpq keywords: what a program keeps to
/// connect again the same way. A text libpq cannot read raises kDatabaseError.
std::string Reopenable(const std::string& conninfo);

/// Why PostgreSQL cannot hold `text` as text ("holds the character NUL", "is not valid
/// UTF-8"), or empty when it can.
std::string WhyUnstorable(std::string_view text);

/// A value as jsonb text (nullopt for Null and Empty), so that it reads back as the same kind;
/// booleans are stored as 1 and 0, dates as their text.
Param ToJson(const kvt::Variant& value);
/// A document's value as jsonb text: as ToJson, and a text PostgreSQL cannot hold (a NUL, bytes
/// that are not UTF-8) as the object {"hex": "..."} of its bytes, as the SQLite engine keeps it.
Param ValueJson(const kvt::Variant& value);
/// A jsonb value's text read back: strings, whole numbers (Long, Double outside 32 bits),
/// decimal numbers, the {"hex": ...} object as the text of its bytes; JSON null as Null.
kvt::Variant FromJson(std::string_view json);
/// A text[] literal of the values, for unnest().
std::string ArrayLiteral(const std::vector<Param>& values);

}  // namespace kvtpg
