-- The kvtfields database, applied to a new, empty database file.
-- Definition and layout columns carry no declared type, so that a value comes back exactly as
-- it was stored: the component, not the engine, judges what it reads.

CREATE TABLE kvt_meta (
  key   TEXT PRIMARY KEY,
  value TEXT NOT NULL
);
INSERT INTO kvt_meta (key, value) VALUES ('schema', 'kvtfields'), ('version', '12');

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

-- Documents saved by a host. `content` holds the values, a JSON object of field name to value
-- in the order they were given; `search_keys` the key of each value that has one (lower-case
-- text, dates and numbers as text that sorts like them). `version` counts the document's
-- changes (1: as first saved); `saved_by` and `change` say who made this version and how
-- ('save', 'correct', 'overwrite', 'restore'); an empty author is unknown.
CREATE TABLE documents (
  id               INTEGER PRIMARY KEY AUTOINCREMENT,
  archive          TEXT NOT NULL,
  saved_at         TEXT NOT NULL,
  version          INTEGER NOT NULL DEFAULT 1,
  saved_by         TEXT NOT NULL DEFAULT '',
  change           TEXT NOT NULL DEFAULT 'save',
  content          TEXT NOT NULL DEFAULT '{}',
  search_keys      TEXT NOT NULL DEFAULT '{}'
);
CREATE INDEX documents_archive ON documents (archive);
-- Documents by a field's key (the same keys as `search_keys`): a field's documents sharing a
-- key come in id order. One entry per keyed value, so that storing a document writes few.
CREATE TABLE document_keys (
  field            TEXT NOT NULL,
  search           TEXT NOT NULL,
  document         INTEGER NOT NULL,
  PRIMARY KEY (field, search, document)
) WITHOUT ROWID;
-- Every field name a stored document holds or held a value for.
CREATE TABLE document_fields (
  field            TEXT PRIMARY KEY
) WITHOUT ROWID;

-- Every version of a document that a later change replaced, and the version a deletion made
-- ('delete': the document has no row in `documents` until it is restored).
CREATE TABLE document_versions (
  document         INTEGER NOT NULL,
  version          INTEGER NOT NULL,
  archive          TEXT NOT NULL,
  saved_at         TEXT NOT NULL,
  saved_by         TEXT NOT NULL,
  change           TEXT NOT NULL,
  PRIMARY KEY (document, version)
) WITHOUT ROWID;
-- An archive's deleted documents, found without reading every version.
CREATE INDEX document_versions_deleted ON document_versions (archive, document) WHERE change = 'delete';
-- The values a version held that the next version changed (`present` 0: the field had no
-- value): going back from the newest version through these gives every older one.
CREATE TABLE document_changes (
  document         INTEGER NOT NULL,
  version          INTEGER NOT NULL,
  position         INTEGER NOT NULL,
  field            TEXT NOT NULL,
  value,
  present          INTEGER NOT NULL,
  PRIMARY KEY (document, version, field)
) WITHOUT ROWID;

-- The documents' files, each kept once under the SHA-256 of its bytes and never rewritten: a
-- file-link value "sha256:<digest>/<name>" names one. The bytes are a file of that name in the
-- folder beside this one ("<database>.files/<first two digits>/<digest>"), written and synced
-- before the transaction that adds its row here commits: this table is the folder's index.
CREATE TABLE stored_files (
  sha256           TEXT PRIMARY KEY,
  size             INTEGER NOT NULL,
  media_type       TEXT NOT NULL,
  pages            INTEGER NOT NULL,
  name             TEXT NOT NULL,
  stored_at        TEXT NOT NULL,
  stored_by        TEXT NOT NULL
) WITHOUT ROWID;

-- The SHA-256 of each 1 MiB piece of a file of more pieces than one (32 bytes apiece), worked out
-- from the same bytes as its name: a read checks the pieces on several cores at once.
CREATE TABLE file_piece_digests (
  sha256           TEXT PRIMARY KEY,
  digests          BLOB NOT NULL
) WITHOUT ROWID;

-- What was read off a kept file's pages, once: by which reader and when, or why it could not be
-- read (`failure`, empty when read).
CREATE TABLE file_readings (
  id               INTEGER PRIMARY KEY,
  sha256           TEXT NOT NULL UNIQUE,
  reader           TEXT NOT NULL,
  read_at          TEXT NOT NULL,
  failure          TEXT NOT NULL
);
-- Each page's words with their boxes, a line per word ("x y width height confidence text").
CREATE TABLE file_pages (
  sha256           TEXT NOT NULL,
  page             INTEGER NOT NULL,
  width            INTEGER NOT NULL,
  height           INTEGER NOT NULL,
  words            TEXT NOT NULL,
  PRIMARY KEY (sha256, page)
) WITHOUT ROWID;
-- The words of the files each document names (its rowid the document's id), searched in the
-- documents' order whatever their accents.
CREATE VIRTUAL TABLE document_words USING fts5(words, tokenize = 'unicode61 remove_diacritics 2');
-- The kept files each stored document names, found both ways.
CREATE TABLE document_files (
  document         INTEGER NOT NULL,
  sha256           TEXT NOT NULL,
  PRIMARY KEY (document, sha256)
) WITHOUT ROWID;
CREATE INDEX document_files_by_file ON document_files (sha256, document);

-- The intake queue and its page ledger: each item is pages of a scanned stack (a kept file)
-- waiting to become a document ('in coda'), taken by a clerk ('preso'), filed as a document
-- ('archiviato') or set aside with the reason ('scartato'). Every page of a stack taken in is
-- in exactly one item; `done_by` and `done_at` say who last moved it and when.
CREATE TABLE intake_items (
  id               INTEGER PRIMARY KEY,
  archive          TEXT NOT NULL,
  sha256           TEXT NOT NULL,
  name             TEXT NOT NULL,
  first_page       INTEGER NOT NULL,
  pages            INTEGER NOT NULL,
  state            TEXT NOT NULL,
  done_by          TEXT NOT NULL,
  done_at          TEXT NOT NULL,
  document         INTEGER NOT NULL,
  reason           TEXT NOT NULL,
  pages_sha256     TEXT NOT NULL DEFAULT ''  -- the item's pages as a kept file of their own
);
CREATE INDEX intake_items_queue ON intake_items (archive, state, id);
CREATE UNIQUE INDEX intake_items_pages ON intake_items (archive, sha256, first_page);

-- Where clerks took fields' values from on the page (ten-thousandths of the page), to propose
-- them on the next document laid out the same way: the value's shape and the words heading the
-- page tell the layout.
CREATE TABLE field_boxes (
  id               INTEGER PRIMARY KEY,
  archive          TEXT NOT NULL,
  form             TEXT NOT NULL,
  field            TEXT NOT NULL,
  page             INTEGER NOT NULL,
  x                INTEGER NOT NULL,
  y                INTEGER NOT NULL,
  width            INTEGER NOT NULL,
  height           INTEGER NOT NULL,
  shape            TEXT NOT NULL,
  letterhead       TEXT NOT NULL,
  used             INTEGER NOT NULL,
  used_at          TEXT NOT NULL
);
CREATE INDEX field_boxes_form ON field_boxes (archive, form, field);

-- An archive's settings, a value by name: "separatore", the barcode pattern of the separator
-- sheets its scanned stacks are split at.
CREATE TABLE archive_settings (
  archive          TEXT NOT NULL,
  name             TEXT NOT NULL,
  value            TEXT NOT NULL,
  PRIMARY KEY (archive, name)
) WITHOUT ROWID;
