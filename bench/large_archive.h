// The sample invoice archive grown to N documents in bulk, for the benchmarks: every value made
// from the document's number inside the database (one INSERT ... SELECT per table), its search
// key as the engine would give it. Invoice i has number 100000 + i, a date among ten years, one
// of 5,000 customers ("CLIENTE 0042 SRL"), quantities, prices and totals; the other fields are
// empty. The keys are written after the documents, in one sorted pass, as a bulk load does.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/common/document_search.h"
#include "engine/sqlite/sqlite_engine.h"
#include "runtime/variant.h"

namespace kvtbench {

// The sample's fields in order: name, definition type, data format, and the value of invoice
// `i` as SQL (SQLite's dialect; the PostgreSQL generator reads them through lookup tables).
struct InvoiceField {
  const char* name;
  const char* type;
  int format;
};
inline const std::vector<InvoiceField>& InvoiceFields() {
  static const std::vector<InvoiceField> fields = {
      {"NumeroDocumento", "TextBox", 1}, {"DataDocumento", "Calendar", 0},
      {"TipoDocumento", "ComboBox", 0},  {"Reparto", "ComboBox", 0},
      {"Cliente", "TextBox", 0},         {"CodiceFiscale", "TextBox", 0},
      {"Email", "TextBox", 0},           {"Quantita", "TextBox", 1},
      {"Prezzo", "TextBox", 1},          {"Totale", "TextBox", 1},
      {"Allegato", "FileLinker", 0},     {"Note", "TextBox", 0}};
  return fields;
}

// Invoice i's customer, date and so on, as text (the same in both generators).
inline std::string Customer(std::int64_t k) {
  char text[32];
  std::snprintf(text, sizeof text, "CLIENTE %04d SRL", static_cast<int>(k % 5000));
  return text;
}
inline std::string InvoiceDate(std::int64_t k) {
  return kvt::FormatDate(
      kvt::Date{kvt::MakeDate(2016, 1, 1).serial + static_cast<double>(k % 3650)});
}

// SQLite: each document's row made whole from the field list (values and keys as JSON, in the
// fields' order), then the key entries read back from the rows and written in key order.
inline void GenerateSqlite(kvtsqlite::SqliteEngine& e, std::int64_t n) {
  auto& db = e.Db();
  const std::string count = std::to_string(n);
  std::string fields;
  for (std::size_t f = 0; f < InvoiceFields().size(); ++f) {
    const auto& d = InvoiceFields()[f];
    fields += std::string(f ? " UNION ALL " : "") + "SELECT " + std::to_string(f) + ", '" + d.name +
              "', '" + d.type + "', " + std::to_string(d.format);
  }
  // The value of field f.name for invoice n.i.
  const std::string value =
      "CASE f.name "
      "WHEN 'NumeroDocumento' THEN CAST(100000 + n.i AS TEXT) "
      "WHEN 'DataDocumento' THEN strftime('%d/%m/%Y', '2016-01-01', '+' || ((n.i * 7919) % 3650) "
      "|| ' days') "
      "WHEN 'TipoDocumento' THEN CASE n.i % 3 WHEN 0 THEN 'FAT' WHEN 1 THEN 'NC' ELSE 'DDT' END "
      "WHEN 'Reparto' THEN CASE n.i % 2 WHEN 0 THEN 'AMM' ELSE 'VEN' END "
      "WHEN 'Cliente' THEN printf('CLIENTE %04d SRL', (n.i * 31) % 5000) "
      "WHEN 'Quantita' THEN CAST(1 + n.i % 20 AS TEXT) "
      "WHEN 'Prezzo' THEN printf('%d,50', (n.i * 13) % 1000) "
      "WHEN 'Totale' THEN printf('%d,00', (n.i * 17) % 10000) "
      "ELSE '' END";
  db.Execute("BEGIN");
  db.Execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + count +
             "), f(pos, name, type, format) AS (" + fields +
             ") INSERT INTO documents (id, archive, saved_at, content, search_keys) SELECT n.i, "
             "'Fatture', '2026-12-06T10:00:00Z', (SELECT json_group_object(name, v) FROM (SELECT "
             "f.name AS name, " +
             value +
             " AS v FROM f ORDER BY f.pos)), (SELECT json_group_object(name, k) FROM (SELECT "
             "f.name AS name, kvt_search_key(f.type, f.format, " +
             value + ") AS k FROM f ORDER BY f.pos) WHERE k IS NOT NULL) FROM n");
  db.Execute(
      "INSERT INTO document_keys (field, search, document) SELECT k.key, k.value, d.id FROM "
      "documents d, json_each(d.search_keys) k ORDER BY 1, 2, 3");
  db.Execute("WITH f(pos, name, type, format) AS (" + fields +
             ") INSERT OR IGNORE INTO document_fields (field) SELECT name FROM f");
  db.Execute("COMMIT");
}

// PostgreSQL: the keys of the few values a field takes (and of every number) come from the
// program as arrays; the server joins them to its own series of documents.
inline void GeneratePg(const std::string& conninfo, std::int64_t n) {
  PGconn* c = PQconnectdb(conninfo.c_str());
  auto run = [&](const std::string& sql, std::vector<std::string> params = {}) {
    std::vector<const char*> values;
    for (const auto& p : params) values.push_back(p.c_str());
    PGresult* r = PQexecParams(c, sql.c_str(), static_cast<int>(values.size()), nullptr,
                               values.data(), nullptr, nullptr, 0);
    const auto status = PQresultStatus(r);
    const std::string error = PQresultErrorMessage(r);
    PQclear(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
      PQfinish(c);
      throw std::runtime_error("generator: " + error);
    }
  };
  // Lookup rows (field, k, value, key): invoice i takes row k = (i * step) % size of its field.
  std::string fields = "{", ks = "{", texts = "{", keys = "{";
  auto add = [&](const char* field, std::int64_t k, const std::string& text,
                 kvtengine::SearchKind kind) {
    const auto key = kvtengine::SearchKey(kind, kvt::Variant(text));
    const char* sep = fields.size() > 1 ? "," : "";
    fields += sep + std::string("\"") + field + "\"";
    ks += sep + std::to_string(k);
    texts += sep + std::string("\"") + text + "\"";
    keys += sep + (key ? "\"" + *key + "\"" : std::string("NULL"));
  };
  using K = kvtengine::SearchKind;
  for (std::int64_t i = 1; i <= n; ++i)
    add("NumeroDocumento", i, std::to_string(100000 + i), K::kNumber);
  for (std::int64_t k = 0; k < 3650; ++k) add("DataDocumento", k, InvoiceDate(k), K::kDate);
  const char* kinds[] = {"FAT", "NC", "DDT"};
  for (int k = 0; k < 3; ++k) add("TipoDocumento", k, kinds[k], K::kText);
  add("Reparto", 0, "AMM", K::kText);
  add("Reparto", 1, "VEN", K::kText);
  for (int k = 0; k < 5000; ++k) add("Cliente", k, Customer(k), K::kText);
  for (int k = 0; k < 20; ++k) add("Quantita", k, std::to_string(1 + k), K::kNumber);
  for (int k = 0; k < 1000; ++k) add("Prezzo", k, std::to_string(k) + ",50", K::kNumber);
  for (int k = 0; k < 10000; ++k) add("Totale", k, std::to_string(k) + ",00", K::kNumber);
  for (const char* empty : {"CodiceFiscale", "Email", "Allegato", "Note"})
    add(empty, 0, "", K::kText);
  fields += "}", ks += "}", texts += "}", keys += "}";
  const std::string count = std::to_string(n);
  run("BEGIN");
  run("DROP INDEX document_values_by_key");
  run("DROP INDEX IF EXISTS document_values_contains");
  run("CREATE TEMP TABLE kvt_lookup AS SELECT * FROM unnest($1::text[], $2::bigint[], $3::text[], "
      "$4::text[]) AS t(field, k, value, search)",
      {fields, ks, texts, keys});
  run("CREATE INDEX ON kvt_lookup (field, k)");
  run("INSERT INTO documents (id, archive, saved_at) SELECT g, 'Fatture', '2026-12-06T10:00:00Z' "
      "FROM generate_series(1, " +
      count + ") g");
  run("SELECT setval(pg_get_serial_sequence('documents', 'id'), " + count + ")");
  run("INSERT INTO document_values (document, position, field, value, search) "
      "SELECT g, f.pos, f.name, to_jsonb(l.value), l.search FROM generate_series(1::bigint, " +
      count + ") g CROSS JOIN (VALUES (1, 'NumeroDocumento', 1, " + std::to_string(n + 1) +
      "), (2, 'DataDocumento', 7919, 3650), (3, 'TipoDocumento', 1, 3), (4, 'Reparto', 1, 2), "
      "(5, 'Cliente', 31, 5000), (6, 'CodiceFiscale', 0, 1), (7, 'Email', 0, 1), "
      "(8, 'Quantita', 1, 20), (9, 'Prezzo', 13, 1000), (10, 'Totale', 17, 10000), "
      "(11, 'Allegato', 0, 1), (12, 'Note', 0, 1)) AS f(pos, name, step, size) "
      "JOIN kvt_lookup l ON l.field = f.name AND l.k = (g * f.step) % f.size");
  run("CREATE INDEX document_values_by_key ON document_values (field, search, document)");
  run("COMMIT");
  run("ANALYZE");
  PQfinish(c);
}

}  // namespace kvtbench
