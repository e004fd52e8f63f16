// The host objects a fields collection and the field viewer talk to, late-bound: the
// coordinator with its error list ("Errori"), application state, document viewer, settings and
// menu commands. Every one records what it was asked and can be set up by a test or a program.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "runtime/object.h"

namespace kvthost {

/// The calls the host objects received, in order ("Errori.AggiungiUnErrore", "MenuClick miSalva").
using CallLog = std::vector<std::string>;
/// Adds a call to the log, which keeps the latest few thousand: a program open all day, or
/// importing a million rows, does not keep every call it ever made.
void Record(CallLog& log, std::string call);

/// The host's error list.
class ErrorList final : public kvt::Object {
  KVT_OBJECT()

 public:
  struct Entry {
    std::string message;
    std::int32_t kind;
    std::string field;
  };
  explicit ErrorList(std::shared_ptr<CallLog> log) : log_(std::move(log)) {}
  /// Adds one entry: the message, its kind (0 too short, 1 not numeric, 2 required) and field.
  void AggiungiUnErrore(const std::string& message, std::int32_t kind, const std::string& field);
  std::int32_t Count() const { return static_cast<std::int32_t>(entries_.size()); }
  /// The message of entry `index` (from 1).
  std::string Item(std::int32_t index) const;
  void Clear() { entries_.clear(); }
  /// Called with every new entry (a program shows it to the person).
  std::function<void(const Entry&)> on_add;
  const std::vector<Entry>& Entries() const { return entries_; }

 private:
  std::shared_ptr<CallLog> log_;
  std::vector<Entry> entries_;
};

class MainWindow final : public kvt::Object {
  KVT_OBJECT()

 public:
  /// 0 normal, 1 minimised, 2 maximised.
  std::int32_t WindowState() const { return state_; }
  void LetWindowState(std::int32_t v) { state_ = v; }

 private:
  std::int32_t state_ = 0;
};

class Application final : public kvt::Object {
  KVT_OBJECT()

 public:
  explicit Application(std::shared_ptr<CallLog> log) : log_(std::move(log)) {}
  /// 2 once the host's forms are loaded and may take the focus.
  std::int32_t FormLoaderStatus() const;
  void LetFormLoaderStatus(std::int32_t v) { status_ = v; }
  kvt::ObjectRef MainForm() const { return main_; }
  const std::shared_ptr<MainWindow>& Main() const { return main_; }

 private:
  std::shared_ptr<CallLog> log_;
  std::int32_t status_ = 2;
  std::shared_ptr<MainWindow> main_ = std::make_shared<MainWindow>();
};

class DocViewer final : public kvt::Object {
  KVT_OBJECT()

 public:
  explicit DocViewer(std::shared_ptr<CallLog> log) : log_(std::move(log)) {}
  /// 0 new document, 1 editing, 2 read-only: paste goes ahead for 0 and 1 only.
  std::int32_t Mode() const;
  void LetMode(std::int32_t v) { mode_ = v; }

 private:
  std::shared_ptr<CallLog> log_;
  std::int32_t mode_ = 0;
};

class RegLink final : public kvt::Object {
  KVT_OBJECT()

 public:
  explicit RegLink(std::shared_ptr<CallLog> log) : log_(std::move(log)) {}
  /// A stored setting, or `default_value` (Empty when left out) when there is none.
  kvt::Variant GetSetting(const std::string& section, const std::string& key,
                          std::optional<kvt::Variant> default_value);
  void SaveSetting(const std::string& section, const std::string& key, const kvt::Variant& value);

 private:
  std::shared_ptr<CallLog> log_;
  std::map<std::string, kvt::Variant> settings_;
};

class Coordinator final : public kvt::Object {
  KVT_OBJECT()

 public:
  Coordinator();

  kvt::ObjectRef DBEngine() const { return db_engine_; }
  void SetDBEngine(kvt::ObjectRef v) { db_engine_ = std::move(v); }
  kvt::ObjectRef ScriptEngine() const;
  void SetScriptEngine(kvt::ObjectRef v) { script_engine_ = std::move(v); }
  kvt::ObjectRef FieldsCollection() const { return fields_; }
  void SetFieldsCollection(kvt::ObjectRef v) { fields_ = std::move(v); }
  kvt::ObjectRef Errori() const { return errors_; }
  kvt::ObjectRef GetApplication() const { return application_; }
  kvt::ObjectRef GetDocViewer() const { return doc_viewer_; }
  kvt::ObjectRef GetRegLink() const { return reg_link_; }
  /// Acts as if the menu item were clicked: recorded, then handed to the menu handler.
  void MenuClick(const std::string& name, std::int16_t index);

  // Typed access for programs and tests.
  ErrorList& Errors() const { return *errors_; }
  Application& App() const { return *application_; }
  DocViewer& Viewer() const { return *doc_viewer_; }
  RegLink& Settings() const { return *reg_link_; }
  const CallLog& Calls() const { return *log_; }
  void ClearCalls() { log_->clear(); }
  /// What a menu click does; recorded only when unset.
  std::function<void(const std::string&)> on_menu_click;

 private:
  std::shared_ptr<CallLog> log_ = std::make_shared<CallLog>();
  kvt::ObjectRef db_engine_;
  kvt::ObjectRef script_engine_;
  kvt::ObjectRef fields_;
  std::shared_ptr<ErrorList> errors_;
  std::shared_ptr<Application> application_;
  std::shared_ptr<DocViewer> doc_viewer_;
  std::shared_ptr<RegLink> reg_link_;
};

}  // namespace kvthost
