// Keeping a document's file in the archive and reading it back checked: the file is read once,
// in pieces, while its SHA-256, media type and pages are worked out; every read of a kept file
// is checked against its SHA-256 before anything read is taken.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine/common/archive_engine.h"

namespace kvtengine {

/// The largest file kept (2 GiB): a larger one is refused before anything is kept.
inline constexpr std::int64_t kMaxFileBytes = std::int64_t{2} << 30;

/// Keeps the file at `path` (named by its last part) unless the archive holds its bytes already,
/// in one transaction (the caller's, when inside one), and says what it is. With `expect`, the
/// SHA-256 taken when the file was chosen: a file kept under it already is not read again, and
/// one that differs now is refused. A file that cannot be read, is empty, is larger than
/// kMaxFileBytes or changes while it is read raises kFileRefused and keeps nothing.
kvtfiles::StoredFile KeepFile(ArchiveEngine& engine, const std::string& path,
                              const std::string& expect = {});
/// The same for a file that was kept elsewhere before: its name, time and account are `was`'s.
kvtfiles::StoredFile KeepFileAs(ArchiveEngine& engine, const std::string& path,
                                const kvtfiles::StoredFile& was);

/// The SHA-256, size, media type and pages of the file at `path`, read once, nothing kept; what
/// a person chose, named in the form before the document is saved. Raises as KeepFile.
kvtfiles::StoredFile ReadFileFacts(const std::string& path);

/// Gives kept file `sha256` to `each` piece by piece, checking the bytes against their SHA-256
/// as they go. A file not kept, or bytes not the ones kept, raise kBadFile naming `whose` (the
/// document and field, for a person) after the pieces read so far: what `each` makes of them
/// must be taken only when this returns.
kvtfiles::StoredFile ReadKeptFile(ArchiveEngine& engine, const std::string& sha256,
                                  const std::string& whose,
                                  const std::function<void(std::string_view piece)>& each);

}  // namespace kvtengine
