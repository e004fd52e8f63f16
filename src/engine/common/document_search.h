// Searching stored documents in the database. Every stored value carries a search key beside
// it: dates and numbers as order-keeping text, other text in lower case; the keys sit in one
// index per field, so a search reads the matching documents, not the archive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/common/engine_error.h"
#include "runtime/variant.h"

namespace kvtengine {

/// How a field's values compare when searched.
enum class SearchKind { kText = 0, kNumber = 1, kDate = 2 };

/// The kind of a field by its definition's "Type" and "DATA_FORMAT": a calendar holds dates, a
/// text box with data format 1 numbers, anything else text.
SearchKind SearchKindOf(const kvt::Variant& type, const kvt::Variant& data_format);

/// A search sees the first this many characters of a text value (its index stays small).
inline constexpr std::size_t kSearchKeyChars = 200;

/// The key a value is searched by; nothing for Null, Empty and "". A date or number field's
/// value that is not one is keyed as text.
std::optional<std::string> SearchKey(SearchKind kind, const kvt::Variant& value);

/// One condition of a search, as a person writes it.
struct Criterion {
  enum class Op { kEqual, kPrefix, kContains, kRange, kWords };
  std::string field;  // empty: any field (contains only); kWords: always empty
  Op op = Op::kEqual;
  std::string value;  // kRange: the lower end, empty when open
  std::string to;     // kRange: the upper end, empty when open
};

/// Reads "F=V" (equal), "F^P" (starts with), "F~T" (contains), "F=A..B", "F=A.." or "F=..B"
/// (a range, ends included); anything else raises 5 from `source`.
Criterion ParseCriterion(std::string_view text, const char* source);

/// A word a person searches the documents' pages for.
struct WordTerm {
  std::string text;     // one word, or the words of a phrase
  bool phrase = false;  // the words in this order, next to each other
  bool prefix = false;  // any word starting with `text`
};
/// The words of a text as the pages' words are searched: letters and digits (any beyond ASCII
/// counting as letters) make words, anything else parts them.
std::vector<std::string> SearchWords(std::string_view text);
/// The terms of a words search, as a person writes it: words (every one must be on the pages),
/// "a phrase in quotes", a prefix* ; none raises 5 from `source`.
std::vector<WordTerm> ParseWords(std::string_view text, const char* source);

/// A criterion as a condition on the stored keys.
struct KeyCondition {
  enum class Op { kEqual, kBetween, kContains, kWords };
  std::string field;  // empty: any field
  Op op = Op::kEqual;
  std::string low, high;        // kEqual: low; kBetween: low ≤ key ≤ high; kContains: low
  std::vector<WordTerm> words;  // kWords: on the pages of a file the document names
};

/// The key condition of `c` on a field of kind `kind`; a value the field cannot hold (a number
/// field searched for "abc", a date range ending in "31/02") raises 5 from `source`.
KeyCondition KeyConditionOf(const Criterion& c, SearchKind kind, const char* source);

/// The SQL of one page of ids, or of their count, for either engine.
struct SearchSql {
  std::string sql;
  std::vector<std::string> params;  // text, numbered from 1
};
/// The ids of the archive's documents meeting every condition, above `after`, ascending, at
/// most `limit`; with `count`, the number of them all instead. A field's condition is read
/// from its index first, and the words' are probed, unless `words_first`.
SearchSql SearchQuery(SqlDialect dialect, const std::string& archive,
                      const std::vector<KeyCondition>& conditions, std::int32_t after,
                      std::int32_t limit, bool count, bool words_first = false);
/// The condition a search reads from a field's index, if any.
std::optional<std::size_t> FieldDriver(const std::vector<KeyCondition>& conditions);
/// How many documents of any archive meet `k` alone, counted up to `cap` in its index, as SQL:
/// whether a field's index or the words' should lead a search of both. Nothing for a condition
/// no index counts.
std::optional<SearchSql> CountUpTo(SqlDialect dialect, const KeyCondition& k, std::int32_t cap);

}  // namespace kvtengine
