// What the kvtfields program works on: one archive's form in the field viewer on the headless
// window system, with the SQLite engine, the archive's Lua script, a coordinator and the person
// at the keyboard.
#pragma once

#include <memory>
#include <string>

#include "engine/sqlite/db_engine.h"
#include "host/common/coordinator.h"
#include "host/headless/desktop.h"
#include "kvtfields/collection/fields_collection.h"
#include "kvtfields/viewer/field_viewer.h"

namespace kvtapp {

class Workspace {
 public:
  /// Installs the window system and registers the outside classes; opens nothing yet.
  Workspace();
  ~Workspace();

  /// Opens the database; `create` makes the file (with the sample archive) when it is missing.
  void Open(const std::string& path, bool create);
  /// Builds the archive's form in the viewer; an archive without fields raises.
  void Build(const std::string& archive, const std::string& form);
  /// Takes the fields off the window and builds them again (the next document).
  void Rebuild();

  /// The form as text: captions and controls at their places, values, the focused field,
  /// the status-bar help and the error list.
  std::string Picture() const;

  kvtsqlite::DBEngine& Engine() { return *engine_; }
  kvtfields::FieldsCollection& Fields() { return *fields_; }
  kvthost::Coordinator& Host() { return *coordinator_; }
  kvthost::User& Person() { return *person_; }
  kvthost::Form& Window() { return *window_; }
  const std::string& Archive() const { return archive_; }
  const std::string& FormName() const { return form_; }

 private:
  std::shared_ptr<kvthost::Desktop> desktop_;
  std::shared_ptr<kvtsqlite::DBEngine> engine_;
  std::shared_ptr<kvthost::Coordinator> coordinator_;
  std::shared_ptr<kvtfields::FieldsCollection> fields_;
  std::shared_ptr<kvtfields::FieldViewer> viewer_;
  std::shared_ptr<kvthost::Form> window_;
  std::shared_ptr<kvthost::User> person_;
  std::string archive_;
  std::string form_;
};

}  // namespace kvtapp
