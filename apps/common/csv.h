// CSV as spreadsheets write it: fields separated by ';' (Italian spreadsheets) or ',', quoted
// with '"' when they hold a separator, a quote ("" inside) or a line end; UTF-8, a byte-order
// mark at the start is skipped.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvtapp {

struct CsvTable {
  char separator = ';';
  std::vector<std::vector<std::string>> rows;  // the header row first
  std::vector<int> lines;                      // the file line each row starts on
};

/// Reads CSV text; the separator is the one of ';' and ',' that the header row uses more.
/// A quote left open raises std::runtime_error naming its line.
CsvTable ParseCsv(std::string_view text);

/// One row of CSV (ending with "\r\n"), quoting cells that hold a quote, a line end or either
/// separator.
std::string CsvRow(const std::vector<std::string>& fields, char separator);

/// A cell a spreadsheet would take for a formula (it starts with '=', '+', '-', '@', a tab or a
/// carriage return) with a leading apostrophe, so that it shows as text; a cell that already
/// starts with apostrophes before such a character gets one more, so that nothing is lost.
std::string SpreadsheetSafe(std::string cell);
/// The cell as it was before SpreadsheetSafe: that apostrophe removed.
std::string FromSpreadsheetSafe(std::string cell);

}  // namespace kvtapp
