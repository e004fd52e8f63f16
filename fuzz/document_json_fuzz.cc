// A document's row as the SQLite engine reads it for an export: whatever a file holds, the
// engine's own reader either agrees value for value with SQLite's json_each or leaves the row
// to it; and any text written comes back byte for byte.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/sqlite/document_json.h"

namespace {

// The texts SQLite's json_each gives for `content`, as the engine turns them into text; false
// when SQLite refuses it.
bool SqliteTexts(sqlite3* db, const std::string& content, std::vector<std::string>& out) {
  sqlite3_stmt* q = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT key, value FROM json_each(?1)", -1, &q, nullptr) != SQLITE_OK)
    __builtin_trap();
  sqlite3_bind_text(q, 1, content.data(), static_cast<int>(content.size()), SQLITE_STATIC);
  int rc = 0;
  while ((rc = sqlite3_step(q)) == SQLITE_ROW) {
    const auto text = [&](int c) {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(q, c));
      return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(q, c)));
    };
    out.push_back(text(0));
    switch (sqlite3_column_type(q, 1)) {
      case SQLITE_NULL:
        out.emplace_back();
        break;
      case SQLITE_INTEGER: {
        const std::int64_t v = sqlite3_column_int64(q, 1);
        out.push_back(kvt::JoinText(v >= std::numeric_limits<std::int32_t>::min() &&
                                            v <= std::numeric_limits<std::int32_t>::max()
                                        ? kvt::Variant(static_cast<std::int32_t>(v))
                                        : kvt::Variant(static_cast<double>(v))));
        break;
      }
      case SQLITE_FLOAT:
        out.push_back(kvt::JoinText(kvt::Variant(sqlite3_column_double(q, 1))));
        break;
      default: {
        std::string decoded;
        out.push_back(kvtsqlite::DecodeJsonText(text(1), decoded) ? decoded : text(1));
      }
    }
  }
  sqlite3_finalize(q);
  return rc == SQLITE_DONE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static sqlite3* db = [] {
    sqlite3* d = nullptr;
    sqlite3_open(":memory:", &d);
    return d;
  }();
  const std::string input(reinterpret_cast<const char*>(data), size);
  std::string buffer = "before";
  std::vector<std::pair<std::size_t, std::size_t>> ends;
  if (kvtsqlite::ScanDocumentTexts(input, buffer, ends)) {
    std::vector<std::string> expected;
    if (!SqliteTexts(db, input, expected) || expected.size() != 2 * ends.size()) __builtin_trap();
    std::size_t from = 6;
    for (std::size_t i = 0; i < ends.size(); ++i) {
      if (buffer.substr(from, ends[i].first - from) != expected[2 * i]) __builtin_trap();
      if (buffer.substr(ends[i].first, ends[i].second - ends[i].first) != expected[2 * i + 1])
        __builtin_trap();
      from = ends[i].second;
    }
  } else if (buffer != "before" || !ends.empty()) {
    __builtin_trap();
  }
  // The input as a value and as a name, written and read again.
  std::string row = "{";
  kvtsqlite::AppendJsonName(row, "a");
  row += ':';
  kvtsqlite::AppendJsonText(row, input);
  row += '}';
  std::vector<std::string> back;
  if (!SqliteTexts(db, row, back) || back.size() != 2 || back[1] != input) __builtin_trap();
  buffer.clear();
  ends.clear();
  if (kvtsqlite::ScanDocumentTexts(row, buffer, ends) &&
      (ends.size() != 1 || buffer.substr(ends[0].first) != input)) {
    __builtin_trap();
  }
  return 0;
}
