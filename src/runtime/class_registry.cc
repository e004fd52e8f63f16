#include "runtime/class_registry.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "runtime/error.h"
#include "runtime/text.h"

namespace kvt {

std::optional<Uuid> Uuid::Parse(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') {
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return std::nullopt;
  Uuid u;
  std::size_t b = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    const int hi = HexDigitValue(text[i]), lo = HexDigitValue(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    u.bytes[b++] = static_cast<std::uint8_t>(hi * 16 + lo);
    i += 2;
  }
  return u;
}

std::string Uuid::ToString() const {
  char buf[40];
  const auto& x = bytes;
  std::snprintf(buf, sizeof buf,
                "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", x[0],
                x[1], x[2], x[3], x[4], x[5], x[6], x[7], x[8], x[9], x[10], x[11], x[12], x[13],
                x[14], x[15]);
  return buf;
}

bool Uuid::IsNil() const noexcept {
  for (auto b : bytes) {
    if (b) return false;
  }
  return true;
}

ClassRegistry& ClassRegistry::Instance() {
  static ClassRegistry registry;
  return registry;
}

void ClassRegistry::Register(std::string_view prog_id, const Uuid& clsid, Factory factory) {
  if (prog_id.empty() || !factory) {
    throw RuntimeError(ErrorCode::kInvalidProcedureCall,
                       "class registration needs a name and a factory");
  }
  std::unique_lock hold(lock_);
  UnregisterLocked(prog_id);
  by_prog_id_[std::string(prog_id)] = Entry{std::string(prog_id), clsid, std::move(factory)};
  if (!clsid.IsNil()) by_clsid_[clsid] = std::string(prog_id);
}

void ClassRegistry::Unregister(std::string_view prog_id) {
  std::unique_lock hold(lock_);
  UnregisterLocked(prog_id);
}

void ClassRegistry::UnregisterLocked(std::string_view prog_id) {
  auto it = by_prog_id_.find(prog_id);
  if (it == by_prog_id_.end()) return;
  if (!it->second.clsid.IsNil()) by_clsid_.erase(it->second.clsid);
  by_prog_id_.erase(it);
}

bool ClassRegistry::IsRegistered(std::string_view prog_id) const {
  std::shared_lock hold(lock_);
  return by_prog_id_.contains(prog_id);
}

std::optional<Uuid> ClassRegistry::ClassIdOf(std::string_view prog_id) const {
  std::shared_lock hold(lock_);
  auto it = by_prog_id_.find(prog_id);
  if (it == by_prog_id_.end()) return std::nullopt;
  return it->second.clsid;
}

std::optional<ClassRegistry::Entry> ClassRegistry::Lookup(std::string_view prog_id) const {
  std::shared_lock hold(lock_);
  auto it = by_prog_id_.find(prog_id);
  if (it == by_prog_id_.end()) return std::nullopt;
  return it->second;
}

namespace {

// Libraries opened for their classes stay loaded for the life of the process: objects they
// made may still be in use anywhere. Any session's thread may open one.
void* OpenLibrary(const std::string& path, std::string& why) {
  static std::mutex lock;
  static std::map<std::string, void*> libraries;
  std::lock_guard hold(lock);
  void*& handle = libraries[path];
  if (!handle) handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* error = dlerror();
    why = error ? error : "unknown reason";
  }
  return handle;
}

// An object of a class that a library registered per user serves; null when none does.
ObjectRef CreateFromUserRegistry(std::string_view prog_id, const Uuid* clsid) {
  for (const UserClassEntry& e : ReadUserRegistry()) {
    const bool match = clsid ? e.clsid == *clsid : EqualsIgnoreCase(e.prog_id, prog_id);
    if (!match) continue;
    std::string why;
    void* handle = OpenLibrary(e.library, why);
    if (!handle) {
      throw RuntimeError(ErrorCode::kCannotCreateObject,
                         "class '" + e.prog_id + "': cannot load " + e.library + ": " + why);
    }
    auto get = reinterpret_cast<DllGetClassObjectFn>(dlsym(handle, "DllGetClassObject"));
    if (!get) {
      throw RuntimeError(ErrorCode::kCannotCreateObject,
                         e.library + " does not serve classes (no DllGetClassObject)");
    }
    ObjectRef factory;
    const std::uint32_t hr = get(e.clsid, factory);
    auto typed = std::dynamic_pointer_cast<IClassFactory>(factory);
    if (hr != 0 || !typed) {
      throw RuntimeError(ErrorCode::kCannotCreateObject,
                         "class '" + e.prog_id + "' is not available from " + e.library);
    }
    return typed->CreateInstance();
  }
  return nullptr;
}

}  // namespace

ObjectRef ClassRegistry::Create(std::string_view id) const {
  if (auto clsid = Uuid::Parse(id)) return Create(*clsid);
  // The factory runs outside the lock: it may register a class of its own.
  if (auto entry = Lookup(id)) return entry->factory();
  if (ObjectRef made = CreateFromUserRegistry(id, nullptr)) return made;
  throw RuntimeError(ErrorCode::kCannotCreateObject,
                     "class '" + std::string(id) + "' is not registered");
}

ObjectRef ClassRegistry::Create(const Uuid& clsid) const {
  Factory factory;
  {
    std::shared_lock hold(lock_);
    auto it = by_clsid_.find(clsid);
    if (it != by_clsid_.end()) factory = by_prog_id_.at(it->second).factory;
  }
  if (factory) return factory();
  if (ObjectRef made = CreateFromUserRegistry({}, &clsid)) return made;
  throw RuntimeError(ErrorCode::kCannotCreateObject,
                     "class " + clsid.ToString() + " is not registered");
}

std::string UserRegistryPath() {
  if (const char* p = std::getenv("KVT_CLASS_REGISTRY"); p && *p) return p;
  std::filesystem::path base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) {
    base = x;
  } else if (const char* h = std::getenv("HOME"); h && *h) {
    base = std::filesystem::path(h) / ".config";
  } else {
    base = std::filesystem::temp_directory_path();
  }
  return (base / "kvtfields" / "classes.tsv").string();
}

std::vector<UserClassEntry> ParseUserRegistry(std::string_view text, const std::string& name,
                                              std::vector<std::string>* problems) {
  std::vector<UserClassEntry> entries;
  int number = 0;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);  // written on Windows
    if (line.empty() || line[0] == '#') continue;
    const auto t1 = line.find('\t');
    const auto t2 = t1 == std::string_view::npos ? t1 : line.find('\t', t1 + 1);
    std::optional<Uuid> clsid;
    if (t2 != std::string_view::npos) clsid = Uuid::Parse(line.substr(t1 + 1, t2 - t1 - 1));
    const bool complete = clsid && t1 > 0 && t2 + 1 < line.size() &&
                          line.find('\t', t2 + 1) == std::string_view::npos;
    if (!complete) {
      if (problems) {
        problems->push_back(name + ":" + std::to_string(number) +
                            ": not an entry (ProgID, class id and library, tab-separated)");
      }
      continue;
    }
    entries.push_back(
        UserClassEntry{std::string(line.substr(0, t1)), *clsid, std::string(line.substr(t2 + 1))});
  }
  return entries;
}

std::vector<UserClassEntry> ReadUserRegistry(std::vector<std::string>* problems) {
  const std::string path = UserRegistryPath();
  std::ifstream in(path, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParseUserRegistry(text, path, problems);
}

void UpdateUserRegistry(const std::function<void(std::vector<UserClassEntry>&)>& change) {
  const std::filesystem::path path = UserRegistryPath();
  std::error_code ec;
  if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path(), ec);
  // One writer at a time: the lock file lives beside the registry and is never removed.
  const std::string lock_path = path.string() + ".lock";
  const int lock = ::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (lock < 0 || ::flock(lock, LOCK_EX) != 0) {
    if (lock >= 0) ::close(lock);
    throw RuntimeError(ErrorCode::kInvalidProcedureCall, "cannot lock " + lock_path);
  }
  struct Unlock {
    int fd;
    ~Unlock() { ::close(fd); }  // closing releases the lock
  } unlock{lock};
  std::vector<UserClassEntry> entries = ReadUserRegistry();
  change(entries);
  const std::filesystem::path temp = path.string() + ".new." + std::to_string(::getpid());
  {
    std::ofstream out(temp, std::ios::trunc | std::ios::binary);
    out << "# kvtfields: classes registered for this user (ProgID, class id, library)\n";
    for (const auto& e : entries) {
      out << e.prog_id << '\t' << e.clsid.ToString() << '\t' << e.library << '\n';
    }
    out.flush();
    if (!out) {
      out.close();
      std::filesystem::remove(temp, ec);
      throw RuntimeError(ErrorCode::kInvalidProcedureCall, "cannot write " + temp.string());
    }
  }
  std::filesystem::rename(temp, path, ec);  // readers see the old file or the new, never half
  if (ec) {
    std::filesystem::remove(temp, ec);
    throw RuntimeError(ErrorCode::kInvalidProcedureCall, "cannot write " + path.string());
  }
}

void WriteUserRegistry(const std::vector<UserClassEntry>& entries) {
  UpdateUserRegistry([&](std::vector<UserClassEntry>& all) { all = entries; });
}

ObjectRef CreateObject(std::string_view id) {
  return ClassRegistry::Instance().Create(id);
}

ScopedRegistration::ScopedRegistration(std::string_view prog_id, ClassRegistry::Factory factory,
                                       const Uuid& clsid)
    : prog_id_(prog_id), previous_(ClassRegistry::Instance().Lookup(prog_id)) {
  ClassRegistry::Instance().Register(prog_id, clsid, std::move(factory));
}

ScopedRegistration::~ScopedRegistration() {
  auto& reg = ClassRegistry::Instance();
  reg.Unregister(prog_id_);
  if (previous_) reg.Register(previous_->prog_id, previous_->clsid, previous_->factory);
}

}  // namespace kvt
