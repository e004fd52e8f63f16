// Fills the sample archive's entry form on the headless window system and types a number,
// through the installed headers and libraries.
#include <cstdio>
#include <filesystem>

#include "addons/autocomplete/store_auto_completer.h"
#include "archives/sample_archive.h"
#include "engine/sqlite/sqlite_engine.h"
#include "host/headless/desktop.h"
#include "kvtfields/collection/fields_collection.h"
#include "kvtfields/server/version.h"
#include "scripting/lua/lua_script_engine.h"

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  auto desktop = kvthost::Desktop::Install();
  kvtaddons::RegisterAutoCompleterClass();
  kvtlua::RegisterScriptEngineClass();
  auto engine = kvtsqlite::SqliteEngine::Open(argv[1]);
  kvtarchive::sample::CreateSampleArchive(*engine);
  auto form = desktop->NewForm("frm");
  auto fields = kvtfields::FieldsCollection::Create();
  fields->Init(engine);
  fields->FillCollection(kvtarchive::sample::kArchive, kvtarchive::sample::kEntryForm, form);
  kvthost::User person(form);
  person.Focus("NumeroDocumento");
  person.Type("1026");
  const std::string number = kvt::CStr(fields->Item(kvt::Variant("NumeroDocumento"))->Value());
  std::printf("kvtfields %s: %d fields, number %s\n", kvtfields::server::kFileVersion,
              fields->Count(), number.c_str());
  desktop->Uninstall();
  return fields->Count() == 12 && number == "1026" ? 0 : 1;
}
