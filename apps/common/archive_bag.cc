#include "common/archive_bag.h"

#include <stdlib.h>
#include <unistd.h>

#include <toml++/toml.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "archives/archive_file.h"
#include "common/document_export.h"
#include "common/document_files.h"
#include "common/open_engine.h"
#include "common/output_file.h"
#include "engine/common/engine_error.h"
#include "engine/common/file_store.h"
#include "engine/common/json_text.h"
#include "engine/files/sha256.h"
#include "engine/postgresql/pg_database.h"
#include "runtime/text.h"

namespace kvtapp {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDeclaration = "BagIt-Version: 1.0\nTag-File-Character-Encoding: UTF-8\n";

[[noreturn]] void Fail(const std::string& what) {
  throw kvt::Error(2, "kvtfields", what);
}

// A folder made beside its final place and renamed into it at the end, or removed.
class NewFolder {
 public:
  explicit NewFolder(const std::string& dir) : dir_(dir) {
    std::error_code ec;
    if (fs::exists(dir_, ec)) Fail("'" + dir + "' already exists: a bag goes to a new folder");
    const fs::path parent = fs::absolute(dir_).parent_path();
    std::string pattern = (parent / (fs::path(dir_).filename().string() + ".part-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) Fail("cannot make a folder beside '" + dir + "'");
    temp_ = pattern;
  }
  ~NewFolder() {
    std::error_code ec;
    if (!done_) fs::remove_all(temp_, ec);
  }
  NewFolder(const NewFolder&) = delete;
  NewFolder& operator=(const NewFolder&) = delete;
  const fs::path& Path() const { return temp_; }
  void Commit() {
    std::error_code ec;
    fs::rename(temp_, dir_, ec);
    if (ec) Fail("cannot name the bag '" + dir_.string() + "': " + ec.message());
    done_ = true;
  }

 private:
  fs::path dir_, temp_;
  bool done_ = false;
};

// A manifest's path: CR, LF and % written as percent-encoding (RFC 8493, 2.1.3).
std::string ManifestPath(const std::string& path) {
  std::string out;
  for (const char c : path) {
    if (c == '\r') {
      out += "%0D";
    } else if (c == '\n') {
      out += "%0A";
    } else if (c == '%') {
      out += "%25";
    } else {
      out += c;
    }
  }
  return out;
}

std::string FromManifestPath(const std::string& path) {
  std::string out;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == '%' && i + 2 < path.size()) {
      const std::string code = path.substr(i + 1, 2);
      if (code == "0D" || code == "0d")
        out += '\r';
      else if (code == "0A" || code == "0a")
        out += '\n';
      else if (code == "25")
        out += '%';
      else {
        out += path[i];
        continue;
      }
      i += 2;
      continue;
    }
    out += path[i];
  }
  return out;
}

// The SHA-256 and size of a file, read in pieces.
std::string HashFile(const fs::path& path, std::int64_t* size = nullptr) {
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read '" + path.string() + "'");
  kvtfiles::Sha256 hash;
  std::string piece(kvtfiles::kPieceBytes, '\0');
  std::int64_t total = 0;
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    hash.Update(std::string_view(piece.data(), static_cast<std::size_t>(in.gcount())));
    total += in.gcount();
  }
  if (size) *size = total;
  return hash.HexDigest();
}

void WriteText(const fs::path& path, const std::string& text) {
  OutputFile out(path.string(), {});
  out.Write(text);
  out.Commit();
}

// A value as versioni.toml keeps it: its kind and what it holds, so that it comes back as it was.
toml::table ValueTable(const kvt::Variant& v) {
  toml::table t;
  if (v.IsNull() || v.IsEmpty()) {
    t.insert("t", "n");
  } else if (v.Type() == kvt::VarType::kDouble) {
    t.insert("t", "d");
    t.insert("v", v.AsDouble());
  } else if (v.Type() == kvt::VarType::kLong || v.Type() == kvt::VarType::kInteger ||
             v.Type() == kvt::VarType::kBoolean) {
    t.insert("t", "i");
    t.insert("v", static_cast<std::int64_t>(v.AsLong()));
  } else {
    const std::string text = kvt::JoinText(v);
    if (kvtpg::WhyUnstorable(text).empty()) {
      t.insert("t", "s");
      t.insert("v", text);
    } else {  // not UTF-8, or a NUL: its bytes
      std::string hex;
      kvtengine::AppendHex(hex, text);
      t.insert("t", "x");
      t.insert("v", hex);
    }
  }
  return t;
}

kvt::Variant ValueOf(const toml::node* node) {
  const toml::table* t = node ? node->as_table() : nullptr;
  if (!t) Fail("versioni.toml: a value is not a table");
  const std::string kind = t->get("t") ? t->get("t")->value_or(std::string()) : "";
  const toml::node* v = t->get("v");
  if (kind == "n") return kvt::Variant::Null();
  if (kind == "d" && v) return kvt::Variant(v->value_or(0.0));
  if (kind == "i" && v) {
    const std::int64_t n = v->value_or(std::int64_t{0});
    if (n >= INT32_MIN && n <= INT32_MAX) return kvt::Variant(static_cast<std::int32_t>(n));
    return kvt::Variant(static_cast<double>(n));
  }
  if (kind == "s" && v) return kvt::Variant(v->value_or(std::string()));
  std::string bytes;
  if (kind == "x" && v && kvtengine::ReadHex(v->value_or(std::string()), bytes))
    return kvt::Variant(bytes);
  Fail("versioni.toml: a value of unknown kind '" + kind + "'");
}

// An entry of versioni.toml that must be a table: a bag made by hand is refused, not trusted.
const toml::table& TableOf(const toml::node& node, const char* what) {
  const toml::table* t = node.as_table();
  if (!t) Fail(std::string("versioni.toml: ") + what + " is not a table");
  return *t;
}

std::string Str(const toml::table& t, const char* key) {
  const toml::node* n = t.get(key);
  return n ? n->value_or(std::string()) : std::string();
}
std::int64_t Int(const toml::table& t, const char* key) {
  const toml::node* n = t.get(key);
  return n ? n->value_or(std::int64_t{0}) : 0;
}

// One document's history as a TOML array-of-tables entry.
std::string DocumentToml(std::int32_t id, bool deleted,
                         const kvtengine::ArchiveEngine::HistoryRows& rows) {
  toml::table doc;
  doc.insert("id", static_cast<std::int64_t>(id));
  doc.insert("eliminato", deleted);
  toml::array versions;
  for (const auto& v : rows.versions) {
    versions.push_back(toml::table{{"versione", static_cast<std::int64_t>(v.version)},
                                   {"salvato_il", v.saved_at},
                                   {"salvato_da", v.saved_by},
                                   {"modifica", kvtengine::ChangeName(v.change)}});
  }
  doc.insert("versioni", std::move(versions));
  toml::array current;
  for (const auto& [field, value] : rows.current) {
    current.push_back(toml::table{{"campo", field}, {"valore", ValueTable(value)}});
  }
  doc.insert("valori", std::move(current));
  toml::array changes;
  for (const auto& c : rows.changes) {
    changes.push_back(toml::table{{"versione", static_cast<std::int64_t>(c.version)},
                                  {"posizione", static_cast<std::int64_t>(c.position)},
                                  {"campo", c.field},
                                  {"presente", c.present},
                                  {"valore", ValueTable(c.value)}});
  }
  doc.insert("cambi", std::move(changes));
  std::ostringstream out;
  out << toml::table{{"documento", toml::array{std::move(doc)}}} << "\n\n";
  return out.str();
}

}  // namespace

BagReport ExportBag(kvtengine::ArchiveEngine& engine, const std::string& archive,
                    const std::string& dir) {
  if (!engine.HasArchive(archive)) kvtengine::ThrowNoArchive(archive, "kvtfields");
  NewFolder bag(dir);
  const fs::path data = bag.Path() / "data";
  fs::create_directories(data / "file");
  BagReport report;
  std::map<std::string, std::string> manifest;  // path in the bag → SHA-256

  WriteText(data / "archivio.toml", kvtarchive::ExportArchive(engine, archive));
  {
    OutputFile csv((data / "documenti.csv").string(), {});
    ExportCsv(engine, archive, engine.GetFormFields(archive), {}, csv);
    csv.Commit();
    OutputFile json((data / "documenti.json").string(), {});
    ExportJson(engine, archive, json);
    json.Commit();
  }

  // Every document, deleted ones among them in number order, with every version; and every
  // file any version names.
  std::vector<std::pair<std::int32_t, bool>> ids;
  engine.ReadDocuments(archive,
                       [&](kvtengine::StoredDocument&& d) { ids.emplace_back(d.id, false); });
  for (const auto& [id, v] : engine.DeletedDocuments(archive)) ids.emplace_back(id, true);
  std::sort(ids.begin(), ids.end());
  std::map<std::string, std::string> names;  // SHA-256 → the name a document gave it
  {
    OutputFile versions((data / "versioni.toml").string(), {});
    for (const auto& [id, deleted] : ids) {
      const auto rows = engine.ReadHistory(id);
      auto note = [&](const kvt::Variant& v) {
        if (!v.IsString()) return;
        if (const auto ref = kvtfiles::ParseFileRef(v.AsString()))
          names.emplace(ref->sha256, ref->name);
      };
      for (const auto& [field, value] : rows.current) note(value);
      for (const auto& c : rows.changes) note(c.value);
      versions.Write(DocumentToml(id, deleted, rows));
      ++(deleted ? report.deleted : report.documents);
    }
    // Each file under the name a document gave it; a second file of that name gets its digest.
    std::set<std::string> taken;
    for (const auto& [sha, named] : names) {
      kvtfiles::StoredFile kept;
      if (!engine.FindFile(sha, kept)) {
        Fail("a document names the file '" + named + "' (sha256 " + sha +
             "), which the archive does not hold: check it with archive check-files");
      }
      std::string name = kvtfiles::BaseName(named);
      if (name.empty() || name == "." || name == ".." || name.find('\0') != std::string::npos)
        name = "file";
      if (!taken.insert(name).second) {
        const auto dot = name.rfind('.');
        name = (dot == std::string::npos || dot == 0 ? name : name.substr(0, dot)) + " (" +
               sha.substr(0, 12) + ")" +
               (dot == std::string::npos || dot == 0 ? "" : name.substr(dot));
        taken.insert(name);
      }
      WriteKeptFile(engine, sha, "", (data / "file" / name).string(), {});
      toml::table f{{"sha256", sha},
                    {"percorso", "file/" + name},
                    {"nome", kept.name},
                    {"tipo", kept.media_type},
                    {"byte", kept.size},
                    {"pagine", static_cast<std::int64_t>(kept.pages)},
                    {"archiviato_il", kept.stored_at},
                    {"archiviato_da", kept.stored_by}};
      std::ostringstream out;
      out << toml::table{{"file", toml::array{std::move(f)}}} << "\n\n";
      versions.Write(out.str());
      ++report.files;
    }
    versions.Commit();
  }

  for (const auto& e : fs::recursive_directory_iterator(data)) {
    if (!e.is_regular_file()) continue;
    std::int64_t size = 0;
    manifest[fs::relative(e.path(), bag.Path()).generic_string()] = HashFile(e.path(), &size);
    report.payload_bytes += size;
    ++report.payload_files;
  }
  std::string lines;
  for (const auto& [path, sha] : manifest) lines += sha + "  " + ManifestPath(path) + "\n";
  WriteText(bag.Path() / "bagit.txt", kDeclaration);
  WriteText(bag.Path() / "bag-info.txt",
            "Source-Organization: kvtfields\nExternal-Description: Archivio " +
                kvt::OneLine(archive) + "\nPayload-Oxum: " + std::to_string(report.payload_bytes) +
                "." + std::to_string(report.payload_files) + "\n");
  WriteText(bag.Path() / "manifest-sha256.txt", lines);
  std::string tags;
  for (const char* t : {"bag-info.txt", "bagit.txt", "manifest-sha256.txt"})
    tags += HashFile(bag.Path() / t) + "  " + t + "\n";
  WriteText(bag.Path() / "tagmanifest-sha256.txt", tags);
  bag.Commit();
  return report;
}

std::vector<std::string> CheckBag(const std::string& dir) {
  std::vector<std::string> problems;
  const fs::path root(dir);
  auto read = [&](const char* name, std::string& text) {
    std::ifstream in(root / name, std::ios::binary);
    if (!in) return false;
    text.assign(std::istreambuf_iterator<char>(in), {});
    return true;
  };
  std::string declaration, manifest, tags;
  if (!read("bagit.txt", declaration)) {
    problems.push_back("bagit.txt is missing: no bag");
    return problems;
  }
  if (declaration.rfind("BagIt-Version: ", 0) != 0 ||
      declaration.find("\nTag-File-Character-Encoding: UTF-8") == std::string::npos) {
    problems.push_back("bagit.txt does not declare a BagIt version and UTF-8");
  }
  if (!read("manifest-sha256.txt", manifest)) problems.push_back("manifest-sha256.txt is missing");
  // Every line "<digest> <path>"; every path under data/, present and matching.
  auto check = [&](const std::string& text, const char* which, std::set<std::string>* listed) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const auto space = line.find(' ');
      if (space == std::string::npos || !kvtfiles::IsSha256(line.substr(0, space))) {
        problems.push_back(std::string(which) +
                           ": a line that is no '<sha256> <path>': " + kvt::OneLine(line));
        continue;
      }
      std::size_t at = space;
      while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
      const std::string path = FromManifestPath(line.substr(at));
      const fs::path full = root / path;
      if (path.find("..") != std::string::npos || fs::path(path).is_absolute()) {
        problems.push_back(std::string(which) + ": a path outside the bag: " + path);
        continue;
      }
      if (listed) listed->insert(path);
      std::error_code ec;
      if (!fs::is_regular_file(full, ec)) {
        problems.push_back(path + " is listed in " + which + " but missing");
      } else if (HashFile(full) != line.substr(0, space)) {
        problems.push_back(path + " does not match its SHA-256 in " + which);
      }
    }
  };
  std::set<std::string> listed;
  check(manifest, "manifest-sha256.txt", &listed);
  for (const auto& p : listed) {
    if (p.rfind("data/", 0) != 0) problems.push_back(p + " is in the manifest but not under data/");
  }
  std::error_code ec;
  if (!fs::is_directory(root / "data", ec)) problems.push_back("data/ is missing");
  for (const auto& e : fs::recursive_directory_iterator(root / "data", ec)) {
    if (!e.is_regular_file()) continue;
    const std::string path = fs::relative(e.path(), root).generic_string();
    if (!listed.count(path)) problems.push_back(path + " is in data/ but not in the manifest");
  }
  if (read("tagmanifest-sha256.txt", tags)) check(tags, "tagmanifest-sha256.txt", nullptr);
  return problems;
}

BagReport ImportBag(const std::string& dir, const std::string& db) {
  if (const auto problems = CheckBag(dir); !problems.empty()) {
    std::string all;
    for (std::size_t i = 0; i < problems.size() && i < 5; ++i) all += "\n  " + problems[i];
    Fail("'" + dir + "' is no valid bag; nothing was imported:" + all);
  }
  const fs::path data = fs::path(dir) / "data";
  const bool server = kvtpg::IsConnectionString(db);
  std::error_code ec;
  if (!server && fs::exists(db, ec))
    Fail("'" + db + "' already exists: a bag makes a new database");
  std::ifstream archive_in(data / "archivio.toml", std::ios::binary);
  const std::string archive_text{std::istreambuf_iterator<char>(archive_in), {}};
  const auto read = kvtarchive::ParseArchiveFile(archive_text, "archivio.toml");
  if (!read.problems.empty()) Fail(read.problems.front().ToString());
  toml::table versions;
  try {
    versions = toml::parse_file((data / "versioni.toml").string());
  } catch (const toml::parse_error& e) {
    Fail("versioni.toml: " + std::string(e.description()));
  }

  // A file database is made under another name and renamed once whole.
  const std::string target = server ? db : db + ".part";
  struct Cleanup {
    std::string path;
    bool armed;
    ~Cleanup() {
      if (!armed) return;
      std::error_code e;
      for (const char* s : {"", "-wal", "-shm", "-journal"}) fs::remove(path + s, e);
      fs::remove_all(path + ".files", e);
    }
  } cleanup{target, false};
  if (!server) {
    Cleanup stale{target, true};  // what an import that stopped left
  }
  cleanup.armed = !server;
  auto engine = OpenEngine(target, /*create=*/true);
  if (!engine->ListAllArchives().empty())
    Fail(engine->Where() + " is not empty: nothing was imported");
  BagReport report;
  const std::string& a = read.archive.name;
  engine->Transaction([&] {
    kvtarchive::ImportArchive(*engine, read.archive, /*replace=*/false);
    if (const toml::array* files = versions["file"].as_array()) {
      for (const auto& node : *files) {
        const toml::table& f = TableOf(node, "a file");
        const std::string path = Str(f, "percorso");
        // Only a file of the bag's own: never one elsewhere on this computer.
        if (path.rfind("file/", 0) != 0 || path.find("..") != std::string::npos)
          Fail("versioni.toml: a file outside the bag's data/file/: " + kvt::OneLine(path));
        kvtfiles::StoredFile was;
        was.sha256 = Str(f, "sha256");
        was.name = Str(f, "nome");
        was.stored_at = Str(f, "archiviato_il");
        was.stored_by = Str(f, "archiviato_da");
        kvtengine::KeepFileAs(*engine, (data / path).string(), was);
        ++report.files;
      }
    }
    const toml::array* documents = versions["documento"].as_array();
    if (!documents) return;
    for (const auto& node : *documents) {
      const toml::table& d = TableOf(node, "a document");
      kvtengine::ArchiveEngine::HistoryRows rows;
      if (const toml::array* vs = d["versioni"].as_array()) {
        for (const auto& v : *vs) {
          const toml::table& t = TableOf(v, "a version");
          rows.versions.push_back({static_cast<std::int32_t>(Int(t, "versione")),
                                   Str(t, "salvato_il"), Str(t, "salvato_da"),
                                   kvtengine::ChangeNamed(Str(t, "modifica"))});
        }
      }
      if (const toml::array* vs = d["valori"].as_array()) {
        for (const auto& v : *vs) {
          const toml::table& t = TableOf(v, "a value");
          rows.current.emplace_back(Str(t, "campo"), ValueOf(t.get("valore")));
        }
      }
      if (const toml::array* cs = d["cambi"].as_array()) {
        for (const auto& c : *cs) {
          const toml::table& t = TableOf(c, "a change");
          rows.changes.push_back({static_cast<std::int32_t>(Int(t, "versione")),
                                  static_cast<std::int32_t>(Int(t, "posizione")), Str(t, "campo"),
                                  ValueOf(t.get("valore")),
                                  t.get("presente") && t.get("presente")->value_or(false)});
        }
      }
      if (rows.versions.empty()) Fail("versioni.toml: a document without versions");
      const bool deleted = d["eliminato"].value_or(false);
      const std::int32_t id = static_cast<std::int32_t>(Int(d, "id"));
      kvtengine::StoredDocument doc{id, rows.versions.front().saved_at, {}, 1};
      if (!deleted) {
        doc.saved_at = rows.versions.back().saved_at;
        doc.values = rows.current;
      }
      const std::int32_t copy = engine->CopyDocument(a, doc);
      if (copy != id) {
        Fail("document " + std::to_string(id) + " would be number " + std::to_string(copy) +
             " here: a bag goes into a new database");
      }
      engine->WriteHistory(copy, rows);  // its versions' authors, times and changes too
      ++(deleted ? report.deleted : report.documents);
    }
  });
  engine.reset();
  if (!server) {
    fs::rename(target, db, ec);
    if (ec) Fail("cannot name the database '" + db + "': " + ec.message());
    if (fs::exists(target + ".files")) fs::rename(target + ".files", db + ".files", ec);
    if (ec) Fail("cannot name the files' folder of '" + db + "': " + ec.message());
    cleanup.armed = false;
  }
  return report;
}

}  // namespace kvtapp
