#include "common/csv.h"

#include <stdexcept>

namespace kvtapp {

CsvTable ParseCsv(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  CsvTable t;
  // The header row decides the separator (outside quotes).
  int semicolons = 0, commas = 0;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == '\n' || c == '\r')) break;
    if (!quoted) semicolons += c == ';', commas += c == ',';
  }
  t.separator = commas > semicolons ? ',' : ';';

  std::vector<std::string> row;
  std::string field;
  int line = 1, row_line = 1;
  bool in_quotes = false, field_started = false;
  auto end_field = [&] {
    row.push_back(std::move(field));
    field.clear();
    field_started = false;
  };
  auto end_row = [&] {
    end_field();
    if (!(row.size() == 1 && row[0].empty())) {  // blank lines are no rows
      t.rows.push_back(std::move(row));
      t.lines.push_back(row_line);
    }
    row.clear();
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_quotes) {
      if (c == '"') {
        if (i + 1 < text.size() && text[i + 1] == '"') {
          field += '"';
          ++i;
        } else {
          in_quotes = false;
        }
      } else {
        if (c == '\n') ++line;
        field += c;
      }
      continue;
    }
    if (c == '"' && !field_started) {
      in_quotes = field_started = true;
    } else if (c == t.separator) {
      end_field();
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      end_row();
      row_line = ++line;
    } else {
      field += c;
      field_started = true;
    }
  }
  if (in_quotes) {
    throw std::runtime_error("line " + std::to_string(row_line) + ": a quote is not closed");
  }
  if (field_started || !row.empty()) end_row();
  return t;
}

std::string CsvRow(const std::vector<std::string>& fields, char separator) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) out += separator;
    const std::string& f = fields[i];
    // Both separators are quoted, whichever is used: a reader that guesses the separator from
    // the header then finds only the real one outside quotes.
    if (f.find_first_of("\"\r\n;,") == std::string::npos) {
      out += f;
      continue;
    }
    out += '"';
    for (char c : f) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out + "\r\n";
}

namespace {

// True when the cell, past any leading apostrophes, starts as a formula does.
bool LooksLikeFormula(std::string_view cell) {
  const std::size_t at = cell.find_first_not_of('\'');
  return at != std::string_view::npos &&
         std::string_view("=+-@\t\r").find(cell[at]) != std::string_view::npos;
}

}  // namespace

std::string SpreadsheetSafe(std::string cell) {
  if (LooksLikeFormula(cell)) cell.insert(cell.begin(), '\'');
  return cell;
}

std::string FromSpreadsheetSafe(std::string cell) {
  if (cell.starts_with('\'') && LooksLikeFormula(cell)) cell.erase(0, 1);
  return cell;
}

}  // namespace kvtapp
