// Stored documents written out as they are read: one ordered pass over the archive, each
// document written and forgotten, so that an archive of millions exports in constant memory.
#pragma once

#include <string>

#include "common/output_file.h"
#include "engine/common/archive_engine.h"

namespace kvtapp {

struct ExportOptions {
  char separator = ';';
  bool raw = false;  // cells as they are, without the spreadsheet mark
};

/// CSV: a header of the form's field names, then of names the documents hold values under
/// that the form does not have (in the order they first appear); one row per document.
/// Returns the number of documents written.
std::size_t ExportCsv(kvtengine::ArchiveEngine& engine, const std::string& archive,
                      const std::vector<std::string>& form_fields, const ExportOptions& options,
                      OutputFile& output);
/// JSON: an array of {"id", "saved_at", "values": {name: text or null}}.
std::size_t ExportJson(kvtengine::ArchiveEngine& engine, const std::string& archive,
                       OutputFile& output);

}  // namespace kvtapp
