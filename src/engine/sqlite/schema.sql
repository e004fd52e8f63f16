-- The kvtfields database, applied to a new, empty database file.
-- Definition and layout columns carry no declared type, so that a value comes back exactly as
-- it was stored: the component, not the engine, judges what it reads.

CREATE TABLE kvt_meta (
  key   TEXT PRIMARY KEY,
  value TEXT NOT NULL
);
INSERT INTO kvt_meta (key, value) VALUES ('schema', 'kvtfields'), ('version', '4');

-- One row per field of an archive; `position` orders the fields of the archive.
CREATE TABLE field_definitions (
  archive          TEXT NOT NULL,
  cod              TEXT NOT NULL,
  position         INTEGER NOT NULL,
  "Label",
  "Descr",
  "MaxLen",
  "MinLen",
  "Priority",
  "IsIndex",
  "IsRequired",
  "AutoComplete",
  "DATA_FORMAT",
  "CHAR_FORMAT",
  "IsRetainInMemory",
  "Type",
  PRIMARY KEY (archive, cod)
);
CREATE INDEX field_definitions_order ON field_definitions (archive, position, cod);
-- Finds a field whose name differs only in letter case without reading the whole archive.
CREATE INDEX field_definitions_folded ON field_definitions (archive, lower(cod));

-- The layout of a field on one form.
CREATE TABLE field_layouts (
  archive          TEXT NOT NULL,
  cod              TEXT NOT NULL,
  form             TEXT NOT NULL,
  "Width",
  "Height",
  "BreakLine",
  "MultiLine",
  "ShowComboLabel",
  PRIMARY KEY (archive, cod, form)
);

-- The codes of a field, with their descriptions.
CREATE TABLE code_lists (
  archive          TEXT NOT NULL,
  fieldType        TEXT NOT NULL,
  "COD"            TEXT NOT NULL,
  "VALUE"          TEXT,
  PRIMARY KEY (archive, fieldType, "COD")
);

-- Values learnt by the autocomplete class, per key ("archive-field").
CREATE TABLE "SYS_AUTOCOMPLETE" (
  key              TEXT NOT NULL,
  value            TEXT NOT NULL,
  uses             INTEGER NOT NULL DEFAULT 1,
  last_used        INTEGER NOT NULL DEFAULT 0,
  folded           TEXT NOT NULL DEFAULT '',
  PRIMARY KEY (key, value)
);
-- A key's values starting with what is typed, whatever its letter case.
CREATE INDEX "SYS_AUTOCOMPLETE_folded" ON "SYS_AUTOCOMPLETE" (key, folded);
-- The latest learnt value, so that learning one more reads one index entry, not the table.
CREATE INDEX "SYS_AUTOCOMPLETE_recent" ON "SYS_AUTOCOMPLETE" (last_used);

-- Archive scripts, one per script set.
CREATE TABLE scripts (
  script_set       TEXT PRIMARY KEY,
  source           TEXT NOT NULL
);

-- Documents saved by a host, with one value per field.
CREATE TABLE documents (
  id               INTEGER PRIMARY KEY AUTOINCREMENT,
  archive          TEXT NOT NULL,
  saved_at         TEXT NOT NULL
);
CREATE INDEX documents_archive ON documents (archive);
CREATE TABLE document_values (
  document         INTEGER NOT NULL REFERENCES documents (id) ON DELETE CASCADE,
  field            TEXT NOT NULL,
  value,
  search           TEXT,
  PRIMARY KEY (document, field)
);
-- Documents by a field's value: `search` is the value's key (lower-case text, dates and numbers
-- as text that sorts like them); a field's documents sharing a key come in id order.
CREATE INDEX document_values_by_key ON document_values (field, search, document);
