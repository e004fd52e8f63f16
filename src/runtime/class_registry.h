// The class registry: creates objects by programmatic identifier ("kvtFields.FieldsCollection")
// or by class identifier (a UUID), through factories that libraries and hosts register.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "runtime/object.h"
#include "runtime/text.h"

namespace kvt {

/// A 128-bit class or interface identifier, written as {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
struct Uuid {
  std::array<std::uint8_t, 16> bytes{};

  /// Parses the braced or bare form; nothing for malformed text.
  static std::optional<Uuid> Parse(std::string_view text);
  /// Upper-case braced form.
  std::string ToString() const;
  bool IsNil() const noexcept;
  auto operator<=>(const Uuid&) const = default;
};

class ClassRegistry {
 public:
  using Factory = std::function<ObjectRef()>;

  /// The process's registry.
  static ClassRegistry& Instance();

  /// Registers (or replaces) a class under its programmatic identifier (letter case ignored)
  /// and, when not nil, its class identifier.
  void Register(std::string_view prog_id, const Uuid& clsid, Factory factory);
  /// Removes a class; unknown identifiers are ignored.
  void Unregister(std::string_view prog_id);

  bool IsRegistered(std::string_view prog_id) const;
  /// The class identifier registered for a programmatic identifier, if any.
  std::optional<Uuid> ClassIdOf(std::string_view prog_id) const;

  /// Creates an object by programmatic identifier, or by class identifier when the text is a
  /// UUID. An unknown identifier raises 429 naming it.
  ObjectRef Create(std::string_view id) const;
  ObjectRef Create(const Uuid& clsid) const;

  struct Entry {
    std::string prog_id;
    Uuid clsid;
    Factory factory;
  };

  /// The entry of a programmatic identifier, or nothing.
  std::optional<Entry> Lookup(std::string_view prog_id) const;

 private:
  void UnregisterLocked(std::string_view prog_id);

  // Sessions on threads of their own create objects while another registers a class.
  mutable std::shared_mutex lock_;
  std::unordered_map<std::string, Entry, IgnoreCaseHash, IgnoreCaseEqual> by_prog_id_;
  std::map<Uuid, std::string> by_clsid_;
};

/// Creates an object through the process's registry (see ClassRegistry::Create). An identifier
/// not registered in the process may be served by a library registered per user.
ObjectRef CreateObject(std::string_view id);

/// What a library's DllGetClassObject hands out for one of its classes.
class IClassFactory : public Object {
 public:
  virtual ObjectRef CreateInstance() = 0;
  /// While locked (the count above 0) the library stays loaded.
  virtual void LockServer(bool lock) = 0;
};

/// The entry point by which a library serves its classes: 0 and a factory, or an error code.
using DllGetClassObjectFn = std::uint32_t (*)(const Uuid& clsid, ObjectRef& factory);
inline constexpr std::uint32_t kClassNotAvailable = 0x80040111u;

/// One class registered per user: served by `library`, a shared library's path.
struct UserClassEntry {
  std::string prog_id;
  Uuid clsid;
  std::string library;
};

/// The per-user class registry file: $KVT_CLASS_REGISTRY when set, else
/// $XDG_CONFIG_HOME/kvtfields/classes.tsv, else ~/.config/kvtfields/classes.tsv.
std::string UserRegistryPath();
/// Its entries (none when the file does not exist). A line that is not an entry is skipped
/// and, when `problems` is given, reported there as "file:line: why".
std::vector<UserClassEntry> ReadUserRegistry(std::vector<std::string>* problems = nullptr);
/// The entries of a registry file's text (`name` names it in the problems).
std::vector<UserClassEntry> ParseUserRegistry(std::string_view text, const std::string& name,
                                              std::vector<std::string>* problems);
/// Changes the entries as one step against other processes doing the same: under a lock,
/// read (bad lines are dropped, so a change repairs the file), changed, written to a new file
/// and renamed over the old one.
void UpdateUserRegistry(const std::function<void(std::vector<UserClassEntry>&)>& change);
/// Replaces its entries, as UpdateUserRegistry does.
void WriteUserRegistry(const std::vector<UserClassEntry>& entries);

/// Registers a class for the life of this object and puts back what was registered under the
/// same programmatic identifier before (tests and hosts replace classes this way).
class ScopedRegistration {
 public:
  ScopedRegistration(std::string_view prog_id, ClassRegistry::Factory factory,
                     const Uuid& clsid = {});
  ~ScopedRegistration();
  ScopedRegistration(const ScopedRegistration&) = delete;
  ScopedRegistration& operator=(const ScopedRegistration&) = delete;

 private:
  std::string prog_id_;
  std::optional<ClassRegistry::Entry> previous_;
};

}  // namespace kvt
