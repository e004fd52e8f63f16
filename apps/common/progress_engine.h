// The database engine as the programs hand it to a fields collection: every call goes to the
// engine it wraps, and while a form is built it tells how far the build has come (the
// collection asks for the field names once, then for each field's definition in turn).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "kvtfields/contracts/db_engine.h"
#include "kvtfields/contracts/script_source.h"

namespace kvtapp {

class ProgressEngine final : public kvtfields::IDBEngine, public kvtfields::IScriptSource {
  KVT_OBJECT()

 public:
  /// `engine` must also be a script source. `progress(done, total)` is called after each
  /// field's definition was read.
  ProgressEngine(std::shared_ptr<kvtfields::IDBEngine> engine,
                 std::function<void(int done, int total)> progress);

  std::shared_ptr<kvtfields::IDBConnection> Connection() override { return engine_->Connection(); }
  void AddCode(const std::string& archive, const std::string& field_name, const std::string& code,
               const std::string& description) override {
    engine_->AddCode(archive, field_name, code, description);
  }
  void DeleteCode(const std::string& archive, const std::string& field_name,
                  const std::string& code) override {
    engine_->DeleteCode(archive, field_name, code);
  }
  std::vector<std::string> GetFormFields(const std::string& archive) override;
  std::shared_ptr<kvt::RecordSet> GetFieldDefinition(const std::string& archive,
                                                     const std::string& field_name) override;
  kvt::Variant GetFieldVisualProperties(const std::string& archive, const std::string& field_name,
                                        const std::string& form_name) override {
    return engine_->GetFieldVisualProperties(archive, field_name, form_name);
  }
  std::shared_ptr<kvt::RecordSet> GetCodeList(const std::string& filter) override {
    return engine_->GetCodeList(filter);
  }
  kvt::Variant GetScript(const std::string& script_set) override;

 private:
  std::shared_ptr<kvtfields::IDBEngine> engine_;
  std::function<void(int, int)> progress_;
  int done_ = 0;
  int total_ = 0;
};

}  // namespace kvtapp
