// The database a program names with --db or Open: a PostgreSQL connection string or a SQLite
// file, each opened with its engine.
#pragma once

#include <memory>
#include <string>

#include "engine/common/archive_engine.h"

namespace kvtapp {

/// The engine for `where`. `create` makes a missing file, or the tables of an empty
/// PostgreSQL database; without it a missing file raises 2 with its name.
std::shared_ptr<kvtengine::ArchiveEngine> OpenEngine(const std::string& where, bool create);

/// True when `where` names a PostgreSQL database (a URI, or anything with '='), not a file.
bool IsServer(const std::string& where);

/// `where` as a program keeps it to open it again: a file by its whole path, a connection string
/// without its password but with every other setting (TLS among them).
std::string Reopenable(const std::string& where);
/// `where` as a message may show it: a connection string without its password.
std::string Shown(const std::string& where);
/// `where` as a title shows it: a file's name without its folders, a server's database as
/// "database su host".
std::string ShortName(const std::string& where);

}  // namespace kvtapp
