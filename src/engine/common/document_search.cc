#include "engine/common/document_search.h"

#include <bit>
#include <cctype>
#include <cmath>
#include <functional>

#include "engine/files/page_text.h"
#include "runtime/error.h"
#include "runtime/text.h"

namespace kvtengine {
namespace {

// Number and date keys start with a character no typed text starts with, so they sort apart
// from any text a number field holds from elsewhere.
constexpr char kNumberMark = '\x1e';
// Above every hexadecimal digit: the open upper end of a number range.
constexpr const char* kNumberTop = "\x1eZ";
// The highest character: every text starting with P lies between P and P followed by it.
constexpr const char* kTextTop = "\xf4\x8f\xbf\xbf";

// Sixteen hexadecimal digits whose text order is the numbers' order.
std::string NumberKey(double d) {
  if (d == 0) d = 0;  // -0 and 0 are one number
  auto bits = std::bit_cast<std::uint64_t>(d);
  bits = (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
  std::string key(17, kNumberMark);
  for (int i = 16; i >= 1; --i, bits >>= 4)
    key[static_cast<std::size_t>(i)] = "0123456789ABCDEF"[bits & 15];
  return key;
}

std::string TextKey(std::string_view text) {
  std::string folded = kvt::ToLower(text);
  folded.resize(kvt::ByteOffsetOfChar(folded, kSearchKeyChars));
  return folded;
}

std::optional<double> NumberOf(SearchKind kind, const kvt::Variant& v) {
  if (kind == SearchKind::kDate) {
    if (v.Type() == kvt::VarType::kDate) return v.AsDate().serial;
    kvt::Date d;
    if (v.Type() == kvt::VarType::kString && kvt::ParseDate(v.AsString(), &d)) return d.serial;
    return std::nullopt;
  }
  switch (v.Type()) {
    case kvt::VarType::kInteger:
    case kvt::VarType::kLong:
    case kvt::VarType::kDouble: {
      const double d = kvt::CDbl(v);  // a whole number too
      return std::isfinite(d) ? std::optional<double>(d) : std::nullopt;
    }
    case kvt::VarType::kString: {
      auto d = kvt::ParseLocaleNumber(v.AsString());
      return d && std::isfinite(*d) ? d : std::nullopt;
    }
    default:
      return std::nullopt;
  }
}

kvt::Error Refused(const char* source, const std::string& why) {
  return kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall, why, source);
}

}  // namespace

SearchKind SearchKindOf(const kvt::Variant& type, const kvt::Variant& data_format) {
  if (type.Type() != kvt::VarType::kString) return SearchKind::kText;
  if (type.AsString() == "Calendar") return SearchKind::kDate;
  if (type.AsString() == "TextBox" && kvt::IsNumeric(data_format) && kvt::CLng(data_format) == 1) {
    return SearchKind::kNumber;
  }
  return SearchKind::kText;
}

std::optional<std::string> SearchKey(SearchKind kind, const kvt::Variant& value) {
  if (value.IsNull() || value.IsEmpty()) return std::nullopt;
  if (kind != SearchKind::kText) {
    if (auto n = NumberOf(kind, value)) return NumberKey(*n);
  }
  std::string text;
  try {
    text = kvt::JoinText(value);
  } catch (const kvt::Error&) {
    return std::nullopt;  // an object or array: nothing a person searches for
  }
  if (text.empty()) return std::nullopt;
  return TextKey(text);
}

Criterion ParseCriterion(std::string_view text, const char* source) {
  const std::size_t at = text.find_first_of("=^~");
  if (at == std::string_view::npos || (at == 0 && text[0] != '~')) {
    throw Refused(source, "'" + std::string(text) +
                              "' is not a search: write FIELD=VALUE, FIELD^START, FIELD~TEXT or "
                              "FIELD=FROM..TO");
  }
  Criterion c;
  c.field = std::string(text.substr(0, at));
  const std::string_view rest = text.substr(at + 1);
  switch (text[at]) {
    case '^':
      c.op = Criterion::Op::kPrefix;
      break;
    case '~':
      c.op = Criterion::Op::kContains;
      break;
    default:
      c.op = Criterion::Op::kEqual;
      break;
  }
  if (c.op == Criterion::Op::kEqual) {
    if (const std::size_t dots = rest.find(".."); dots != std::string_view::npos) {
      c.op = Criterion::Op::kRange;
      c.value = std::string(rest.substr(0, dots));
      c.to = std::string(rest.substr(dots + 2));
      if (c.value.empty() && c.to.empty()) {
        throw Refused(source, "the range of '" + c.field + "' has no end: write FROM..TO");
      }
      return c;
    }
  }
  c.value = std::string(rest);
  if (c.value.empty()) throw Refused(source, "the search of '" + c.field + "' has no value");
  return c;
}

std::vector<std::string> SearchWords(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80 || std::isalnum(c)) {
      word += ch;
    } else if (!word.empty()) {
      words.push_back(std::move(word));
      word.clear();
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

std::vector<WordTerm> ParseWords(std::string_view text, const char* source) {
  std::vector<WordTerm> out;
  for (std::size_t i = 0; i < text.size();) {
    if (text[i] == '"') {
      const std::size_t end = text.find('"', i + 1);
      const std::string_view inside =
          text.substr(i + 1, end == std::string_view::npos ? std::string_view::npos : end - i - 1);
      std::string phrase;
      for (const auto& w : SearchWords(inside)) phrase += (phrase.empty() ? "" : " ") + w;
      if (!phrase.empty()) out.push_back({phrase, true, false});
      i = end == std::string_view::npos ? text.size() : end + 1;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && text[end] != ' ' && text[end] != '"') ++end;
    const std::string_view token = text.substr(i, end - i);
    const bool prefix = token.ends_with('*');
    const auto words = SearchWords(token);
    for (std::size_t w = 0; w < words.size(); ++w) {
      out.push_back({words[w], false, prefix && w + 1 == words.size()});
    }
    i = end == i ? i + 1 : end;
  }
  if (out.empty()) throw Refused(source, "'" + std::string(text) + "' holds no word to search for");
  return out;
}

KeyCondition KeyConditionOf(const Criterion& c, SearchKind kind, const char* source) {
  KeyCondition k;
  k.field = c.field;
  if (c.op == Criterion::Op::kWords) {
    k.field.clear();
    k.op = KeyCondition::Op::kWords;
    k.words = ParseWords(c.value, source);
    return k;
  }
  const bool text = kind == SearchKind::kText;
  const std::string what = kind == SearchKind::kDate ? "a date" : "a number";
  auto number = [&](const std::string& v) {
    auto n = NumberOf(kind, kvt::Variant(v));
    if (!n)
      throw Refused(source,
                    "'" + c.field + "' holds dates and numbers: '" + v + "' is not " + what);
    return NumberKey(*n);
  };
  switch (c.op) {
    case Criterion::Op::kEqual:
      k.op = KeyCondition::Op::kEqual;
      k.low = text ? TextKey(c.value) : number(c.value);
      break;
    case Criterion::Op::kPrefix:
    case Criterion::Op::kContains:
      if (!text && !c.field.empty()) {
        throw Refused(source, "'" + c.field + "' holds " +
                                  (kind == SearchKind::kDate ? "dates" : "numbers") +
                                  ": search it for a value (F=V) or a range (F=FROM..TO)");
      }
      k.op =
          c.op == Criterion::Op::kPrefix ? KeyCondition::Op::kBetween : KeyCondition::Op::kContains;
      k.low = TextKey(c.value);
      if (c.op == Criterion::Op::kPrefix) k.high = k.low + kTextTop;
      break;
    case Criterion::Op::kRange:
      k.op = KeyCondition::Op::kBetween;
      if (text) {
        k.low = TextKey(c.value);
        k.high = c.to.empty() ? std::string(kTextTop) : TextKey(c.to);
      } else {
        k.low = c.value.empty() ? std::string(1, kNumberMark) : number(c.value);
        k.high = c.to.empty() ? std::string(kNumberTop) : number(c.to);
      }
      break;
    case Criterion::Op::kWords:  // above
      break;
  }
  if (c.field.empty() && k.op != KeyCondition::Op::kContains) {
    throw Refused(source, "only a search for a text may look in every field");
  }
  return k;
}

std::optional<std::size_t> FieldDriver(const std::vector<KeyCondition>& conditions) {
  // The most selective kind of condition on one field.
  for (const auto op :
       {KeyCondition::Op::kEqual, KeyCondition::Op::kBetween, KeyCondition::Op::kContains}) {
    for (std::size_t i = 0; i < conditions.size(); ++i) {
      if (conditions[i].op == op && !conditions[i].field.empty()) return i;
    }
  }
  return std::nullopt;
}

namespace {

// The words a document's pages must hold, as the engine's text search takes them: each term a
// parameter (`param` numbers it), its own characters taken literally.
std::string WordsMatch(SqlDialect dialect, const KeyCondition& k,
                       const std::function<std::string(std::string)>& param) {
  std::string match;
  if (dialect == SqlDialect::kSqlite) {
    for (const WordTerm& t : k.words) {
      if (!match.empty()) match += ' ';
      match += '"';
      for (const char ch : t.text) match += ch == '"' ? std::string("\"\"") : std::string(1, ch);
      match += t.prefix ? "\"*" : "\"";
    }
    return param(match);
  }
  for (const WordTerm& t : k.words) {
    if (!match.empty()) match += " && ";
    const std::string folded = kvtfiles::FoldAccents(t.text);
    if (t.phrase) {
      match += "phraseto_tsquery('italian', " + param(folded) + ")";
    } else if (t.prefix) {
      match += "to_tsquery('italian', " + param(folded + ":*") + ")";
    } else {
      match += "plainto_tsquery('italian', " + param(folded) + ")";
    }
  }
  return "(" + match + ")";
}

}  // namespace

std::optional<SearchSql> CountUpTo(SqlDialect dialect, const KeyCondition& k, std::int32_t cap) {
  const bool lite = dialect == SqlDialect::kSqlite;
  SearchSql out;
  auto param = [&](std::string value) {
    out.params.push_back(std::move(value));
    return (lite ? "?" : "$") + std::to_string(out.params.size());
  };
  std::string from;
  switch (k.op) {
    case KeyCondition::Op::kWords:
      from = lite ? "document_words WHERE document_words MATCH " + WordsMatch(dialect, k, param)
                  : "document_words WHERE words @@ " + WordsMatch(dialect, k, param);
      break;
    case KeyCondition::Op::kEqual:
      from = std::string(lite ? "document_keys" : "document_values") +
             " WHERE field = " + param(k.field) + " AND search = " + param(k.low);
      break;
    case KeyCondition::Op::kBetween:
      from = std::string(lite ? "document_keys" : "document_values") +
             " WHERE field = " + param(k.field) + " AND search BETWEEN " + param(k.low) + " AND " +
             param(k.high);
      break;
    case KeyCondition::Op::kContains:  // no index finds it: not counted
      return std::nullopt;
  }
  out.sql = "SELECT count(*) FROM (SELECT 1 FROM " + from + " LIMIT " + std::to_string(cap) +
            ") AS found";
  return out;
}

SearchSql SearchQuery(SqlDialect dialect, const std::string& archive,
                      const std::vector<KeyCondition>& conditions, std::int32_t after,
                      std::int32_t limit, bool count, bool words_first) {
  const bool lite = dialect == SqlDialect::kSqlite;
  SearchSql out;
  auto param = [&](std::string value) {
    out.params.push_back(std::move(value));
    return (lite ? "?" : "$") + std::to_string(out.params.size());
  };
  const std::string archive_param = param(archive);
  auto words_match = [&](const KeyCondition& k) { return WordsMatch(dialect, k, param); };
  // The words as a condition on document `d`.
  auto words_condition = [&](const KeyCondition& k) -> std::string {
    if (lite) {
      return "d.id IN (SELECT rowid FROM document_words WHERE document_words MATCH " +
             words_match(k) + ")";
    }
    return "d.id IN (SELECT document FROM document_words WHERE words @@ " + words_match(k) + ")";
  };
  // The condition on the values of alias `v`.
  auto condition = [&](const KeyCondition& k, const std::string& v) {
    std::string sql = k.field.empty() ? "" : v + ".field = " + param(k.field) + " AND ";
    switch (k.op) {
      case KeyCondition::Op::kEqual:
        return sql + v + ".search = " + param(k.low);
      case KeyCondition::Op::kBetween:
        return sql + v + ".search BETWEEN " + param(k.low) + " AND " + param(k.high);
      case KeyCondition::Op::kWords:
        return words_condition(k);
      case KeyCondition::Op::kContains: {
        // A number's or date's key is no text; in every field they are searched as written
        // ("1026", "12/2026"): their stored value holds what is typed. (SQLite searches every
        // field in the rows only, below.)
        const bool anywhere = k.field.empty();
        if (lite) return sql + "instr(" + v + ".search, " + param(k.low) + ") > 0";
        // LIKE, so that a trigram index serves it; its own characters taken literally.
        std::string pattern = "%";
        for (char ch : k.low) {
          if (ch == '%' || ch == '_' || ch == '\\') pattern += '\\';
          pattern += ch;
        }
        const std::string like = param(pattern + "%");
        if (!anywhere) return sql + v + ".search LIKE " + like;
        return "(" + v + ".search LIKE " + like + " OR (left(" + v + ".search, 1) = chr(30) AND (" +
               v + ".value #>> '{}') LIKE " + like + "))";
      }
    }
    return sql;
  };
  // SQLite: the condition on a document's own keys, read from its row.
  auto probe_row = [&](const KeyCondition& k) {
    if (k.op == KeyCondition::Op::kWords) return words_condition(k);
    std::string sql = k.field.empty() ? "" : "v.key = " + param(k.field) + " AND ";
    switch (k.op) {
      case KeyCondition::Op::kEqual:
        sql += "v.value = " + param(k.low);
        break;
      case KeyCondition::Op::kBetween:
        sql += "v.value BETWEEN " + param(k.low) + " AND " + param(k.high);
        break;
      case KeyCondition::Op::kWords:  // above
        break;
      case KeyCondition::Op::kContains: {
        const std::string text = param(k.low);
        const std::string in_key = "instr(v.value, " + text + ") > 0";
        if (!k.field.empty()) {
          sql += in_key;
        } else {
          sql += "(" + in_key +
                 " OR (substr(v.value, 1, 1) = char(30) AND EXISTS (SELECT 1 FROM "
                 "json_each(d.content) c WHERE c.key = v.key AND instr(c.value, " +
                 text + ") > 0)))";
        }
        break;
      }
    }
    return "EXISTS (SELECT 1 FROM json_each(d.search_keys) v WHERE " + sql + ")";
  };
  // The most selective condition on one field drives the query from the key index; the others
  // are probed per document (PostgreSQL: on its (document, field) key; SQLite: in its row).
  // Else, or first when asked, the words do: their index reads the documents holding them in
  // the documents' order, so that a page of a common word's documents stops at the page.
  const std::optional<std::size_t> field = FieldDriver(conditions);
  std::size_t lead = conditions.size();  // none
  for (std::size_t i = 0; i < conditions.size() && lead == conditions.size(); ++i) {
    if (conditions[i].op == KeyCondition::Op::kWords && (!field || words_first)) lead = i;
  }
  const bool by_words = lead < conditions.size();
  if (!by_words && field) lead = *field;
  std::string sql, id;
  if (lead < conditions.size() && !by_words) {
    id = "v0.document";
    sql = lite ? " FROM document_keys v0 CROSS JOIN documents d ON d.id = v0.document WHERE "
               : " FROM document_values v0 JOIN documents d ON d.id = v0.document WHERE ";
    sql += condition(conditions[lead], "v0") + " AND d.archive = " + archive_param;
  } else if (by_words) {
    const std::string match = words_match(conditions[lead]);
    id = lite ? "w0.rowid" : "d.id";
    sql = lite ? " FROM document_words w0 CROSS JOIN documents d ON d.id = w0.rowid WHERE "
                 "w0.document_words MATCH " +
                     match
               : " FROM (SELECT document AS id, archive, words FROM document_words) d WHERE "
                 "d.words @@ " +
                     match;
    sql += " AND d.archive = " + archive_param;
  } else {
    id = "d.id";
    sql = " FROM documents d WHERE d.archive = " + archive_param;
  }
  for (std::size_t i = 0; i < conditions.size(); ++i) {
    if (i == lead) continue;
    if (conditions[i].op == KeyCondition::Op::kWords) {
      sql += " AND " + words_condition(conditions[i]);
      continue;
    }
    sql += lite ? " AND " + probe_row(conditions[i])
                : " AND EXISTS (SELECT 1 FROM document_values v WHERE v.document = d.id AND " +
                      condition(conditions[i], "v") + ")";
  }
  if (count) {
    out.sql = "SELECT count(*)" + sql;
  } else {
    // The page's bounds are parameters too: one prepared statement serves every page.
    const std::string above = param(std::to_string(after));
    out.sql = "SELECT " + id + sql + " AND " + id + " > " + above + " ORDER BY " + id + " LIMIT " +
              param(std::to_string(limit));
  }
  return out;
}

}  // namespace kvtengine
