// Error numbers shared by the database engines, so that a program reacts to "not our
// database" or "made by a newer program" the same way whichever engine holds the archive.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/error.h"

namespace kvtengine {

/// Error numbers of the engines (object errors, 0x80040000 + n).
enum : std::uint32_t {
  kDatabaseError = 769,   // the database refused an operation
  kNotOurDatabase = 770,  // the file or database is not a kvtfields database
  kBadFilter = 771,       // a code-list filter that does not parse
  kNoDatabase = 772,      // the engine has no open database
  kBadDefinition = 773,   // a definition the forms cannot be built from
  kNewerSchema = 774,     // written by a newer program: this one would damage it
  kConflict = 775,        // the document changed since it was read: nothing was written
  kNoPermission = 776,    // the account may not do this: nothing was written
  kNoArchive = 777,       // the database holds no archive of that name
  kBadFile = 778,         // a kept file is missing or its bytes are not what was stored
  kFileRefused = 779,     // a file to keep cannot be read whole as it is: nothing was kept
};

/// An engine error with its number, the engine's source name and a description.
kvt::Error EngineError(std::uint32_t n, const char* source, std::string description);
/// Raises kNoArchive: the database has no archive named `archive`.
[[noreturn]] void ThrowNoArchive(const std::string& archive, const char* source);

/// True when `e` is one of the engines' errors above: the database failed or refused, not a
/// value.
inline bool IsEngineError(const kvt::Error& e) noexcept {
  return e.Number() >= kvt::kObjectErrorBase + kDatabaseError &&
         e.Number() <= kvt::kObjectErrorBase + kFileRefused;
}

/// The schema version this program writes; older databases are upgraded to it when opened.
inline constexpr int kSchemaVersion = 13;

/// Raises that intake item `id` is not taken (filed, left or set aside meanwhile, or none).
[[noreturn]] void ThrowIntakeNotTaken(std::int64_t id, const char* source);

/// The SQL each engine speaks.
enum class SqlDialect { kSqlite, kPostgres };

/// The SQL that turns a database of version `from` into one of version `from` + 1. From 3 to 4
/// the engine then gives each stored value its search key (SQLite: in this SQL, through the
/// connection's own functions; PostgreSQL: afterwards, then FinishUpgradeTo4). From 4 to 5
/// PostgreSQL then (re)creates its functions. From 5 to 6 only SQLite's layout changes (through
/// the connection's kvt_json). From 6 to 7 PostgreSQL makes its document functions anew (the
/// only way an account other than the owner writes documents). 8 keeps the documents' files.
const char* UpgradeStep(int from, SqlDialect dialect);
/// PostgreSQL, version 4: the indexes made once the keys are there.
extern const char* const kPgIndexesOf4;

/// Refuses a database whose schema version is newer than this program's (kNewerSchema) or not
/// a version at all (kNotOurDatabase), naming `where`.
void CheckSchemaVersion(const char* source, const std::string& where, const std::string& version);

}  // namespace kvtengine
