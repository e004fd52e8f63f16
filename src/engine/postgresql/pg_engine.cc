#include "engine/postgresql/pg_engine.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <optional>

#include "runtime/class_builder.h"
#include "runtime/platform.h"
#include "runtime/text.h"

namespace kvtpg {

using kvtengine::EngineError;

const kvt::ClassInfo& PgStore::StaticClass() {
  static const kvt::ClassInfo info =
      kvt::ClassBuilder<PgStore>("PgDatabase").Get<&PgStore::Where>("Where").Build();
  return info;
}

const kvt::ClassInfo& PgConnection::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<PgConnection> b("Connection");
    return kvtfields::IDBConnection::Describe(b).Build();
  }();
  return info;
}

const kvt::ClassInfo& PgEngine::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<PgEngine> b("PgEngine");
    kvtfields::IDBEngine::Describe(b);
    return kvtengine::ArchiveEngine::Describe(b).Build();
  }();
  return info;
}

namespace {

std::vector<std::string> Texts(const Result& r) {
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(r.Rows()));
  for (int i = 0; i < r.Rows(); ++i) out.push_back(r.Text(i, 0));
  return out;
}

}  // namespace

std::vector<Param> PgEngine::Arrays(
    const std::string& archive, const std::vector<std::pair<std::string, kvt::Variant>>& values) {
  std::vector<Param> fields, json, keys;
  for (const auto& [field, value] : values) {
    if (const std::string why = WhyUnstorable(field); !why.empty()) {
      throw kvtengine::EngineError(kvtengine::kDatabaseError, kSource,
                                   "the field name '" + kvt::Printable(field) +
                                       "' cannot be stored in PostgreSQL: it " + why);
    }
    fields.emplace_back(field);
    // A text PostgreSQL cannot hold is kept as its bytes; it has no search key.
    json.push_back(ValueJson(value));
    auto key = kvtengine::SearchKey(KindOf(archive, field), value);
    if (key && !WhyUnstorable(*key).empty()) key.reset();
    keys.push_back(std::move(key));
  }
  return {ArrayLiteral(fields), ArrayLiteral(json), ArrayLiteral(keys)};
}

void PgStore::Learn(const std::string& table, const std::string& key, const std::string& value) {
  const std::string t = kvtengine::QuotedStoreTable(table, kSource);
  db_->Query("INSERT INTO " + t +
                 " AS s (key, value, uses, last_used, folded) VALUES ($1, $2, 1, (SELECT "
                 "coalesce(max(last_used), 0) + 1 FROM " +
                 t +
                 "), $3) ON CONFLICT (key, value) DO UPDATE SET uses = s.uses + 1, last_used = "
                 "excluded.last_used",
             {key, value, kvt::ToLower(value)});
}

std::vector<std::string> PgStore::StartingWith(const std::string& table, const std::string& key,
                                               const std::string& prefix, bool match_case,
                                               std::size_t limit) {
  // A range of the index: the values starting with the prefix lie between it and it followed
  // by the highest character.
  const std::string column = match_case ? "value" : "folded";
  const std::string low = match_case ? prefix : kvt::ToLower(prefix);
  const Result r = db_->Query("SELECT value FROM " + kvtengine::QuotedStoreTable(table, kSource) +
                                  " WHERE key = $1 AND " + column + " >= $2 AND " + column +
                                  " < $3 ORDER BY uses DESC, last_used DESC, value LIMIT $4",
                              {key, low, low + "\xf4\x8f\xbf\xbf", std::to_string(limit)});
  std::vector<std::string> out;
  for (int i = 0; i < r.Rows(); ++i) out.push_back(r.Text(i, 0));
  return out;
}

std::vector<std::string> PgStore::LookUp(const std::string& table, const std::string& key,
                                         const std::function<bool(std::string_view)>& wanted,
                                         std::size_t limit) {
  const Result r = db_->Query("SELECT value FROM " + kvtengine::QuotedStoreTable(table, kSource) +
                                  " WHERE key = $1 ORDER BY uses DESC, last_used DESC, value",
                              {key});
  std::vector<std::string> out;
  for (int i = 0; i < r.Rows() && out.size() < limit; ++i) {
    std::string value = r.Text(i, 0);
    if (wanted(value)) out.push_back(std::move(value));
  }
  return out;
}

void PgStore::Forget(const std::string& table, const std::string& key, const std::string& value) {
  db_->Query("DELETE FROM " + kvtengine::QuotedStoreTable(table, kSource) +
                 " WHERE key = $1 AND value = $2",
             {key, value});
}

PgConnection::PgConnection(std::shared_ptr<PgDatabase> db)
    : db_(std::move(db)),
      worker_(std::make_shared<kvtengine::LookupWorker>([conninfo = db_->ConnectionString()] {
        return std::make_shared<PgStore>(PgDatabase::Open(conninfo, false));
      })) {}

kvt::Variant PgConnection::AdoConnection() {
  return kvt::Variant(std::make_shared<PgStore>(db_, worker_));
}

void PgStore::StartingWithLater(const std::string& table, const std::string& key,
                                const std::string& prefix, bool match_case, std::size_t limit,
                                std::function<void(std::vector<std::string>)> done) {
  kvtengine::AskLater(worker_.get(), *this,
                      {table, key, prefix, match_case, limit, std::move(done)}, kSource);
}

std::shared_ptr<PgEngine> PgEngine::Open(const std::string& conninfo, bool create) {
  return std::make_shared<PgEngine>(PgDatabase::Open(conninfo, create));
}

PgEngine::PgEngine(std::shared_ptr<PgDatabase> db)
    : db_(std::move(db)), connection_(std::make_shared<PgConnection>(db_)) {}

PgEngine::ArchiveRead PgEngine::ReadArchive(const std::string& archive) {
  // Definitions and codes in one trip, and as of one moment.
  const auto r =
      db_->QueryAll({{std::string("SELECT cod, ") + kvtengine::kDefinitionColumnsSql +
                          " FROM field_definitions WHERE archive = $1 ORDER BY position, cod",
                      {archive}},
                     {"SELECT fieldType, \"COD\", \"VALUE\" FROM code_lists WHERE archive = $1 "
                      "ORDER BY fieldType, \"COD\"",
                      {archive}}});
  ArchiveRead read;
  const Result& d = r[0];
  for (int i = 0; i < d.Rows(); ++i) {
    read.names.push_back(d.Text(i, 0));
    read.definitions.push_back(d.Row(i, 1, 12));
  }
  const Result& c = r[1];
  for (int i = 0; i < c.Rows(); ++i) read.codes.emplace_back(c.Text(i, 0), c.Row(i, 1, 2));
  return read;
}

std::vector<std::string> PgEngine::ReadFieldNames(const std::string& archive) {
  return Texts(db_->Query(
      "SELECT cod FROM field_definitions WHERE archive = $1 ORDER BY position, cod", {archive}));
}

std::shared_ptr<kvt::RecordSet> PgEngine::ReadDefinition(const std::string& archive,
                                                         const std::string& field) {
  return db_
      ->Query(std::string("SELECT ") + kvtengine::kDefinitionColumnsSql +
                  " FROM field_definitions WHERE archive = $1 AND cod = $2",
              {archive, field})
      .ToRecordSet();
}

std::shared_ptr<kvt::RecordSet> PgEngine::ReadLayout(const std::string& archive,
                                                     const std::string& field,
                                                     const std::string& form) {
  return db_
      ->Query(std::string("SELECT ") + kvtengine::kLayoutColumnsSql +
                  " FROM field_layouts WHERE archive = $1 AND cod = $2 AND form = $3",
              {archive, field, form})
      .ToRecordSet();
}

std::unordered_map<std::string, std::vector<kvt::Variant>> PgEngine::ReadLayouts(
    const std::string& archive, const std::string& form) {
  const Result r = db_->Query(std::string("SELECT ") + kvtengine::kLayoutColumnsSql +
                                  " FROM field_layouts WHERE archive = $1 AND form = $2",
                              {archive, form});
  std::unordered_map<std::string, std::vector<kvt::Variant>> rows;
  for (int i = 0; i < r.Rows(); ++i) rows.emplace(r.Text(i, 1), r.Row(i, 0, 8));
  return rows;
}

std::shared_ptr<kvt::RecordSet> PgEngine::ReadCodes(const kvtengine::CodeFilter& f) {
  std::vector<Param> params;
  for (const auto& [column, value] : f.equals) params.emplace_back(value);
  return db_->Query(f.Sql('$'), params).ToRecordSet();
}

void PgEngine::WriteCode(const std::string& archive, const std::string& field,
                         const std::string& code, const std::string& description) {
  // Two people adding the same code at once: the second one's insert waits for the first and
  // becomes an update, so both succeed and the code exists once.
  db_->Query(
      "INSERT INTO code_lists (archive, fieldType, \"COD\", \"VALUE\") VALUES ($1, $2, $3, $4) "
      "ON CONFLICT (archive, fieldType, \"COD\") DO UPDATE SET \"VALUE\" = excluded.\"VALUE\"",
      {archive, field, code, description});
}

void PgEngine::EraseCode(const std::string& archive, const std::string& field,
                         const std::string& code) {
  db_->Query("DELETE FROM code_lists WHERE archive = $1 AND fieldType = $2 AND \"COD\" = $3",
             {archive, field, code});
}

void PgEngine::PutField(const kvtengine::FieldDefinition& f) {
  DropSnapshot();
  Transaction([&] {
    const Result same = db_->Query(
        "SELECT cod FROM field_definitions WHERE archive = $1 AND cod <> $2 AND lower(cod) = "
        "lower($2)",
        {f.archive, f.name});
    if (same.Rows() > 0) {
      throw EngineError(kvtengine::kBadDefinition, kSource,
                        "archive '" + f.archive + "' already has a field '" + same.Text(0, 0) +
                            "': '" + f.name + "' differs from it only in letter case");
    }
    db_->Query(
        "INSERT INTO field_definitions AS d (archive, cod, position, \"Label\", \"Descr\", "
        "\"MaxLen\", \"MinLen\", \"Priority\", \"IsIndex\", \"IsRequired\", \"AutoComplete\", "
        "\"DATA_FORMAT\", \"CHAR_FORMAT\", \"IsRetainInMemory\", \"Type\") VALUES ($1, $2, "
        "(SELECT coalesce(max(position), 0) + 1 FROM field_definitions WHERE archive = $1), "
        "$3::jsonb, $4::jsonb, $5::jsonb, $6::jsonb, $7::jsonb, $8::jsonb, $9::jsonb, "
        "$10::jsonb, $11::jsonb, $12::jsonb, $13::jsonb, $14::jsonb) "
        "ON CONFLICT (archive, cod) DO UPDATE SET \"Label\" = $3::jsonb, \"Descr\" = $4::jsonb, "
        "\"MaxLen\" = $5::jsonb, \"MinLen\" = $6::jsonb, \"Priority\" = $7::jsonb, "
        "\"IsIndex\" = $8::jsonb, \"IsRequired\" = $9::jsonb, \"AutoComplete\" = $10::jsonb, "
        "\"DATA_FORMAT\" = $11::jsonb, \"CHAR_FORMAT\" = $12::jsonb, "
        "\"IsRetainInMemory\" = $13::jsonb, \"Type\" = $14::jsonb",
        {f.archive, f.name, ToJson(f.label), ToJson(f.descr), ToJson(f.max_len), ToJson(f.min_len),
         ToJson(f.priority), ToJson(f.is_index), ToJson(f.is_required), ToJson(f.auto_complete),
         ToJson(f.data_format), ToJson(f.char_format), ToJson(f.retain_in_memory), ToJson(f.type)});
  });
}

void PgEngine::PutLayout(const kvtengine::FieldLayout& l) {
  DropSnapshot();
  db_->Query(
      "INSERT INTO field_layouts (archive, cod, form, \"Width\", \"Height\", \"BreakLine\", "
      "\"MultiLine\", \"ShowComboLabel\") VALUES ($1, $2, $3, $4::jsonb, $5::jsonb, $6::jsonb, "
      "$7::jsonb, $8::jsonb) ON CONFLICT (archive, cod, form) DO UPDATE SET "
      "\"Width\" = excluded.\"Width\", \"Height\" = excluded.\"Height\", "
      "\"BreakLine\" = excluded.\"BreakLine\", \"MultiLine\" = excluded.\"MultiLine\", "
      "\"ShowComboLabel\" = excluded.\"ShowComboLabel\"",
      {l.archive, l.name, l.form, ToJson(l.width), ToJson(l.height), ToJson(l.break_line),
       ToJson(l.multi_line), ToJson(l.show_combo_label)});
}

void PgEngine::PutScript(const std::string& script_set, const std::string& source) {
  db_->Query(
      "INSERT INTO scripts (script_set, source) VALUES ($1, $2) ON CONFLICT (script_set) DO "
      "UPDATE SET source = excluded.source",
      {script_set, source});
}

kvt::Variant PgEngine::GetScript(const std::string& script_set) {
  const Result r = db_->Query("SELECT source FROM scripts WHERE script_set = $1", {script_set});
  return r.Rows() ? kvt::Variant(r.Text(0, 0)) : kvt::Variant::Null();
}

bool PgEngine::HasArchive(const std::string& archive) {
  return db_->Query("SELECT 1 FROM field_definitions WHERE archive = $1 LIMIT 1", {archive})
             .Rows() > 0;
}

void PgEngine::DeleteArchive(const std::string& archive) {
  DropSnapshot();
  Transaction([&] {
    for (const char* table : {"field_definitions", "field_layouts", "code_lists"}) {
      db_->Query("DELETE FROM " + std::string(table) + " WHERE archive = $1", {archive});
    }
    db_->Query("DELETE FROM scripts WHERE script_set = $1", {archive});
  });
}

std::vector<std::string> PgEngine::ListArchives() {
  return Texts(db_->Query("SELECT DISTINCT archive FROM field_definitions ORDER BY archive"));
}

std::vector<std::string> PgEngine::ListAllArchives() {
  return Texts(
      db_->Query("SELECT archive FROM field_definitions UNION SELECT archive FROM code_lists UNION "
                 "SELECT archive FROM documents ORDER BY 1"));
}

std::vector<std::string> PgEngine::ListForms(const std::string& archive) {
  return Texts(db_->Query(
      "SELECT DISTINCT form FROM field_layouts WHERE archive = $1 ORDER BY form", {archive}));
}

kvtengine::ArchiveEngine::Rights PgEngine::AccountRights() {
  const Result r = db_->Query(
      "SELECT has_function_privilege('kvt_save_document(text, text[], text[], text[])', "
      "'EXECUTE') AND has_function_privilege('kvt_change_document(integer, integer, text[], "
      "text[], text[], boolean, text)', 'EXECUTE'), has_table_privilege('code_lists', 'INSERT'), "
      "has_table_privilege('field_definitions', 'INSERT') AND has_table_privilege('scripts', "
      "'INSERT')");
  return {r.Text(0, 0) == "t", r.Text(0, 1) == "t", r.Text(0, 2) == "t"};
}

namespace {

constexpr const char* kRoles[] = {"kvt_designer", "kvt_clerk", "kvt_reader"};

// Grants as a whole: whatever they were, the roles end up with these and PUBLIC with none.
// Nobody but the owner writes the document tables: documents are saved, corrected, deleted and
// restored through the document functions, which keep the history and set author and time.
constexpr const char* kSetUpRoles = R"sql(
DO $roles$
DECLARE
  s text := current_schema();
  r text;
BEGIN
  FOREACH r IN ARRAY ARRAY['kvt_designer', 'kvt_clerk', 'kvt_reader'] LOOP
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = r) THEN
      BEGIN
        EXECUTE format('CREATE ROLE %I NOLOGIN', r);
      EXCEPTION WHEN duplicate_object OR unique_violation THEN
        NULL;  -- made meanwhile by a setup of another database of the server
      END;
    END IF;
    EXECUTE format('REVOKE ALL ON ALL TABLES IN SCHEMA %I FROM %I', s, r);
    EXECUTE format('REVOKE ALL ON ALL SEQUENCES IN SCHEMA %I FROM %I', s, r);
    EXECUTE format('REVOKE ALL ON ALL FUNCTIONS IN SCHEMA %I FROM %I', s, r);
  END LOOP;
  EXECUTE format('REVOKE ALL ON DATABASE %I FROM PUBLIC', current_database());
  EXECUTE format('GRANT CONNECT ON DATABASE %I TO kvt_designer, kvt_clerk, kvt_reader',
                 current_database());
  EXECUTE format('REVOKE ALL ON SCHEMA %I FROM PUBLIC', s);
  EXECUTE format('GRANT USAGE ON SCHEMA %I TO kvt_designer, kvt_clerk, kvt_reader', s);
  EXECUTE format('REVOKE ALL ON ALL TABLES IN SCHEMA %I FROM PUBLIC', s);
  EXECUTE format('REVOKE ALL ON ALL SEQUENCES IN SCHEMA %I FROM PUBLIC', s);
  EXECUTE format('REVOKE ALL ON ALL FUNCTIONS IN SCHEMA %I FROM PUBLIC', s);
  EXECUTE format('GRANT SELECT ON ALL TABLES IN SCHEMA %I TO kvt_reader, kvt_clerk, '
                 'kvt_designer', s);
  EXECUTE format('GRANT EXECUTE ON ALL FUNCTIONS IN SCHEMA %I TO kvt_designer, kvt_clerk', s);
  -- A designer changes the archives; a clerk adds codes and learnt values.
  GRANT INSERT, UPDATE, DELETE ON field_definitions, field_layouts, scripts TO kvt_designer;
  GRANT INSERT, UPDATE, DELETE ON code_lists, "SYS_AUTOCOMPLETE" TO kvt_designer, kvt_clerk;
  -- Files are added, never rewritten nor deleted.
  GRANT INSERT ON stored_files, file_pieces TO kvt_designer, kvt_clerk;
  GRANT USAGE ON SEQUENCE file_uploads TO kvt_designer, kvt_clerk;
  -- What is read off the files' pages is worked out again by whoever reads them first.
  GRANT INSERT, UPDATE, DELETE ON file_readings, file_pages TO kvt_designer, kvt_clerk;
  -- Clerks take stacks in and move their items through the queue.
  GRANT INSERT, UPDATE ON intake_items TO kvt_designer, kvt_clerk;
  GRANT USAGE ON SEQUENCE intake_items_id_seq TO kvt_designer, kvt_clerk;
  -- The places values were taken from on the pages are learnt as clerks work.
  GRANT INSERT, UPDATE, DELETE ON field_boxes TO kvt_designer, kvt_clerk;
  GRANT USAGE ON SEQUENCE field_boxes_id_seq TO kvt_designer, kvt_clerk;
  -- An archive's settings are a designer's.
  GRANT INSERT, UPDATE, DELETE ON archive_settings TO kvt_designer;
END
$roles$
)sql";

}  // namespace

void PgEngine::SetUpRoles() {
  Transaction([&] {
    // Grants and revokes by anyone else only warn and change nothing: say so instead.
    const Result owner = db_->Query(
        "SELECT pg_has_role(current_user, c.relowner, 'USAGE') FROM pg_class c WHERE c.oid = "
        "'kvt_meta'::regclass");
    if (owner.Rows() == 0 || owner.Text(0, 0) != "t") {
      throw kvtengine::EngineError(
          kvtengine::kNoPermission, kSource,
          "permission denied to set up roles: only the owner of the tables (" +
              kvt::Printable(db_->Query("SELECT pg_get_userbyid(relowner) FROM pg_class WHERE "
                                        "oid = 'kvt_meta'::regclass")
                                 .Text(0, 0)) +
              ") may");
    }
    db_->Execute(kSetUpRoles);
  });
}

void PgEngine::GrantRole(const std::string& user, const std::string& role) {
  if (std::find(std::begin(kRoles), std::end(kRoles), role) == std::end(kRoles)) {
    throw kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall,
                            "'" + kvt::Printable(role) +
                                "' is no role of kvtfields (kvt_designer, kvt_clerk, kvt_reader)",
                            kSource);
  }
  Transaction([&] {
    const Result exists = db_->Query("SELECT 1 FROM pg_roles WHERE rolname = $1", {user});
    if (exists.Rows() == 0) {
      throw kvt::RuntimeError(kvt::ErrorCode::kSubscriptOutOfRange,
                              "the server has no account '" + kvt::Printable(user) + "'", kSource);
    }
    const std::string quoted = db_->Query("SELECT quote_ident($1)", {user}).Text(0, 0);
    // One role each: the others this account holds directly are taken away.
    const Result held = db_->Query(
        "SELECT r.rolname FROM pg_auth_members m JOIN pg_roles r ON r.oid = m.roleid JOIN "
        "pg_roles u ON u.oid = m.member WHERE u.rolname = $1 AND r.rolname IN ('kvt_designer', "
        "'kvt_clerk', 'kvt_reader')",
        {user});
    for (int i = 0; i < held.Rows(); ++i) {
      if (held.Text(i, 0) != role) db_->Execute("REVOKE " + held.Text(i, 0) + " FROM " + quoted);
    }
    db_->Execute("GRANT " + role + " TO " + quoted);
  });
}

void PgEngine::Transaction(const std::function<void()>& work) {
  // Inside a transaction already: the work joins it, and the outer one decides.
  if (db_->depth > 0) return work();
  db_->Execute("BEGIN");
  db_->depth = 1;
  try {
    work();
    db_->depth = 0;
    db_->Execute("COMMIT");
  } catch (...) {
    db_->depth = 0;
    DropSnapshot();  // it may hold codes the rollback took back
    try {
      db_->Execute("ROLLBACK");
    } catch (const kvt::Error&) {
      // the connection is gone: the server has rolled back already
    }
    throw;
  }
}

std::int32_t PgEngine::InsertDocument(
    const std::string& archive, const std::string& saved_at,
    const std::vector<std::pair<std::string, kvt::Variant>>& values) {
  // One statement, so one transaction and one trip to the server.
  auto arrays = Arrays(archive, values);
  const Result r = db_->Query(
      "WITH d AS (INSERT INTO documents (archive, saved_at) VALUES ($1, $2) RETURNING id), "
      "v AS (INSERT INTO document_values (document, position, field, value, search) "
      "SELECT d.id, t.n, t.f, t.v::jsonb, t.k FROM d, unnest($3::text[], $4::text[], "
      "$5::text[]) WITH ORDINALITY AS t(f, v, k, n)), l AS (SELECT kvt_link_files(d.id, "
      "$4::text[]) FROM d) SELECT id FROM d, (SELECT count(*) FROM l) AS c",
      {archive, saved_at, arrays[0], arrays[1], arrays[2]});
  const auto id = static_cast<std::int32_t>(r.Int(0, 0));
  Remember(id, archive);
  return id;
}

std::int32_t PgEngine::SaveDocument(const std::string& archive, const kvt::ObjectRef& values) {
  // Through the server's function: the id, the time and the author are the server's to set.
  auto arrays = Arrays(archive, kvtengine::DocumentValues(values, kSource)->Entries());
  const Result r = db_->Query("SELECT kvt_save_document($1, $2, $3, $4)",
                              {archive, arrays[0], arrays[1], arrays[2]});
  const auto id = static_cast<std::int32_t>(r.Int(0, 0));
  Remember(id, archive);
  return id;
}

std::int32_t PgEngine::CopyDocument(const std::string& archive,
                                    const kvtengine::StoredDocument& document) {
  return InsertDocument(archive, document.saved_at, document.values);
}

std::int32_t PgEngine::DocumentCount(const std::string& archive) {
  return static_cast<std::int32_t>(
      db_->Query("SELECT count(*) FROM documents WHERE archive = $1", {archive}).Int(0, 0));
}

namespace {

// Columns version, saved_at, saved_by, change of a row from `first` on.
kvtengine::VersionInfo VersionAt(const Result& r, int row, int first) {
  return {static_cast<std::int32_t>(r.Int(row, first)), r.Text(row, first + 1),
          r.Text(row, first + 2), kvtengine::ChangeNamed(r.Text(row, first + 3))};
}

}  // namespace

void PgEngine::Remember(std::int32_t id, const std::string& archive) {
  if (archives_.size() > 100000) archives_.clear();  // a day's work, not an archive's
  archives_.emplace(id, archive);
}

std::string PgEngine::ArchiveOf(std::int32_t id) {
  if (auto it = archives_.find(id); it != archives_.end()) return it->second;
  const Result r = db_->Query(
      "SELECT archive FROM documents WHERE id = $1 UNION ALL (SELECT archive FROM "
      "document_versions WHERE document = $1 LIMIT 1) LIMIT 1",
      {std::to_string(id)});
  if (r.Rows() == 0) kvtengine::ThrowNoDocument(id, kSource);
  Remember(id, r.Text(0, 0));
  return r.Text(0, 0);
}

kvt::ObjectRef PgEngine::LoadDocument(std::int32_t id) {
  kvtengine::VersionInfo version;
  return LoadDocumentAt(id, version);
}

kvt::ObjectRef PgEngine::LoadDocumentAt(std::int32_t id, kvtengine::VersionInfo& version) {
  // One statement: the values and their version come from one moment of the database.
  const Result r = db_->Query(
      "SELECT v.field, v.value, d.version, d.saved_at, d.saved_by, d.change, d.archive FROM "
      "documents d LEFT JOIN document_values v ON v.document = d.id WHERE d.id = $1 ORDER BY "
      "v.position",
      {std::to_string(id)});
  if (r.Rows() == 0) kvtengine::ThrowNoDocument(id, kSource);
  version = VersionAt(r, 0, 2);
  Remember(id, r.Text(0, 6));
  auto dict = kvt::Dictionary::Create();
  for (int i = 0; i < r.Rows(); ++i) {
    if (!r.IsNull(i, 0)) dict->Add(r.Text(i, 0), r.Value(i, 1));
  }
  return dict;
}

kvtengine::VersionInfo PgEngine::CurrentVersion(std::int32_t id) {
  const Result r =
      db_->Query("SELECT version, saved_at, saved_by, change FROM documents WHERE id = $1",
                 {std::to_string(id)});
  if (r.Rows() == 0) kvtengine::ThrowNoDocument(id, kSource);
  return VersionAt(r, 0, 0);
}

std::vector<std::pair<std::int32_t, kvtengine::VersionInfo>> PgEngine::DeletedDocuments(
    const std::string& archive) {
  // A deletion is a document's newest version when no later one exists.
  const Result r = db_->Query(
      "SELECT v.document, v.version, v.saved_at, v.saved_by, v.change FROM document_versions v "
      "WHERE v.archive = $1 AND v.change = 'delete' AND NOT EXISTS (SELECT 1 FROM "
      "document_versions w WHERE w.document = v.document AND w.version > v.version) AND NOT "
      "EXISTS (SELECT 1 FROM documents d WHERE d.id = v.document) ORDER BY v.saved_at DESC, "
      "v.document DESC",
      {archive});
  std::vector<std::pair<std::int32_t, kvtengine::VersionInfo>> out;
  for (int i = 0; i < r.Rows(); ++i) {
    out.emplace_back(static_cast<std::int32_t>(r.Int(i, 0)), VersionAt(r, i, 1));
  }
  return out;
}

kvtengine::ArchiveEngine::HistoryRows PgEngine::ReadHistory(std::int32_t id) {
  // One statement, so one snapshot: versions, the newest values and the changes, told apart by
  // the first column.
  const Result r = db_->Query(
      "SELECT 0 AS part, version, saved_at, saved_by, change, 0, NULL, NULL::jsonb, false FROM "
      "document_versions WHERE document = $1 UNION ALL SELECT 0, version, saved_at, saved_by, "
      "change, 0, NULL, NULL, false FROM documents WHERE id = $1 UNION ALL SELECT 1, 0, NULL, "
      "NULL, NULL, position, field, value, true FROM document_values WHERE document = $1 UNION "
      "ALL SELECT 2, version, NULL, NULL, NULL, position, field, value, present FROM "
      "document_changes WHERE document = $1 ORDER BY 1, 2, 6",
      {std::to_string(id)});
  HistoryRows out;
  for (int i = 0; i < r.Rows(); ++i) {
    switch (r.Int(i, 0)) {
      case 0:
        out.versions.push_back(VersionAt(r, i, 1));
        break;
      case 1:
        out.current.emplace_back(r.Text(i, 6), r.Value(i, 7));
        break;
      default:
        out.changes.push_back({static_cast<std::int32_t>(r.Int(i, 1)),
                               static_cast<std::int32_t>(r.Int(i, 5)), r.Text(i, 6), r.Value(i, 7),
                               r.Text(i, 8) == "t"});
    }
  }
  return out;
}

void PgEngine::WriteHistory(std::int32_t id, const HistoryRows& rows) {
  if (rows.versions.empty()) return;
  const auto& newest = rows.versions.back();
  const bool deleted = newest.change == kvtengine::Change::kDelete;
  const std::size_t kept = rows.versions.size() - (deleted ? 0 : 1);
  std::vector<Param> versions, at, by, how, cv, cp, cf, cvalue, cpresent;
  for (std::size_t i = 0; i < kept; ++i) {
    versions.emplace_back(std::to_string(rows.versions[i].version));
    at.emplace_back(rows.versions[i].saved_at);
    by.emplace_back(rows.versions[i].saved_by);
    how.emplace_back(kvtengine::ChangeName(rows.versions[i].change));
  }
  for (const auto& c : rows.changes) {
    cv.emplace_back(std::to_string(c.version));
    cp.emplace_back(std::to_string(c.position));
    cf.emplace_back(c.field);
    cvalue.push_back(ValueJson(c.value));
    cpresent.emplace_back(c.present ? "t" : "f");
  }
  const std::string key = std::to_string(id);
  Transaction([&] {
    const Result r = db_->Query("SELECT archive FROM documents WHERE id = $1 FOR UPDATE", {key});
    if (r.Rows() == 0) kvtengine::ThrowNoDocument(id, kSource);
    db_->Query(
        "INSERT INTO document_versions (document, version, archive, saved_at, saved_by, change) "
        "SELECT $1, t.v::integer, $2, t.a, t.b, t.c FROM unnest($3::text[], $4::text[], "
        "$5::text[], $6::text[]) AS t(v, a, b, c)",
        {key, r.Text(0, 0), ArrayLiteral(versions), ArrayLiteral(at), ArrayLiteral(by),
         ArrayLiteral(how)});
    db_->Query(
        "INSERT INTO document_changes (document, version, position, field, value, present) "
        "SELECT $1, t.v::integer, t.p::integer, t.f, t.j::jsonb, t.s::boolean FROM "
        "unnest($2::text[], $3::text[], $4::text[], $5::text[], $6::text[]) AS t(v, p, f, j, s)",
        {key, ArrayLiteral(cv), ArrayLiteral(cp), ArrayLiteral(cf), ArrayLiteral(cvalue),
         ArrayLiteral(cpresent)});
    if (deleted) {
      db_->Query("DELETE FROM documents WHERE id = $1", {key});
    } else {
      db_->Query(
          "UPDATE documents SET version = $2, saved_at = $3, saved_by = $4, change = $5 WHERE id "
          "= $1",
          {key, std::to_string(newest.version), newest.saved_at, newest.saved_by,
           std::string(kvtengine::ChangeName(newest.change))});
    }
  });
}

std::int32_t PgEngine::WriteChange(std::int32_t id, std::int32_t base,
                                   const std::vector<std::pair<std::string, kvt::Variant>>* values,
                                   kvtengine::Change how) {
  static const std::vector<std::pair<std::string, kvt::Variant>> kNone;
  const auto arrays = Arrays(ArchiveOf(id), values ? *values : kNone);
  const Result r =
      db_->Query("SELECT kvt_change_document($1, $2, $3, $4, $5, $6, $7)",
                 {std::to_string(id), std::to_string(base), arrays[0], arrays[1], arrays[2],
                  std::string(values ? "f" : "t"), std::string(kvtengine::ChangeName(how))});
  return static_cast<std::int32_t>(r.Int(0, 0));
}

namespace {

// Rows of (id, saved_at, field, value, version) in id order: each document to `each` as its rows
// end; the one still being read stays in `doc` (its rows may go on in the next batch).
void GatherDocuments(const Result& r, std::optional<kvtengine::StoredDocument>& doc,
                     const std::function<void(kvtengine::StoredDocument&& document)>& each) {
  for (int i = 0; i < r.Rows(); ++i) {
    const auto id = static_cast<std::int32_t>(r.Int(i, 0));
    if (!doc || doc->id != id) {
      if (doc) each(std::move(*doc));
      doc.emplace(kvtengine::StoredDocument{id, r.Text(i, 1), {}});
      doc->version = static_cast<std::int32_t>(r.Int(i, 4));
    }
    if (!r.IsNull(i, 2)) doc->values.emplace_back(r.Text(i, 2), r.Value(i, 3));
  }
}

}  // namespace

std::vector<std::int32_t> PgEngine::FindDocuments(
    const std::string& archive, const std::vector<std::pair<std::string, kvt::Variant>>& equal) {
  // From the first value's key entries, each further value probed on the (document, field)
  // key; the key narrows, the value as stored (jsonb) decides.
  std::vector<Param> params{archive};
  std::string sql;
  for (const auto& [field, value] : equal) {
    if (!WhyUnstorable(field).empty()) return {};  // never stored
    params.emplace_back(field);
    params.push_back(ValueJson(value));
    const std::string f = "$" + std::to_string(params.size() - 1);
    const std::string v = "$" + std::to_string(params.size()) + "::jsonb";
    if (params.size() == 3) {
      auto key = kvtengine::SearchKey(KindOf(archive, field), value);
      if (key && !WhyUnstorable(*key).empty()) key.reset();  // stored without one
      params.push_back(std::move(key));
      sql += " WHERE v0.field = " + f +
             " AND v0.search IS NOT DISTINCT FROM $4 AND v0.value = " + v + " AND d.archive = $1";
    } else {
      sql += " AND EXISTS (SELECT 1 FROM document_values v WHERE v.document = d.id AND v.field = " +
             f + " AND v.value = " + v + ")";
    }
  }
  sql = equal.empty() ? "SELECT d.id FROM documents d WHERE d.archive = $1 ORDER BY d.id"
                      : "SELECT d.id FROM document_values v0 JOIN documents d ON d.id = "
                        "v0.document" +
                            sql + " ORDER BY d.id";
  const Result r = db_->Query(sql, params);
  std::vector<std::int32_t> out;
  for (int i = 0; i < r.Rows(); ++i) out.push_back(static_cast<std::int32_t>(r.Int(i, 0)));
  return out;
}

std::vector<std::int32_t> PgEngine::SearchDocuments(
    const std::string& archive, const std::vector<kvtengine::Criterion>& criteria,
    std::int32_t after, std::int32_t limit) {
  const auto sql = kvtengine::SearchQuery(kvtengine::SqlDialect::kPostgres, archive,
                                          KeyConditions(archive, criteria), after, limit, false);
  const Result r = SearchResult(criteria, sql);
  std::vector<std::int32_t> out;
  for (int i = 0; i < r.Rows(); ++i) out.push_back(static_cast<std::int32_t>(r.Int(i, 0)));
  return out;
}

std::int64_t PgEngine::CountDocuments(const std::string& archive,
                                      const std::vector<kvtengine::Criterion>& criteria) {
  const auto sql = kvtengine::SearchQuery(kvtengine::SqlDialect::kPostgres, archive,
                                          KeyConditions(archive, criteria), 0, 0, true);
  return SearchResult(criteria, sql).Int(0, 0);
}

Result PgEngine::SearchResult(const std::vector<kvtengine::Criterion>& criteria,
                              const kvtengine::SearchSql& sql) {
  const std::vector<Param> params(sql.params.begin(), sql.params.end());
  // Whether the words' index or the documents' order serves best depends on how many
  // documents hold the words: planned for these words each time, never for words in general.
  for (const auto& c : criteria) {
    if (c.op == kvtengine::Criterion::Op::kWords) {
      return db_->QueryBytes(sql.sql, params, std::nullopt, false);
    }
  }
  return db_->Query(sql.sql, params);
}

void PgEngine::ReadDocumentsById(
    const std::vector<std::int32_t>& ids,
    const std::function<void(kvtengine::StoredDocument&& document)>& each) {
  if (ids.empty()) return;
  std::vector<Param> list;
  for (const auto id : ids) list.emplace_back(std::to_string(id));
  const Result r = db_->Query(
      "SELECT d.id, d.saved_at, v.field, v.value, d.version FROM documents d "
      "LEFT JOIN document_values v ON v.document = d.id WHERE d.id = ANY ($1::int[]) "
      "ORDER BY d.id, v.position",
      {ArrayLiteral(list)});
  std::optional<kvtengine::StoredDocument> doc;
  GatherDocuments(r, doc, each);
  if (doc) each(std::move(*doc));
}

std::int64_t PgEngine::RoundTrips() const {
  return db_->RoundTrips();
}

void PgEngine::ReadDocuments(
    const std::string& archive,
    const std::function<void(kvtengine::StoredDocument&& document)>& each) {
  // A cursor read in batches: the server holds the result, the program one batch of it.
  constexpr const char* kBatch = "FETCH 2000 FROM kvt_documents";
  Transaction([&] {
    db_->Query(
        "DECLARE kvt_documents NO SCROLL CURSOR FOR "
        "SELECT d.id, d.saved_at, v.field, v.value, d.version FROM documents d "
        "LEFT JOIN document_values v ON v.document = d.id WHERE d.archive = $1 "
        "ORDER BY d.id, v.position",
        {archive});
    std::optional<kvtengine::StoredDocument> doc;  // the one being read, across batches
    for (Result r = db_->Query(kBatch); r.Rows() > 0; r = db_->Query(kBatch)) {
      GatherDocuments(r, doc, each);
    }
    if (doc) each(std::move(*doc));
    db_->Query("CLOSE kvt_documents");
  });
}

std::vector<std::string> PgEngine::StoredFieldNames() {
  // A loose scan of the key index: each step seeks the next name.
  const Result r = db_->Query(
      "WITH RECURSIVE f(name) AS (SELECT (SELECT field FROM document_values ORDER BY field LIMIT "
      "1) UNION ALL SELECT (SELECT field FROM document_values WHERE field > f.name ORDER BY field "
      "LIMIT 1) FROM f WHERE f.name IS NOT NULL) SELECT name FROM f WHERE name IS NOT NULL");
  return Texts(r);
}

std::vector<std::string> PgEngine::DocumentFieldNames(const std::string& archive) {
  const Result r = db_->Query(
      "SELECT v.field FROM documents d JOIN document_values v ON v.document = d.id "
      "WHERE d.archive = $1 GROUP BY v.field "
      "ORDER BY MIN(d.id::bigint * 4294967296 + v.position)",
      {archive});
  std::vector<std::string> out;
  for (int i = 0; i < r.Rows(); ++i) out.push_back(r.Text(i, 0));
  return out;
}

std::vector<kvtengine::StoredDocument> PgEngine::ListDocuments(const std::string& archive) {
  std::vector<kvtengine::StoredDocument> out;
  ReadDocuments(archive, [&](kvtengine::StoredDocument&& d) { out.push_back(std::move(d)); });
  return out;
}

std::vector<std::pair<std::string, std::string>> PgEngine::ListScripts() {
  const Result r = db_->Query("SELECT script_set, source FROM scripts ORDER BY script_set");
  std::vector<std::pair<std::string, std::string>> out;
  for (int i = 0; i < r.Rows(); ++i) out.emplace_back(r.Text(i, 0), r.Text(i, 1));
  return out;
}

std::vector<PgEngine::LearntValue> PgEngine::ListLearnt() {
  const Result r = db_->Query(
      "SELECT key, value, uses, last_used FROM \"SYS_AUTOCOMPLETE\" ORDER BY key, value");
  std::vector<LearntValue> out;
  for (int i = 0; i < r.Rows(); ++i) {
    out.push_back({r.Text(i, 0), r.Text(i, 1), r.Int(i, 2), r.Int(i, 3)});
  }
  return out;
}

void PgEngine::PutLearnt(const LearntValue& l) {
  db_->Query(
      "INSERT INTO \"SYS_AUTOCOMPLETE\" (key, value, uses, last_used, folded) VALUES ($1, $2, "
      "$3, $4, $5) ON CONFLICT (key, value) DO UPDATE SET uses = excluded.uses, "
      "last_used = excluded.last_used",
      {l.key, l.value, std::to_string(l.uses), std::to_string(l.last_used), kvt::ToLower(l.value)});
}

bool PgEngine::PutFile(const std::function<std::string_view()>& next,
                       const std::function<kvtfiles::StoredFile()>& seal) {
  bool kept = false;
  // One transaction: a failure, or a server gone halfway, leaves no piece behind; a file
  // already kept is taken back whole by the rollback of its own savepoint.
  Transaction([&] {
    db_->Execute("SAVEPOINT put_file");
    try {
      const std::string upload = db_->Query("SELECT nextval('file_uploads')").Text(0, 0);
      std::int64_t seq = 0;
      for (std::string_view piece = next(); !piece.empty(); piece = next()) {
        db_->QueryBytes("INSERT INTO file_pieces (upload, seq, bytes) VALUES ($1, $2, $3)",
                        {upload, std::to_string(seq++)}, piece, false);
      }
      const kvtfiles::StoredFile f = seal();
      const Result r = db_->Query(
          "INSERT INTO stored_files (sha256, upload, size, pieces, media_type, pages, name, "
          "stored_at, stored_by) VALUES ($1, $2, $3, $4, $5, $6, $7, coalesce($8, "
          "to_char(now() AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"')), "
          "coalesce($9, session_user)) ON CONFLICT (sha256) DO NOTHING RETURNING 1",
          {f.sha256, upload, std::to_string(f.size), std::to_string(seq), f.media_type,
           std::to_string(f.pages), f.name, f.stored_at.empty() ? Param() : Param(f.stored_at),
           f.stored_at.empty() ? Param() : Param(f.stored_by)});
      if (r.Rows() == 0) {
        db_->Execute("ROLLBACK TO SAVEPOINT put_file; RELEASE SAVEPOINT put_file");
        return;
      }
      db_->Execute("RELEASE SAVEPOINT put_file");
      kept = true;
    } catch (...) {
      try {
        db_->Execute("ROLLBACK TO SAVEPOINT put_file; RELEASE SAVEPOINT put_file");
      } catch (const kvt::Error&) {
        // the connection is gone: the transaction goes with it
      }
      throw;
    }
  });
  return kept;
}

namespace {
constexpr const char* kFileColumns =
    "SELECT sha256, size, media_type, pages, name, stored_at, stored_by FROM stored_files";

// No piece digests here: a clerk may add a row of stored_files, and a list made up beside
// made-up pieces would pass a check by pieces; every read is checked against the file's name.
kvtfiles::StoredFile FileRow(const Result& r, int row) {
  return {r.Text(row, 0), r.Int(row, 1),  r.Text(row, 2), static_cast<std::int32_t>(r.Int(row, 3)),
          r.Text(row, 4), r.Text(row, 5), r.Text(row, 6), {}};
}
}  // namespace

bool PgEngine::FindFile(const std::string& sha256, kvtfiles::StoredFile& file) {
  const Result r = db_->Query(std::string(kFileColumns) + " WHERE sha256 = $1", {sha256});
  if (r.Rows() == 0) return false;
  file = FileRow(r, 0);
  return true;
}

void PgEngine::ReadFilePieces(const std::string& sha256,
                              const std::function<void(std::string_view piece)>& each) {
  const Result f =
      db_->Query("SELECT upload, pieces FROM stored_files WHERE sha256 = $1", {sha256});
  if (f.Rows() == 0) return;
  const std::string upload = f.Text(0, 0);
  const std::int64_t pieces = f.Int(0, 1);
  // A piece a trip, as binary: one piece in memory at a time, whatever the file's size.
  for (std::int64_t seq = 0; seq < pieces; ++seq) {
    const Result p = db_->QueryBytes("SELECT bytes FROM file_pieces WHERE upload = $1 AND seq = $2",
                                     {upload, std::to_string(seq)}, std::nullopt, true);
    if (p.Rows() == 0) return;  // a piece gone: the check of what was read says so
    each(std::string_view(PQgetvalue(p.Get(), 0, 0),
                          static_cast<std::size_t>(PQgetlength(p.Get(), 0, 0))));
  }
}

void PgEngine::KeepReading(const std::string& sha256, const kvtfiles::FileReading& reading) {
  std::vector<Param> widths, heights, words;
  for (const auto& p : reading.pages) {
    widths.emplace_back(std::to_string(p.width));
    heights.emplace_back(std::to_string(p.height));
    words.emplace_back(kvtfiles::EncodeWords(p.words));
  }
  Transaction([&] {
    // Accents are taken off here, as from what is searched: the Italian stems do not.
    const Result r = db_->Query(
        "INSERT INTO file_readings (sha256, reader, read_at, failure, words) SELECT sha256, $2, "
        "$3, $4, to_tsvector('italian', $5) FROM stored_files WHERE sha256 = $1 ON CONFLICT "
        "(sha256) DO UPDATE SET reader = excluded.reader, read_at = excluded.read_at, failure = "
        "excluded.failure, words = excluded.words RETURNING 1",
        {sha256, reading.reader, reading.read_at, reading.failure,
         kvtfiles::FoldAccents(kvtfiles::SearchedText(reading))});
    if (r.Rows() == 0) {
      throw kvtengine::EngineError(
          kvtengine::kBadFile, kSource,
          "Il file sha256 " + kvt::Printable(sha256) + " manca dall'archivio");
    }
    db_->Query("DELETE FROM file_pages WHERE sha256 = $1", {sha256});
    if (!words.empty()) {
      db_->Query(
          "INSERT INTO file_pages (sha256, page, width, height, words) SELECT $1, t.n, t.w, t.h, "
          "t.words FROM unnest($2::integer[], $3::integer[], $4::text[]) WITH ORDINALITY AS "
          "t(w, h, words, n)",
          {sha256, ArrayLiteral(widths), ArrayLiteral(heights), ArrayLiteral(words)});
    }
  });
}

std::int32_t PgEngine::IndexWords(std::int32_t after, std::int32_t count) {
  std::int32_t last = 0;
  Transaction([&] {
    const Result r = db_->Query(
        "SELECT DISTINCT l.document FROM document_files l JOIN file_readings r ON r.sha256 = "
        "l.sha256 WHERE l.document > $1 ORDER BY l.document LIMIT $2",
        {std::to_string(after), std::to_string(count)});
    if (r.Rows() == 0) return;
    std::vector<Param> ids;
    for (int i = 0; i < r.Rows(); ++i) ids.emplace_back(r.Text(i, 0));
    // From each file's words as kept when it was read: no page is parsed again. The owner's
    // task: otherwise only the document functions write the index.
    db_->Query("SELECT kvt_index_document(d) FROM unnest($1::int[]) d", {ArrayLiteral(ids)});
    last = static_cast<std::int32_t>(r.Int(r.Rows() - 1, 0));
  });
  // Every vector written anew leaves as many dead: the planner must see the table as it is
  // now, or a short search is planned as a long one (parallel workers starting for 90 ms).
  if (last == 0 && after > 0) db_->Execute("VACUUM ANALYZE document_words");
  return last;
}

bool PgEngine::FindReading(const std::string& sha256, kvtfiles::FileReading& reading) {
  const Result r = db_->Query(
      "SELECT reader, read_at, failure, NULL, NULL, NULL, NULL FROM file_readings WHERE sha256 = "
      "$1 UNION ALL SELECT NULL, NULL, NULL, page, width, height, words FROM file_pages WHERE "
      "sha256 = $1 ORDER BY 4 NULLS FIRST",
      {sha256});
  if (r.Rows() == 0 || r.IsNull(0, 0)) return false;
  reading = {};
  reading.reader = r.Text(0, 0);
  reading.read_at = r.Text(0, 1);
  reading.failure = r.Text(0, 2);
  for (int i = 1; i < r.Rows(); ++i) {
    kvtfiles::PageText p;
    p.width = static_cast<std::int32_t>(r.Int(i, 4));
    p.height = static_cast<std::int32_t>(r.Int(i, 5));
    if (r.Int(i, 3) != i || !kvtfiles::DecodeWords(r.Text(i, 6), p.words)) {
      throw kvtengine::EngineError(kvtengine::kDatabaseError, kSource,
                                   "le parole lette dal file sha256 " + kvt::Printable(sha256) +
                                       " sono danneggiate (pagina " + r.Text(i, 3) + ")");
    }
    reading.pages.push_back(std::move(p));
  }
  return true;
}

std::vector<std::string> PgEngine::FilesToRead(const std::string& reader, const std::string& after,
                                               int limit) {
  const Result r = db_->Query(
      "SELECT f.sha256 FROM stored_files f LEFT JOIN file_readings r ON r.sha256 = f.sha256 "
      "WHERE f.sha256 > $1 AND (r.reader IS NULL OR r.reader <> $2) ORDER BY f.sha256 LIMIT $3",
      {after, reader, std::to_string(limit)});
  std::vector<std::string> out;
  for (int i = 0; i < r.Rows(); ++i) out.push_back(r.Text(i, 0));
  return out;
}

namespace {
constexpr const char* kIntakeColumns =
    "id, archive, sha256, name, first_page, pages, state, done_by, done_at, document, reason, "
    "pages_sha256";

kvtengine::IntakeItem IntakeRow(const Result& r, int row) {
  kvtengine::IntakeItem i;
  i.id = r.Int(row, 0);
  i.archive = r.Text(row, 1);
  i.sha256 = r.Text(row, 2);
  i.name = r.Text(row, 3);
  i.first_page = static_cast<std::int32_t>(r.Int(row, 4));
  i.pages = static_cast<std::int32_t>(r.Int(row, 5));
  i.state = kvtengine::IntakeStateOf(r.Text(row, 6));
  i.by = r.Text(row, 7);
  i.at = r.Text(row, 8);
  i.document = static_cast<std::int32_t>(r.Int(row, 9));
  i.reason = r.Text(row, 10);
  i.pages_sha256 = r.Text(row, 11);
  return i;
}
}  // namespace

bool PgEngine::PutIntake(const std::string& archive, const std::string& sha256,
                         const std::vector<kvtengine::IntakeItem>& items) {
  std::vector<Param> names, firsts, counts, states, reasons, cuts;
  for (const auto& i : items) {
    cuts.emplace_back(i.pages_sha256);
    names.emplace_back(i.name);
    firsts.emplace_back(std::to_string(i.first_page));
    counts.emplace_back(std::to_string(i.pages));
    states.emplace_back(std::string(kvtengine::IntakeStateName(i.state)));
    reasons.emplace_back(i.reason);
  }
  // One statement: a stack taken in by two programs at once is added once (the unique index),
  // the other told it was there.
  const Result r = db_->Query(
      "INSERT INTO intake_items (archive, sha256, name, first_page, pages, state, done_by, "
      "done_at, document, reason, pages_sha256) SELECT $1, $2, t.n, t.f, t.p, t.s, session_user, "
      "$3, 0, t.r, t.c FROM unnest($4::text[], $5::integer[], $6::integer[], $7::text[], "
      "$8::text[], $9::text[]) AS t(n, f, p, s, r, c) WHERE NOT EXISTS (SELECT 1 FROM intake_items "
      "WHERE archive = $1 AND sha256 = $2) ON CONFLICT DO NOTHING RETURNING 1",
      {archive, sha256, kvtengine::SavedAtNow(), ArrayLiteral(names), ArrayLiteral(firsts),
       ArrayLiteral(counts), ArrayLiteral(states), ArrayLiteral(reasons), ArrayLiteral(cuts)});
  return r.Rows() > 0;
}

std::optional<kvtengine::IntakeItem> PgEngine::TakeIntake(const std::string& archive) {
  // Locked rows are passed over: two clerks asking at once get two items, never one twice.
  const Result r = db_->Query(
      std::string("UPDATE intake_items SET state = 'preso', done_by = session_user, done_at = $2 "
                  "WHERE id = (SELECT id FROM intake_items WHERE archive = $1 AND state = 'in "
                  "coda' ORDER BY id LIMIT 1 FOR UPDATE SKIP LOCKED) RETURNING ") +
          kIntakeColumns,
      {archive, kvtengine::SavedAtNow()});
  if (r.Rows() == 0) return std::nullopt;
  return IntakeRow(r, 0);
}

void PgEngine::LeaveIntake(std::int64_t id) {
  const Result r = db_->Query(
      "UPDATE intake_items SET state = 'in coda', done_by = session_user, done_at = $2 WHERE id "
      "= $1 AND state = 'preso' RETURNING 1",
      {std::to_string(id), kvtengine::SavedAtNow()});
  if (r.Rows() == 0) kvtengine::ThrowIntakeNotTaken(id, kSource);
}

void PgEngine::FileIntake(std::int64_t id, std::int32_t document) {
  const Result r = db_->Query(
      "UPDATE intake_items SET state = 'archiviato', document = $3, done_by = session_user, "
      "done_at = $2 WHERE id = $1 AND state = 'preso' RETURNING 1",
      {std::to_string(id), kvtengine::SavedAtNow(), std::to_string(document)});
  if (r.Rows() == 0) kvtengine::ThrowIntakeNotTaken(id, kSource);
}

std::vector<kvtengine::IntakeItem> PgEngine::IntakeLedger(const std::string& archive) {
  const Result r = db_->Query(
      std::string("SELECT ") + kIntakeColumns + " FROM intake_items WHERE archive = $1 ORDER BY id",
      {archive});
  std::vector<kvtengine::IntakeItem> out;
  for (int i = 0; i < r.Rows(); ++i) out.push_back(IntakeRow(r, i));
  return out;
}

std::int64_t PgEngine::IntakeWaiting(const std::string& archive) {
  const Result r = db_->Query(
      "SELECT count(*) FROM intake_items WHERE archive = $1 AND state = 'in coda'", {archive});
  return r.Rows() > 0 ? r.Int(0, 0) : 0;
}

std::optional<kvtengine::IntakeItem> PgEngine::NextIntake(const std::string& archive) {
  // A look, not a take: an item another clerk is taking at this moment may be named, and its
  // pages made ready go unused.
  const Result r = db_->Query(std::string("SELECT ") + kIntakeColumns +
                                  " FROM intake_items WHERE archive = $1 AND state = 'in coda' "
                                  "ORDER BY id LIMIT 1",
                              {archive});
  if (r.Rows() == 0) return std::nullopt;
  return IntakeRow(r, 0);
}

namespace {
std::string BoxUnits(double fraction) {
  return std::to_string(std::llround(std::clamp(fraction, 0.0, 1.0) * kvtengine::kFieldBoxUnits));
}
}  // namespace

std::int64_t PgEngine::KeepFieldBox(const kvtengine::FieldBox& box) {
  if (box.id != 0) {
    const Result r = db_->Query(
        "UPDATE field_boxes SET page = $2, x = $3, y = $4, width = $5, height = $6, shape = $7, "
        "letterhead = $8, used = $9, used_at = $10 WHERE id = $1 AND archive = $11 AND form = "
        "$12 AND field = $13 RETURNING id",
        {std::to_string(box.id), std::to_string(box.page), BoxUnits(box.x), BoxUnits(box.y),
         BoxUnits(box.width), BoxUnits(box.height), box.shape, box.letterhead,
         std::to_string(box.used), box.used_at, box.archive, box.form, box.field});
    if (r.Rows() > 0) return box.id;
  }
  // Added, and past the field's dozen the least recently used forgotten, in one statement.
  const Result r = db_->Query(
      "WITH added AS (INSERT INTO field_boxes (archive, form, field, page, x, y, width, height, "
      "shape, letterhead, used, used_at) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, "
      "$12) RETURNING id), gone AS (DELETE FROM field_boxes WHERE archive = $1 AND form = $2 AND "
      "field = $3 AND id NOT IN (SELECT id FROM field_boxes WHERE archive = $1 AND form = $2 AND "
      "field = $3 ORDER BY used_at DESC, id DESC LIMIT $13::integer - 1)) SELECT id FROM added",
      {box.archive, box.form, box.field, std::to_string(box.page), BoxUnits(box.x), BoxUnits(box.y),
       BoxUnits(box.width), BoxUnits(box.height), box.shape, box.letterhead,
       std::to_string(box.used), box.used_at, std::to_string(kvtengine::kMaxFieldBoxes)});
  return r.Int(0, 0);
}

std::string PgEngine::ArchiveSetting(const std::string& archive, const std::string& name) {
  const Result r = db_->Query("SELECT value FROM archive_settings WHERE archive = $1 AND name = $2",
                              {archive, name});
  return r.Rows() > 0 ? r.Text(0, 0) : std::string();
}

void PgEngine::PutArchiveSetting(const std::string& archive, const std::string& name,
                                 const std::string& value) {
  if (value.empty()) {
    db_->Query("DELETE FROM archive_settings WHERE archive = $1 AND name = $2", {archive, name});
    return;
  }
  db_->Query(
      "INSERT INTO archive_settings (archive, name, value) VALUES ($1, $2, $3) ON CONFLICT "
      "(archive, name) DO UPDATE SET value = excluded.value",
      {archive, name, value});
}

std::vector<kvtengine::FieldBox> PgEngine::FieldBoxes(const std::string& archive,
                                                      const std::string& form) {
  const Result r = db_->Query(
      "SELECT id, field, page, x, y, width, height, shape, letterhead, used, used_at FROM "
      "field_boxes WHERE archive = $1 AND form = $2 ORDER BY used DESC, used_at DESC, id",
      {archive, form});
  std::vector<kvtengine::FieldBox> out;
  for (int i = 0; i < r.Rows(); ++i) {
    kvtengine::FieldBox b;
    b.id = r.Int(i, 0);
    b.archive = archive;
    b.form = form;
    b.field = r.Text(i, 1);
    b.page = static_cast<std::int32_t>(r.Int(i, 2));
    b.x = static_cast<double>(r.Int(i, 3)) / kvtengine::kFieldBoxUnits;
    b.y = static_cast<double>(r.Int(i, 4)) / kvtengine::kFieldBoxUnits;
    b.width = static_cast<double>(r.Int(i, 5)) / kvtengine::kFieldBoxUnits;
    b.height = static_cast<double>(r.Int(i, 6)) / kvtengine::kFieldBoxUnits;
    b.shape = r.Text(i, 7);
    b.letterhead = r.Text(i, 8);
    b.used = static_cast<std::int32_t>(r.Int(i, 9));
    b.used_at = r.Text(i, 10);
    out.push_back(std::move(b));
  }
  return out;
}

void PgEngine::ListFiles(const std::function<void(const kvtfiles::StoredFile&)>& each) {
  // A page at a time by key: the list of a large archive never sits in memory whole.
  std::string after;
  for (;;) {
    const Result r = db_->Query(
        std::string(kFileColumns) + " WHERE sha256 > $1 ORDER BY sha256 LIMIT 1000", {after});
    for (int i = 0; i < r.Rows(); ++i) each(FileRow(r, i));
    if (r.Rows() < 1000) return;
    after = r.Text(r.Rows() - 1, 0);
  }
}

}  // namespace kvtpg
