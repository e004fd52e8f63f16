// The folder beside a SQLite database where its documents' files live, one file per SHA-256
// ("<root>/<first two digits>/<digest>"), written once and never rewritten; the database's
// stored_files table is its index.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kvtsqlite {

class FileFolder {
 public:
  explicit FileFolder(std::string root) : root_(std::move(root)) {}
  const std::string& Root() const { return root_; }
  /// Where the file of `sha256` is.
  std::string PathOf(const std::string& sha256) const;

  /// A file on its way in: its pieces go to a temporary file in the folder; Seal names it.
  class Writer {
   public:
    explicit Writer(const FileFolder& folder);
    /// Without Seal the temporary file is removed.
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    void Write(std::string_view piece);
    /// Syncs the bytes to the disk, makes the file read-only and gives it its name (in place of
    /// a file a crash left under it), then syncs the folder: the file is there for good before
    /// any row names it.
    void Seal(const std::string& sha256);

   private:
    const FileFolder& folder_;
    std::string temp_;
    int fd_ = -1;
  };

  /// Gives the file's bytes piece by piece; false when the folder has no file of that name.
  bool Read(const std::string& sha256,
            const std::function<void(std::string_view piece)>& each) const;
  /// The same, each piece read into a buffer `spare` gives and handed over.
  bool Read(const std::string& sha256, const std::function<std::string()>& spare,
            const std::function<void(std::string&& piece)>& each) const;
  /// Removes the files `kept` says are not kept and what writers left half-written; returns
  /// how many. Only while no writer can be at work (under the database's write lock).
  std::int64_t RemoveOrphans(const std::function<bool(const std::string& sha256)>& kept) const;

 private:
  std::string root_;
};

}  // namespace kvtsqlite
