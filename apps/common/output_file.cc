#include "common/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "runtime/error.h"

namespace kvtapp {
namespace {

mode_t CurrentUmask() {
  const mode_t mask = umask(0);
  umask(mask);
  return mask;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (a.empty() || b.empty() || stat(a.c_str(), &sa) != 0 || stat(b.c_str(), &sb) != 0) {
    return false;
  }
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

OutputFile::OutputFile(std::string path, const std::vector<std::string>& inputs)
    : path_(std::move(path)) {
  if (path_.empty()) {
    file_ = stdout;
    return;
  }
  for (const auto& input : inputs) {
    if (SameFile(path_, input)) {
      throw kvt::Error(2, "kvtfields",
                       "'" + path_ + "' is the file '" + input +
                           "' that this command reads: give another output file");
    }
    // A database's journal beside it, there now or not: written over, a journal replaces
    // committed documents when the database is next opened.
    std::error_code ec;
    const auto canonical = std::filesystem::weakly_canonical(path_, ec);
    for (const char* companion : {"-wal", "-shm", "-journal"}) {
      const std::string journal = input + companion;
      std::error_code ec2;
      if (SameFile(path_, journal) ||
          (!ec && canonical == std::filesystem::weakly_canonical(journal, ec2) && !ec2)) {
        throw kvt::Error(2, "kvtfields",
                         "'" + path_ + "' is the journal of the database '" + input +
                             "': give another output file");
      }
    }
  }
  // A link is followed: its target gets the new text, the link stays.
  std::error_code ec;
  std::string target = path_;
  if (std::filesystem::is_symlink(path_, ec)) {
    target = std::filesystem::weakly_canonical(path_, ec).string();
    if (ec) target = path_;
  }
  struct stat st {};
  const bool exists = stat(target.c_str(), &st) == 0;
  if (exists && !S_ISREG(st.st_mode)) {
    // A device, a pipe: written in place, each write checked.
    file_ = std::fopen(target.c_str(), "wb");
    if (!file_) Fail("cannot open", errno);
    return;
  }
  const std::filesystem::path p(target);
  const std::string dir = p.has_parent_path() ? p.parent_path().string() : ".";
  std::string pattern = dir + "/." + p.filename().string() + ".XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) Fail("cannot write in the folder of", errno);
  temp_ = pattern;
  fchmod(fd, exists ? (st.st_mode & 07777) : (0666 & ~CurrentUmask()));
  file_ = fdopen(fd, "wb");
  if (!file_) {
    const int err = errno;
    close(fd);
    Fail("cannot write", err);
  }
  path_ = target;
}

OutputFile::~OutputFile() {
  if (committed_) return;
  if (file_ && file_ != stdout) std::fclose(file_);
  if (!temp_.empty()) std::remove(temp_.c_str());
}

void OutputFile::Fail(const std::string& what, int err) {
  if (file_ && file_ != stdout) std::fclose(file_);
  file_ = nullptr;
  const bool had_temp = !temp_.empty();
  if (had_temp) std::remove(temp_.c_str());
  temp_.clear();
  committed_ = true;  // nothing left to clean up
  throw kvt::Error(2, "kvtfields",
                   what + " '" + Name() + "': " + (err ? std::strerror(err) : "write failed") +
                       (had_temp ? "; the file is left as it was" : ""));
}

void OutputFile::Write(std::string_view bytes) {
  if (!file_) Fail("cannot write", EBADF);
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
    Fail("cannot write", errno);
  }
}

bool OutputFile::StartOver() {
  if (!file_ || temp_.empty()) return false;
  if (std::fflush(file_) != 0 || ftruncate(fileno(file_), 0) != 0) Fail("cannot write", errno);
  std::rewind(file_);
  return true;
}

void OutputFile::Commit() {
  if (!file_) Fail("cannot write", EBADF);
  if (std::fflush(file_) != 0 || std::ferror(file_)) Fail("cannot write", errno);
  if (file_ == stdout) {
    committed_ = true;
    return;
  }
  // The data is on disk before the name points at it: a crash leaves the old file or the new.
  if (!temp_.empty() && fsync(fileno(file_)) != 0) Fail("cannot write", errno);
  std::FILE* f = file_;
  file_ = nullptr;
  if (std::fclose(f) != 0) Fail("cannot write", errno);
  if (!temp_.empty() && std::rename(temp_.c_str(), path_.c_str()) != 0) {
    Fail("cannot replace", errno);
  }
  committed_ = true;
}

}  // namespace kvtapp
