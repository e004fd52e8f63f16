// The sample archive shared by the demo, the end-to-end tests and the benchmarks: an Italian
// invoice archive whose fields cover every kind of control and every rule, kept as an archive
// file (archives/fatture.toml).
#pragma once

#include <string>

#include "engine/common/archive_engine.h"

namespace kvtarchive::sample {

inline constexpr const char* kArchive = "Fatture";
inline constexpr const char* kEntryForm = "Inserimento";     // data entry, every field laid out
inline constexpr const char* kReviewForm = "Consultazione";  // review, a compact layout

/// The archive's script (Lua): proposes a quantity of 1, refuses quantities over 10.000 and
/// writes the total of quantity and price, in euro with two decimals.
const std::string& Script();

/// Imports the sample archive from its file (archives/fatture.toml, built in) into the
/// engine's database, replacing an earlier copy, with its script also under the common set
/// "32".
void CreateSampleArchive(kvtengine::ArchiveEngine& engine);

/// Writes an archive of `fields` text fields named "Campo1" ... with a layout on kEntryForm,
/// for measurements at scale.
void CreateScaledArchive(kvtengine::ArchiveEngine& engine, const std::string& archive, int fields);

}  // namespace kvtarchive::sample
