#include "common/csv.h"

#include <sstream>
#include <stdexcept>

namespace kvtapp {

CsvReader::CsvReader(std::istream& in) : in_(in) {}

int CsvReader::Get() {
  if (pending_at_ < pending_.size()) return static_cast<unsigned char>(pending_[pending_at_++]);
  const int c = in_.get();
  if (c == std::char_traits<char>::eof() && in_.bad()) throw std::runtime_error("cannot be read");
  return c;
}

int CsvReader::Peek() {
  if (pending_at_ < pending_.size()) return static_cast<unsigned char>(pending_[pending_at_]);
  return in_.peek();
}

void CsvReader::Start() {
  started_ = true;
  // The header row decides the separator (outside quotes): read ahead to its end, then parse
  // it like any row from what was read.
  bool quoted = false;
  int semicolons = 0, commas = 0;
  for (int c = in_.get(); c != std::char_traits<char>::eof(); c = in_.get()) {
    pending_ += static_cast<char>(c);
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == '\n' || c == '\r')) break;
    if (!quoted) semicolons += c == ';', commas += c == ',';
  }
  if (in_.bad()) throw std::runtime_error("cannot be read");
  if (pending_.starts_with("\xEF\xBB\xBF")) pending_at_ = 3;
  separator_ = commas > semicolons ? ',' : ';';
}

bool CsvReader::Next(std::vector<std::string>& row, int& line) {
  if (!started_) Start();
  for (;;) {  // until a row that is not blank
    row.clear();
    std::string field;
    bool in_quotes = false, field_started = false, any = false, ended = false;
    const int row_line = line_;
    auto end_field = [&] {
      row.push_back(std::move(field));
      field.clear();
      field_started = false;
    };
    for (int c = Get(); c != std::char_traits<char>::eof(); c = Get()) {
      any = true;
      if (in_quotes) {
        if (c == '"') {
          if (Peek() == '"') {
            field += '"';
            Get();
          } else {
            in_quotes = false;
          }
        } else {
          if (c == '\n') ++line_;
          field += static_cast<char>(c);
        }
        continue;
      }
      if (c == '"' && !field_started) {
        in_quotes = field_started = true;
      } else if (c == separator_) {
        end_field();
      } else if (c == '\r' || c == '\n') {
        if (c == '\r' && Peek() == '\n') Get();
        ++line_;
        ended = true;
        break;
      } else {
        field += static_cast<char>(c);
        field_started = true;
      }
    }
    if (in_quotes) {
      throw std::runtime_error("line " + std::to_string(row_line) + ": a quote is not closed");
    }
    if (!ended && (!any || (!field_started && row.empty()))) return false;
    end_field();
    if (row.size() == 1 && row[0].empty()) continue;  // blank lines are no rows
    line = row_line;
    return true;
  }
}

CsvTable ParseCsv(std::string_view text) {
  std::istringstream in{std::string(text)};
  CsvReader reader(in);
  CsvTable t;
  std::vector<std::string> row;
  int line = 0;
  while (reader.Next(row, line)) {
    t.rows.push_back(row);
    t.lines.push_back(line);
  }
  t.separator = reader.Separator();
  return t;
}

namespace {

// True when the cell, past any leading apostrophes, starts as a formula does.
bool LooksLikeFormula(std::string_view cell) {
  const std::size_t at = cell.find_first_not_of('\'');
  return at != std::string_view::npos &&
         std::string_view("=+-@\t\r").find(cell[at]) != std::string_view::npos;
}

}  // namespace

void AppendCsvCell(std::string& line, std::string_view cell, bool spreadsheet_safe) {
  const bool formula = spreadsheet_safe && LooksLikeFormula(cell);
  // Both separators are quoted, whichever is used: a reader that guesses the separator from
  // the header then finds only the real one outside quotes.
  if (cell.find_first_of("\"\r\n;,") == std::string_view::npos) {
    if (formula) line += '\'';
    line += cell;
    return;
  }
  line += '"';
  if (formula) line += '\'';
  for (const char c : cell) {
    if (c == '"') line += '"';
    line += c;
  }
  line += '"';
}

std::string CsvRow(const std::vector<std::string>& fields, char separator) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i) out += separator;
    AppendCsvCell(out, fields[i], false);
  }
  out += "\r\n";
  return out;
}

std::string SpreadsheetSafe(std::string cell) {
  if (LooksLikeFormula(cell)) cell.insert(cell.begin(), '\'');
  return cell;
}

std::string FromSpreadsheetSafe(std::string cell) {
  if (cell.starts_with('\'') && LooksLikeFormula(cell)) cell.erase(0, 1);
  return cell;
}

}  // namespace kvtapp
