// A document's values as this engine keeps them in its row: a JSON object of field name to
// value, written here and read by SQLite's JSON functions or, for a whole archive, by
// ScanDocumentTexts.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "runtime/variant.h"

namespace kvtsqlite {

/// Appends `value` as JSON the way a column would hold it: Null and Empty as null, a truth as 1
/// or 0, a whole number as one, a double with every digit (always with a point or exponent, so
/// it reads back a double), anything else as its text (AppendJsonText).
void AppendJson(std::string& out, const kvt::Variant& value);
/// Appends a text value as a JSON string; one holding the character NUL, which SQLite's JSON
/// functions cut short, as an object of its bytes in hexadecimal (json_each gives that object's
/// text, which starts as no plain string this writes does; ReadJsonValue reads both).
void AppendJsonText(std::string& out, std::string_view text);
/// True when AppendJsonText writes `text` as that object.
bool WrittenAsObject(std::string_view text);
/// The text of `json_value` (a json_each value) when AppendJsonText wrote it as an object.
bool DecodeJsonText(std::string_view json_value, std::string& text);
/// Appends a name (an object's member) as a JSON string.
void AppendJsonName(std::string& out, std::string_view name);
/// Appends a double as AppendJson does.
void AppendJsonDouble(std::string& out, double d);

/// Appends to `buffer` each name and text (as kvt::JoinText gives the value SQLite's json_each
/// reads) of the JSON object `content`, and to `ends` where each name and text ends. False, with
/// `buffer` and `ends` as they were, for anything this engine does not write: a document from
/// elsewhere is then read by SQLite.
bool ScanDocumentTexts(std::string_view content, std::string& buffer,
                       std::vector<std::pair<std::size_t, std::size_t>>& ends);

}  // namespace kvtsqlite
