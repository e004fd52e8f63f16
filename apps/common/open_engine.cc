#include "common/open_engine.h"

#include <filesystem>

#include "engine/postgresql/pg_engine.h"
#include "engine/sqlite/sqlite_engine.h"

namespace kvtapp {

std::shared_ptr<kvtengine::ArchiveEngine> OpenEngine(const std::string& where, bool create) {
  if (kvtpg::IsConnectionString(where)) return kvtpg::PgEngine::Open(where, create);
  if (!create && !std::filesystem::exists(where)) {
    throw kvt::Error(2, "kvtfields", "no database file '" + where + "'");
  }
  return kvtsqlite::SqliteEngine::Open(where, create);
}

bool IsServer(const std::string& where) {
  return kvtpg::IsConnectionString(where);
}

std::string Shown(const std::string& where) {
  if (!kvtpg::IsConnectionString(where)) return where;
  try {
    return kvtpg::Redacted(where);
  } catch (const kvt::Error&) {
    return "postgresql://...";
  }
}

}  // namespace kvtapp
