// The sample archive shared by the demo, the end-to-end tests and the benchmarks: an Italian
// invoice archive whose fields cover every kind of control and every rule.
#pragma once

#include <string>

#include "engine/sqlite/db_engine.h"

namespace kvtsqlite::sample {

inline constexpr const char* kArchive = "Fatture";
inline constexpr const char* kEntryForm = "Inserimento";     // data entry, every field laid out
inline constexpr const char* kReviewForm = "Consultazione";  // review, a compact layout

/// The archive's script (Lua): proposes a quantity of 1, refuses quantities over 10.000 and
/// recomputes the total from quantity and price.
extern const char* const kScript;

/// Writes the sample archive (definitions, layouts of both forms, code lists, and its script
/// under the archive's script set and the common set "32") into the engine's database,
/// replacing an earlier copy of it.
void CreateSampleArchive(DBEngine& engine);

/// Writes an archive of `fields` text fields named "Campo1" ... with a layout on kEntryForm,
/// for measurements at scale.
void CreateScaledArchive(DBEngine& engine, const std::string& archive, int fields);

}  // namespace kvtsqlite::sample
