// A file the archive keeps: named by the SHA-256 of its bytes (stored once however often it is
// attached), never rewritten, and named in a document's file-link field by a reference text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvtfiles {

/// What the archive keeps of a file beside its bytes.
struct StoredFile {
  std::string sha256;      // 64 lower-case hex digits: the file's name in the archive
  std::int64_t size = 0;   // bytes
  std::string media_type;  // sniffed from the bytes, not the name
  std::int32_t pages = 0;  // pages of a PDF or TIFF, 1 for other images, 0 when not known
  std::string name;        // the name it was first stored under (no folder)
  std::string stored_at;   // UTC, ISO 8601
  std::string stored_by;   // the account that stored it; empty: unknown
  // The SHA-256 of each kPieceBytes piece, 32 bytes apiece, for a file of more than one piece:
  // a read checks its pieces on several cores at once. Empty: the whole digest is checked.
  std::string piece_digests;
};

/// The size of the pieces a file is stored and read in: a file never sits in memory whole.
inline constexpr std::size_t kPieceBytes = 1 << 20;

/// A file-link field's value naming a kept file: "sha256:" + 64 hex digits + "/" + its name.
struct FileRef {
  std::string sha256;
  std::string name;
};
/// The reference text of a kept file.
std::string FileRefText(const FileRef& ref);
/// The kept file a value names, or nothing for any other text (a path typed before files were
/// kept, say).
std::optional<FileRef> ParseFileRef(std::string_view text);
/// The last part of a path (after '/' or '\'), what a file is named by when stored.
std::string BaseName(std::string_view path);

}  // namespace kvtfiles
