// An archive handed on whole as a BagIt bag (RFC 8493): its definitions, every document with
// every version, and every file its documents name, each payload file listed with its SHA-256.
// A bag imported into a new database and exported again is the same bag, byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/common/archive_engine.h"

namespace kvtapp {

/// What a bag holds.
struct BagReport {
  std::size_t documents = 0, deleted = 0, files = 0;
  std::int64_t payload_bytes = 0, payload_files = 0;
};

/// Writes `archive` as a bag in the new folder `dir`, whole or not at all (made beside it under
/// another name, renamed at the end): data/archivio.toml (the archive file), documenti.csv and
/// documenti.json (the values as they are now), versioni.toml (every version of every document,
/// deleted ones too, and the files' list), file/ (each file under its own name); bagit.txt,
/// bag-info.txt and the two SHA-256 manifests. Every file is read checked.
BagReport ExportBag(kvtengine::ArchiveEngine& engine, const std::string& archive,
                    const std::string& dir);

/// What makes `dir` no valid bag by RFC 8493 (a missing or wrong declaration, a payload file
/// missing, unlisted or not matching its SHA-256, a tag file the same); empty when it is one.
std::vector<std::string> CheckBag(const std::string& dir);

/// Makes the new database `db` (a file that does not exist yet, or an empty PostgreSQL
/// database) from a bag ExportBag wrote, in one transaction: the archive, its files, its
/// documents with their numbers and histories. A bag that is not valid changes nothing.
BagReport ImportBag(const std::string& dir, const std::string& db);

}  // namespace kvtapp
