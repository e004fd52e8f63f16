// One document entered on a workspace's form the way a person does it: each named field is
// entered, its value given (a code chosen, a date picked, text pasted) and left, so that its
// checks and scripts run; then required fields are checked and the document stored. Shared by
// `enter` and the batch import.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/workspace.h"

namespace kvtapp {

using Values = std::vector<std::pair<std::string, std::string>>;  // field name, value

/// Why values cannot be entered as given (an unknown field, a field given twice, a value longer
/// than its field, a control character, a line end in a one-line field): one line each, empty
/// when they can; in English, as the command line's other errors. A row of ImportRows is
/// refused for the same reasons in Italian, in the words the rules use at a save.
std::vector<std::string> CheckValues(Workspace& w, const Values& values);

struct EntryOutcome {
  std::int32_t stored = 0;   // the new document's id; 0 when refused (or not stored)
  bool accepted = false;     // every check passed (with `store` false nothing is stored)
  bool bad_value = false;    // a control refused a value (a code not in its list)
  bool conflict = false;     // the stored document changed since the version corrected
  bool unchanged = false;    // a correction that changes nothing: accepted, nothing written
  std::int32_t version = 0;  // the version stored (1 for a new document), or kept (unchanged)
  /// Why it was refused: the field ("" for the document) and the message, in order.
  std::vector<std::pair<std::string, std::string>> reasons;
};

/// Enters `values` (already checked) on the form, which must be empty, and saves it by the
/// document session's rules; `messages` gives the message boxes the form showed since it was
/// last asked (a failed script) and forgets them. An error of a control (a code not in its
/// list) is a reason too; so is a probable duplicate, unless `allow_duplicates`.
EntryOutcome EnterDocument(Workspace& w, const Values& values,
                           const std::function<std::vector<std::string>()>& messages, bool store,
                           bool allow_duplicates = false);

/// Corrects stored document `id`, read by the caller at `version`, on the workspace's form:
/// opens it, enters `values` over it as EnterDocument does and saves it by the same rules. A
/// change stored meanwhile by someone else is a conflict (nothing written; the reasons say who
/// changed what).
EntryOutcome CorrectStoredDocument(Workspace& w, std::int32_t id, std::int32_t version,
                                   const Values& values,
                                   const std::function<std::vector<std::string>()>& messages,
                                   bool allow_duplicates = false);

struct ImportResult {
  std::size_t accepted = 0;  // stored, or (not storing) that would have been
  std::size_t refused = 0;
  std::size_t skipped = 0;  // data rows passed over (ImportOptions::skip)
  /// What is in the database for certain: documents of committed transactions, and the last
  /// data row those transactions covered (0: none). An error stopping the import leaves
  /// everything after that row unstored.
  std::size_t committed = 0;
  std::size_t committed_through = 0;
};

struct ImportOptions {
  bool store = true;              // false: check every row, store nothing
  std::size_t skip = 0;           // the first data rows to pass over (stored by an earlier run)
  bool atomic = false;            // every row in one transaction: all stored or none
  bool allow_duplicates = false;  // store rows whose index fields equal a stored document's
  /// Rows to a transaction unless atomic: a couple of thousand are a fraction of a second of
  /// writing, and a commit writes the index pages those rows share once.
  std::size_t rows_per_commit = 2000;
  /// When set, a file-link field's cell names a file (relative to this folder unless absolute)
  /// kept with its row's document; a file that cannot be kept refuses the row.
  std::optional<std::string> files_from;
};

/// Enters every data row of a table (the first row names the fields) on the workspace's form,
/// built once and emptied between rows; stores the accepted rows when storing. A blank cell
/// leaves its field blank. `refused(row, reasons)` is told each refused row (rows counted from
/// 1 after the header), `progress(done, total)` after each row. `result` is kept up to date as
/// the rows go, so that after an error it still says what was stored.
void ImportRows(
    Workspace& w, const std::vector<std::vector<std::string>>& rows,
    const std::function<std::vector<std::string>()>& messages, const ImportOptions& options,
    const std::function<void(
        std::size_t row, const std::vector<std::pair<std::string, std::string>>& reasons)>& refused,
    const std::function<void(std::size_t done, std::size_t total)>& progress, ImportResult& result);

/// Gives the next data row; false after the last.
using RowSource = std::function<bool(std::vector<std::string>& row)>;
/// The same over rows read as they are needed (a file of any size in constant memory): the
/// header names the fields; `progress` is told the rows done so far (total 0: not known).
void ImportRows(
    Workspace& w, const std::vector<std::string>& header, const RowSource& next,
    const std::function<std::vector<std::string>()>& messages, const ImportOptions& options,
    const std::function<void(
        std::size_t row, const std::vector<std::pair<std::string, std::string>>& reasons)>& refused,
    const std::function<void(std::size_t done, std::size_t total)>& progress, ImportResult& result);

}  // namespace kvtapp
