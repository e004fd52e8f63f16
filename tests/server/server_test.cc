// A separate host program: it does not link the component, it loads libkvtfields.so, registers
// it, and creates the component's classes by name, as a host application does.
#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "addons/autocomplete/store_auto_completer.h"
#include "addons/layout/resizer.h"
#include "archives/sample_archive.h"
#include "engine/sqlite/sqlite_engine.h"
#include "host/common/coordinator.h"
#include "host/headless/desktop.h"
#include "runtime/class_registry.h"
#include "scripting/lua/lua_script_engine.h"
#include "temp_dir.h"
#include "test_support.h"

namespace {

using kvt::CStr;
using kvt::Variant;
using kvt::testing::CaptureError;
using Entry = std::uint32_t (*)();

class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("KVT_CLASS_REGISTRY", dir_.File("classes.tsv").c_str(), 1);
    library_ = dlopen(KVTFIELDS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
    desktop_ = kvthost::Desktop::Install();
    kvtaddons::RegisterAutoCompleterClass();
    kvtaddons::RegisterResizerClass();
    kvtlua::RegisterScriptEngineClass();
  }
  void TearDown() override {
    desktop_->Uninstall();
    unsetenv("KVT_CLASS_REGISTRY");
  }
  std::uint32_t Call(const char* entry) {
    auto fn = reinterpret_cast<Entry>(dlsym(library_, entry));
    EXPECT_NE(fn, nullptr) << entry;
    return fn ? fn() : 0xFFFFFFFFu;
  }

  kvt::testing::TempDir dir_;
  void* library_ = nullptr;
  std::shared_ptr<kvthost::Desktop> desktop_;
};

TEST_F(ServerTest, ARegisteredLibraryServesItsClassesByName) {
  EXPECT_EQ(CaptureError([] { kvt::CreateObject("kvtFields.FieldsCollection"); }).Number(), 429u);
  ASSERT_EQ(Call("DllRegisterServer"), 0u);
  EXPECT_EQ(kvt::ReadUserRegistry().size(), 3u);  // FieldType, FieldsCollection, FieldViewer

  auto engine = kvtsqlite::SqliteEngine::Open(dir_.File("fatture.kvtdb"));
  kvtarchive::sample::CreateSampleArchive(*engine);
  auto form = desktop_->NewForm("frmHost");
  {
    kvt::ObjectRef fields = kvt::CreateObject("kvtFields.FieldsCollection");
    EXPECT_EQ(fields->Class().Name(), "FieldsCollection");
    EXPECT_EQ(Call("DllCanUnloadNow"), 1u);  // an object of the library is alive
    kvt::CallMethod(fields, "Init", kvt::ObjectRef(engine));
    kvt::CallMethod(fields, "FillCollection", kvtarchive::sample::kArchive,
                    kvtarchive::sample::kEntryForm, kvt::ObjectRef(form));
    EXPECT_EQ(kvt::CLng(kvt::GetProperty(fields, "Count")), 12);
    EXPECT_EQ(CStr(kvt::GetProperty(kvt::CObj(kvt::GetProperty(fields, "Item", 5)), "Label")),
              "Cliente");
    // By class id as well.
    auto viewer = kvt::CreateObject("{95B60E73-3B57-4090-BD5B-41ABAEC7D7CB}");
    EXPECT_EQ(viewer->Class().Name(), "FieldViewer");
  }
  form->Unload();
  EXPECT_EQ(Call("DllCanUnloadNow"), 0u);

  ASSERT_EQ(Call("DllUnregisterServer"), 0u);
  EXPECT_THAT(CaptureError([] { kvt::CreateObject("kvtFields.FieldsCollection"); }),
              kvt::testing::ErrorIs(429u, "'kvtFields.FieldsCollection' is not registered"));
  EXPECT_TRUE(kvt::ReadUserRegistry().empty());
}

TEST_F(ServerTest, RegistrationKeepsOtherLibrariesEntries) {
  kvt::WriteUserRegistry(
      {{"Altro.Oggetto", *kvt::Uuid::Parse("{00000000-0000-0000-0000-000000000001}"),
        "/usr/lib/altro.so"}});
  ASSERT_EQ(Call("DllRegisterServer"), 0u);
  ASSERT_EQ(Call("DllRegisterServer"), 0u);  // twice: still one entry per class
  EXPECT_EQ(kvt::ReadUserRegistry().size(), 4u);
  ASSERT_EQ(Call("DllUnregisterServer"), 0u);
  ASSERT_EQ(kvt::ReadUserRegistry().size(), 1u);
  EXPECT_EQ(kvt::ReadUserRegistry()[0].prog_id, "Altro.Oggetto");
}

// The type library hosts were built against, kept as a file: any change of a class, a member,
// its slot, kind, id, parameters or types shows as a difference here, and is made on purpose
// by writing the file anew (kvtfields typelib > tests/server/kvtfields.typelib.json).
TEST_F(ServerTest, TheTypeLibraryIsTheOneHostsWereBuiltAgainst) {
  auto json_fn = reinterpret_cast<const char* (*)()>(dlsym(library_, "DllGetTypeLibraryJson"));
  ASSERT_NE(json_fn, nullptr);
  std::ifstream in(std::string(KVT_SOURCE_DIR) + "/tests/server/kvtfields.typelib.json",
                   std::ios::binary);
  ASSERT_TRUE(in) << "the golden type library is missing";
  const std::string golden((std::istreambuf_iterator<char>(in)), {});
  const std::string json = json_fn();
  std::istringstream a(golden), b(json);
  std::string want, got;
  for (int line = 1; std::getline(a, want); ++line) {
    ASSERT_TRUE(std::getline(b, got)) << "line " << line << " missing: " << want;
    ASSERT_EQ(got, want) << "line " << line;
  }
  EXPECT_FALSE(std::getline(b, got)) << "more than the golden file: " << got;
}

}  // namespace
