#include "common/open_engine.h"

#include <filesystem>

#include "engine/postgresql/pg_database.h"
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

std::string Reopenable(const std::string& where) {
  if (!kvtpg::IsConnectionString(where)) return std::filesystem::absolute(where).string();
  return kvtpg::Reopenable(where);
}

std::string Shown(const std::string& where) {
  if (!kvtpg::IsConnectionString(where)) return where;
  try {
    return kvtpg::Redacted(where);
  } catch (const kvt::Error&) {
    return "postgresql://...";
  }
}

std::string ShortName(const std::string& where) {
  if (!kvtpg::IsConnectionString(where)) {
    const std::string name = std::filesystem::path(where).filename().string();
    return name.empty() ? where : name;
  }
  // "postgresql://user@host:port/database", as Shown rebuilds it.
  const std::string shown = Shown(where);
  const auto slash = shown.rfind('/');
  const auto at = shown.find('@');
  const auto host_from = at == std::string::npos ? shown.find("//") + 2 : at + 1;
  const auto host_end = shown.find_first_of(":/", host_from);
  if (slash == std::string::npos || slash + 1 >= shown.size() || host_end == std::string::npos) {
    return shown;
  }
  return shown.substr(slash + 1) + " su " + shown.substr(host_from, host_end - host_from);
}

}  // namespace kvtapp
