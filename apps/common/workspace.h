// What the programs work on: one archive's form in the field viewer, with its database engine,
// the archive's Lua script, a coordinator and the person at the keyboard. The window system is
// the one installed as the platform; the program says how its person acts on a form.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "engine/common/archive_engine.h"
#include "host/common/coordinator.h"
#include "host/common/form.h"
#include "host/common/person.h"
#include "host/common/standard_controls.h"
#include "kvtfields/collection/fields_collection.h"
#include "kvtfields/viewer/field_viewer.h"
#include "runtime/platform.h"

namespace kvtapp {

class Workspace {
 public:
  /// The person of the window system in use, acting on a form.
  using PersonOn = std::function<std::unique_ptr<kvthost::IPerson>(std::shared_ptr<kvthost::Form>)>;
  /// Registers the outside classes (once a process); opens nothing yet. `platform` is the
  /// session's window system, entered around each call; none: the one in use.
  explicit Workspace(PersonOn person_on, std::shared_ptr<kvt::Platform> platform = nullptr);
  ~Workspace();

  /// Makes this session's platform the one reached until the scope ends: a front end enters
  /// it around each call of its own into the session's work.
  kvt::PlatformScope Enter() const { return kvt::PlatformScope(platform_); }

  /// Opens the database (a file or a PostgreSQL connection string); `create` makes it, with the
  /// sample archive, when it is missing or empty.
  void Open(const std::string& path, bool create);
  /// Works on an engine opened elsewhere (one that watches or fails calls, say).
  void Use(std::shared_ptr<kvtengine::ArchiveEngine> engine) { engine_ = std::move(engine); }
  /// Called while a form is built: fields done, fields in all (a program shows progress).
  void OnProgress(std::function<void(int done, int total)> progress) {
    progress_ = std::move(progress);
  }
  /// Builds the archive's form in the viewer; an archive without fields raises.
  void Build(const std::string& archive, const std::string& form);
  /// Takes the fields off the window and builds them again (the next document).
  void Rebuild();
  /// Builds the archive's fields again for another form of the archive.
  void UseForm(const std::string& form);
  /// False when the form no longer holds the fields it was built with (a script removed
  /// them): such a document must not be saved.
  bool Intact() const { return fields_ && fields_->Count() == built_; }
  /// How many times fields were built on the form: what was learnt of its controls holds while
  /// this stays.
  std::uint64_t Builds() const { return builds_; }

  /// The form as text: captions and controls at their places, values, the focused field,
  /// the status-bar help and the error list.
  std::string Picture() const;

  kvtengine::ArchiveEngine& Engine() { return *engine_; }
  /// The engine, for what outlives a form (a list of found documents).
  std::shared_ptr<kvtengine::ArchiveEngine> EngineRef() const { return engine_; }
  kvtfields::FieldsCollection& Fields() { return *fields_; }
  kvthost::Coordinator& Host() { return *coordinator_; }
  kvthost::IPerson& Person() { return *person_; }
  std::shared_ptr<kvthost::Form> WindowRef() const { return window_; }
  kvthost::Form& Window() { return *window_; }
  const std::string& Archive() const { return archive_; }
  const std::string& FormName() const { return form_; }
  /// Notes that the person chose the file at `path`, whose SHA-256 is `sha256`: it is kept when
  /// a document naming it is saved.
  void NoteChosenFile(const std::string& sha256, const std::string& path) {
    chosen_files_[sha256] = path;
  }
  /// Told why a typed character was refused (a letter in a numbers-only field).
  void OnRefused(std::function<void(const std::string& why)> refused) {
    on_refused_ = std::move(refused);
  }
  /// The path of a chosen file, or null when none of that SHA-256 was chosen.
  const std::string* ChosenFile(const std::string& sha256) const {
    const auto it = chosen_files_.find(sha256);
    return it == chosen_files_.end() ? nullptr : &it->second;
  }

 private:
  // Text boxes of numbers-only fields refuse letters as they are typed.
  void RefuseWhatFieldsCannotHold();
  std::shared_ptr<kvtengine::ArchiveEngine> engine_;
  std::shared_ptr<kvthost::Coordinator> coordinator_;
  std::shared_ptr<kvtfields::FieldsCollection> fields_;
  std::shared_ptr<kvtfields::FieldViewer> viewer_;
  std::shared_ptr<kvthost::Form> window_;
  PersonOn person_on_;
  std::shared_ptr<kvt::Platform> platform_;
  std::int32_t built_ = 0;
  std::uint64_t builds_ = 0;
  std::function<void(int, int)> progress_;
  std::unique_ptr<kvthost::IPerson> person_;
  std::string archive_;
  std::string form_;
  std::unordered_map<std::string, std::string> chosen_files_;  // SHA-256 → path
  std::function<void(const std::string&)> on_refused_;
  std::vector<kvt::Subscription> refusals_;
};

}  // namespace kvtapp
