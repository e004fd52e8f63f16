// CSV files from anywhere: any text parses or names its line, a parsed table written again
// reads back the same, and the spreadsheet mark comes off as it went on.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/csv.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  kvtapp::CsvTable table;
  try {
    table = kvtapp::ParseCsv(text);
  } catch (const std::runtime_error&) {
    return 0;
  }
  if (table.rows.size() != table.lines.size()) __builtin_trap();
  if (table.rows.empty()) return 0;
  std::string again;
  for (const auto& row : table.rows) {
    for (const auto& cell : row) {
      if (kvtapp::FromSpreadsheetSafe(kvtapp::SpreadsheetSafe(cell)) != cell) __builtin_trap();
    }
    again += kvtapp::CsvRow(row, table.separator);
  }
  // A table whose first row is one empty cell is written as a blank line, which reads as none.
  if (table.rows[0].size() == 1 && table.rows[0][0].empty()) return 0;
  if (again.starts_with("\xEF\xBB\xBF")) return 0;  // read as the byte-order mark
  // A header of one cell has no separator to tell: the reader takes ';'.
  const char expected = table.rows[0].size() > 1 ? table.separator : ';';
  kvtapp::CsvTable back;
  try {
    back = kvtapp::ParseCsv(again);
  } catch (const std::runtime_error&) {
    if (expected == table.separator) __builtin_trap();
    return 0;
  }
  if (back.separator != expected) __builtin_trap();
  if (back.separator == table.separator && back.rows != table.rows) __builtin_trap();
  return 0;
}
