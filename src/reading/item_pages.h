// A queued item's pages as a document's own file: the pages a clerk archives as one document are
// cut from the scanned stack into a PDF of their own, kept with what was read of them, so that
// the document shows, searches and exports only its pages. The stack stays kept as scanned.
#pragma once

#include <string>
#include <vector>

#include "engine/common/archive_engine.h"
#include "engine/files/stored_file.h"
#include "reading/page_reader.h"
#include "reading/scans_pdf.h"

namespace kvtread {

/// Cuts each queued item of `items` that is not the whole stack into a file of its own, kept by
/// the archive with the stack's `reading` of its pages (never read again), and names it in the
/// item (pages_sha256). A PDF of the pages as scanned, named after the stack and its pages; the
/// same pages give the same bytes, so a stack taken in again keeps nothing twice. `bytes` are
/// the kept `stack`'s. Raises when its pages cannot be drawn or the files kept.
/// `encoded`, when given, holds pages already encoded as they were read (by page, from 0; one
/// without data is drawn again).
void KeepItemPages(kvtengine::ArchiveEngine& engine, const kvtfiles::StoredFile& stack,
                   const std::string& bytes, const kvtfiles::FileReading& reading,
                   std::vector<kvtengine::IntakeItem>& items, const PageBudget& budget = {},
                   const std::vector<EncodedPage>* encoded = nullptr);

}  // namespace kvtread
