#include "engine/sqlite/file_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "engine/files/sha256.h"
#include "engine/files/stored_file.h"
#include "engine/sqlite/database.h"

namespace kvtsqlite {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const std::string& what, const std::string& path, int err) {
  throw EngineError(kDatabaseError,
                    what + " '" + path + "': " + std::strerror(err) + ": nothing was kept");
}

void MakeFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
    Fail("cannot make the folder", path, errno);
}

void SyncFolder(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0 || ::fsync(fd) != 0) {
    const int err = errno;
    if (fd >= 0) ::close(fd);
    Fail("cannot sync the folder", path, err);
  }
  ::close(fd);
}

}  // namespace

std::string FileFolder::PathOf(const std::string& sha256) const {
  return root_ + "/" + sha256.substr(0, 2) + "/" + sha256;
}

FileFolder::Writer::Writer(const FileFolder& folder) : folder_(folder) {
  MakeFolder(folder.root_);
  temp_ = folder.root_ + "/tmp-XXXXXX";
  fd_ = ::mkostemp(temp_.data(), O_CLOEXEC);
  if (fd_ < 0) Fail("cannot write a file into", folder.root_, errno);
}

FileFolder::Writer::~Writer() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(temp_.c_str());
  }
}

void FileFolder::Writer::Write(std::string_view piece) {
  while (!piece.empty()) {
    const ssize_t n = ::write(fd_, piece.data(), piece.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) Fail("cannot write", temp_, errno);
    piece.remove_prefix(static_cast<std::size_t>(n));
  }
}

void FileFolder::Writer::Seal(const std::string& sha256) {
  if (::fdatasync(fd_) != 0) Fail("cannot sync", temp_, errno);
  ::fchmod(fd_, 0444);  // never rewritten
  const std::string target = folder_.PathOf(sha256);
  const std::string sub = folder_.root_ + "/" + sha256.substr(0, 2);
  MakeFolder(sub);
  if (::rename(temp_.c_str(), target.c_str()) != 0) Fail("cannot name", target, errno);
  ::close(fd_);
  fd_ = -1;
  SyncFolder(sub);
  SyncFolder(folder_.root_);
}

bool FileFolder::Read(const std::string& sha256,
                      const std::function<void(std::string_view piece)>& each) const {
  std::string piece;
  return Read(
      sha256, [&] { return std::move(piece); },
      [&](std::string&& got) {
        each(got);
        piece = std::move(got);
      });
}

bool FileFolder::Read(const std::string& sha256, const std::function<std::string()>& spare,
                      const std::function<void(std::string&& piece)>& each) const {
  // A name from a database file made elsewhere is untrusted: only a digest names a file here.
  if (!kvtfiles::IsSha256(sha256)) return false;
  const std::string path = PathOf(sha256);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return false;
    Fail("cannot read", path, errno);
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  for (;;) {
    std::string piece = spare();
    piece.resize(kvtfiles::kPieceBytes);
    std::size_t got = 0;
    while (got < piece.size()) {
      const ssize_t n = ::read(fd, piece.data() + got, piece.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail("cannot read", path, errno);
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got == 0) return true;
    piece.resize(got);
    each(std::move(piece));
  }
}

std::int64_t FileFolder::RemoveOrphans(
    const std::function<bool(const std::string& sha256)>& kept) const {
  std::error_code ec;
  if (!fs::is_directory(root_, ec)) return 0;
  std::int64_t removed = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root_, ec)) {
    if (!entry.is_regular_file(ec)) continue;
    const std::string name = entry.path().filename().string();
    const bool ours = kvtfiles::IsSha256(name) || name.rfind("tmp-", 0) == 0;
    if (!ours || (kvtfiles::IsSha256(name) && kept(name))) continue;
    if (fs::remove(entry.path(), ec)) ++removed;
  }
  return removed;
}

}  // namespace kvtsqlite
