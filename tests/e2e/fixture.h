// The end-to-end fixture: the sample archive in a real SQLite file, the headless desktop with
// a host form (status bar with a "fieldHelp" panel), and the autocomplete class registered.
#pragma once

#include <memory>
#include <string>

#include "addons/autocomplete/store_auto_completer.h"
#include "archives/sample_archive.h"
#include "engine/sqlite/sqlite_engine.h"
#include "host/common/coordinator.h"
#include "host/headless/desktop.h"
#include "kvtfields/doubles.h"
#include "kvtfields/field/field_type.h"
#include "temp_dir.h"
#include "test_support.h"

namespace kvtfields::testing {

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop_ = kvthost::Desktop::Install();
    kvtaddons::RegisterAutoCompleterClass();
    engine_ = kvtsqlite::SqliteEngine::Open(dir_.File("fatture.kvtdb"));
    kvtarchive::sample::CreateSampleArchive(*engine_);
    form_ = desktop_->NewForm("frmDocumento");
    auto sb = kvt::CObj(kvt::CallMethod(form_->Controls(), "Add", "MSComctlLib.SBarCtrl.2", "SB"));
    kvt::CallMethod(kvt::CObj(kvt::GetProperty(sb, "Panels")), "Add", "fieldHelp");
    user_ = std::make_shared<kvthost::User>(form_);
  }
  void TearDown() override { desktop_->Uninstall(); }

  /// A field of the sample archive built on the form as a collection builds it (without
  /// clearing the new control), reporting to `owner` when given.
  std::shared_ptr<FieldType> Build(const std::string& name, kvt::ObjectRef owner = nullptr,
                                   std::string form = kvtarchive::sample::kEntryForm) {
    auto f = FieldType::Create();
    f->Init(kvtarchive::sample::kArchive, name, form, engine_,
            owner ? std::optional<kvt::ObjectRef>(owner) : std::nullopt);
    f->SetLinkedLabel(f->AddLabel(form_));
    f->SetLinkedControl(f->AddControl(form_));
    return f;
  }

  template <class T>
  std::shared_ptr<T> Control(const std::string& name) {
    return std::dynamic_pointer_cast<T>(form_->FindControl(name));
  }

  std::string HelpText() {
    return kvt::CStr(kvt::GetProperty(
        kvt::CObj(kvt::GetProperty(kvt::CObj(kvt::GetProperty(form_, "SB")), "Panels")), "Item",
        "fieldHelp"));
  }

  void AddCode(const std::string& field, std::string code, std::string descr) {
    std::string archive = kvtarchive::sample::kArchive, f = field;
    engine_->AddCode(archive, f, code, descr);
  }

  kvt::testing::TempDir dir_;
  std::shared_ptr<kvthost::Desktop> desktop_;
  std::shared_ptr<kvtsqlite::SqliteEngine> engine_;
  std::shared_ptr<kvthost::Form> form_;
  std::shared_ptr<kvthost::User> user_;
};

}  // namespace kvtfields::testing
