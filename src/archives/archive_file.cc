#include "archives/archive_file.h"

#include <toml++/toml.h>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "runtime/error.h"
#include "runtime/record_set.h"
#include "runtime/text.h"
#include "scripting/lua/lua_script_engine.h"

namespace kvtarchive {
namespace {

constexpr const char* kSource = "kvtArchive";
constexpr const char* kKinds[] = {"TextBox", "ComboBox", "Calendar", "FileLinker"};

// How deep a file may nest tables and arrays, and how many parts a dotted key may have: far
// beyond any archive, far below what would exhaust the parser's stack.
constexpr int kMaxNesting = 32;
constexpr int kMaxKeyParts = 32;

struct Place {
  int line = 0, column = 0;
  std::string message;
};

// Finds nesting or dotted keys past the limits before the parser sees them. Strings and
// comments are skipped; a key's parts are the dots between two of '=', ',', '[', ']', '{', '}'
// or a line end, so a number's decimal point never comes near the limit.
std::optional<Place> TooDeep(std::string_view text) {
  int line = 1, column = 1, depth = 0, dots = 0;
  auto advance = [&](std::size_t& i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
      ++column;
    }
    ++i;
  };
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '#') {
      while (i < text.size() && text[i] != '\n') advance(i);
      continue;
    }
    if (c == '"' || c == '\'') {
      const bool multi = text.compare(i, 3, std::string(3, c)) == 0;
      const std::size_t open = multi ? 3 : 1;
      for (std::size_t k = 0; k < open; ++k) advance(i);
      while (i < text.size()) {
        if (c == '"' && text[i] == '\\' && i + 1 < text.size()) {
          advance(i);
          advance(i);
          continue;
        }
        if (!multi && text[i] == '\n') break;  // the parser reports the open string
        if (text[i] == c && (!multi || text.compare(i, 3, std::string(3, c)) == 0)) {
          for (std::size_t k = 0; k < open; ++k) advance(i);
          break;
        }
        advance(i);
      }
      continue;
    }
    if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) {
        return Place{line, column,
                     "tables and arrays nest more than " + std::to_string(kMaxNesting) + " deep"};
      }
    }
    if (c == ']' || c == '}') depth = std::max(0, depth - 1);
    if (c == '.' && ++dots >= kMaxKeyParts) {
      return Place{line, column,
                   "a dotted key has more than " + std::to_string(kMaxKeyParts) + " parts"};
    }
    if (c == '=' || c == ',' || c == '[' || c == ']' || c == '{' || c == '}' || c == '\n') dots = 0;
    advance(i);
  }
  return std::nullopt;
}

// Reads one file, collecting every problem with its place.
class Reader {
 public:
  Reader(std::string_view text, std::string file) : text_(text), file_(std::move(file)) {}

  Read Run() {
    if (const auto deep = TooDeep(text_)) {
      out_.problems.push_back({file_, deep->line, deep->column, deep->message});
      return std::move(out_);
    }
    toml::table root;
    try {
      root = toml::parse(text_, file_);
    } catch (const toml::parse_error& e) {
      Add(e.source(), std::string(e.description()));
      return std::move(out_);
    }
    const toml::source_region start{};
    for (auto&& [key, node] : root) {
      const std::string k(key.str());
      if (k == "archive") {
        out_.archive.name = Name(node, "archive");
        if (out_.archive.name.empty() && node.value<std::string>().value_or("").empty()) {
          Add(node.source(), "the archive needs a name");
        }
      } else if (k == "script") {
        out_.archive.script = String(node, "script");
        CheckScript(node);
      } else if (k == "fields") {
        ForEachTable(node, "fields", [&](const toml::table& t) { ReadField(t); });
      } else if (k == "forms") {
        ForEachTable(node, "forms", [&](const toml::table& t) { ReadForm(t); });
      } else {
        Unknown(key, "archive file");
      }
    }
    if (!root.contains("archive")) Add(start, "no 'archive' name");
    if (out_.archive.fields.empty()) Add(start, "no fields ([[fields]] tables)");
    for (auto& f : out_.archive.fields) f.definition.archive = out_.archive.name;
    for (auto& form : out_.archive.forms) {
      for (auto& l : form.layout) {
        l.archive = out_.archive.name;
        l.form = form.name;
      }
    }
    // In the order of the file, as an editor lists them.
    std::stable_sort(out_.problems.begin(), out_.problems.end(),
                     [](const Problem& a, const Problem& b) {
                       return std::tie(a.line, a.column) < std::tie(b.line, b.column);
                     });
    return std::move(out_);
  }

 private:
  void Add(const toml::source_region& at, std::string message) {
    out_.problems.push_back({file_, static_cast<int>(at.begin.line),
                             static_cast<int>(at.begin.column), std::move(message)});
  }
  void Unknown(const toml::key& key, const std::string& where) {
    Add(key.source(), "unknown key '" + std::string(key.str()) + "' in " + where);
  }

  std::string String(const toml::node& node, const std::string& what) {
    if (auto v = node.value<std::string>(); v && node.is_string()) return *v;
    Add(node.source(), "'" + what + "' must be text");
    return {};
  }
  // A name shows on a form, in a list and on a terminal: it holds no control character.
  std::string Name(const toml::node& node, const std::string& what) {
    std::string name = String(node, what);
    for (std::size_t i = 0; i < name.size();) {
      if (kvt::IsControlCharacter(kvt::NextCodePoint(name, i))) {
        Add(node.source(), "'" + what + "' holds a control character (a tab, a line end, ...): " +
                               kvt::Printable(name));
        return {};
      }
    }
    return name;
  }
  bool Bool(const toml::node& node, const std::string& what) {
    if (auto v = node.value<bool>(); v && node.is_boolean()) return *v;
    Add(node.source(), "'" + what + "' must be true or false");
    return false;
  }
  std::int64_t Integer(const toml::node& node, const std::string& what, std::int64_t low,
                       std::int64_t high) {
    const auto v = node.is_integer() ? node.value<std::int64_t>() : std::nullopt;
    if (!v) {
      Add(node.source(), "'" + what + "' must be a whole number");
      return 0;
    }
    if (*v < low || *v > high) {
      Add(node.source(),
          "'" + what + "' must be from " + std::to_string(low) + " to " + std::to_string(high));
      return 0;
    }
    return *v;
  }

  template <class F>
  void ForEachTable(const toml::node& node, const std::string& what, F&& each) {
    const toml::array* items = node.as_array();
    if (!items) {
      Add(node.source(), "'" + what + "' must be a list of tables");
      return;
    }
    for (const toml::node& item : *items) {
      if (const toml::table* t = item.as_table()) {
        each(*t);
      } else {
        Add(item.source(), "each of '" + what + "' must be a table");
      }
    }
  }

  void ReadField(const toml::table& t) {
    Field field;
    kvtengine::FieldDefinition& d = field.definition;
    d.type = "TextBox";
    std::int64_t max_len = 0;
    const toml::node* min_len_node = nullptr;
    std::int64_t min_len = 0;
    for (auto&& [key, node] : t) {
      const std::string k(key.str());
      if (k == "name") {
        d.name = Name(node, k);
      } else if (k == "label") {
        d.label = String(node, k);
      } else if (k == "description") {
        d.descr = String(node, k);
      } else if (k == "type") {
        const std::string type = String(node, k);
        bool known = false;
        for (const char* kind : kKinds) known = known || type == kind;
        if (!known) {
          Add(node.source(), "type '" + type +
                                 "' is not a kind of control (TextBox, ComboBox, Calendar, "
                                 "FileLinker)");
        }
        d.type = type;
      } else if (k == "max_len") {
        max_len = Integer(node, k, 0, 32767);
        d.max_len = static_cast<std::int32_t>(max_len);
      } else if (k == "min_len") {
        min_len = Integer(node, k, 0, 32767);
        min_len_node = &node;
        d.min_len = static_cast<std::int32_t>(min_len);
      } else if (k == "priority") {
        d.priority = static_cast<std::int32_t>(Integer(node, k, INT32_MIN, INT32_MAX));
      } else if (k == "index") {
        d.is_index = Bool(node, k);
      } else if (k == "required") {
        d.is_required = Bool(node, k);
      } else if (k == "auto_complete") {
        d.auto_complete = Bool(node, k);
      } else if (k == "data_format") {
        d.data_format = static_cast<std::int32_t>(Integer(node, k, INT32_MIN, INT32_MAX));
      } else if (k == "char_format") {
        d.char_format = static_cast<std::int32_t>(Integer(node, k, INT32_MIN, INT32_MAX));
      } else if (k == "retain") {
        d.retain_in_memory = Bool(node, k);
      } else if (k == "codes") {
        std::set<std::string> seen;
        ForEachTable(node, "codes", [&](const toml::table& c) { ReadCode(c, field, seen); });
      } else {
        Unknown(key, "a field");
      }
    }
    if (d.name.empty()) {
      Add(t.source(), "a field needs a name");
      return;
    }
    if (max_len > 0 && min_len > max_len && min_len_node) {
      Add(min_len_node->source(),
          "min_len " + std::to_string(min_len) + " is above max_len " + std::to_string(max_len));
    }
    // One look-up per field, not a pass over the fields read so far: archives may hold many.
    const auto [twin, added] = by_name_.emplace(d.name, out_.archive.fields.size());
    if (!added) {
      const std::string& other = out_.archive.fields[twin->second].definition.name;
      Add(t["name"].node()->source(), other == d.name ? "field '" + d.name + "' is defined twice"
                                                      : "field '" + d.name + "' differs from '" +
                                                            other + "' only in letter case");
    }
    names_.insert(d.name);
    out_.archive.fields.push_back(std::move(field));
  }

  void ReadCode(const toml::table& c, Field& field, std::set<std::string>& seen) {
    std::string code, description;
    for (auto&& [key, node] : c) {
      const std::string k(key.str());
      if (k == "code") {
        code = Name(node, k);
      } else if (k == "description") {
        description = String(node, k);
      } else {
        Unknown(key, "a code");
      }
    }
    if (code.empty()) {
      Add(c.source(), "a code needs its 'code'");
      return;
    }
    if (!seen.insert(code).second) {
      Add(c["code"].node()->source(), "code '" + code + "' is listed twice");
      return;
    }
    field.codes.emplace_back(code, description);
  }

  void ReadForm(const toml::table& t) {
    Form form;
    const toml::node* layout = nullptr;
    for (auto&& [key, node] : t) {
      const std::string k(key.str());
      if (k == "name") {
        form.name = Name(node, k);
      } else if (k == "layout") {
        layout = &node;
      } else {
        Unknown(key, "a form");
      }
    }
    if (form.name.empty()) {
      Add(t.source(), "a form needs a name");
      return;
    }
    for (const auto& other : out_.archive.forms) {
      if (other.name == form.name)
        Add(t["name"].node()->source(), "form '" + form.name + "' is defined twice");
    }
    if (layout) {
      std::set<std::string> placed;
      ForEachTable(*layout, "layout", [&](const toml::table& l) { ReadLayout(l, form, placed); });
    }
    out_.archive.forms.push_back(std::move(form));
  }

  void ReadLayout(const toml::table& l, Form& form, std::set<std::string>& placed) {
    kvtengine::FieldLayout layout;
    layout.break_line = true;
    layout.show_combo_label = true;
    for (auto&& [key, node] : l) {
      const std::string k(key.str());
      if (k == "field") {
        layout.name = Name(node, k);
      } else if (k == "width") {
        layout.width = static_cast<std::int32_t>(Integer(node, k, 0, kvtengine::kMaxLayoutTwips));
      } else if (k == "height") {
        layout.height = static_cast<std::int32_t>(Integer(node, k, 0, kvtengine::kMaxLayoutTwips));
      } else if (k == "break_line") {
        layout.break_line = Bool(node, k);
      } else if (k == "multi_line") {
        layout.multi_line = Bool(node, k);
      } else if (k == "show_combo_label") {
        layout.show_combo_label = Bool(node, k);
      } else {
        Unknown(key, "a layout");
      }
    }
    const toml::node* name = l["field"].node();
    if (layout.name.empty()) {
      Add(l.source(), "a layout needs its 'field'");
      return;
    }
    if (!names_.contains(layout.name)) {
      Add(name->source(), "form '" + form.name + "' lays out '" + layout.name +
                              "', which is not a field of the archive");
      return;
    }
    if (!placed.insert(layout.name).second) {
      Add(name->source(), "form '" + form.name + "' lays out '" + layout.name + "' twice");
      return;
    }
    form.layout.push_back(std::move(layout));
  }

  // The script must compile; its problems are placed on the file's lines.
  void CheckScript(const toml::node& node) {
    const auto problem = kvtlua::CheckSyntax(out_.archive.script);
    if (!problem) return;
    // A multi-line string that opens with a line end starts on the next line.
    int first_line = static_cast<int>(node.source().begin.line);
    std::istringstream lines{std::string(text_)};
    std::string line;
    for (int n = 1; std::getline(lines, line); ++n) {
      if (n != first_line) continue;
      const auto col = static_cast<std::size_t>(node.source().begin.column - 1);
      const std::string rest = col < line.size() ? line.substr(col) : std::string();
      if (rest == "'''" || rest == "\"\"\"") ++first_line;
      break;
    }
    toml::source_region at = node.source();
    at.begin.line = static_cast<toml::source_index>(first_line + problem->line - 1);
    at.begin.column = 1;
    Add(at, "the script does not compile: " + problem->message);
  }

  std::string_view text_;
  std::string file_;
  Read out_;
  // Field name → its index, without regard to letter case, as a form names its controls.
  std::unordered_map<std::string, std::size_t, kvt::IgnoreCaseHash, kvt::IgnoreCaseEqual> by_name_;
  std::unordered_set<std::string> names_;  // the fields read so far
};

// ---- Writing

std::string Bool(const kvt::Variant& v) {
  return kvt::CBool(v) ? "true" : "false";
}
std::string Int(const kvt::Variant& v) {
  return std::to_string(kvt::CLng(v));
}
std::string Text(const kvt::Variant& v) {
  return kvt::QuotedText(v.IsNull() ? std::string() : kvt::CStr(v));
}

}  // namespace

std::string Problem::ToString() const {
  return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + message;
}

Read ParseArchiveFile(std::string_view text, const std::string& file) {
  return Reader(text, file).Run();
}

Read ReadArchiveFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    Read r;
    r.problems.push_back({path, 0, 0, "cannot read the file"});
    return r;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return ParseArchiveFile(text, path);
}

void ImportArchive(kvtengine::ArchiveEngine& engine, const ArchiveFile& archive, bool replace) {
  const std::int32_t documents = engine.DocumentCount(archive.name);
  if (documents > 0 && !replace) {
    throw kvt::ObjectError(kArchiveHasDocuments, kSource,
                           "archive '" + archive.name + "' has " + std::to_string(documents) +
                               " documents: give --replace to replace its definition");
  }
  engine.Transaction([&] {
    engine.DeleteArchive(archive.name);
    for (const Field& f : archive.fields) {
      engine.PutField(f.definition);
      for (const auto& [code, description] : f.codes) {
        engine.AddCode(archive.name, f.definition.name, code, description);
      }
    }
    for (const Form& form : archive.forms) {
      for (const auto& layout : form.layout) engine.PutLayout(layout);
    }
    if (!archive.script.empty()) engine.PutScript(archive.name, archive.script);
  });
}

std::string ExportArchive(kvtengine::ArchiveEngine& engine, const std::string& archive) {
  const std::vector<std::string> names = engine.GetFormFields(archive);
  if (names.empty()) {
    throw kvt::ObjectError(kArchiveNotFound, kSource, "no archive '" + archive + "'");
  }
  std::ostringstream out;
  out << "# kvtfields archive file (docs/archive-format.md)\n";
  out << "archive = " << kvt::QuotedText(archive) << "\n";
  const kvt::Variant script = engine.GetScript(archive);
  if (!script.IsNull() && !kvt::CStr(script).empty()) {
    const std::string source = kvt::CStr(script);
    if (source.find("'''") == std::string::npos && !source.starts_with("\n")) {
      out << "script = '''\n" << source << (source.ends_with("\n") ? "" : "\n") << "'''\n";
    } else {
      out << "script = " << kvt::QuotedText(source) << "\n";
    }
  }
  for (const std::string& name : names) {
    auto rs = engine.GetFieldDefinition(archive, name);
    out << "\n[[fields]]\n";
    out << "name = " << kvt::QuotedText(name) << "\n";
    out << "label = " << Text(rs->Value("Label")) << "\n";
    out << "description = " << Text(rs->Value("Descr")) << "\n";
    out << "type = " << Text(rs->Value("Type")) << "\n";
    out << "max_len = " << Int(rs->Value("MaxLen")) << "\n";
    out << "min_len = " << Int(rs->Value("MinLen")) << "\n";
    out << "priority = " << Int(rs->Value("Priority")) << "\n";
    out << "index = " << Bool(rs->Value("IsIndex")) << "\n";
    out << "required = " << Bool(rs->Value("IsRequired")) << "\n";
    out << "auto_complete = " << Bool(rs->Value("AutoComplete")) << "\n";
    out << "data_format = " << Int(rs->Value("DATA_FORMAT")) << "\n";
    out << "char_format = " << Int(rs->Value("CHAR_FORMAT")) << "\n";
    out << "retain = " << Bool(rs->Value("IsRetainInMemory")) << "\n";
    rs->Close();
    const std::string filter =
        "archive = '" + archive + "' and fieldType='" + name + "' order by cod";
    auto codes = engine.GetCodeList(filter);
    if (!(codes->Bof() && codes->Eof())) {
      out << "codes = [\n";
      for (; !codes->Eof(); codes->MoveNext()) {
        out << "  { code = " << Text(codes->Value("COD"))
            << ", description = " << Text(codes->Value("VALUE")) << " },\n";
      }
      out << "]\n";
    }
    codes->Close();
  }
  for (const std::string& form : engine.ListForms(archive)) {
    out << "\n[[forms]]\n";
    out << "name = " << kvt::QuotedText(form) << "\n";
    out << "layout = [\n";
    for (const std::string& name : names) {
      std::string a = archive, n = name, f = form;
      const kvt::Variant layout = engine.GetFieldVisualProperties(a, n, f);
      auto rs = layout.IsObject() ? std::dynamic_pointer_cast<kvt::RecordSet>(layout.AsObject())
                                  : nullptr;
      if (!rs || (rs->Bof() && rs->Eof())) continue;
      out << "  { field = " << kvt::QuotedText(name) << ", width = " << Int(rs->Value("Width"))
          << ", height = " << Int(rs->Value("Height"))
          << ", break_line = " << Bool(rs->Value("BreakLine"))
          << ", multi_line = " << Bool(rs->Value("MultiLine"))
          << ", show_combo_label = " << Bool(rs->Value("ShowComboLabel")) << " },\n";
    }
    out << "]\n";
  }
  return out.str();
}

}  // namespace kvtarchive
