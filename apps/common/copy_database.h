// Copies what one database holds into another, whichever engines hold them: a desk's file
// into the office's PostgreSQL database, or a server's archives into a file to take along.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/common/archive_engine.h"

namespace kvtapp {

struct CopyReport {
  struct Archive {
    std::string name;
    std::size_t fields = 0, forms = 0, layouts = 0, codes = 0, documents = 0;
    std::size_t deleted = 0;  // deleted documents, kept in the history
  };
  std::vector<Archive> archives;
  std::size_t scripts = 0, learnt = 0, files = 0;
};

/// Copies every archive (definitions, layouts, code lists; an archive whose fields were
/// deleted keeps its codes and documents), every script, the autocomplete store and the
/// documents (with their times of saving and their history, deleted ones too; ids are the
/// target's) in one
/// transaction of `to`. An archive `to` already has raises 2 before anything is written.
CopyReport CopyDatabase(kvtengine::ArchiveEngine& from, kvtengine::ArchiveEngine& to);

}  // namespace kvtapp
