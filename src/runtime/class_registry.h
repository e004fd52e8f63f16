// The class registry: creates objects by programmatic identifier ("kvtFields.FieldsCollection")
// or by class identifier (a UUID), through factories that libraries and hosts register.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

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
  std::unordered_map<std::string, Entry, IgnoreCaseHash, IgnoreCaseEqual> by_prog_id_;
  std::map<Uuid, std::string> by_clsid_;
};

/// Creates an object through the process's registry (see ClassRegistry::Create).
ObjectRef CreateObject(std::string_view id);

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
