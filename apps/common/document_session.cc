#include "common/document_session.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "common/document_files.h"
#include "engine/common/engine_error.h"
#include "host/common/standard_controls.h"
#include "runtime/dictionary.h"
#include "runtime/error.h"
#include "runtime/platform.h"
#include "runtime/text.h"

namespace kvtapp {
namespace {

constexpr const char* kLeaveControl = "txtLostFocus";  // the viewer's place to leave a field to

std::string CodePoint(char32_t c) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  return code;
}

// A text that reads whole as a number too large or not a number at all ("inf", "1e999", "nan").
bool NonFiniteNumber(const std::string& text) {
  if (text.empty()) return false;
  char* end = nullptr;
  const double d = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && !std::isfinite(d);
}

bool Empty(const kvt::Variant& v) {
  return v.IsNull() || v.IsEmpty() || (v.IsString() && v.AsString().empty());
}

// A value as the session compares values: its text, "" for none.
std::string TextOf(const kvt::Variant& v) {
  return kvt::JoinText(v);  // Null and Empty as ""
}

const std::string* FindIn(const Snapshot& values, const std::string& name) {
  for (const auto& [n, v] : values) {
    if (n == name) return &v;
  }
  return nullptr;
}

}  // namespace

std::string Caption(kvtfields::FieldType& field) {
  const std::string label = field.Label();
  return label.empty() ? field.Name() : label;
}

std::string CaptionOf(kvtfields::FieldsCollection& fields, const std::string& name) {
  return fields.Index(name) != 0 ? Caption(*fields.Item(kvt::Variant(name))) : name;
}

std::string TooLongText(const std::string& caption, std::int32_t max) {
  return "Il campo \"" + caption + "\" ammette al massimo " + std::to_string(max) + " caratteri";
}

std::string ControlCharacterText(const std::string& caption, char32_t c) {
  return "Il campo \"" + caption + "\" contiene un carattere di controllo (" + CodePoint(c) + ")";
}

std::string LocalTime(const std::string& utc) {
  std::tm t{};
  if (!strptime(utc.c_str(), "%Y-%m-%dT%H:%M:%SZ", &t)) return kvt::OneLine(utc);
  const std::time_t when = timegm(&t);
  std::tm local{};
  localtime_r(&when, &local);
  char out[32];
  std::strftime(out, sizeof out, "%d/%m/%Y %H:%M", &local);
  return out;
}

std::string Author(const std::string& saved_by) {
  // Stored text: no control character or line end reaches a terminal or a dialog as such.
  return saved_by.empty() ? "utente sconosciuto" : kvt::OneLine(saved_by);
}

std::string ChangeWord(kvtengine::Change change) {
  switch (change) {
    case kvtengine::Change::kCorrect:
      return "corretto";
    case kvtengine::Change::kOverwrite:
      return "corretto sopra un'altra modifica";
    case kvtengine::Change::kDelete:
      return "eliminato";
    case kvtengine::Change::kRestore:
      return "ripristinato";
    case kvtengine::Change::kSave:
      break;
  }
  return "salvato";
}

std::string SaveOutcome::Message() const {
  std::string out;
  for (const auto& [field, message] : reasons) out += (out.empty() ? "" : "\n") + message;
  return out;
}

DocumentSession::DocumentSession(Workspace& w) : w_(w), entry_form_(w.FormName()) {
  Baseline();
}

DocumentSession::DocumentSession(Workspace& w, OneSave)
    : w_(w), entry_form_(w.FormName()), tracks_(false) {}

void DocumentSession::Baseline() {
  const FormRead& now = Read();
  saved_ = now.texts;
  saved_values_ = now.values;
  Rebase();
}

void DocumentSession::Rebase(bool compare) {
  differing_.clear();
  auto& fields = w_.Fields();
  // The fields' places by control change only when the form is built again.
  if (indexed_ != std::make_pair(w_.Builds(), fields.Count())) {
    index_.clear();
    for (std::int32_t i = 1; i <= fields.Count(); ++i) {
      if (auto c = std::dynamic_pointer_cast<kvthost::Control>(
              fields.Item(kvt::Variant(i))->LinkedControl())) {
        index_.emplace(c->Name(), static_cast<std::size_t>(i - 1));
      }
    }
    indexed_ = {w_.Builds(), fields.Count()};
  }
  if (compare) {
    const Snapshot& now = Read().texts;
    for (std::size_t i = 0; i < now.size() && i < saved_.size(); ++i) {
      if (now[i] != saved_[i]) differing_.insert(i);
    }
  }
}

bool DocumentSession::FollowChange(const kvthost::Control& control) {
  const auto it = index_.find(control.Name());
  if (it != index_.end() && it->second < saved_.size()) {
    auto& fields = w_.Fields();
    const auto at = static_cast<std::int32_t>(it->second) + 1;
    if (at <= fields.Count()) {
      const kvt::Variant v = fields.Item(kvt::Variant(at))->Value();
      if (TextOf(v) != saved_[it->second].second) {
        differing_.insert(it->second);
      } else {
        differing_.erase(it->second);
      }
    }
  }
  return Followed();
}

const DocumentSession::FormRead& DocumentSession::Read() const {
  // Within one save the controls tell every change: a read is taken again only after one.
  if (reuse_ && read_.values && read_.at == w_.Window().ChangeCount()) return read_;
  ++reads_;
  FormRead out;
  out.at = w_.Window().ChangeCount();
  auto values = kvt::Dictionary::Create();
  auto& fields = w_.Fields();
  const std::int32_t count = fields.Count();
  out.raw.reserve(static_cast<std::size_t>(count));
  out.texts.reserve(static_cast<std::size_t>(count));
  for (std::int32_t i = 1; i <= count; ++i) {
    auto field = fields.Item(kvt::Variant(i));
    kvt::Variant v = field->Value();
    std::string name = field->Name();
    out.texts.emplace_back(name, TextOf(v));
    values->Add(name, v);
    out.raw.push_back(std::move(v));
  }
  out.values = std::move(values);
  read_ = std::move(out);
  return read_;
}

void DocumentSession::Revert() {
  auto in = w_.Enter();
  duplicate_.reset();
  if (saved_values_) w_.Fields().SetFieldsValue(saved_values_);
  saved_ = Values();
  Rebase();
}

Snapshot DocumentSession::Values() const {
  return Read().texts;
}

bool DocumentSession::InputPending() const {
  const auto focused = w_.Window().Active();
  return focused && focused->Pending();
}

bool DocumentSession::Modified() const {
  return InputPending() || Read().texts != saved_;
}

std::vector<std::pair<std::string, std::string>> DocumentSession::RuleFailures() const {
  return RuleFailures(Read());
}

std::vector<std::pair<std::string, std::string>> DocumentSession::RuleFailures(
    const FormRead& now) const {
  std::vector<std::pair<std::string, std::string>> out;
  auto& fields = w_.Fields();
  const std::int32_t count = std::min<std::int32_t>(fields.Count(), now.raw.size());
  for (std::int32_t i = 1; i <= count; ++i) {
    auto field = fields.Item(kvt::Variant(i));
    const std::int32_t kind = field->ControlType(std::nullopt);
    if (kind == kvtfields::kCalendar) continue;  // a date or none: the picker holds nothing else
    const auto at = static_cast<std::size_t>(i - 1);
    if (now.raw[at].IsNull()) continue;
    const std::string& text = now.texts[at].second;
    if (text.empty()) continue;  // breaks no rule: the required check is apart
    const std::string name = field->Name();
    const std::string shown = "Il campo \"" + Caption(*field) + "\"";
    const kvt::ObjectRef control = field->LinkedControl();
    const bool multi_line = kind == kvtfields::kTextBox && control &&
                            kvt::CBool(kvt::GetProperty(control, "MultiLine"));
    // A stored value left as it was keeps its line ends: a note typed with lines on the entry
    // form stays correctable on a form that shows it on one line. (The snapshot is in form
    // order, one entry a field.)
    auto as_stored = [&] {
      const auto at = static_cast<std::size_t>(i - 1);
      return id_ != 0 && at < saved_.size() && saved_[at].first == name &&
             saved_[at].second == text;
    };
    // Line ends only where the box has lines; no other control character anywhere.
    bool refused = false;
    for (std::size_t at = 0; at < text.size() && !refused;) {
      const char32_t c = kvt::NextCodePoint(text, at);
      const bool line_end = c == U'\r' || c == U'\n';
      if (kvt::IsControlCharacter(c) && !(line_end && (multi_line || as_stored()))) {
        out.emplace_back(name, ControlCharacterText(Caption(*field), c));
        refused = true;
      }
    }
    if (refused || kind != kvtfields::kTextBox) continue;
    // The case rule is applied as the field leaves: the limit holds for the converted text
    // ("ß" upper-cased is "SS", two characters).
    const std::string stored = field->CharFormat() == 1   ? kvt::ToUpper(text)
                               : field->CharFormat() == 2 ? kvt::ToLower(text)
                                                          : text;
    if (field->MaxLen() > 0 &&
        kvt::CharLength(stored) > static_cast<std::size_t>(field->MaxLen())) {
      out.emplace_back(name, TooLongText(Caption(*field), field->MaxLen()));
    }
    for (auto& [message, kind_of_rule] : field->TextRuleFailures(text)) {
      out.emplace_back(name, std::move(message));
    }
    if (NonFiniteNumber(text)) {
      out.emplace_back(name, shown + " contiene un numero non valido (" + text + ")");
    }
  }
  return out;
}

std::vector<std::string> DocumentSession::MissingRequired() const {
  return MissingRequired(Read());
}

std::vector<std::string> DocumentSession::MissingRequired(const FormRead& now) const {
  std::vector<std::string> out;
  auto& fields = w_.Fields();
  const std::int32_t count = std::min<std::int32_t>(fields.Count(), now.raw.size());
  for (std::int32_t i = 1; i <= count; ++i) {
    auto field = fields.Item(kvt::Variant(i));
    if (field->IsRequired() && Empty(now.raw[static_cast<std::size_t>(i - 1)])) {
      out.push_back(Caption(*field));
    }
  }
  return out;
}

SaveOutcome DocumentSession::Check(bool allow_duplicate, std::shared_ptr<kvthost::Control>& back) {
  SaveOutcome out;
  out.id = id_;
  checked_values_ = nullptr;
  auto& window = w_.Window();
  auto& errors = w_.Host().Errors();
  // The field being typed in is left as the person would leave it: its checks, case rule and
  // scripts run, and a refusal keeps the focus there.
  const auto focused = window.Active();
  const auto leave = window.FindControl(kLeaveControl);
  caret_.reset();
  if (focused && leave && focused != leave && leave->CanTakeFocus()) {
    if (auto* box = dynamic_cast<kvthost::TextBoxBase*>(focused.get())) {
      focused->ReadSelection();
      caret_.emplace(box->SelStart(), box->SelLength());
    }
    const std::size_t before = errors.Entries().size();
    const std::uint64_t notes = window.NoteCount();
    if (!window.Click(leave)) {
      const auto& entries = errors.Entries();
      for (std::size_t i = before; i < entries.size(); ++i) {
        out.reasons.emplace_back(entries[i].field, entries[i].message);
      }
      // The control itself may have said why (a date that does not exist, text that is no code).
      if (out.reasons.empty() && window.NoteCount() != notes) {
        out.reasons.emplace_back(focused->Name(), window.LastNote());
      }
      if (out.reasons.empty()) {
        out.reasons.emplace_back(
            focused->Name(),
            "Valore non accettato nel campo \"" + CaptionOf(w_.Fields(), focused->Name()) + "\"");
      }
      return out;
    }
    back = focused;
  }
  if (!w_.Intact()) {
    out.reasons.emplace_back("", "Lo script dell'archivio ha tolto i campi del modulo.");
    return out;
  }
  if (id_ != 0 && Read().texts == saved_) {
    out.result = SaveOutcome::Result::kUnchanged;
    out.version = version_;
    return out;
  }
  auto& fields = w_.Fields();
  // The collection's own check reports the first missing field and gives it the focus.
  const std::size_t before = errors.Entries().size();
  const bool complete = fields.CheckInsValue();
  if (!complete) {
    back = nullptr;
    const auto& entries = errors.Entries();
    for (std::size_t i = before; i < entries.size(); ++i) {
      out.reasons.emplace_back(entries[i].field, entries[i].message);
    }
  }
  // What the rules and the store see: the form after the collection's check moved the focus.
  const FormRead& now = Read();
  for (auto& failure : RuleFailures(now)) out.reasons.push_back(std::move(failure));
  // Every missing field at once, dates included, so that one attempt shows them all.
  const auto missing = MissingRequired(now);
  if (!missing.empty()) {
    std::string list;
    for (const auto& caption : missing) list += (list.empty() ? "" : ", ") + caption;
    out.reasons.emplace_back("", (missing.size() == 1 ? "Campo obbligatorio da compilare: "
                                                      : "Campi obbligatori da compilare: ") +
                                     list);
    // The collection's check passes over a date; the person is taken to the first missing
    // field all the same.
    if (complete) {
      for (std::int32_t i = 1; i <= fields.Count() && i <= std::ssize(now.raw); ++i) {
        auto field = fields.Item(kvt::Variant(i));
        if (!field->IsRequired() || !Empty(now.raw[static_cast<std::size_t>(i - 1)])) continue;
        if (auto control = std::dynamic_pointer_cast<kvthost::Control>(field->LinkedControl())) {
          back = std::move(control);
          caret_.reset();
        }
        break;
      }
    }
  }
  if (!complete && out.reasons.empty())
    out.reasons.emplace_back("", "Il documento non è completo.");
  if (!out.reasons.empty()) return out;
  checked_values_ = now.values;
  if (!allow_duplicate) {
    // Every index field filled and equal to a stored document's: probably the same document.
    std::vector<std::pair<std::string, kvt::Variant>> equal;
    auto values = std::dynamic_pointer_cast<kvt::Dictionary>(now.values);
    bool all_filled = values != nullptr;
    for (std::int32_t i = 1; i <= fields.Count() && all_filled; ++i) {
      auto field = fields.Item(kvt::Variant(i));
      if (!field->IsIndex()) continue;
      const kvt::Variant v =
          values->Exists(field->Name()) ? values->Item(field->Name()) : kvt::Variant::Null();
      all_filled = !Empty(v);
      equal.emplace_back(field->Name(), v);
    }
    if (all_filled && !equal.empty()) {
      for (const auto id : w_.Engine().FindDocuments(w_.Archive(), equal)) {
        if (id != id_) out.duplicates.push_back(id);
      }
    }
    if (!out.duplicates.empty()) {
      out.result = SaveOutcome::Result::kDuplicate;
      std::string fields_shown;
      for (const auto& [name, v] : equal) {
        fields_shown += (fields_shown.empty() ? "" : ", ") + CaptionOf(w_.Fields(), name) + " = " +
                        kvt::JoinText(v);
      }
      out.reasons.emplace_back("", "Esiste già un documento con gli stessi valori (" +
                                       fields_shown + "): il n. " +
                                       std::to_string(out.duplicates.front()) + " dell'archivio.");
      return out;
    }
  }
  out.result = SaveOutcome::Result::kStored;
  return out;
}

kvt::ObjectRef DocumentSession::StoredValues(const kvt::ObjectRef& form_values) const {
  if (extras_.empty()) return form_values;
  auto values = kvt::Dictionary::Create();
  if (auto shown = std::dynamic_pointer_cast<kvt::Dictionary>(form_values)) {
    for (const auto& [name, v] : shown->Entries()) values->Add(name, v);
  }
  for (const auto& [name, v] : extras_) {
    if (!values->Exists(name)) values->Add(name, v);
  }
  return values;
}

void DocumentSession::Store(SaveOutcome& out, std::int32_t base, kvtengine::Change how) {
  auto& fields = w_.Fields();
  // Nothing runs between the check and the store: the values it read are the form's.
  const kvt::ObjectRef values = StoredValues(checked_values_ ? checked_values_ : Read().values);
  checked_values_ = nullptr;
  // A new document and what its fields learn from it (the values they will suggest) are one
  // transaction: stored together or neither, written to the disk once. A correction is written
  // on its own: whether it met another clerk's change is read after the refusal, which a
  // transaction the server refused could not do.
  std::int32_t id = id_, version = version_;
  try {
    // The files the document names are kept with it, in its transaction: both or neither.
    if (id == 0) {
      w_.Engine().Transaction([&] {
        KeepNamedFiles(w_, values);
        id = w_.Engine().SaveDocument(w_.Archive(), values);
        version = 1;
        if (also_) also_(id);
        fields.AfterSave();
      });
      also_ = nullptr;
    } else if (NamesChosenFiles(w_, values)) {
      w_.Engine().Transaction([&] {
        KeepNamedFiles(w_, values);
        version = w_.Engine().CorrectDocument(id, values, base, how);
      });
    } else {
      KeepNamedFiles(w_, values);  // only checks that the files named are kept
      version = w_.Engine().CorrectDocument(id, values, base, how);
    }
  } catch (const kvt::Error& e) {
    if (id_ == 0 || e.Number() != kvt::kObjectErrorBase + kvtengine::kConflict) throw;
    out.result = SaveOutcome::Result::kConflict;
    out.conflict = w_.Engine().ConflictSince(id_, version_);
    conflict_ = out.conflict;
    theirs_ = out.conflict.now.version;
    // The fields both changed, each its own way: the only ones a person must decide on.
    const Snapshot now = Values();
    for (const auto& f : out.conflict.fields) {
      const std::string* mine = FindIn(now, f.name);
      const std::string* was = FindIn(saved_, f.name);
      const std::string theirs = TextOf(f.now);
      if (mine && was && *mine != *was && *mine != theirs) {
        out.both_changed.emplace_back(f.name, *mine, theirs);
      }
    }
    out.reasons.emplace_back("", ConflictMessage(out.conflict));
    return;
  }
  out.corrected = id_ != 0;
  id_ = id;
  version_ = version;
  if (out.corrected) fields.AfterSave();
  theirs_ = 0;
  out.id = id_;
  out.version = version_;
  if (tracks_) Baseline();
}

std::string DocumentSession::Named(std::int32_t id) const {
  const std::string by_id = "documento " + std::to_string(id);
  try {
    auto in = w_.Enter();
    auto& fields = w_.Fields();
    std::shared_ptr<kvt::Dictionary> stored;
    if (id != id_) {
      stored = std::dynamic_pointer_cast<kvt::Dictionary>(w_.Engine().LoadDocument(id));
      if (!stored) return by_id;
    }
    // The number or code first, then the date: "1030 del 06/12/2026".
    std::string texts, dates;
    for (std::int32_t i = 1; i <= fields.Count(); ++i) {
      auto field = fields.Item(kvt::Variant(i));
      if (!field->IsIndex()) continue;
      const kvt::Variant v = !stored                         ? field->Value()
                             : stored->Exists(field->Name()) ? stored->Item(field->Name())
                                                             : kvt::Variant();
      const std::string shown = v.IsNull() || v.IsEmpty() ? "" : kvt::JoinText(v);
      if (shown.empty()) continue;
      if (std::dynamic_pointer_cast<kvthost::DatePicker>(field->LinkedControl())) {
        dates += " del " + shown;
      } else {
        texts += " " + shown;
      }
    }
    if (texts.empty() && dates.empty()) return by_id;
    return "documento" + texts + dates;
  } catch (const std::exception&) {
    return by_id;  // a name is a courtesy: the message it goes into matters more
  }
}

std::string DocumentSession::NamedFirst(std::int32_t id) const {
  return "D" + Named(id).substr(1);
}

std::string DocumentSession::ConflictMessage(const kvtengine::Conflict& c) {
  const bool deleted = c.now.change == kvtengine::Change::kDelete;
  std::string out = "Il " + Named(id_) + " è stato " + (deleted ? "eliminato" : "modificato") +
                    " da " + Author(c.now.saved_by) + " il " + LocalTime(c.now.saved_at) +
                    " dopo che l'hai aperto: non è stato salvato nulla.";
  auto& fields = w_.Fields();
  auto shown = [](const kvt::Variant& v) {
    const std::string text = v.IsNull() || v.IsEmpty() ? "" : kvt::JoinText(v);
    return text.empty() ? std::string("(vuoto)") : "\"" + text + "\"";
  };
  if (!deleted && !c.fields.empty()) {
    out += "\nCampi cambiati (quando l'hai aperto → ora):";
    for (const auto& f : c.fields) {
      out += "\n  " + CaptionOf(fields, f.name) + ": " + shown(f.then) + " → " + shown(f.now);
    }
  }
  return out;
}

SaveOutcome DocumentSession::KeepMine() {
  auto in = w_.Enter();
  const ReadOnce once(*this);
  if (theirs_ == 0 || id_ == 0) return Save();
  std::shared_ptr<kvthost::Control> back;
  SaveOutcome out = Check(true, back);
  if (out.result == SaveOutcome::Result::kStored)
    Store(out, theirs_, kvtengine::Change::kOverwrite);
  Return(back);
  return out;
}

SaveOutcome DocumentSession::Merge(bool mine_where_both) {
  auto in = w_.Enter();
  const ReadOnce once(*this);
  if (theirs_ == 0 || id_ == 0 || conflict_.now.change == kvtengine::Change::kDelete) {
    return KeepMine();
  }
  // The document now starts from the other version: their values are the baseline, and the
  // fields this person did not change (or gives up) take them.
  auto& fields = w_.Fields();
  const Snapshot now = Values();
  auto baseline = kvt::Dictionary::Create();
  if (auto saved = std::dynamic_pointer_cast<kvt::Dictionary>(saved_values_)) {
    for (const auto& [name, v] : saved->Entries()) baseline->Add(name, v);
  }
  bool overwrites = false;
  for (const auto& f : conflict_.fields) {
    const kvt::Variant theirs = f.now.IsNull() ? kvt::Variant("") : f.now;
    const std::string* mine = FindIn(now, f.name);
    if (!mine) {
      // Not on this form: this person cannot have changed it.
      auto it = std::find_if(extras_.begin(), extras_.end(),
                             [&](const auto& e) { return e.first == f.name; });
      if (f.now.IsNull()) {
        if (it != extras_.end()) extras_.erase(it);
      } else if (it != extras_.end()) {
        it->second = f.now;
      } else {
        extras_.emplace_back(f.name, f.now);
      }
      continue;
    }
    const std::string* was = FindIn(saved_, f.name);
    const bool changed_here = was && *mine != *was;
    // The baseline becomes theirs.
    if (baseline->Exists(f.name)) {
      baseline->LetItem(f.name, theirs);
    } else {
      baseline->Add(f.name, theirs);
    }
    for (auto& [name, text] : saved_) {
      if (name == f.name) text = TextOf(f.now);
    }
    if (changed_here && (*mine == TextOf(f.now) || mine_where_both)) {
      overwrites = overwrites || *mine != TextOf(f.now);
      continue;
    }
    fields.Item(kvt::Variant(f.name))->LetValue(theirs);
  }
  saved_values_ = baseline;
  Rebase(/*compare=*/true);
  version_ = theirs_;
  std::shared_ptr<kvthost::Control> back;
  SaveOutcome out = Check(true, back);
  if (out.result == SaveOutcome::Result::kStored) {
    Store(out, version_, overwrites ? kvtengine::Change::kOverwrite : kvtengine::Change::kCorrect);
    out.merged = out.Stored();
    if (out.merged) out.conflict = conflict_;  // whose changes were merged, and which
  }
  Return(back);
  return out;
}

void DocumentSession::Return(const std::shared_ptr<kvthost::Control>& back) {
  // The person goes on where they were, the caret where it was (a missing field has the focus
  // instead).
  if (back && back->CanTakeFocus() && w_.Window().Active() != back && w_.Window().MoveFocus(back)) {
    if (auto* box = dynamic_cast<kvthost::TextBoxBase*>(back.get()); box && caret_) {
      box->LetSelStart(caret_->first);
      box->LetSelLength(caret_->second);
    }
  }
}

SaveOutcome DocumentSession::Save(bool allow_duplicate, bool store) {
  auto in = w_.Enter();
  const ReadOnce once(*this);
  std::shared_ptr<kvthost::Control> back;
  SaveOutcome out;
  if (allow_duplicate && duplicate_ && checked_values_ && w_.Intact() && !InputPending() &&
      Values() == *duplicate_) {
    out.id = id_;
    out.result = SaveOutcome::Result::kStored;  // everything else passed when it was checked
  } else {
    out = Check(allow_duplicate, back);
  }
  duplicate_.reset();
  if (out.result == SaveOutcome::Result::kDuplicate) duplicate_ = Values();
  if (out.result == SaveOutcome::Result::kStored && store) {
    Store(out, version_, kvtengine::Change::kCorrect);
  }
  Return(back);
  return out;
}

void DocumentSession::New() {
  auto in = w_.Enter();
  duplicate_.reset();
  also_ = nullptr;
  if (w_.FormName() != entry_form_) {
    w_.UseForm(entry_form_);
  } else {
    w_.Rebuild();
  }
  id_ = 0;
  version_ = 0;
  theirs_ = 0;
  extras_.clear();
  // Where a clerk starts; a row of a batch has nobody to start.
  if (tracks_) FocusFirstMissing();
  Baseline();
}

void DocumentSession::Next() {
  auto in = w_.Enter();
  duplicate_.reset();
  auto& fields = w_.Fields();
  fields.CopyPaste(false);  // the retained fields, copied
  // The pinned ones too, those the archive does not retain already.
  std::vector<std::pair<std::string, std::string>> pinned;
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    auto field = fields.Item(kvt::Variant(i));
    if (!pinned_.count(field->Name()) || field->IsRetainInMemory()) continue;
    const kvt::Variant v = field->Value();
    if (!v.IsNull() && !v.IsEmpty()) pinned.emplace_back(field->Name(), kvt::JoinText(v));
  }
  New();
  fields.CopyPaste(true);  // and pasted into the new document
  for (const auto& [name, text] : pinned) {
    // Straight into the control, as the retained values are: as they were, no script runs.
    const std::int32_t at = fields.Index(name);
    if (at == 0) continue;
    if (auto control = fields.Item(kvt::Variant(at))->LinkedControl()) {
      kvt::LetProperty(control, "Text", text);
    }
  }
  // The paste leaves the focus after the retained fields; a clerk starts at the first required
  // field still empty.
  FocusFirstMissing();
  Baseline();
}

void DocumentSession::Pin(const std::string& name, bool on) {
  if (on) {
    pinned_.insert(name);
  } else {
    pinned_.erase(name);
  }
}

void DocumentSession::FocusFirstMissing() {
  auto in = w_.Enter();
  auto& fields = w_.Fields();
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    auto field = fields.Item(kvt::Variant(i));
    if (!field->IsRequired() || !Empty(field->Value())) continue;
    FocusField(field);
    return;
  }
}

bool DocumentSession::FocusField(const std::shared_ptr<kvtfields::FieldType>& field) {
  auto control = std::dynamic_pointer_cast<kvthost::Control>(field->LinkedControl());
  if (!control || !control->CanTakeFocus()) return false;
  if (w_.Window().Active() == control) return true;
  try {
    return w_.Window().MoveFocus(control);
  } catch (const kvt::Error& e) {
    // As when the form is built: a script failing as the field is entered is that field's
    // error, shown, and the document stays usable.
    kvt::CurrentPlatform().MsgBox(
        "Errore dello script entrando nel campo \"" + Caption(*field) + "\": " + e.Description(),
        kvt::kMsgBoxOkOnly, "");
    return false;
  }
}

bool DocumentSession::FocusFirstField() {
  auto in = w_.Enter();
  auto& fields = w_.Fields();
  for (std::int32_t i = 1; i <= fields.Count(); ++i) {
    auto field = fields.Item(kvt::Variant(i));
    auto control = std::dynamic_pointer_cast<kvthost::Control>(field->LinkedControl());
    if (control && control->CanTakeFocus()) return FocusField(field);
  }
  return false;
}

bool DocumentSession::FocusNextMissing() {
  auto in = w_.Enter();
  auto& fields = w_.Fields();
  const std::int32_t n = fields.Count();
  // Where the focus is now: the search starts after it.
  std::int32_t at = 0;
  for (std::int32_t i = 1; i <= n; ++i) {
    if (fields.Item(kvt::Variant(i))->LinkedControl() == w_.Window().Active()) at = i;
  }
  for (std::int32_t k = 1; k <= n; ++k) {
    auto field = fields.Item(kvt::Variant((at + k - 1) % n + 1));
    if (!field->IsRequired() || !Empty(field->Value())) continue;
    auto control = std::dynamic_pointer_cast<kvthost::Control>(field->LinkedControl());
    if (!control || !control->CanTakeFocus() || control == w_.Window().Active()) continue;
    return FocusField(field);
  }
  return false;
}

void DocumentSession::Open(std::int32_t id, const std::string& form) {
  auto in = w_.Enter();
  duplicate_.reset();
  also_ = nullptr;
  kvtengine::VersionInfo version;
  auto values = w_.Engine().LoadDocumentAt(id, version);
  w_.UseForm(form.empty() ? entry_form_ : form);
  // Values under names the form does not show are kept aside, to be stored again as they are.
  extras_.clear();
  auto& fields = w_.Fields();
  auto shown = kvt::Dictionary::Create();
  if (auto all = std::dynamic_pointer_cast<kvt::Dictionary>(values)) {
    for (const auto& [name, v] : all->Entries()) {
      if (fields.Index(name) != 0) {
        shown->Add(name, v);
      } else {
        extras_.emplace_back(name, v);
      }
    }
    values = shown;
  }
  fields.SetFieldsValue(values);
  id_ = id;
  version_ = version.version;
  theirs_ = 0;
  Baseline();
}

bool DocumentSession::Delete() {
  auto in = w_.Enter();
  if (id_ == 0) return false;
  w_.Engine().DeleteDocument(id_, version_);
  New();
  return true;
}

}  // namespace kvtapp
