#include "common/progress_engine.h"

#include "runtime/class_builder.h"

namespace kvtapp {

const kvt::ClassInfo& ProgressEngine::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<ProgressEngine> b("DBEngine");
    return kvtfields::IDBEngine::Describe(b).Build();
  }();
  return info;
}

ProgressEngine::ProgressEngine(std::shared_ptr<kvtfields::IDBEngine> engine,
                               std::function<void(int, int)> progress)
    : engine_(std::move(engine)), progress_(std::move(progress)) {}

std::vector<std::string> ProgressEngine::GetFormFields(const std::string& archive) {
  auto names = engine_->GetFormFields(archive);
  done_ = 0;
  total_ = static_cast<int>(names.size());
  return names;
}

std::shared_ptr<kvt::RecordSet> ProgressEngine::GetFieldDefinition(const std::string& archive,
                                                                   const std::string& field_name) {
  auto rs = engine_->GetFieldDefinition(archive, field_name);
  if (progress_ && done_ < total_) progress_(++done_, total_);
  return rs;
}

kvt::Variant ProgressEngine::GetScript(const std::string& script_set) {
  auto* source = dynamic_cast<kvtfields::IScriptSource*>(engine_.get());
  return source ? source->GetScript(script_set) : kvt::Variant::Null();
}

}  // namespace kvtapp
