// Taking a stack of scans into an archive's intake queue: the file kept (once), its pages read
// (once), split into documents at blank separator pages or kept whole, every page accounted for
// in the ledger. Taking the same stack in again adds nothing.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/archive_engine.h"
#include "reading/page_reader.h"

namespace kvtread {

/// How a stack becomes documents.
enum class Split {
  kBlankPages,  // a blank page ends a document (and is set aside as its separator)
  kWhole,       // the stack is one document
  kBarcode,     // a page with a barcode the separator pattern matches ends a document (and is
                // set aside as its separator)
};

/// The items a stack of `pages` pages splits into, read as `reading` says; pages it could not
/// read are set aside with the reason. Every page is in exactly one item.
/// `separators`: the separator sheets by page (from 1), with the code each holds (kBarcode).
std::vector<kvtengine::IntakeItem> SplitStack(const kvtfiles::FileReading& reading,
                                              std::int32_t pages, Split how,
                                              const std::string& name,
                                              const std::map<int, std::string>& separators = {});

/// What taking one file in came to.
struct TakenIn {
  std::string name, sha256;
  bool added = false;  // false: the archive's intake had it already
  int documents = 0, set_aside = 0, pages = 0;
};

/// Takes the file at `path` into `archive`'s intake (split by kBarcode: at pages with a barcode
/// `separator` matches, `*` any run of characters, `?` any one; none given, the archive's
/// kSeparatorSetting, else any barcode): kept, read with `ocrs` (a thread
/// each) unless read before, split as `how` says, each document's pages cut into a file of their
/// own, and queued in one transaction. Raises when the file cannot be kept.
TakenIn TakeIn(kvtengine::ArchiveEngine& engine, const std::vector<Ocr*>& ocrs,
               const std::string& archive, const std::string& path, Split how,
               std::string_view separator = {});
/// The same with one OCR engine.
TakenIn TakeIn(kvtengine::ArchiveEngine& engine, Ocr& ocr, const std::string& archive,
               const std::string& path, Split how, std::string_view separator = {});

}  // namespace kvtread
