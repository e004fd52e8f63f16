#include "engine/common/code_filter.h"

#include <optional>

#include "engine/common/engine_error.h"
#include "runtime/text.h"

namespace kvtengine {
namespace {

// Columns a filter may name, with their SQL spelling.
std::optional<std::string> KnownColumn(std::string_view name) {
  static constexpr std::pair<const char*, const char*> kColumns[] = {{"archive", "archive"},
                                                                     {"fieldType", "fieldType"},
                                                                     {"cod", "\"COD\""},
                                                                     {"value", "\"VALUE\""}};
  for (const auto& [written, sql] : kColumns) {
    if (kvt::EqualsIgnoreCase(name, written)) return std::string(sql);
  }
  return std::nullopt;
}

class Parser {
 public:
  Parser(std::string_view text, const char* source) : s_(text), source_(source) {}

  CodeFilter Parse() {
    CodeFilter f;
    SkipBlanks();
    if (AtEnd()) return f;
    if (!PeekKeyword("order")) {
      do {
        std::string column = Column();
        SkipBlanks();
        Expect('=');
        f.equals.emplace_back(std::move(column), Literal());
        SkipBlanks();
      } while (Keyword("and"));
    }
    if (Keyword("order")) {
      if (!Keyword("by")) Fail("'by' expected after 'order'");
      f.order_by = Column();
      SkipBlanks();
      if (Keyword("desc")) {
        f.descending = true;
      } else {
        Keyword("asc");
      }
    }
    if (!AtEnd()) Fail("unexpected text");
    return f;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) const {
    throw EngineError(kBadFilter, source_,
                      "code-list filter not understood at position " + std::to_string(i_ + 1) +
                          " (" + why + "): " + std::string(s_));
  }
  bool AtEnd() const { return i_ >= s_.size(); }
  void SkipBlanks() {
    while (!AtEnd() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r')) ++i_;
  }
  static bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  }
  std::string_view Word() {
    SkipBlanks();
    const std::size_t start = i_;
    while (!AtEnd() && IsWordChar(s_[i_])) ++i_;
    return s_.substr(start, i_ - start);
  }
  bool PeekKeyword(std::string_view kw) {
    const std::size_t save = i_;
    const bool hit = kvt::EqualsIgnoreCase(Word(), kw);
    i_ = save;
    return hit;
  }
  bool Keyword(std::string_view kw) {
    const std::size_t save = i_;
    if (kvt::EqualsIgnoreCase(Word(), kw)) {
      SkipBlanks();
      return true;
    }
    i_ = save;
    return false;
  }
  std::string Column() {
    const std::string_view w = Word();
    if (w.empty()) Fail("column name expected");
    auto c = KnownColumn(w);
    if (!c) {
      i_ -= w.size();
      Fail("unknown column '" + std::string(w) + "'");
    }
    return *c;
  }
  void Expect(char c) {
    if (AtEnd() || s_[i_] != c) Fail(std::string("'") + c + "' expected");
    ++i_;
  }
  std::string Literal() {
    SkipBlanks();
    Expect('\'');
    std::string out;
    for (;;) {
      if (AtEnd()) Fail("unterminated text literal");
      const char c = s_[i_++];
      if (c != '\'') {
        out.push_back(c);
      } else if (!AtEnd() && s_[i_] == '\'') {
        out.push_back('\'');
        ++i_;
      } else {
        return out;
      }
    }
  }

  std::string_view s_;
  const char* source_;
  std::size_t i_ = 0;
};

// The filter exactly as the component writes it, names inserted unchanged between its fixed
// pieces: "archive = '" A "' and fieldType='" F "' order by cod". Names with apostrophes
// ("Dell'Anno") are read whole. Null when the text is not that shape, or is ambiguous (the
// middle piece found more than once).
std::optional<CodeFilter> ComponentShape(std::string_view text) {
  constexpr std::string_view kHead = "archive = '", kMiddle = "' and fieldType='",
                             kTail = "' order by cod";
  if (!text.starts_with(kHead) || !text.ends_with(kTail) ||
      text.size() < kHead.size() + kMiddle.size() + kTail.size()) {
    return std::nullopt;
  }
  const std::string_view inner =
      text.substr(kHead.size(), text.size() - kHead.size() - kTail.size());
  const auto at = inner.find(kMiddle);
  if (at == std::string_view::npos || inner.find(kMiddle, at + 1) != std::string_view::npos) {
    return std::nullopt;
  }
  CodeFilter f;
  f.equals.emplace_back("archive", std::string(inner.substr(0, at)));
  f.equals.emplace_back("fieldType", std::string(inner.substr(at + kMiddle.size())));
  f.order_by = "\"COD\"";
  return f;
}

}  // namespace

CodeFilter ParseCodeFilter(std::string_view text, const char* source) {
  if (auto f = ComponentShape(text)) return *f;
  return Parser(text, source).Parse();
}

bool CodeFilter::IsArchiveField() const {
  return equals.size() == 2 && equals[0].first == "archive" && equals[1].first == "fieldType" &&
         order_by == "\"COD\"" && !descending;
}

std::string CodeFilter::Sql(char placeholder) const {
  std::string sql = "SELECT \"COD\", \"VALUE\" FROM code_lists";
  for (std::size_t i = 0; i < equals.size(); ++i) {
    sql += i == 0 ? " WHERE " : " AND ";
    sql += equals[i].first + " = " + placeholder + std::to_string(i + 1);
  }
  if (!order_by.empty()) sql += " ORDER BY " + order_by + (descending ? " DESC" : "");
  return sql;
}

}  // namespace kvtengine
