#include "common/document_files.h"

#include <sys/stat.h>

#include <deque>
#include <future>
#include <map>
#include <set>

#include "common/output_file.h"
#include "engine/common/engine_error.h"
#include "engine/common/file_store.h"
#include "engine/files/hash_pipe.h"
#include "engine/files/pieces.h"
#include "runtime/dictionary.h"
#include "runtime/text.h"

namespace kvtapp {
namespace {

constexpr const char* kSource = "kvtfields.Files";

// The files a document's values name, with the field naming each.
template <class Each>
void ForEachRef(const kvt::ObjectRef& values, const Each& each) {
  const auto dict = std::dynamic_pointer_cast<kvt::Dictionary>(values);
  if (!dict) return;
  for (const auto& [field, v] : dict->Entries()) {
    if (v.Type() != kvt::VarType::kString) continue;
    if (const auto ref = kvtfiles::ParseFileRef(v.AsString())) each(field, *ref);
  }
}

}  // namespace

std::string ChooseFile(Workspace& w, const std::string& path, kvtfiles::StoredFile* facts) {
  // The open database's own files are never read from here: closing them would drop SQLite's
  // locks on the database for this whole program (they are the process's, not a handle's).
  struct stat chosen {};
  if (::stat(path.c_str(), &chosen) == 0) {
    const std::string db = w.Engine().Where();
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      struct stat own {};
      if (::stat((db + suffix).c_str(), &own) == 0 && own.st_dev == chosen.st_dev &&
          own.st_ino == chosen.st_ino) {
        throw kvtengine::EngineError(kvtengine::kFileRefused, "kvtfields",
                                     "Il file \"" + kvt::Printable(path) +
                                         "\" è il database aperto: non si archivia in se stesso");
      }
    }
  }
  kvtfiles::StoredFile f = kvtengine::ReadFileFacts(path);
  w.NoteChosenFile(f.sha256, path);
  const std::string ref = kvtfiles::FileRefText({f.sha256, f.name});
  if (facts) *facts = std::move(f);
  return ref;
}

std::string ShownValue(const std::string& text) {
  const auto ref = kvtfiles::ParseFileRef(text);
  return ref ? ref->name + " (sha256 " + ref->sha256.substr(0, 12) + ")" : text;
}

bool NamesChosenFiles(const Workspace& w, const kvt::ObjectRef& values) {
  bool any = false;
  ForEachRef(values, [&](const std::string&, const kvtfiles::FileRef& ref) {
    any = any || w.ChosenFile(ref.sha256) != nullptr;
  });
  return any;
}

void KeepNamedFiles(Workspace& w, const kvt::ObjectRef& values) {
  ForEachRef(values, [&](const std::string& field, const kvtfiles::FileRef& ref) {
    if (const std::string* path = w.ChosenFile(ref.sha256)) {
      kvtengine::KeepFile(w.Engine(), *path, ref.sha256);
      return;
    }
    kvtfiles::StoredFile kept;
    if (!w.Engine().FindFile(ref.sha256, kept)) {
      throw kvtengine::EngineError(kvtengine::kBadFile, kSource,
                                   "Il campo \"" + kvt::Printable(field) + "\" nomina il file \"" +
                                       kvt::Printable(ref.name) +
                                       "\", che l'archivio non contiene: sceglierlo di nuovo");
    }
  });
}

kvtfiles::StoredFile WriteKeptFile(kvtengine::ArchiveEngine& engine, const std::string& sha256,
                                   const std::string& whose, const std::string& out,
                                   const std::vector<std::string>& inputs) {
  OutputFile file(out, inputs);
  const kvtfiles::StoredFile f =
      kvtengine::ReadKeptFile(engine, sha256, whose, [&](std::string_view p) { file.Write(p); });
  file.Commit();  // only bytes that matched their SHA-256 reach the target
  return f;
}

FileCheck CheckKeptFiles(kvtengine::ArchiveEngine& engine, const std::string& archive,
                         const std::function<void(std::int64_t, std::int64_t)>& progress) {
  // Who names each file: the current values of the documents, one ordered pass per archive.
  struct Namer {
    std::string archive, field;
    std::int32_t document;
  };
  std::map<std::string, std::vector<Namer>> named;
  std::map<std::string, std::string> names;
  const std::vector<std::string> archives =
      archive.empty() ? engine.ListAllArchives() : std::vector<std::string>{archive};
  for (const auto& a : archives) {
    engine.ReadDocumentTexts(a, [&](const kvtengine::DocumentText& d) {
      for (const auto& [field, text] : d.values) {
        if (const auto ref = kvtfiles::ParseFileRef(text)) {
          named[ref->sha256].push_back({a, std::string(field), d.id});
          names.emplace(ref->sha256, ref->name);
        }
      }
    });
  }
  // What to read: every kept file, or those the archive names.
  std::vector<kvtfiles::StoredFile> files;
  std::set<std::string> kept;
  engine.ListFiles([&](const kvtfiles::StoredFile& f) {
    kept.insert(f.sha256);
    if (archive.empty() || named.count(f.sha256)) files.push_back(f);
  });
  FileCheck check;
  auto report = [&](const std::string& sha, const std::string& name, const std::string& why) {
    const auto it = named.find(sha);
    if (it == named.end()) {
      check.problems.push_back({sha, name, why, "", "", 0});
      return;
    }
    for (const auto& n : it->second)
      check.problems.push_back({sha, name, why, n.archive, n.field, n.document});
  };
  for (const auto& [sha, who] : named) {
    if (!kept.count(sha)) report(sha, names[sha], "manca dall'archivio");
  }
  std::int64_t total = 0, done = 0;
  for (const auto& f : files) total += f.size;
  // Each file's bytes are hashed on the pipe's thread while the next ones are read: the check
  // goes at the pace of the slower of the two, not of both one after the other. The digests of
  // a large file's pieces, which its reads are checked against, are worked out by the reading
  // thread meanwhile.
  struct Pending {
    const kvtfiles::StoredFile* file;
    std::int64_t size;
    std::future<std::string> digest;
    std::string piece_digests;
  };
  std::deque<Pending> pending;
  auto settle = [&] {
    Pending& p = pending.front();
    if (p.size != p.file->size || p.digest.get() != p.file->sha256 ||
        (!p.piece_digests.empty() && p.piece_digests != p.file->piece_digests)) {
      report(p.file->sha256, p.file->name, "è danneggiato: i suoi byte non sono quelli archiviati");
    }
    pending.pop_front();
  };
  kvtfiles::HashPipe pipe;
  kvtfiles::PieceDigests pieces;
  for (const auto& f : files) {
    std::int64_t size = 0;
    const bool listed = kvtfiles::PieceDigestsFit(f.piece_digests, f.size);
    try {
      engine.ReadFileBuffers(
          f.sha256, [&] { return pipe.Spare(); },
          [&](std::string&& p) {
            size += static_cast<std::int64_t>(p.size());
            done += static_cast<std::int64_t>(p.size());
            if (listed) pieces.Add(p);
            pipe.Add(std::move(p));
            if (progress) progress(done, total);
          });
    } catch (const kvt::Error& e) {
      pipe.End();  // what was added of this file is no part of the next one
      pieces.End();
      if (e.Number() != kvt::kObjectErrorBase + kvtengine::kBadFile) throw;
      report(f.sha256, f.name, "manca dall'archivio: i suoi byte non ci sono più");
      ++check.files;
      continue;
    } catch (...) {
      pipe.End();
      throw;
    }
    pending.push_back({&f, size, pipe.End(), listed ? pieces.End() : std::string()});
    if (pending.size() > 16) settle();
    ++check.files;
    check.bytes += f.size;
  }
  while (!pending.empty()) settle();
  return check;
}

}  // namespace kvtapp
