// A queued item's pages as a document's own file: the pages a clerk archives as one document are
// cut from the scanned stack into a PDF of their own, kept with what was read of them, so that
// the document shows, searches and exports only its pages. The stack stays kept as scanned.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/common/archive_engine.h"
#include "engine/files/stored_file.h"
#include "reading/page_reader.h"
#include "reading/scans_pdf.h"

namespace kvtread {

/// Gives each page of the file at `path` from `first` (from 1), `count` of them, as drawn (a PDF
/// page at the budget's resolution, on white) or scanned, with its resolution; `name` names the
/// file in what it raises (a page that cannot be drawn, or larger than the budget).
void EachPage(const std::string& path, const std::string& name, int first, int count,
              const PageBudget& budget, const std::function<void(const QImage&, int dpi)>& each);

/// Pages encoded as they were read, set down in a temporary file as they come (from any thread),
/// taken back when a document's pages are cut: a stack's pages are never all in memory.
class PageSpill {
 public:
  PageSpill();
  ~PageSpill();
  PageSpill(const PageSpill&) = delete;
  PageSpill& operator=(const PageSpill&) = delete;
  /// Sets down page `page` (from 0); raises when it cannot be written.
  void Put(int page, const EncodedPage& encoded);
  /// Page `page` as set down; nothing when it never was.
  std::optional<EncodedPage> Get(int page) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// Cuts each queued item of `items` that is not the whole stack into a file of its own, kept by
/// the archive with the stack's `reading` of its pages (never read again), and names it in the
/// item (pages_sha256). A PDF of the pages as scanned, named after the stack and its pages; the
/// same pages give the same bytes, so a stack taken in again keeps nothing twice. `path` holds
/// the kept `stack`'s bytes; pages in `spill` are taken from there, the others drawn again.
/// Raises when its pages cannot be drawn or the files kept.
void KeepItemPages(kvtengine::ArchiveEngine& engine, const kvtfiles::StoredFile& stack,
                   const std::string& path, const kvtfiles::FileReading& reading,
                   std::vector<kvtengine::IntakeItem>& items, const PageBudget& budget = {},
                   const PageSpill* spill = nullptr);

}  // namespace kvtread
