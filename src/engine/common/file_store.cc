#include "engine/common/file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "engine/common/engine_error.h"
#include "engine/files/file_facts.h"
#include "engine/files/hash_pipe.h"
#include "engine/files/pieces.h"
#include "engine/files/sha256.h"
#include "runtime/text.h"

namespace kvtengine {
namespace {

constexpr const char* kSource = "kvtDBEngine.Files";

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  throw EngineError(kFileRefused, kSource,
                    "Il file \"" + kvt::Printable(path) + "\" " + why + ": non è stato archiviato");
}

// A file being read once, piece by piece, with what is worked out of it on the way.
class FileReader {
 public:
  explicit FileReader(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) Refuse(path, std::string("non si può leggere (") + std::strerror(errno) + ")");
    if (::fstat(fd_, &before_) != 0) Fail("non si può leggere");
    if (!S_ISREG(before_.st_mode)) Refuse(path, "non è un file");
    if (before_.st_size == 0) Refuse(path, "è vuoto (0 byte)");
    if (before_.st_size > kMaxFileBytes) {
      Refuse(path,
             "supera i " + std::to_string(kMaxFileBytes >> 30) + " GB che si possono archiviare");
    }
    // A file of more pieces than one gets its pieces' digests too, for reads checked on several
    // cores; its own digest is then worked out beside the reading, not after it.
    if (before_.st_size > static_cast<off_t>(kvtfiles::kPieceBytes)) {
      pipe_ = std::make_unique<kvtfiles::HashPipe>();
    }
  }
  ~FileReader() { ::close(fd_); }
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // The next piece (a whole one but at the end), empty at the end.
  std::string_view Next() {
    if (pipe_ && !piece_.empty()) {  // the piece before is written: its bytes go to the pipe
      pipe_->Add(std::move(piece_));
      piece_ = pipe_->Spare();
      piece_.clear();
    }
    piece_.resize(kvtfiles::kPieceBytes);
    std::size_t got = 0;
    while (got < piece_.size()) {
      const ssize_t n = ::read(fd_, piece_.data() + got, piece_.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Fail("non si può leggere fino in fondo");
      if (n == 0) break;
      got += static_cast<std::size_t>(n);
    }
    piece_.resize(got);
    const std::string_view piece(piece_);
    if (total_ == 0) media_type_ = kvtfiles::MediaTypeOf(piece);
    total_ += static_cast<std::int64_t>(got);
    if (total_ > before_.st_size) Changed();
    if (pipe_) {
      pieces_.Add(piece);  // the file's own digest is worked out on the pipe's thread meanwhile
    } else {
      hash_.Update(piece);
    }
    if (media_type_ == "application/pdf") pdf_.Feed(piece);
    return piece;
  }

  // What was read, once it was read to the end and did not change meanwhile.
  kvtfiles::StoredFile Facts() {
    struct stat after {};
    if (::fstat(fd_, &after) != 0) Fail("non si può leggere");
    if (total_ != before_.st_size || after.st_size != before_.st_size ||
        after.st_mtim.tv_sec != before_.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != before_.st_mtim.tv_nsec) {
      Changed();
    }
    kvtfiles::StoredFile f;
    if (pipe_) {
      if (!piece_.empty()) pipe_->Add(std::move(piece_));
      piece_.clear();
      f.sha256 = pipe_->End().get();
      f.piece_digests = pieces_.End();
    } else {
      f.sha256 = hash_.HexDigest();
    }
    f.size = total_;
    f.media_type = media_type_;
    f.name = kvtfiles::BaseName(path_);
    const int fd = fd_;
    f.pages = kvtfiles::PagesOf(
        media_type_, pdf_,
        [fd](std::uint64_t at, char* out, std::size_t n) {
          const ssize_t got = ::pread(fd, out, n, static_cast<off_t>(at));
          return got < 0 ? std::size_t{0} : static_cast<std::size_t>(got);
        },
        static_cast<std::uint64_t>(total_));
    return f;
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    Refuse(path_, std::string(what) + " (" + std::strerror(errno) + ")");
  }
  [[noreturn]] void Changed() { Refuse(path_, "è cambiato mentre veniva letto"); }
  std::string path_;
  int fd_ = -1;
  struct stat before_ {};
  std::string piece_;
  std::int64_t total_ = 0;
  std::string media_type_;
  kvtfiles::Sha256 hash_;
  kvtfiles::PieceDigests pieces_;
  std::unique_ptr<kvtfiles::HashPipe> pipe_;
  kvtfiles::PdfPageCounter pdf_;
};

}  // namespace

kvtfiles::StoredFile ReadFileFacts(const std::string& path) {
  FileReader reader(path);
  while (!reader.Next().empty()) {
  }
  return reader.Facts();
}

namespace {

kvtfiles::StoredFile Keep(ArchiveEngine& engine, const std::string& path, const std::string& expect,
                          const kvtfiles::StoredFile* was) {
  kvtfiles::StoredFile kept;
  if (!expect.empty() && engine.FindFile(expect, kept)) {
    kept.name = kvtfiles::BaseName(path);
    return kept;
  }
  FileReader reader(path);
  kvtfiles::StoredFile facts;
  const bool added = engine.PutFile([&] { return reader.Next(); },
                                    [&] {
                                      facts = reader.Facts();
                                      if (!expect.empty() && facts.sha256 != expect) {
                                        Refuse(path, "è cambiato da quando è stato scelto");
                                      }
                                      if (was) {
                                        facts.name = was->name;
                                        facts.stored_at = was->stored_at;
                                        facts.stored_by = was->stored_by;
                                      }
                                      return facts;
                                    });
  // Kept before under the same digest: a different size there means damaged bytes, which no
  // new document is let to name.
  if (!added && (!engine.FindFile(facts.sha256, kept) || kept.size != facts.size)) {
    throw EngineError(kBadFile, kSource,
                      "Il file \"" + kvt::Printable(facts.name) +
                          "\" è già nell'archivio (sha256 " + facts.sha256 +
                          ") ma i byte archiviati sono danneggiati");
  }
  return facts;
}

}  // namespace

kvtfiles::StoredFile KeepFile(ArchiveEngine& engine, const std::string& path,
                              const std::string& expect) {
  return Keep(engine, path, expect, nullptr);
}

kvtfiles::StoredFile KeepFileAs(ArchiveEngine& engine, const std::string& path,
                                const kvtfiles::StoredFile& was) {
  return Keep(engine, path, was.sha256, &was);
}

kvtfiles::StoredFile ReadKeptFile(ArchiveEngine& engine, const std::string& sha256,
                                  const std::string& whose,
                                  const std::function<void(std::string_view piece)>& each) {
  kvtfiles::StoredFile f;
  const std::string named = whose.empty() ? std::string() : " (" + whose + ")";
  if (!engine.FindFile(sha256, f)) {
    throw EngineError(kBadFile, kSource,
                      "Il file sha256 " + sha256 + named + " manca dall'archivio");
  }
  auto damaged = [&] {
    return EngineError(kBadFile, kSource,
                       "Il file \"" + kvt::Printable(f.name) + "\"" + named +
                           " è danneggiato: i suoi byte non sono quelli archiviati (sha256 " +
                           sha256 + ")");
  };
  if (kvtfiles::PieceDigestsFit(f.piece_digests, f.size)) {
    // Pieces checked on several cores at once, each handed on only once it is checked.
    kvtfiles::PieceCheck check(f.piece_digests, f.size, each);
    engine.ReadFileBuffers(
        sha256, [&] { return check.Spare(); },
        [&](std::string&& piece) {
          if (!check.Add(std::move(piece))) throw damaged();
        });
    if (!check.End()) throw damaged();
    return f;
  }
  // Hashed beside the reading: the check costs little more than the read.
  kvtfiles::HashPipe hash;
  std::int64_t size = 0;
  engine.ReadFileBuffers(
      sha256, [&] { return hash.Spare(); },
      [&](std::string&& piece) {
        size += static_cast<std::int64_t>(piece.size());
        each(piece);
        hash.Add(std::move(piece));
      });
  if (size != f.size || hash.End().get() != sha256) throw damaged();
  return f;
}

}  // namespace kvtengine
