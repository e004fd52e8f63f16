#include "host/common/coordinator.h"

#include "host/common/units.h"
#include "runtime/class_builder.h"
#include "runtime/error.h"

namespace kvthost {

void Record(CallLog& log, std::string call) {
  constexpr std::size_t kKept = 4096;
  if (log.size() >= 2 * kKept) log.erase(log.begin(), log.begin() + kKept);
  log.push_back(std::move(call));
}

const kvt::ClassInfo& ErrorList::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<ErrorList>("Errori")
                                         .Method<&ErrorList::AggiungiUnErrore>("AggiungiUnErrore")
                                         .Params({"Messaggio", "Tipo", "Campo"})
                                         .ByRef({"Campo"})
                                         .Get<&ErrorList::Count>("Count")
                                         .Get<&ErrorList::Item>("Item")
                                         .Default()
                                         .Method<&ErrorList::Clear>("Clear")
                                         .Build();
  return info;
}

void ErrorList::AggiungiUnErrore(const std::string& message, std::int32_t kind,
                                 const std::string& field) {
  Record(*log_, "Errori.AggiungiUnErrore");
  entries_.push_back(Entry{message, kind, field});
  if (on_add) on_add(entries_.back());
}

std::string ErrorList::Item(std::int32_t index) const {
  if (index < 1 || index > Count()) {
    throw kvt::RuntimeError(kvt::ErrorCode::kSubscriptOutOfRange, std::to_string(index),
                            kHostSource);
  }
  return entries_[static_cast<std::size_t>(index - 1)].message;
}

const kvt::ClassInfo& MainWindow::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<MainWindow>("MainForm")
                                         .Get<&MainWindow::WindowState>("WindowState")
                                         .Let<&MainWindow::LetWindowState>("WindowState")
                                         .Build();
  return info;
}

const kvt::ClassInfo& Application::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<Application>("Application")
                                         .Get<&Application::FormLoaderStatus>("FormLoaderStatus")
                                         .Let<&Application::LetFormLoaderStatus>("FormLoaderStatus")
                                         .Get<&Application::MainForm>("MainForm")
                                         .Build();
  return info;
}

std::int32_t Application::FormLoaderStatus() const {
  Record(*log_, "Application.FormLoaderStatus");
  return status_;
}

const kvt::ClassInfo& DocViewer::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<DocViewer>("DocViewer")
                                         .Get<&DocViewer::Mode>("Mode")
                                         .Let<&DocViewer::LetMode>("Mode")
                                         .Build();
  return info;
}

std::int32_t DocViewer::Mode() const {
  Record(*log_, "DocViewer.Mode");
  return mode_;
}

const kvt::ClassInfo& RegLink::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<RegLink>("RegLink")
                                         .Method<&RegLink::GetSetting>("GetSetting")
                                         .Params({"Section", "Key", "Default"})
                                         .Method<&RegLink::SaveSetting>("SaveSetting")
                                         .Params({"Section", "Key", "Value"})
                                         .Build();
  return info;
}

kvt::Variant RegLink::GetSetting(const std::string& section, const std::string& key,
                                 std::optional<kvt::Variant> default_value) {
  Record(*log_, "RegLink.GetSetting " + section + "/" + key);
  auto it = settings_.find(section + "\n" + key);
  if (it != settings_.end()) return it->second;
  return default_value.value_or(kvt::Variant());
}

void RegLink::SaveSetting(const std::string& section, const std::string& key,
                          const kvt::Variant& value) {
  settings_[section + "\n" + key] = value;
}

const kvt::ClassInfo& Coordinator::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<Coordinator>("Coordinator")
                                         .Get<&Coordinator::DBEngine>("DBEngine")
                                         .Set<&Coordinator::SetDBEngine>("DBEngine")
                                         .Get<&Coordinator::ScriptEngine>("ScriptEngine")
                                         .Set<&Coordinator::SetScriptEngine>("ScriptEngine")
                                         .Get<&Coordinator::FieldsCollection>("FieldsCollection")
                                         .Set<&Coordinator::SetFieldsCollection>("FieldsCollection")
                                         .Get<&Coordinator::Errori>("Errori")
                                         .Get<&Coordinator::GetApplication>("Application")
                                         .Get<&Coordinator::GetDocViewer>("DocViewer")
                                         .Get<&Coordinator::GetRegLink>("RegLink")
                                         .Method<&Coordinator::MenuClick>("MenuClick")
                                         .Params({"Name", "Index"})
                                         .Build();
  return info;
}

Coordinator::Coordinator()
    : errors_(std::make_shared<ErrorList>(log_)),
      application_(std::make_shared<Application>(log_)),
      doc_viewer_(std::make_shared<DocViewer>(log_)),
      reg_link_(std::make_shared<RegLink>(log_)) {}

kvt::ObjectRef Coordinator::ScriptEngine() const {
  Record(*log_, "ScriptEngine");
  return script_engine_;
}

void Coordinator::MenuClick(const std::string& name, std::int16_t index) {
  Record(*log_, "MenuClick " + name + " " + std::to_string(index));
  if (on_menu_click) on_menu_click(name);
}

}  // namespace kvthost
