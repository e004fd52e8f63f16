// A document's files as the programs handle them: chosen for a file-link field (read once, its
// SHA-256 in the field), kept when the document is saved, written out checked, and every kept
// file checked against its SHA-256 (fixity).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/workspace.h"
#include "engine/files/stored_file.h"

namespace kvtapp {

/// The value a file-link field gets for the file at `path`: its reference, the file read once
/// now. The file is kept in the transaction that saves a document naming it. Raises
/// kFileRefused for a file that cannot be kept (unreadable, empty, too large).
std::string ChooseFile(Workspace& w, const std::string& path,
                       kvtfiles::StoredFile* facts = nullptr);

/// A value as a person reads it: a kept file's reference as its name and the start of its
/// SHA-256 ("fattura.pdf (sha256 1a2b3c4d5e6f)"), any other text as it is.
std::string ShownValue(const std::string& text);

/// Keeps every chosen file that `values` names; a value naming a file neither chosen nor kept
/// raises kBadFile: no document names bytes the archive does not hold. Runs in the save's
/// transaction.
void KeepNamedFiles(Workspace& w, const kvt::ObjectRef& values);

/// True when `values` name a file chosen and not kept yet.
bool NamesChosenFiles(const Workspace& w, const kvt::ObjectRef& values);

/// Writes kept file `sha256` to `out` whole or not at all (never over one of `inputs`): written
/// to a temporary file, checked against its SHA-256, then renamed into place. `whose` names it
/// in messages ("documento 12, campo Allegato").
kvtfiles::StoredFile WriteKeptFile(kvtengine::ArchiveEngine& engine, const std::string& sha256,
                                   const std::string& whose, const std::string& out,
                                   const std::vector<std::string>& inputs);

/// One kept file found damaged or missing, with a document and field that name it (none: 0).
struct FileProblem {
  std::string sha256, name, why;
  std::string archive, field;
  std::int32_t document = 0;
};
/// What a check of the kept files found.
struct FileCheck {
  std::int64_t files = 0, bytes = 0;
  std::vector<FileProblem> problems;
};
/// Reads every kept file again (those `archive`'s documents name; empty: every file) and
/// compares it with its SHA-256; a file a document names and the archive does not hold is
/// missing. `progress` hears the bytes read so far of the total.
FileCheck CheckKeptFiles(
    kvtengine::ArchiveEngine& engine, const std::string& archive,
    const std::function<void(std::int64_t done, std::int64_t total)>& progress);

}  // namespace kvtapp
