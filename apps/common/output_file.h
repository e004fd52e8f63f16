// A program's output written whole or not at all: a regular file is written to a temporary
// file beside it and renamed into place only after every write, the flush and the close
// succeeded; standard output and devices are written in place and checked to the end.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace kvtapp {

class OutputFile {
 public:
  /// Output to `path`, or to standard output when it is empty. A path that is the same file
  /// (device and inode) as one of `inputs` (the database, the files read) is refused with
  /// error 2 before anything is opened for writing; inputs that are no files are passed over.
  OutputFile(std::string path, const std::vector<std::string>& inputs);
  /// Without Commit the temporary file is removed and the target left as it was.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  /// Writes the bytes as they are (NUL included); a failed write raises error 2.
  void Write(std::string_view bytes);
  /// Flushes and closes, then renames the temporary file into place; raises error 2 when
  /// anything failed, leaving the target as it was.
  void Commit();
  /// Throws away what was written so far, to write it anew; false when it cannot (standard
  /// output, a device: what was written has gone).
  bool StartOver();
  /// The name messages use: the path, or "standard output".
  std::string Name() const { return path_.empty() ? "standard output" : path_; }

 private:
  [[noreturn]] void Fail(const std::string& what, int err);
  std::string path_;
  std::string temp_;  // empty when writing in place
  std::FILE* file_ = nullptr;
  bool committed_ = false;
};

/// True when `a` and `b` name the same existing file (device and inode).
bool SameFile(const std::string& a, const std::string& b);

}  // namespace kvtapp
