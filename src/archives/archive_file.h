// Archives as files: one TOML file per archive with its fields (every definition column), its
// forms with each field's layout, its code lists and its script. Read with every problem
// found in one pass (file, line and column), imported into a database in one transaction, and
// written back from a database in the same form (docs/archive-format.md).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/common/archive_engine.h"

namespace kvtarchive {

/// One problem of a file, at its place.
struct Problem {
  std::string file;
  int line = 0;
  int column = 0;
  std::string message;
  /// "FILE:LINE:COLUMN: message", the form editors jump to.
  std::string ToString() const;
};

struct Field {
  kvtengine::FieldDefinition definition;
  std::vector<std::pair<std::string, std::string>> codes;  // code, description, in file order
};

struct Form {
  std::string name;
  std::vector<kvtengine::FieldLayout> layout;  // in file order
};

/// An archive as the file describes it.
struct ArchiveFile {
  std::string name;
  std::vector<Field> fields;  // in the archive's order
  std::vector<Form> forms;
  std::string script;  // Lua source, "" for none
};

struct Read {
  ArchiveFile archive;
  std::vector<Problem> problems;  // empty: the archive may be imported
};

/// Reads and checks an archive file's text; `file` names it in the problems.
Read ParseArchiveFile(std::string_view text, const std::string& file);
/// Reads and checks the file at `path` (a file that cannot be read is one problem).
Read ReadArchiveFile(const std::string& path);

/// Creates or replaces the archive in `engine` in one transaction: definitions, layouts, code
/// lists and script. An archive that already has documents is replaced only with `replace`
/// (otherwise 0x80040306 and nothing changes).
void ImportArchive(kvtengine::ArchiveEngine& engine, const ArchiveFile& archive, bool replace);

/// The archive in `engine` as an archive file's text; an unknown archive raises.
std::string ExportArchive(kvtengine::ArchiveEngine& engine, const std::string& archive);

/// Error numbers (object errors, source "kvtArchive").
enum : std::uint32_t {
  kArchiveHasDocuments = 774,
  kArchiveNotFound = 775,
};

}  // namespace kvtarchive
