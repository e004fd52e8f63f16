// The code-list filter text, read by a small strict grammar and turned into a prepared query
// with bound values, so that no part of the text is ever spliced into SQL:
//
//   filter     := [condition {"and" condition}] ["order" "by" column ["asc" | "desc"]]
//   condition  := column "=" literal
//   column     := archive | fieldType | cod | value          (letter case ignored)
//   literal    := "'" {any character but "'" | "''"} "'"
//
// The text the component builds is read first as its own fixed shape,
//   "archive = '" name "' and fieldType='" name "' order by cod",
// with the names taken whole between the fixed pieces, apostrophes included.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvtengine {

struct CodeFilter {
  /// Column (as named in SQL) and the literal it must equal, in the order written.
  std::vector<std::pair<std::string, std::string>> equals;
  std::string order_by;  // a column as named in SQL, or empty
  bool descending = false;

  /// The SELECT over the code table that this filter's shape needs; values bind as
  /// `placeholder`1, `placeholder`2 ... ('?' for SQLite, '$' for PostgreSQL).
  std::string Sql(char placeholder = '?') const;
  /// True for the component's own shape: archive and field, in code order.
  bool IsArchiveField() const;
};

/// Parses a filter; text outside the grammar raises kBadFilter from `source` and describes where.
CodeFilter ParseCodeFilter(std::string_view text, const char* source = "kvtDBEngine.DBEngine");

}  // namespace kvtengine
