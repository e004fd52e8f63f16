// The library's entry points as an in-process server: class objects for the creatable classes,
// self-registration in the per-user class registry, and whether it may be unloaded.
#include <dlfcn.h>

#include <string>

#include "kvtfields/internal/live_object.h"
#include "kvtfields/server/identifiers.h"
#include "kvtfields/server/public_classes.h"
#include "kvtfields/server/type_library.h"
#include "runtime/class_builder.h"
#include "runtime/class_registry.h"

namespace kvtfields::server {
namespace {

constexpr std::uint32_t kOk = 0;
constexpr std::uint32_t kFalse = 1;
constexpr std::uint32_t kFail = 0x80004005u;

std::size_t g_locks = 0;

class ClassFactory final : public kvt::IClassFactory {
  KVT_OBJECT()

 public:
  explicit ClassFactory(const PublicClass& cls) : cls_(cls) {}
  kvt::ObjectRef CreateInstance() override { return cls_.create(); }
  void LockServer(bool lock) override {
    if (lock) {
      ++g_locks;
    } else if (g_locks > 0) {
      --g_locks;
    }
  }

 private:
  const PublicClass& cls_;  // class objects do not count as live objects; locks do
};

const kvt::ClassInfo& ClassFactory::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<ClassFactory>("ClassFactory")
                                         .Method<&ClassFactory::CreateInstance>("CreateInstance")
                                         .Method<&ClassFactory::LockServer>("LockServer")
                                         .Build();
  return info;
}

// This library's own file, as the registry records it.
std::string LibraryPath() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<const void*>(&LibraryPath), &info) && info.dli_fname) {
    return info.dli_fname;
  }
  return {};
}

bool IsOurs(const kvt::UserClassEntry& e) {
  for (const PublicClass& c : PublicClasses()) {
    if (c.create && e.clsid == *kvt::Uuid::Parse(c.clsid)) return true;
  }
  return false;
}

}  // namespace
}  // namespace kvtfields::server

using namespace kvtfields::server;

extern "C" {

/// A class object (factory) for one of the creatable classes.
__attribute__((visibility("default"))) std::uint32_t DllGetClassObject(const kvt::Uuid& clsid,
                                                                       kvt::ObjectRef& factory) {
  for (const PublicClass& c : PublicClasses()) {
    if (c.create && clsid == *kvt::Uuid::Parse(c.clsid)) {
      factory = std::make_shared<ClassFactory>(c);
      return kOk;
    }
  }
  return kvt::kClassNotAvailable;
}

/// 0 when no object of the library is alive and nothing locks it, 1 otherwise.
__attribute__((visibility("default"))) std::uint32_t DllCanUnloadNow() {
  return kvtfields::internal::LiveObject::Count() == 0 && g_locks == 0 ? kOk : kFalse;
}

/// Registers the creatable classes for this user, replacing earlier entries of theirs.
__attribute__((visibility("default"))) std::uint32_t DllRegisterServer() {
  try {
    const std::string library = LibraryPath();
    kvt::UpdateUserRegistry([&](std::vector<kvt::UserClassEntry>& entries) {
      std::erase_if(entries, IsOurs);
      for (const PublicClass& c : PublicClasses()) {
        if (c.create) {
          entries.push_back(
              {std::string(kProgIdPrefix) + c.name, *kvt::Uuid::Parse(c.clsid), library});
        }
      }
    });
    return kOk;
  } catch (const std::exception&) {
    return kFail;
  }
}

/// Removes the library's classes from this user's registry.
__attribute__((visibility("default"))) std::uint32_t DllUnregisterServer() {
  try {
    kvt::UpdateUserRegistry(
        [](std::vector<kvt::UserClassEntry>& entries) { std::erase_if(entries, IsOurs); });
    return kOk;
  } catch (const std::exception&) {
    return kFail;
  }
}

/// The type library as JSON; the text lives as long as the library.
__attribute__((visibility("default"))) const char* DllGetTypeLibraryJson() {
  static const std::string json = TypeLibraryJson();
  return json.c_str();
}

}  // extern "C"
