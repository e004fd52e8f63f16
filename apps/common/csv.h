// CSV as spreadsheets write it: fields separated by ';' (Italian spreadsheets) or ',', quoted
// with '"' when they hold a separator, a quote ("" inside) or a line end; UTF-8, a byte-order
// mark at the start is skipped.
#pragma once

#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace kvtapp {

struct CsvTable {
  char separator = ';';
  std::vector<std::vector<std::string>> rows;  // the header row first
  std::vector<int> lines;                      // the file line each row starts on
};

/// Reads CSV a row at a time from a stream, in constant memory; the separator is the one of
/// ';' and ',' that the header row uses more.
class CsvReader {
 public:
  explicit CsvReader(std::istream& in);
  /// The next row and the file line it starts on; false after the last. A quote left open, or
  /// a stream that fails, raises std::runtime_error (naming the line).
  bool Next(std::vector<std::string>& row, int& line);
  /// Known once the first row was read.
  char Separator() const { return separator_; }

 private:
  void Start();
  int Get();
  int Peek();
  std::istream& in_;
  std::string pending_;  // the header row, read ahead to find the separator
  std::size_t pending_at_ = 0;
  bool started_ = false;
  char separator_ = ';';
  int line_ = 1;
};

/// Reads CSV text whole (CsvReader over it).
CsvTable ParseCsv(std::string_view text);

/// One row of CSV (ending with "\r\n"), quoting cells that hold a quote, a line end or either
/// separator.
std::string CsvRow(const std::vector<std::string>& fields, char separator);
/// Appends one cell as CsvRow writes it; `spreadsheet_safe`: as SpreadsheetSafe(cell) would be.
void AppendCsvCell(std::string& line, std::string_view cell, bool spreadsheet_safe);

/// A cell a spreadsheet would take for a formula (it starts with '=', '+', '-', '@', a tab or a
/// carriage return) with a leading apostrophe, so that it shows as text; a cell that already
/// starts with apostrophes before such a character gets one more, so that nothing is lost.
std::string SpreadsheetSafe(std::string cell);
/// The cell as it was before SpreadsheetSafe: that apostrophe removed.
std::string FromSpreadsheetSafe(std::string cell);

}  // namespace kvtapp
