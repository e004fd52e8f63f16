#include "engine/common/engine_error.h"

#include <charconv>
#include <iterator>

namespace kvtengine {

kvt::Error EngineError(std::uint32_t n, const char* source, std::string description) {
  return kvt::ObjectError(n, source, std::move(description));
}

void ThrowIntakeNotTaken(std::int64_t id, const char* source) {
  throw EngineError(kConflict, source,
                    "l'elemento " + std::to_string(id) +
                        " della coda da archiviare non è più preso: è stato archiviato, lasciato "
                        "o scartato nel frattempo");
}

void ThrowNoArchive(const std::string& archive, const char* source) {
  throw EngineError(kNoArchive, source, "the database has no archive '" + archive + "'");
}

namespace {

// From version 1 on, one entry per version.
constexpr const char* kUpgrades[] = {
    // 2: documents counted per archive, a form's fields read in order from the index alone,
    // letter-case twins found without reading the whole archive
    "CREATE INDEX IF NOT EXISTS documents_archive ON documents (archive);"
    "DROP INDEX IF EXISTS field_definitions_order;"
    "CREATE INDEX field_definitions_order ON field_definitions (archive, position, cod);"
    "CREATE INDEX IF NOT EXISTS field_definitions_folded ON field_definitions (archive, "
    "lower(cod));",
    // 3: documents found by a value (a probable duplicate) without reading every document
    "CREATE INDEX IF NOT EXISTS document_values_by_value ON document_values (field, value);",
};
static_assert(std::size(kUpgrades) == 2);

// 4: every value with a search key, searched by index; values learnt for autocomplete found by
// what is typed, whatever its letter case.
constexpr const char* kSqliteTo4 =
    "ALTER TABLE document_values ADD COLUMN search TEXT;"
    "DROP INDEX IF EXISTS document_values_by_value;"
    "UPDATE document_values SET search = kvt_search_key((SELECT f.\"Type\" FROM documents d "
    "JOIN field_definitions f ON f.archive = d.archive AND f.cod = document_values.field WHERE "
    "d.id = document_values.document), (SELECT f.\"DATA_FORMAT\" FROM documents d JOIN "
    "field_definitions f ON f.archive = d.archive AND f.cod = document_values.field WHERE d.id = "
    "document_values.document), value);"
    "CREATE INDEX document_values_by_key ON document_values (field, search, document);"
    "ALTER TABLE \"SYS_AUTOCOMPLETE\" ADD COLUMN folded TEXT NOT NULL DEFAULT '';"
    "UPDATE \"SYS_AUTOCOMPLETE\" SET folded = kvt_lower(value);"
    "CREATE INDEX \"SYS_AUTOCOMPLETE_folded\" ON \"SYS_AUTOCOMPLETE\" (key, folded);"
    "CREATE INDEX \"SYS_AUTOCOMPLETE_recent\" ON \"SYS_AUTOCOMPLETE\" (last_used);";
constexpr const char* kPgTo4 =
    "ALTER TABLE document_values ADD COLUMN search text COLLATE \"C\";"
    "DROP INDEX IF EXISTS document_values_by_value;"
    "ALTER TABLE \"SYS_AUTOCOMPLETE\" ADD COLUMN folded text COLLATE \"C\" NOT NULL DEFAULT '';";

// 5: documents have versions, and every version a change replaced is kept: who made it, when
// and how, and the values the next version changed. Stored documents become version 1 by an
// unknown author.
constexpr const char* kSqliteTo5 =
    "ALTER TABLE documents ADD COLUMN version INTEGER NOT NULL DEFAULT 1;"
    "ALTER TABLE documents ADD COLUMN saved_by TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE documents ADD COLUMN change TEXT NOT NULL DEFAULT 'save';"
    "CREATE TABLE document_versions (document INTEGER NOT NULL, version INTEGER NOT NULL, "
    "archive TEXT NOT NULL, saved_at TEXT NOT NULL, saved_by TEXT NOT NULL, change TEXT NOT NULL, "
    "PRIMARY KEY (document, version)) WITHOUT ROWID;"
    "CREATE INDEX document_versions_deleted ON document_versions (archive, document) WHERE "
    "change = 'delete';"
    "CREATE TABLE document_changes (document INTEGER NOT NULL, version INTEGER NOT NULL, position "
    "INTEGER NOT NULL, field TEXT NOT NULL, value, present INTEGER NOT NULL, PRIMARY KEY "
    "(document, version, field)) WITHOUT ROWID;";
constexpr const char* kPgTo5 =
    "ALTER TABLE documents ADD COLUMN version integer NOT NULL DEFAULT 1;"
    "ALTER TABLE documents ADD COLUMN saved_by text NOT NULL DEFAULT '';"
    "ALTER TABLE documents ALTER COLUMN saved_by SET DEFAULT session_user;"
    "ALTER TABLE documents ADD COLUMN change text NOT NULL DEFAULT 'save';"
    "CREATE TABLE document_versions (document integer NOT NULL, version integer NOT NULL, "
    "archive text COLLATE \"C\" NOT NULL, saved_at text NOT NULL, saved_by text NOT NULL, change "
    "text NOT NULL, PRIMARY KEY (document, version));"
    "CREATE INDEX document_versions_deleted ON document_versions (archive, document) WHERE "
    "change = 'delete';"
    "CREATE TABLE document_changes (document integer NOT NULL, version integer NOT NULL, position "
    "integer NOT NULL, field text COLLATE \"C\" NOT NULL, value jsonb, present boolean NOT NULL, "
    "PRIMARY KEY (document, version, field));";

// 6: a document's values in its own row (one row written per document, not one per value),
// and only the values that have a key in the key table.
constexpr const char* kSqliteTo6 =
    "ALTER TABLE documents ADD COLUMN content TEXT NOT NULL DEFAULT '{}';"
    "ALTER TABLE documents ADD COLUMN search_keys TEXT NOT NULL DEFAULT '{}';"
    "UPDATE documents SET content = coalesce((SELECT json_group_object(field, "
    "json(kvt_json(value))) FROM (SELECT field, value FROM document_values WHERE document = "
    "documents.id ORDER BY rowid)), '{}'), search_keys = coalesce((SELECT "
    "json_group_object(field, json(kvt_json(search))) FROM (SELECT field, search FROM "
    "document_values WHERE "
    "document = documents.id AND search IS NOT NULL ORDER BY rowid)), '{}');"
    "CREATE TABLE document_keys (field TEXT NOT NULL, search TEXT NOT NULL, document INTEGER NOT "
    "NULL, PRIMARY KEY (field, search, document)) WITHOUT ROWID;"
    "INSERT INTO document_keys (field, search, document) SELECT field, search, document FROM "
    "document_values WHERE search IS NOT NULL ORDER BY field, search, document;"
    "CREATE TABLE document_fields (field TEXT PRIMARY KEY) WITHOUT ROWID;"
    "INSERT INTO document_fields (field) SELECT DISTINCT field FROM document_values;"
    "DROP TABLE document_values;";
// PostgreSQL keeps one row per value.
constexpr const char* kPgTo6 = "SELECT 1";
// 7: PostgreSQL writes documents only through its functions (the engine makes them anew);
// SQLite's layout stays.
constexpr const char* kTo7 = "SELECT 1";
// 8: the documents' files (a test may upgrade a newer database set back: the tables may be there).
constexpr const char* kSqliteTo8 =
    "CREATE TABLE IF NOT EXISTS stored_files (sha256 TEXT PRIMARY KEY, size INTEGER NOT NULL, "
    "media_type TEXT NOT NULL, pages INTEGER NOT NULL, name TEXT NOT NULL, stored_at TEXT NOT "
    "NULL, stored_by TEXT NOT NULL) WITHOUT ROWID;";
constexpr const char* kPgTo8 =
    "CREATE SEQUENCE IF NOT EXISTS file_uploads;"
    "CREATE TABLE IF NOT EXISTS stored_files (sha256 text COLLATE \"C\" PRIMARY KEY, upload bigint "
    "NOT NULL, "
    "size bigint NOT NULL, pieces integer NOT NULL, media_type text NOT NULL, pages integer NOT "
    "NULL, name text NOT NULL, stored_at text NOT NULL, stored_by text NOT NULL DEFAULT "
    "session_user);"
    "CREATE TABLE IF NOT EXISTS file_pieces (upload bigint NOT NULL, seq integer NOT NULL, bytes "
    "bytea NOT "
    "NULL, PRIMARY KEY (upload, seq));"
    "ALTER TABLE file_pieces ALTER COLUMN bytes SET STORAGE EXTERNAL;";

// 9: the digests of a large file's pieces, for reads checked on several cores (SQLite; on
// PostgreSQL every read is checked against the file's own digest).
constexpr const char* kSqliteTo9 =
    "CREATE TABLE IF NOT EXISTS file_piece_digests (sha256 TEXT PRIMARY KEY, digests BLOB NOT "
    "NULL) WITHOUT ROWID;";

// 10: what was read off the files' pages, their words searched, the files each document names
// (the documents stored before linked to theirs), and the intake queue with its page ledger.
constexpr const char* kSqliteTo10 =
    "CREATE TABLE IF NOT EXISTS file_readings (id INTEGER PRIMARY KEY, sha256 TEXT NOT NULL "
    "UNIQUE, reader TEXT NOT NULL, read_at TEXT NOT NULL, failure TEXT NOT NULL);"
    "CREATE TABLE IF NOT EXISTS file_pages (sha256 TEXT NOT NULL, page INTEGER NOT NULL, width "
    "INTEGER NOT NULL, height INTEGER NOT NULL, words TEXT NOT NULL, PRIMARY KEY (sha256, page)) "
    "WITHOUT ROWID;"
    "DROP TABLE IF EXISTS file_words;"
    "CREATE VIRTUAL TABLE file_words USING fts5(words, tokenize = 'unicode61 remove_diacritics "
    "2');"
    "DELETE FROM file_readings;"
    "DELETE FROM file_pages;"
    "CREATE TABLE IF NOT EXISTS document_files (document INTEGER NOT NULL, sha256 TEXT NOT NULL, "
    "PRIMARY KEY (document, sha256)) WITHOUT ROWID;"
    "CREATE INDEX IF NOT EXISTS document_files_by_file ON document_files (sha256, document);"
    "INSERT OR IGNORE INTO document_files (document, sha256) SELECT d.id, "
    "kvt_file_sha256(j.value) FROM documents d, json_each(d.content) j WHERE j.type = 'text' AND "
    "kvt_file_sha256(j.value) IS NOT NULL;"
    "CREATE TABLE IF NOT EXISTS intake_items (id INTEGER PRIMARY KEY, archive TEXT NOT NULL, "
    "sha256 TEXT NOT NULL, name TEXT NOT NULL, first_page INTEGER NOT NULL, pages INTEGER NOT "
    "NULL, state TEXT NOT NULL, done_by TEXT NOT NULL, done_at TEXT NOT NULL, document INTEGER "
    "NOT NULL, reason TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS intake_items_queue ON intake_items (archive, state, id);"
    "CREATE UNIQUE INDEX IF NOT EXISTS intake_items_pages ON intake_items (archive, sha256, "
    "first_page);";
constexpr const char* kPgTo10 =
    "CREATE TABLE IF NOT EXISTS file_readings (sha256 text COLLATE \"C\" PRIMARY KEY, reader "
    "text NOT NULL, read_at text NOT NULL, failure text NOT NULL, words tsvector NOT NULL);"
    "CREATE INDEX IF NOT EXISTS file_readings_words ON file_readings USING gin (words);"
    "CREATE TABLE IF NOT EXISTS file_pages (sha256 text COLLATE \"C\" NOT NULL, page integer NOT "
    "NULL, width integer NOT NULL, height integer NOT NULL, words text NOT NULL, PRIMARY KEY "
    "(sha256, page));"
    "CREATE TABLE IF NOT EXISTS document_files (document integer NOT NULL, sha256 text COLLATE "
    "\"C\" NOT NULL, PRIMARY KEY (document, sha256));"
    "CREATE INDEX IF NOT EXISTS document_files_by_file ON document_files (sha256, document);"
    "INSERT INTO document_files (document, sha256) SELECT DISTINCT v.document, substr(v.value "
    "#>> '{}', 8, 64) FROM document_values v WHERE jsonb_typeof(v.value) = 'string' AND "
    "(v.value #>> '{}') ~ '^sha256:[0-9a-f]{64}/' ON CONFLICT DO NOTHING;"
    "CREATE TABLE IF NOT EXISTS intake_items (id bigserial PRIMARY KEY, archive text COLLATE "
    "\"C\" NOT NULL, sha256 text COLLATE \"C\" NOT NULL, name text NOT NULL, first_page integer "
    "NOT NULL, pages integer NOT NULL, state text NOT NULL, done_by text NOT NULL, done_at text "
    "NOT NULL, document integer NOT NULL, reason text NOT NULL);"
    "CREATE INDEX IF NOT EXISTS intake_items_queue ON intake_items (archive, state, id);"
    "CREATE UNIQUE INDEX IF NOT EXISTS intake_items_pages ON intake_items (archive, sha256, "
    "first_page);";
// 11: a queued item's pages as a file of their own; the places clerks took fields' values from
// (in ten-thousandths of the page).
constexpr const char* kSqliteTo11 =
    "ALTER TABLE intake_items ADD COLUMN pages_sha256 TEXT NOT NULL DEFAULT '';"
    "CREATE TABLE IF NOT EXISTS field_boxes (id INTEGER PRIMARY KEY, archive TEXT NOT NULL, form "
    "TEXT NOT NULL, field TEXT NOT NULL, page INTEGER NOT NULL, x INTEGER NOT NULL, y INTEGER NOT "
    "NULL, width INTEGER NOT NULL, height INTEGER NOT NULL, shape TEXT NOT NULL, letterhead TEXT "
    "NOT NULL, "
    "used INTEGER NOT NULL, used_at TEXT NOT NULL);"
    "CREATE INDEX IF NOT EXISTS field_boxes_form ON field_boxes (archive, form, field);";
constexpr const char* kPgTo11 =
    "ALTER TABLE intake_items ADD COLUMN IF NOT EXISTS pages_sha256 text NOT NULL DEFAULT '';"
    "CREATE TABLE IF NOT EXISTS field_boxes (id bigserial PRIMARY KEY, archive text COLLATE \"C\" "
    "NOT NULL, form text COLLATE \"C\" NOT NULL, field text COLLATE \"C\" NOT NULL, page integer "
    "NOT NULL, x integer NOT NULL, y integer NOT NULL, width integer NOT NULL, height integer NOT "
    "NULL, shape text NOT NULL, letterhead text NOT NULL, "
    "used integer NOT NULL, used_at text NOT NULL);"
    "CREATE INDEX IF NOT EXISTS field_boxes_form ON field_boxes (archive, form, field);";
// 12: an archive's settings, a value by name.
constexpr const char* kSqliteTo12 =
    "CREATE TABLE IF NOT EXISTS archive_settings (archive TEXT NOT NULL, name TEXT NOT NULL, "
    "value TEXT NOT NULL, PRIMARY KEY (archive, name)) WITHOUT ROWID;";
constexpr const char* kPgTo12 =
    "CREATE TABLE IF NOT EXISTS archive_settings (archive text COLLATE \"C\" NOT NULL, name text "
    "COLLATE \"C\" NOT NULL, value text NOT NULL, PRIMARY KEY (archive, name));";
// 13: the words are searched by document, in the documents' order, not by file: a search
// for a common word reads the first documents that hold it, not every file that does.
// (SQLite: the words move from file_words in code, as that table may be gone.)
constexpr const char* kSqliteTo13 =
    "CREATE VIRTUAL TABLE IF NOT EXISTS document_words USING fts5(words, tokenize = 'unicode61 "
    "remove_diacritics 2');";
constexpr const char* kPgTo13 =
    "CREATE TABLE IF NOT EXISTS document_words (document integer PRIMARY KEY, archive text "
    "COLLATE \"C\" NOT NULL, words tsvector NOT NULL);"
    "ALTER TABLE document_words ALTER COLUMN words SET STATISTICS 1000;"
    "CREATE INDEX IF NOT EXISTS document_words_words ON document_words USING gin (words);"
    "DROP INDEX IF EXISTS file_readings_words;"
    "DO $grants$ BEGIN IF EXISTS (SELECT FROM pg_roles WHERE rolname = 'kvt_reader') THEN "
    "GRANT SELECT ON document_words TO kvt_reader, kvt_clerk, kvt_designer; END IF; END "
    "$grants$;";
}  // namespace

const char* const kPgIndexesOf4 =
    "CREATE INDEX document_values_by_key ON document_values (field, search, document);"
    "CREATE INDEX \"SYS_AUTOCOMPLETE_folded\" ON \"SYS_AUTOCOMPLETE\" (key, folded);"
    "CREATE INDEX \"SYS_AUTOCOMPLETE_recent\" ON \"SYS_AUTOCOMPLETE\" (last_used);";

const char* UpgradeStep(int from, SqlDialect dialect) {
  if (from == 3) return dialect == SqlDialect::kSqlite ? kSqliteTo4 : kPgTo4;
  if (from == 4) return dialect == SqlDialect::kSqlite ? kSqliteTo5 : kPgTo5;
  if (from == 5) return dialect == SqlDialect::kSqlite ? kSqliteTo6 : kPgTo6;
  if (from == 6) return kTo7;
  if (from == 7) return dialect == SqlDialect::kSqlite ? kSqliteTo8 : kPgTo8;
  if (from == 8) return dialect == SqlDialect::kSqlite ? kSqliteTo9 : "SELECT 1";
  if (from == 9) return dialect == SqlDialect::kSqlite ? kSqliteTo10 : kPgTo10;
  if (from == 10) return dialect == SqlDialect::kSqlite ? kSqliteTo11 : kPgTo11;
  if (from == 11) return dialect == SqlDialect::kSqlite ? kSqliteTo12 : kPgTo12;
  if (from == 12) return dialect == SqlDialect::kSqlite ? kSqliteTo13 : kPgTo13;
  return kUpgrades[from - 1];
}

void CheckSchemaVersion(const char* source, const std::string& where, const std::string& version) {
  int v = 0;
  const auto [end, ec] = std::from_chars(version.data(), version.data() + version.size(), v);
  if (ec != std::errc() || end != version.data() + version.size() || v < 1) {
    throw EngineError(kNotOurDatabase, source,
                      where + " is not a kvtfields database (schema version '" + version + "')");
  }
  if (v > kSchemaVersion) {
    throw EngineError(kNewerSchema, source,
                      where + " was written by a newer kvtfields (schema version " + version +
                          "); this program reads up to version " + std::to_string(kSchemaVersion) +
                          " and leaves it untouched: use the " + "newer program");
  }
}

}  // namespace kvtengine
