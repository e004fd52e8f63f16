#include "engine/postgresql/pg_database.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "engine/common/archive_engine.h"
#include "engine/common/document_search.h"
#include "engine/common/json_text.h"
#include "runtime/text.h"

namespace kvtpg {

extern const char* const kSchemaSql;

namespace {

using kvtengine::EngineError;

// Serialises making and upgrading the schema between programs connecting at the same moment.
constexpr const char* kSchemaLock = "SELECT pg_advisory_xact_lock(7310142)";

constexpr Oid kBoolOid = 16, kInt8Oid = 20, kInt2Oid = 21, kInt4Oid = 23, kJsonOid = 114,
              kFloat4Oid = 700, kFloat8Oid = 701, kNumericOid = 1700, kJsonbOid = 3802;

std::string Trimmed(const char* message) {
  std::string s = message ? message : "";
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

kvt::Variant WholeNumber(std::int64_t v) {
  if (v >= std::numeric_limits<std::int32_t>::min() &&
      v <= std::numeric_limits<std::int32_t>::max()) {
    return kvt::Variant(static_cast<std::int32_t>(v));
  }
  return kvt::Variant(static_cast<double>(v));
}

}  // namespace

std::string Result::Text(int row, int col) const {
  return std::string(PQgetvalue(r_.get(), row, col),
                     static_cast<std::size_t>(PQgetlength(r_.get(), row, col)));
}

std::int64_t Result::Int(int row, int col) const {
  std::int64_t v = 0;
  const char* p = PQgetvalue(r_.get(), row, col);
  std::from_chars(p, p + PQgetlength(r_.get(), row, col), v);
  return v;
}

kvt::Variant Result::Value(int row, int col) const {
  if (IsNull(row, col)) return kvt::Variant::Null();
  switch (PQftype(r_.get(), col)) {
    case kInt2Oid:
    case kInt4Oid:
    case kInt8Oid:
      return WholeNumber(Int(row, col));
    case kBoolOid:
      return kvt::Variant(std::int32_t{Text(row, col) == "t" ? 1 : 0});
    case kFloat4Oid:
    case kFloat8Oid:
    case kNumericOid:
      return kvt::Variant(std::strtod(PQgetvalue(r_.get(), row, col), nullptr));
    case kJsonOid:
    case kJsonbOid:
      return FromJson(Text(row, col));
    default:
      return kvt::Variant(Text(row, col));
  }
}

std::vector<kvt::Variant> Result::Row(int row, int from, int count) const {
  std::vector<kvt::Variant> out;
  out.reserve(static_cast<std::size_t>(count));
  for (int c = from; c < from + count; ++c) out.push_back(Value(row, c));
  return out;
}

std::shared_ptr<kvt::RecordSet> Result::ToRecordSet() const {
  std::vector<std::string> columns;
  for (int c = 0; c < Columns(); ++c) columns.emplace_back(PQfname(r_.get(), c));
  std::vector<std::vector<kvt::Variant>> rows;
  rows.reserve(static_cast<std::size_t>(Rows()));
  for (int r = 0; r < Rows(); ++r) rows.push_back(Row(r, 0, Columns()));
  return kvt::MemoryRecordSet::Create(std::move(columns), std::move(rows));
}

bool IsConnectionString(const std::string& text) {
  return text.starts_with("postgresql://") || text.starts_with("postgres://") ||
         text.find('=') != std::string::npos;
}

namespace {

std::string PercentDecoded(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    unsigned v = 0;
    if (s[i] == '%' && i + 2 < s.size() &&
        std::from_chars(s.data() + i + 1, s.data() + i + 3, v, 16).ptr == s.data() + i + 3) {
      out.push_back(static_cast<char>(v));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// The value after "password" and '=' at `at` in a keyword string: quoted or up to a space.
std::string KeywordValue(std::string_view s, std::size_t at) {
  while (at < s.size() && (s[at] == ' ' || s[at] == '\t')) ++at;
  if (at < s.size() && s[at] == '\'') {
    // Both as written and as libpq reads it (a message may quote either).
    std::string raw, read;
    for (++at; at < s.size() && s[at] != '\''; ++at) {
      if (s[at] == '\\' && at + 1 < s.size()) raw.push_back(s[at++]);
      raw.push_back(s[at]);
      read.push_back(s[at]);
    }
    return raw + '\0' + read;
  }
  const std::size_t end = s.find_first_of(" \t\n", at);
  return std::string(s.substr(at, end == std::string_view::npos ? s.npos : end - at));
}

// Every form a password of `conninfo` may take in a message.
std::vector<std::string> Passwords(const std::string& conninfo) {
  std::vector<std::string> found;
  const std::string_view s = conninfo;
  // A URI as libpq tells one: by its start (a keyword's value may hold "://").
  const bool uri = s.starts_with("postgresql://") || s.starts_with("postgres://");
  const std::size_t scheme = s.find("://");
  if (uri) {
    // userinfo: up to the last '@' before the query; the password follows its first ':'.
    const std::string_view rest = s.substr(scheme + 3);
    const std::size_t at = rest.substr(0, rest.find('?')).rfind('@');
    if (at != std::string_view::npos) {
      const std::string_view userinfo = rest.substr(0, at);
      const std::size_t colon = userinfo.find(':');
      if (colon != std::string_view::npos) found.emplace_back(userinfo.substr(colon + 1));
    }
    for (std::size_t p = s.find("password=", scheme); p != std::string_view::npos;
         p = s.find("password=", p + 1)) {
      const std::size_t end = s.find('&', p);
      found.emplace_back(s.substr(p + 9, end == std::string_view::npos ? s.npos : end - p - 9));
    }
  } else {
    for (std::size_t p = s.find("password"); p != std::string_view::npos;
         p = s.find("password", p + 1)) {
      std::size_t eq = p + 8;
      while (eq < s.size() && (s[eq] == ' ' || s[eq] == '\t')) ++eq;
      if (eq < s.size() && s[eq] == '=') {
        const std::string value = KeywordValue(s, eq + 1);
        const std::size_t nul = value.find('\0');
        found.push_back(value.substr(0, nul));
        if (nul != std::string::npos) found.push_back(value.substr(nul + 1));
      }
    }
  }
  std::vector<std::string> all;
  for (const auto& f : found) {
    if (f.empty()) continue;
    all.push_back(f);
    all.push_back(PercentDecoded(f));
  }
  // Longest first, so that a password holding another is replaced whole.
  std::sort(all.begin(), all.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() > b.size() : a < b;
  });
  all.erase(std::unique(all.begin(), all.end()), all.end());
  return all;
}

}  // namespace

std::string WithoutPassword(std::string text, const std::string& conninfo) {
  const std::vector<std::string> secrets = Passwords(conninfo);
  if (secrets.empty()) return text;
  // One pass over the text, so that no mask is read again as a password (a password of stars).
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    bool masked = false;
    for (const std::string& secret : secrets) {
      if (!secret.empty() && text.compare(i, secret.size(), secret) == 0) {
        out += "***";
        i += secret.size();
        masked = true;
        break;
      }
    }
    if (!masked) out.push_back(text[i++]);
  }
  return out;
}

std::string Redacted(const std::string& conninfo) {
  if (conninfo.find('\0') != std::string::npos) {
    // libpq would read it only up to there: another string than the one given.
    throw EngineError(kvtengine::kDatabaseError, kSource,
                      "not a PostgreSQL connection string: it holds a NUL character");
  }
  char* err = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &err);
  if (!options) {
    const std::string why = err ? Trimmed(err) : "out of memory";
    PQfreemem(err);
    throw EngineError(kvtengine::kDatabaseError, kSource,
                      "not a PostgreSQL connection string: " + WithoutPassword(why, conninfo));
  }
  std::string host, port, db, user;
  for (PQconninfoOption* o = options; o->keyword; ++o) {
    if (!o->val || !*o->val) continue;
    const std::string_view k = o->keyword;
    if (k == "host" || (k == "hostaddr" && host.empty())) host = o->val;
    if (k == "port") port = o->val;
    if (k == "dbname") db = o->val;
    if (k == "user") user = o->val;
  }
  PQconninfoFree(options);
  return WithoutPassword("postgresql://" + (user.empty() ? "" : user + "@") + host +
                             (port.empty() ? "" : ":" + port) + "/" + db,
                         conninfo);
}

std::string Reopenable(const std::string& conninfo) {
  Redacted(conninfo);  // refuses what libpq cannot read, without a password in the message
  char* err = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &err);
  PQfreemem(err);
  if (!options) throw EngineError(kvtengine::kDatabaseError, kSource, "out of memory");
  std::string out;
  for (PQconninfoOption* o = options; o->keyword; ++o) {
    const std::string_view k = o->keyword;
    if (!o->val || !*o->val || k == "password") continue;
    // A value in quotes, its quotes and backslashes escaped, as libpq reads keywords.
    std::string value = "'";
    for (const char* c = o->val; *c; ++c) {
      if (*c == '\'' || *c == '\\') value.push_back('\\');
      value.push_back(*c);
    }
    value.push_back('\'');
    out += (out.empty() ? "" : " ") + std::string(k) + "=" + value;
  }
  PQconninfoFree(options);
  return out;
}

namespace {

// The only ways an account other than the owner writes documents, each in one statement (one
// trip to the server). They run with their owner's rights and take from the caller only what a
// person may say: the values (with their search keys), the archive of a new document, the
// version a change started from and what kind of change it is. The id, the time (the server's
// clock, UTC) and the author (the session's user) are set here, and every replaced version is
// kept. The search path is fixed, the schema first and pg_temp last, so that no temporary table
// of the caller's can stand in for one of these; nobody may run them until granted. @SCHEMA@ is
// the schema, quoted.
//
// kvt_change_document takes the document's lock (the same for a deleted one), refuses a change
// that did not start from the version stored (KV409) or a document never stored (KV404), keeps
// the replaced version and the values the change replaces, then writes the new values only
// where they differ. Returns the new version.
constexpr const char* kDocumentFunctions = R"sql(
CREATE OR REPLACE FUNCTION kvt_now() RETURNS text LANGUAGE sql STABLE
SET search_path = @SCHEMA@, pg_temp AS $fn$
  SELECT to_char(clock_timestamp() AT TIME ZONE 'UTC', 'YYYY-MM-DD"T"HH24:MI:SS"Z"')
$fn$;

-- The words of a document's files, one after the other (their positions go on, so that a
-- phrase is found within a file).
CREATE OR REPLACE AGGREGATE kvt_words_agg(tsvector) (SFUNC = tsvector_concat, STYPE = tsvector,
    INITCOND = '');

-- A document's words as searched, made anew from the readings of the files it names.
CREATE OR REPLACE FUNCTION kvt_index_document(p_id integer) RETURNS void
LANGUAGE sql SET search_path = @SCHEMA@, pg_temp AS $fn$
  DELETE FROM document_words WHERE document = p_id;
  INSERT INTO document_words (document, archive, words)
    SELECT p_id, d.archive, kvt_words_agg(r.words ORDER BY r.sha256) FROM documents d
    JOIN document_files l ON l.document = d.id JOIN file_readings r ON r.sha256 = l.sha256
    WHERE d.id = p_id GROUP BY d.archive;
$fn$;

-- The kept files a document's values name ("sha256:<digest>/<name>"), linked to it.
CREATE OR REPLACE FUNCTION kvt_link_files(p_id integer, p_values text[]) RETURNS void
LANGUAGE sql SET search_path = @SCHEMA@, pg_temp AS $fn$
  INSERT INTO document_files (document, sha256)
    SELECT DISTINCT p_id, substr(t.v::jsonb #>> '{}', 8, 64) FROM unnest(p_values) AS t(v)
    WHERE jsonb_typeof(t.v::jsonb) = 'string' AND (t.v::jsonb #>> '{}') ~ '^sha256:[0-9a-f]{64}/'
  ON CONFLICT DO NOTHING;
  SELECT kvt_index_document(p_id);
$fn$;

-- A file read (again, or its reading taken away) changes the words of the documents naming
-- it; clerks write readings, and this writes the index for them.
CREATE OR REPLACE FUNCTION kvt_file_read() RETURNS trigger LANGUAGE plpgsql SECURITY DEFINER
SET search_path = @SCHEMA@, pg_temp AS $fn$
BEGIN
  PERFORM kvt_index_document(l.document) FROM document_files l
    WHERE l.sha256 = CASE WHEN TG_OP = 'DELETE' THEN OLD.sha256 ELSE NEW.sha256 END;
  RETURN NULL;
END
$fn$;
DO $trigger$ BEGIN
  IF to_regclass('file_readings') IS NOT NULL THEN
    CREATE OR REPLACE TRIGGER file_readings_words AFTER INSERT OR UPDATE OR DELETE
      ON file_readings FOR EACH ROW EXECUTE FUNCTION kvt_file_read();
  END IF;
END $trigger$;

CREATE OR REPLACE FUNCTION kvt_save_document(p_archive text, p_fields text[], p_values text[],
    p_keys text[])
RETURNS integer LANGUAGE plpgsql SECURITY DEFINER SET search_path = @SCHEMA@, pg_temp AS $fn$
DECLARE
  new_id integer;
BEGIN
  INSERT INTO documents (archive, saved_at, version, saved_by, change)
    VALUES (p_archive, kvt_now(), 1, session_user, 'save') RETURNING id INTO new_id;
  INSERT INTO document_values (document, position, field, value, search)
    SELECT new_id, t.n, t.f, t.v::jsonb, t.k FROM unnest(p_fields, p_values, p_keys)
      WITH ORDINALITY AS t(f, v, k, n);
  PERFORM kvt_link_files(new_id, p_values);
  RETURN new_id;
END
$fn$;

CREATE OR REPLACE FUNCTION kvt_change_document(p_id integer, p_base integer, p_fields text[],
    p_values text[], p_keys text[], p_delete boolean, p_change text)
RETURNS integer LANGUAGE plpgsql SECURITY DEFINER SET search_path = @SCHEMA@, pg_temp AS $fn$
DECLARE
  d documents%ROWTYPE;
  cur integer;
  arch text;
  last_change text;
  deleted boolean := false;
  at text := kvt_now();
BEGIN
  IF p_delete IS NULL OR p_change IS NULL OR (p_delete AND p_change <> 'delete') OR
     (NOT p_delete AND p_change NOT IN ('correct', 'overwrite', 'restore')) THEN
    RAISE EXCEPTION 'not a kind of change: %', quote_literal(p_change) USING ERRCODE = '22023';
  END IF;
  -- One change of a document at a time, and every statement after this one reads what the
  -- change before it wrote: a row lock alone lets a waiter go on with the deleted version it
  -- found before a restore and a deletion landed meanwhile.
  PERFORM pg_advisory_xact_lock(hashtext(current_schema()), p_id);
  SELECT * INTO d FROM documents WHERE id = p_id FOR UPDATE;
  IF FOUND THEN
    cur := d.version;
    arch := d.archive;
  ELSE
    SELECT v.version, v.archive, v.change INTO cur, arch, last_change FROM document_versions v
      WHERE v.document = p_id ORDER BY v.version DESC LIMIT 1 FOR UPDATE;
    IF NOT FOUND OR last_change <> 'delete' THEN
      RAISE EXCEPTION 'no document %', p_id USING ERRCODE = 'KV404';
    END IF;
    -- restored by someone else while this one waited for the lock
    IF EXISTS (SELECT 1 FROM documents WHERE id = p_id) THEN
      RAISE EXCEPTION 'document % changed meanwhile', p_id USING ERRCODE = 'KV409';
    END IF;
    deleted := true;
  END IF;
  IF p_base <> 0 AND p_base <> cur THEN
    RAISE EXCEPTION 'document % is at version %, not %', p_id, cur, p_base USING ERRCODE = 'KV409';
  END IF;
  IF deleted AND p_delete THEN
    RAISE EXCEPTION 'document % is deleted', p_id USING ERRCODE = 'KV404';
  END IF;
  IF cur >= 2147483647 THEN
    RAISE EXCEPTION 'document % has no version after %', p_id, cur USING ERRCODE = '22003';
  END IF;
  IF NOT deleted THEN
    INSERT INTO document_versions (document, version, archive, saved_at, saved_by, change)
      VALUES (p_id, cur, arch, d.saved_at, d.saved_by, d.change);
  END IF;
  INSERT INTO document_changes (document, version, position, field, value, present)
    SELECT p_id, cur, coalesce(o.position, n.n::integer), coalesce(o.field, n.f), o.value,
           o.field IS NOT NULL
    FROM (SELECT position, field, value FROM document_values WHERE document = p_id) o
    FULL JOIN (SELECT t.f, t.v::jsonb AS v, t.n FROM unnest(p_fields, p_values)
               WITH ORDINALITY AS t(f, v, n)) n ON n.f = o.field
    WHERE o.field IS NULL OR n.f IS NULL OR o.value IS DISTINCT FROM n.v;
  DELETE FROM document_files WHERE document = p_id;
  DELETE FROM document_words WHERE document = p_id;
  IF p_delete THEN
    DELETE FROM documents WHERE id = p_id;
    INSERT INTO document_versions (document, version, archive, saved_at, saved_by, change)
      VALUES (p_id, cur + 1, arch, at, session_user, 'delete');
    RETURN cur + 1;
  END IF;
  IF deleted THEN
    INSERT INTO documents (id, archive, saved_at, version, saved_by, change)
      VALUES (p_id, arch, at, cur + 1, session_user, p_change);
  ELSE
    DELETE FROM document_values WHERE document = p_id AND NOT (field = ANY (p_fields));
    UPDATE documents SET version = cur + 1, saved_at = at, saved_by = session_user,
      change = p_change WHERE id = p_id;
  END IF;
  INSERT INTO document_values AS o (document, position, field, value, search)
    SELECT p_id, t.n, t.f, t.v::jsonb, t.k FROM unnest(p_fields, p_values, p_keys)
      WITH ORDINALITY AS t(f, v, k, n)
    ON CONFLICT (document, field) DO UPDATE SET position = excluded.position,
      value = excluded.value, search = excluded.search
    WHERE o.value IS DISTINCT FROM excluded.value OR o.position <> excluded.position
      OR o.search IS DISTINCT FROM excluded.search;
  PERFORM kvt_link_files(p_id, p_values);
  RETURN cur + 1;
END
$fn$;

REVOKE ALL ON FUNCTION kvt_now() FROM PUBLIC;
REVOKE ALL ON FUNCTION kvt_link_files(integer, text[]) FROM PUBLIC;
REVOKE ALL ON FUNCTION kvt_index_document(integer) FROM PUBLIC;
REVOKE ALL ON FUNCTION kvt_file_read() FROM PUBLIC;
REVOKE ALL ON FUNCTION kvt_save_document(text, text[], text[], text[]) FROM PUBLIC;
REVOKE ALL ON FUNCTION kvt_change_document(integer, integer, text[], text[], text[], boolean,
    text) FROM PUBLIC;
)sql";

// Version 7: the change function of before took its time and kind from the caller and was run
// by anyone; it goes, and whoever could run it may run the new ones. Clerks and designers lose
// the direct writes into the document tables that went around the history.
constexpr const char* kTo7Grants = R"sql(
DO $grants$
DECLARE
  r text;
BEGIN
  FOREACH r IN ARRAY ARRAY['kvt_designer', 'kvt_clerk'] LOOP
    IF EXISTS (SELECT FROM pg_roles WHERE rolname = r) THEN
      EXECUTE format('REVOKE INSERT, UPDATE, DELETE, TRUNCATE ON documents, document_values, '
                     'document_versions, document_changes, kvt_meta FROM %I', r);
      IF to_regprocedure('kvt_change_document(integer, integer, text[], text[], text[], boolean, '
                         'text, text)') IS NOT NULL AND has_function_privilege(r,
          'kvt_change_document(integer, integer, text[], text[], text[], boolean, text, text)',
          'EXECUTE') THEN
        EXECUTE format('GRANT EXECUTE ON FUNCTION kvt_save_document(text, text[], text[], '
                       'text[]), kvt_change_document(integer, integer, text[], text[], text[], '
                       'boolean, text), kvt_now() TO %I', r);
      END IF;
    END IF;
  END LOOP;
END
$grants$;
DROP FUNCTION IF EXISTS kvt_change_document(integer, integer, text[], text[], text[], boolean,
    text, text);
)sql";

// Contains-searches use a trigram index where the server has the extension and the account may
// make it; without one they read the field's keys, slower but the same answer.
void TryTrigramIndex(PgDatabase& db) {
  db.Execute("SAVEPOINT kvt_trigram");
  try {
    db.Execute(
        "CREATE EXTENSION IF NOT EXISTS pg_trgm;"
        "CREATE INDEX IF NOT EXISTS document_values_contains ON document_values USING gin "
        "(search gin_trgm_ops)");
    db.Execute("RELEASE SAVEPOINT kvt_trigram");
  } catch (const kvt::Error&) {
    db.Execute("ROLLBACK TO SAVEPOINT kvt_trigram");
  }
}

// Version 4: the values stored before get their search keys, the learnt values their lower
// case, read through a cursor and written back a batch at a time.
void FillSearchKeys(PgDatabase& db) {
  db.Query(
      "DECLARE kvt_keys NO SCROLL CURSOR FOR SELECT v.document, v.field, v.value, f.\"Type\", "
      "f.\"DATA_FORMAT\" FROM document_values v JOIN documents d ON d.id = v.document LEFT JOIN "
      "field_definitions f ON f.archive = d.archive AND f.cod = v.field");
  for (Result r = db.Query("FETCH 5000 FROM kvt_keys"); r.Rows() > 0;
       r = db.Query("FETCH 5000 FROM kvt_keys")) {
    std::vector<Param> docs, fields, keys;
    for (int i = 0; i < r.Rows(); ++i) {
      auto key = kvtengine::SearchKey(kvtengine::SearchKindOf(r.Value(i, 3), r.Value(i, 4)),
                                      r.Value(i, 2));
      if (!key) continue;
      docs.emplace_back(r.Text(i, 0));
      fields.emplace_back(r.Text(i, 1));
      keys.push_back(std::move(key));
    }
    db.Query(
        "UPDATE document_values v SET search = u.k FROM unnest($1::int[], $2::text[], "
        "$3::text[]) AS u(d, f, k) WHERE v.document = u.d AND v.field = u.f",
        {ArrayLiteral(docs), ArrayLiteral(fields), ArrayLiteral(keys)});
  }
  db.Query("CLOSE kvt_keys");
  const Result learnt = db.Query("SELECT key, value FROM \"SYS_AUTOCOMPLETE\"");
  std::vector<Param> k, v, folded;
  for (int i = 0; i < learnt.Rows(); ++i) {
    k.emplace_back(learnt.Text(i, 0));
    v.emplace_back(learnt.Text(i, 1));
    folded.emplace_back(kvt::ToLower(learnt.Text(i, 1)));
  }
  db.Query(
      "UPDATE \"SYS_AUTOCOMPLETE\" s SET folded = u.l FROM unnest($1::text[], $2::text[], "
      "$3::text[]) AS u(k, v, l) WHERE s.key = u.k AND s.value = u.v",
      {ArrayLiteral(k), ArrayLiteral(v), ArrayLiteral(folded)});
  db.Execute(kvtengine::kPgIndexesOf4);
}

// Makes the document functions in the current schema.
void MakeDocumentFunctions(PgDatabase& db) {
  const std::string schema = db.Query("SELECT quote_ident(current_schema())").Text(0, 0);
  std::string sql = kDocumentFunctions;
  for (std::size_t at = sql.find("@SCHEMA@"); at != std::string::npos;
       at = sql.find("@SCHEMA@", at + schema.size())) {
    sql.replace(at, 8, schema);
  }
  db.Execute(sql);
}

}  // namespace

std::shared_ptr<PgDatabase> PgDatabase::Open(const std::string& conninfo, bool create) {
  std::string where = Redacted(conninfo);
  // A server that does not answer must not hang the program; the string's own settings, read
  // in place of "dbname", override these defaults.
  const char* keywords[] = {"connect_timeout", "fallback_application_name", "dbname", nullptr};
  const char* values[] = {"10", "kvtfields", conninfo.c_str(), nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, /*expand_dbname=*/1);
  if (!conn) throw EngineError(kvtengine::kDatabaseError, kSource, "out of memory");
  if (PQstatus(conn) != CONNECTION_OK) {
    const std::string why = WithoutPassword(Trimmed(PQerrorMessage(conn)), conninfo);
    PQfinish(conn);
    throw EngineError(kvtengine::kDatabaseError, kSource,
                      "cannot connect to " + where + ": " + why);
  }
  PQsetClientEncoding(conn, "UTF8");
  // The server's notices are not for the person at the keyboard.
  PQsetNoticeProcessor(
      conn, [](void*, const char*) {}, nullptr);
  std::shared_ptr<PgDatabase> db(new PgDatabase(conn, std::move(where)));
  db->conninfo_ = conninfo;
  const std::string& name = db->where_;
  db->Execute("SET client_min_messages = warning");

  auto has_meta = [&] {
    return db->Query("SELECT to_regclass('kvt_meta') IS NOT NULL").Text(0, 0) == "t";
  };
  if (!has_meta()) {
    const auto tables =
        db->Query("SELECT count(*) FROM pg_tables WHERE schemaname = current_schema()").Int(0, 0);
    if (tables > 0) {
      throw EngineError(kvtengine::kNotOurDatabase, kSource,
                        name + " is not a kvtfields database: it holds other tables");
    }
    if (!create) {
      throw EngineError(kvtengine::kNotOurDatabase, kSource,
                        name + " is empty, not a kvtfields database");
    }
    db->Execute("BEGIN");
    try {
      db->Execute(kSchemaLock);
      if (!has_meta()) {  // nobody else made it meanwhile
        db->Execute(kSchemaSql);
        MakeDocumentFunctions(*db);
        TryTrigramIndex(*db);
      }
      db->Execute("COMMIT");
    } catch (...) {
      PQclear(PQexec(conn, "ROLLBACK"));
      throw;
    }
  }
  auto version = [&] {
    std::string schema, v;
    const Result r =
        db->Query("SELECT key, value FROM kvt_meta WHERE key IN ('schema', 'version')");
    for (int i = 0; i < r.Rows(); ++i) (r.Text(i, 0) == "schema" ? schema : v) = r.Text(i, 1);
    if (schema != "kvtfields") {
      throw EngineError(kvtengine::kNotOurDatabase, kSource, name + " is not a kvtfields database");
    }
    kvtengine::CheckSchemaVersion(kSource, name, v);
    return std::stoi(v);
  };
  if (version() < kvtengine::kSchemaVersion) {
    db->Execute("BEGIN");
    try {
      db->Execute(kSchemaLock);
      for (int v = version(); v < kvtengine::kSchemaVersion; ++v) {
        db->Execute(kvtengine::UpgradeStep(v, kvtengine::SqlDialect::kPostgres));
        if (v == 3) {
          FillSearchKeys(*db);
          TryTrigramIndex(*db);
        }
        if (v == 4 || v == 6 || v == 12) MakeDocumentFunctions(*db);
        // The words already read, by document.
        if (v == 12) {
          db->Execute(
              "INSERT INTO document_words (document, archive, words) SELECT d.id, d.archive, "
              "kvt_words_agg(r.words ORDER BY r.sha256) FROM documents d JOIN document_files l "
              "ON l.document = d.id JOIN file_readings r ON r.sha256 = l.sha256 GROUP BY d.id, "
              "d.archive ON CONFLICT DO NOTHING");
        }
        if (v == 6) db->Execute(kTo7Grants);
      }
      db->Query("UPDATE kvt_meta SET value = $1 WHERE key = 'version'",
                {std::to_string(kvtengine::kSchemaVersion)});
      db->Execute("COMMIT");
    } catch (...) {
      PQclear(PQexec(conn, "ROLLBACK"));
      throw;
    }
  }
  return db;
}

PgDatabase::~PgDatabase() {
  PQfinish(conn_);
}

void PgDatabase::Fail(const std::string& what, const PGresult* r) const {
  const char* message = r ? PQresultErrorMessage(r) : PQerrorMessage(conn_);
  std::string why = Trimmed(message);
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  const std::string_view sqlstate = state ? state : "";
  // The server's refusals that are no failure: a changed document, a missing one, a right the
  // account lacks; the server's own text names the object.
  const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  const std::string said = primary ? primary : why;
  if (sqlstate == "KV409") throw EngineError(kvtengine::kConflict, kSource, said);
  if (sqlstate == "KV404") {
    throw kvt::RuntimeError(kvt::ErrorCode::kSubscriptOutOfRange, said, kSource);
  }
  if (sqlstate == "42501") throw EngineError(kvtengine::kNoPermission, kSource, said);
  if (PQstatus(conn_) != CONNECTION_OK) why = "the connection to " + where_ + " is lost: " + why;
  throw EngineError(kvtengine::kDatabaseError, kSource, what + ": " + why);
}

void PgDatabase::Execute(const std::string& sql) {
  ++trips_;
  kvtengine::CountRoundTrip();
  PGresult* r = PQexec(conn_, sql.c_str());
  const Result owner(r);
  const auto status = PQresultStatus(r);
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) Fail("the database refused", r);
}

namespace {

// The parameters as libpq takes them; a text the server would cut short is refused.
std::vector<const char*> Values(const std::vector<Param>& params) {
  std::vector<const char*> values;
  values.reserve(params.size());
  for (const Param& p : params) {
    // A text is passed up to its first NUL: it would be stored cut short.
    if (p) {
      if (const std::string why = WhyUnstorable(*p); !why.empty()) {
        throw EngineError(kvtengine::kDatabaseError, kSource,
                          "PostgreSQL cannot store a text that " + why + ": nothing was written");
      }
    }
    values.push_back(p ? p->c_str() : nullptr);
  }
  return values;
}

bool Succeeded(const Result& r) {
  const auto status = PQresultStatus(r.Get());
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

}  // namespace

Result PgDatabase::Query(const std::string& sql, const std::vector<Param>& params) {
  auto it = prepared_.find(sql);
  if (it == prepared_.end()) return std::move(QueryAll({{sql, params}}).front());
  const auto values = Values(params);
  ++trips_;
  kvtengine::CountRoundTrip();
  Result result(PQexecPrepared(conn_, it->second.c_str(), static_cast<int>(values.size()),
                               values.data(), nullptr, nullptr, 0));
  if (!Succeeded(result)) Fail("query failed", result.Get());
  return result;
}

Result PgDatabase::QueryBytes(const std::string& sql, const std::vector<Param>& params,
                              std::optional<std::string_view> bytes, bool binary_result) {
  auto values = Values(params);
  std::vector<int> lengths(values.size(), 0), formats(values.size(), 0);
  if (bytes) {
    values.push_back(bytes->data());
    lengths.push_back(static_cast<int>(bytes->size()));
    formats.push_back(1);
  }
  ++trips_;
  kvtengine::CountRoundTrip();
  Result result(PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), nullptr,
                             values.data(), lengths.data(), formats.data(), binary_result ? 1 : 0));
  if (!Succeeded(result)) Fail("query failed", result.Get());
  return result;
}

std::vector<Result> PgDatabase::QueryAll(const std::vector<Statement>& statements) {
  std::vector<std::vector<const char*>> values;
  for (const auto& s : statements) values.push_back(Values(s.params));
  // One pipeline, one trip: each statement prepared the first time its text is seen, then run;
  // the server runs them all in one transaction of their own unless one is open.
  ++trips_;
  kvtengine::CountRoundTrip();
  std::vector<std::optional<std::string>> new_names(statements.size());
  bool sent = PQenterPipelineMode(conn_) == 1;
  std::size_t next_name = prepared_.size();
  for (std::size_t i = 0; sent && i < statements.size(); ++i) {
    const auto& s = statements[i];
    auto it = prepared_.find(s.sql);
    std::string name;
    if (it != prepared_.end()) {
      name = it->second;
    } else {
      name = "kvt" + std::to_string(++next_name);
      new_names[i] = name;
      sent = PQsendPrepare(conn_, name.c_str(), s.sql.c_str(), 0, nullptr) == 1;
    }
    sent = sent && PQsendQueryPrepared(conn_, name.c_str(), static_cast<int>(values[i].size()),
                                       values[i].data(), nullptr, nullptr, 0) == 1;
  }
  sent = sent && PQpipelineSync(conn_) == 1;
  if (!sent) {
    EndPipeline();
    Fail("cannot send a statement");
  }
  // The results in the order sent: for each new statement its prepare's, then its run's.
  std::vector<Result> prepares, results;
  for (std::size_t i = 0; i < statements.size(); ++i) {
    if (new_names[i]) prepares.push_back(NextResult());
    results.push_back(NextResult());
  }
  EndPipeline();
  // Every statement the server now holds is remembered (its name must not be given again);
  // then the first failure, in the order sent, is raised.
  std::size_t p = 0;
  const Result* failed = nullptr;
  const char* what = nullptr;
  for (std::size_t i = 0; i < statements.size(); ++i) {
    if (new_names[i]) {
      const Result& prepare = prepares[p++];
      if (Succeeded(prepare)) {
        prepared_.emplace(statements[i].sql, *new_names[i]);
      } else if (!failed) {
        failed = &prepare, what = "cannot prepare a statement";
      }
    }
    if (!failed && !Succeeded(results[i])) failed = &results[i], what = "query failed";
  }
  if (failed) Fail(what, failed->Get());
  return results;
}

Result PgDatabase::NextResult() {
  // One command's result, then the null that ends its results.
  Result r(PQgetResult(conn_));
  if (r.Get()) {
    while (PGresult* extra = PQgetResult(conn_)) PQclear(extra);
  }
  return r;
}

void PgDatabase::EndPipeline() {
  // Up to the pipeline's sync (or a connection that broke), then one command at a time again.
  for (int nulls = 0; nulls < 2 && PQpipelineStatus(conn_) != PQ_PIPELINE_OFF;) {
    PGresult* r = PQgetResult(conn_);
    if (!r) {
      if (PQstatus(conn_) != CONNECTION_OK) break;
      ++nulls;
      continue;
    }
    const bool sync = PQresultStatus(r) == PGRES_PIPELINE_SYNC;
    PQclear(r);
    if (sync) break;
  }
  PQexitPipelineMode(conn_);
}

std::string WhyUnstorable(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) return "holds the character NUL";
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t at = i;
    const char32_t c = kvt::NextCodePoint(text, i);
    // NextCodePoint gives a malformed byte back as itself, one byte long.
    if (c >= 0x80 && i - at == 1) {
      char byte[16];
      std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned>(c));
      return std::string("is not valid UTF-8 (byte ") + byte + " at " + std::to_string(at) + ")";
    }
  }
  return {};
}

Param ToJson(const kvt::Variant& value) {
  switch (value.Type()) {
    case kvt::VarType::kEmpty:
    case kvt::VarType::kNull:
      return std::nullopt;
    case kvt::VarType::kBoolean:
      return std::string(value.AsBool() ? "1" : "0");
    case kvt::VarType::kInteger:
    case kvt::VarType::kLong:
      return std::to_string(kvt::CLng(value));
    case kvt::VarType::kDouble: {
      const double d = value.AsDouble();
      if (!std::isfinite(d)) return std::nullopt;  // JSON has no such numbers
      char buf[32];
      const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
      std::string text(buf, end);
      if (text.find_first_of(".e") == std::string::npos) text += ".0";  // stays a decimal
      return text;
    }
    default:
      break;
  }
  // Dates as their text, like a person reads them; a JSON string is the runtime's quoted text.
  return kvt::QuotedText(kvt::CStr(value));
}

Param ValueJson(const kvt::Variant& value) {
  if (!value.IsString() || WhyUnstorable(value.AsString()).empty()) return ToJson(value);
  std::string out = "{\"hex\": \"";
  kvtengine::AppendHex(out, value.AsString());
  return out + "\"}";
}

namespace {

// The bytes of {"hex": "..."} as jsonb writes it back, or nothing when `json` is another text.
std::optional<std::string> HexObject(std::string_view json) {
  constexpr std::string_view kOpen = "{\"hex\": \"";
  if (!json.starts_with(kOpen) || !json.ends_with("\"}")) return std::nullopt;
  std::string out;
  if (!kvtengine::ReadHex(json.substr(kOpen.size(), json.size() - kOpen.size() - 2), out)) {
    return std::nullopt;
  }
  return out;
}

}  // namespace

kvt::Variant FromJson(std::string_view json) {
  if (json.empty() || json == "null") return kvt::Variant::Null();
  if (json.front() == '"') {
    // The server writes valid JSON; a string it could not have written stays as it is. A NUL
    // is read back as written (the server refuses to store one; values keep it as hex).
    std::string text;
    std::size_t at = 0;
    if (kvtengine::ReadJsonString(json, at, text, /*keep_nul=*/true) && at == json.size()) {
      return kvt::Variant(std::move(text));
    }
    return kvt::Variant(std::string(json));
  }
  if (json.front() == '{') {
    if (auto bytes = HexObject(json)) return kvt::Variant(std::move(*bytes));
  }
  if (json == "true" || json == "false") return kvt::Variant(std::int32_t{json == "true"});
  const bool number = json.front() == '-' || (json.front() >= '0' && json.front() <= '9');
  if (!number) return kvt::Variant(std::string(json));  // arrays and objects put there by hand
  if (json.find_first_of(".eE") == std::string_view::npos) {
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(json.data(), json.data() + json.size(), v);
    if (ec == std::errc() && end == json.data() + json.size()) return WholeNumber(v);
  }
  return kvt::Variant(std::strtod(std::string(json).c_str(), nullptr));
}

std::string ArrayLiteral(const std::vector<Param>& values) {
  std::string out = "{";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i) out.push_back(',');
    if (!values[i]) {
      out += "NULL";
      continue;
    }
    out.push_back('"');
    for (const char c : *values[i]) {
      if (c == '"' || c == '\\') out.push_back('\\');
      out.push_back(c);
    }
    out.push_back('"');
  }
  out.push_back('}');
  return out;
}

}  // namespace kvtpg
