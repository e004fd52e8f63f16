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
};

/// An engine error with its number, the engine's source name and a description.
kvt::Error EngineError(std::uint32_t n, const char* source, std::string description);

/// True when `e` is one of the engines' errors above: the database failed, not a value.
inline bool IsEngineError(const kvt::Error& e) noexcept {
  return e.Number() >= kvt::kObjectErrorBase + kDatabaseError &&
         e.Number() <= kvt::kObjectErrorBase + kNewerSchema;
}

/// The schema version this program writes; older databases are upgraded to it when opened.
inline constexpr int kSchemaVersion = 3;

/// The SQL that turns a database of version `from` into one of version `from` + 1; the same
/// text serves both engines.
const char* UpgradeStep(int from);

/// Refuses a database whose schema version is newer than this program's (kNewerSchema) or not
/// a version at all (kNotOurDatabase), naming `where`.
void CheckSchemaVersion(const char* source, const std::string& where, const std::string& version);

}  // namespace kvtengine
