#include "common/document_export.h"

#include <algorithm>
#include <unordered_map>

#include "common/csv.h"
#include "runtime/error.h"
#include "runtime/text.h"

namespace kvtapp {

namespace {

// A value under a name the header has no column for.
struct NoColumn {
  std::string field;
};

std::size_t WriteCsv(kvtengine::ArchiveEngine& engine, const std::string& archive,
                     const std::vector<std::string>& form_fields, const ExportOptions& options,
                     OutputFile& output, bool read_names) {
  std::vector<std::string> columns = form_fields;
  std::unordered_map<std::string, std::size_t> column_of;
  for (std::size_t c = 0; c < columns.size(); ++c) column_of.emplace(columns[c], c);
  // Values stored under names the form no longer has get columns of their own. Only when some
  // document anywhere holds such a name (or the engine's list of names was found short) is
  // the archive read for them first.
  if (!read_names) {
    const auto stored = engine.StoredFieldNames();
    read_names = std::any_of(stored.begin(), stored.end(),
                             [&](const std::string& n) { return !column_of.contains(n); });
  }
  if (read_names) {
    for (auto& name : engine.DocumentFieldNames(archive)) {
      if (column_of.emplace(name, columns.size()).second) columns.push_back(std::move(name));
    }
  }
  auto cell = [&](std::string text) {
    return options.raw ? text : SpreadsheetSafe(std::move(text));
  };
  std::vector<std::string> row;
  for (const auto& c : columns) row.push_back(cell(c));
  output.Write(CsvRow(row, options.separator));
  std::size_t written = 0;
  // Each line is written from the document's own texts, nothing copied on the way; a field is
  // looked up by name only where it stands elsewhere than in the document before.
  std::vector<std::string_view> cells(columns.size());
  std::vector<std::pair<std::string, std::size_t>> column_at;  // by place in the document
  std::string line;
  engine.ReadDocumentTexts(archive, [&](const kvtengine::DocumentText& d) {
    std::fill(cells.begin(), cells.end(), std::string_view());
    for (std::size_t i = 0; i < d.values.size(); ++i) {
      const auto& [field, text] = d.values[i];
      if (i >= column_at.size() || column_at[i].first != field) {
        auto it = column_of.find(std::string(field));
        if (it == column_of.end()) throw NoColumn{std::string(field)};
        if (i >= column_at.size()) column_at.resize(i + 1);
        column_at[i] = {std::string(field), it->second};
      }
      cells[column_at[i].second] = text;
    }
    line.clear();
    for (std::size_t c = 0; c < cells.size(); ++c) {
      if (c) line += options.separator;
      if (!cells[c].empty()) AppendCsvCell(line, cells[c], !options.raw);
    }
    line += "\r\n";
    output.Write(line);
    ++written;
  });
  return written;
}

}  // namespace

std::size_t ExportCsv(kvtengine::ArchiveEngine& engine, const std::string& archive,
                      const std::vector<std::string>& form_fields, const ExportOptions& options,
                      OutputFile& output) {
  try {
    return WriteCsv(engine, archive, form_fields, options, output, false);
  } catch (const NoColumn& missing) {
    // The list of names every document holds is short (a file from elsewhere), or a document
    // was stored meanwhile: once more, the names read from the documents themselves.
    if (output.StartOver()) {
      try {
        return WriteCsv(engine, archive, form_fields, options, output, true);
      } catch (const NoColumn&) {
      }
    }
    // Nothing is written rather than a value lost.
    throw kvt::Error(2, "kvtfields",
                     "a document holds a value of '" + kvt::Printable(missing.field) +
                         "', which has no column (stored during the export?): export again" +
                         (output.Name() == "standard output" ? ", to a file with --out" : ""));
  }
}

std::size_t ExportJson(kvtengine::ArchiveEngine& engine, const std::string& archive,
                       OutputFile& output) {
  output.Write("[");
  std::size_t written = 0;
  engine.ReadDocuments(archive, [&](kvtengine::StoredDocument&& d) {
    std::string text = written ? ",\n  {" : "\n  {";
    text += "\"id\": " + std::to_string(d.id) + ", \"saved_at\": " + kvt::QuotedText(d.saved_at) +
            ", \"values\": {";
    for (std::size_t v = 0; v < d.values.size(); ++v) {
      if (v) text += ", ";
      text += kvt::QuotedText(d.values[v].first) + ": " +
              (d.values[v].second.IsNull() ? std::string("null")
                                           : kvt::QuotedText(kvt::JoinText(d.values[v].second)));
    }
    output.Write(text + "}}");
    ++written;
  });
  output.Write(written ? "\n]\n" : "]\n");
  return written;
}

}  // namespace kvtapp
