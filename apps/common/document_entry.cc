#include "common/document_entry.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <unordered_set>

#include "common/document_files.h"
#include "common/document_session.h"
#include "engine/common/engine_error.h"
#include "runtime/error.h"
#include "runtime/platform.h"
#include "runtime/text.h"

namespace kvtapp {

namespace {

// What entering `values` as given could not carry: the facts, worded by whoever tells them.
struct ValueProblem {
  enum class Kind { kNoField, kTwice, kControl, kTooLong, kOneLine };
  Kind kind;
  std::string name;
  char32_t character = 0;  // kControl
  std::int32_t max = 0;    // kTooLong
};

std::vector<ValueProblem> FindProblems(Workspace& w, const Values& values) {
  using Kind = ValueProblem::Kind;
  std::vector<ValueProblem> problems;
  std::set<std::string> seen;
  auto& fields = w.Fields();
  for (const auto& [name, value] : values) {
    if (fields.Index(name) == 0) {
      problems.push_back({Kind::kNoField, name});
      continue;
    }
    if (!seen.insert(name).second) {
      problems.push_back({Kind::kTwice, name});
      continue;
    }
    // A line end may be written "\n" or "\r\n" (a stored multi-line text comes out so).
    // DEL, C1 controls and bidirectional overrides too: they hide or reorder what a reader sees.
    std::optional<char32_t> control_character;
    for (std::size_t i = 0; i < value.size() && !control_character;) {
      const bool line_end = value[i] == '\n' || value.compare(i, 2, "\r\n") == 0;
      const char32_t c = kvt::NextCodePoint(value, i);
      if (kvt::IsControlCharacter(c) && !line_end) control_character = c;
    }
    if (control_character) {
      problems.push_back({Kind::kControl, name, *control_character});
      continue;
    }
    auto field = fields.Item(kvt::Variant(name));
    const kvt::ObjectRef control = field->LinkedControl();
    const bool text = field->ControlType(std::nullopt) == kvtfields::kTextBox;
    if (text) {
      const auto max = kvt::CLng(kvt::GetProperty(control, "MaxLength"));
      // In the box a line end is "\r\n", two characters.
      std::size_t length = kvt::CharLength(value);
      for (std::size_t i = 0; i < value.size(); ++i) {
        length += value[i] == '\n' && (i == 0 || value[i - 1] != '\r') ? 1 : 0;
      }
      if (max > 0 && length > static_cast<std::size_t>(max)) {
        problems.push_back({Kind::kTooLong, name, 0, max});
        continue;
      }
    }
    if (value.find('\n') != std::string::npos &&
        !(text && kvt::CBool(kvt::GetProperty(control, "MultiLine")))) {
      problems.push_back({Kind::kOneLine, name});
    }
  }
  return problems;
}

// A row's problems as the rest of its refusal says them: in Italian, by caption, in the rules'
// own words where the save would say the same.
std::vector<std::string> RowProblems(Workspace& w, const Values& values) {
  using Kind = ValueProblem::Kind;
  std::vector<std::string> out;
  for (const auto& p : FindProblems(w, values)) {
    const std::string caption = p.kind == Kind::kNoField ? p.name : CaptionOf(w.Fields(), p.name);
    switch (p.kind) {
      case Kind::kNoField:
        out.push_back("L'archivio " + w.Archive() + " non ha il campo \"" + p.name + "\"");
        break;
      case Kind::kTwice:
        out.push_back("Il campo \"" + caption + "\" è dato due volte");
        break;
      case Kind::kControl:
        out.push_back(ControlCharacterText(caption, p.character));
        break;
      case Kind::kTooLong:
        out.push_back(TooLongText(caption, p.max));
        break;
      case Kind::kOneLine:
        out.push_back("Il campo \"" + caption + "\" ha una riga sola: il valore va a capo");
        break;
    }
  }
  return out;
}

}  // namespace

std::vector<std::string> CheckValues(Workspace& w, const Values& values) {
  using Kind = ValueProblem::Kind;
  std::vector<std::string> out;
  for (const auto& p : FindProblems(w, values)) {
    switch (p.kind) {
      case Kind::kNoField:
        out.push_back("archive '" + w.Archive() + "' has no field '" + p.name + "'");
        break;
      case Kind::kTwice:
        out.push_back("field '" + p.name + "' is given twice");
        break;
      case Kind::kControl: {
        char code[16];
        std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(p.character));
        out.push_back("the value of '" + p.name + "' contains a control character (" + code +
                      (p.character == U'\t' ? ", a tab" : "") + ")");
        break;
      }
      case Kind::kTooLong:
        out.push_back("the value of '" + p.name + "' is longer than its " + std::to_string(p.max) +
                      " characters");
        break;
      case Kind::kOneLine:
        out.push_back("'" + p.name + "' holds one line: its value has a line end");
        break;
    }
  }
  return out;
}

namespace {

// Enters the values on the form as a person does; false (with the reasons) when the form
// refused one.
bool EnterValues(Workspace& w, const Values& values,
                 const std::function<std::vector<std::string>()>& messages, EntryOutcome& out) {
  auto& fields = w.Fields();
  auto& p = w.Person();
  const std::map<std::string, std::string> wanted(values.begin(), values.end());
  // The reasons so far: the error list's entries and the message boxes shown.
  auto refused = [&] {
    for (const auto& e : w.Host().Errors().Entries()) out.reasons.emplace_back(e.field, e.message);
    for (auto& m : messages()) out.reasons.emplace_back("", std::move(m));
    return !out.reasons.empty();
  };
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    auto field = fields.Item(kvt::Variant(i));
    auto it = wanted.find(field->Name());
    if (it == wanted.end()) continue;
    const std::string& value = it->second;
    try {
      if (!p.Focus(field->Name())) {
        if (!refused())
          out.reasons.emplace_back(field->Name(), "the form keeps the focus elsewhere");
        return false;
      }
      switch (field->ControlType(std::nullopt)) {
        case kvtfields::kComboBox:
          p.Choose(value);
          break;
        case kvtfields::kCalendar:
          p.PickDate(value.empty() ? kvt::Variant::Null() : kvt::Variant(value));
          break;
        case kvtfields::kFileLinker:
          p.Browse(value);
          break;
        default:
          p.Clear();
          p.Paste(value);  // one change, as a person pastes: no key is typed from the value
      }
      const bool left = p.Focus("txtLostFocus");
      if (refused()) return false;
      if (!left) {
        out.reasons.emplace_back(field->Name(), "the field keeps the focus");
        return false;
      }
    } catch (const kvt::Error& e) {
      // The database failing is no refusal of the value: it stops whatever is entering.
      if (kvtengine::IsEngineError(e)) throw;
      out.bad_value = true;
      out.reasons.emplace_back(field->Name(), e.Description());
      return false;
    }
  }
  if (!w.Intact()) {
    out.reasons.emplace_back("", "lo script dell'archivio ha tolto i campi del modulo");
    return false;
  }
  return !refused();
}

// The session's verdict on the entered document, with any message the form showed meanwhile.
EntryOutcome& Finish(const SaveOutcome& saved,
                     const std::function<std::vector<std::string>()>& messages, bool store,
                     EntryOutcome& out) {
  for (auto& m : messages()) out.reasons.emplace_back("", std::move(m));
  out.conflict = saved.result == SaveOutcome::Result::kConflict;
  if (saved.result == SaveOutcome::Result::kUnchanged && out.reasons.empty()) {
    out.accepted = true;
    out.unchanged = true;
    out.version = saved.version;
    return out;
  }
  if (saved.result != SaveOutcome::Result::kStored) {
    for (const auto& reason : saved.reasons) out.reasons.push_back(reason);
    if (out.reasons.empty()) out.reasons.emplace_back("", "il documento non si salva");
    return out;
  }
  if (!out.reasons.empty()) return out;
  out.accepted = true;
  out.stored = store ? saved.id : 0;
  out.version = saved.version;
  return out;
}

}  // namespace

EntryOutcome EnterDocument(Workspace& w, const Values& values,
                           const std::function<std::vector<std::string>()>& messages, bool store,
                           bool allow_duplicates) {
  auto in = w.Enter();
  EntryOutcome out;
  if (!EnterValues(w, values, messages, out)) return out;
  // The rules every program shares: required fields, every value against its field, duplicates.
  DocumentSession session(w, DocumentSession::OneSave{});
  return Finish(session.Save(allow_duplicates, store), messages, store, out);
}

EntryOutcome CorrectStoredDocument(Workspace& w, std::int32_t id, std::int32_t version,
                                   const Values& values,
                                   const std::function<std::vector<std::string>()>& messages,
                                   bool allow_duplicates) {
  auto in = w.Enter();
  EntryOutcome out;
  DocumentSession session(w);
  session.Open(id, w.FormName());
  session.StartedFrom(version);
  if (!EnterValues(w, values, messages, out)) return out;
  return Finish(session.Save(allow_duplicates, true), messages, true, out);
}

void ImportRows(
    Workspace& w, const std::vector<std::vector<std::string>>& rows,
    const std::function<std::vector<std::string>()>& messages, const ImportOptions& options,
    const std::function<void(std::size_t, const std::vector<std::pair<std::string, std::string>>&)>&
        refused,
    const std::function<void(std::size_t, std::size_t)>& progress, ImportResult& result) {
  auto in = w.Enter();
  result = ImportResult{};
  if (rows.empty()) return;
  std::size_t at = 1;
  const std::size_t total = rows.size() - 1;
  ImportRows(
      w, rows[0],
      [&](std::vector<std::string>& row) {
        if (at >= rows.size()) return false;
        row = rows[at++];
        return true;
      },
      messages, options, refused,
      [&](std::size_t done, std::size_t) {
        if (progress) progress(done, total);
      },
      result);
}

void ImportRows(
    Workspace& w, const std::vector<std::string>& header, const RowSource& next,
    const std::function<std::vector<std::string>()>& messages, const ImportOptions& options,
    const std::function<void(std::size_t, const std::vector<std::pair<std::string, std::string>>&)>&
        refused,
    const std::function<void(std::size_t, std::size_t)>& progress, ImportResult& result) {
  auto in = w.Enter();
  result = ImportResult{};
  // Nobody watches the form while the rows go in: no suggestions are looked up as values are
  // pasted (with many learnt values, each lookup would cost more than the row).
  struct Unattended {
    kvt::Platform& p = kvt::CurrentPlatform();
    bool was = p.Attended();
    Unattended() { p.SetAttended(false); }
    ~Unattended() { p.SetAttended(was); }
  } unattended;
  std::vector<std::string> row;
  std::size_t r = 0;  // data rows read
  bool more = true;
  while (r < options.skip && (more = next(row))) ++r;
  result.skipped = r;
  result.committed_through = r;
  // The file-link fields, whose cells name files to keep when the import is told so.
  std::unordered_set<std::string> file_fields;
  if (options.files_from) {
    for (std::int32_t i = 1; i <= w.Fields().Count(); ++i) {
      auto field = w.Fields().Item(kvt::Variant(i));
      if (field->ControlType(std::nullopt) == kvtfields::kFileLinker)
        file_fields.insert(field->Name());
    }
  }
  auto one_row = [&] {
    Values values;
    std::vector<std::string> problems;
    if (row.size() > header.size()) problems.push_back("La riga ha più celle che colonne");
    for (std::size_t c = 0; c < row.size() && c < header.size(); ++c) {
      if (row[c].empty()) continue;
      if (!file_fields.count(header[c])) {
        values.emplace_back(header[c], row[c]);
        continue;
      }
      const std::filesystem::path named(row[c]);
      const std::string path = named.is_absolute()
                                   ? row[c]
                                   : (std::filesystem::path(*options.files_from) / named).string();
      try {
        values.emplace_back(header[c], ChooseFile(w, path));
      } catch (const kvt::Error& e) {
        if (e.Number() != kvt::kObjectErrorBase + kvtengine::kFileRefused) throw;
        problems.push_back(e.Description());
      }
    }
    for (auto& p : RowProblems(w, values)) problems.push_back(std::move(p));
    EntryOutcome outcome;
    if (problems.empty()) {
      // The same form for every row: emptied, its messages forgotten.
      w.Fields().ClearControlsValue();
      w.Host().Errors().Clear();
      (void)messages();
      outcome = EnterDocument(w, values, messages, options.store, options.allow_duplicates);
      w.Host().Errors().Clear();
    } else {
      for (auto& p : problems) outcome.reasons.emplace_back("", std::move(p));
    }
    if (outcome.accepted) {
      ++result.accepted;
    } else {
      ++result.refused;
      if (refused) refused(r, outcome.reasons);
    }
    if (progress) progress(r, 0);
  };
  while (more) {
    const std::size_t accepted_before = result.accepted;
    std::size_t in_batch = 0;
    w.Engine().Transaction([&] {
      while ((options.atomic || in_batch < std::max<std::size_t>(options.rows_per_commit, 1)) &&
             (more = next(row))) {
        ++r;
        ++in_batch;
        one_row();
      }
    });
    if (options.store) result.committed += result.accepted - accepted_before;
    result.committed_through = r;
  }
}

}  // namespace kvtapp
