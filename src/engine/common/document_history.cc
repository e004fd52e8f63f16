// Versions and history of documents, the same on every engine: an engine writes one change at a
// time and reads the rows a history is made of; older versions are rebuilt here by going back
// from the newest through the values each change replaced.
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <unordered_map>

#include "engine/common/archive_engine.h"
#include "engine/common/engine_error.h"
#include "runtime/text.h"

namespace kvtengine {

namespace {

enum class StoredKind { kNone, kNumber, kText };

StoredKind KindOf(const kvt::Variant& v) {
  switch (v.Type()) {
    case kvt::VarType::kEmpty:
    case kvt::VarType::kNull:
      return StoredKind::kNone;
    case kvt::VarType::kBoolean:
    case kvt::VarType::kInteger:
    case kvt::VarType::kLong:
    case kvt::VarType::kDouble:
      return StoredKind::kNumber;
    default:
      return StoredKind::kText;
  }
}

double NumberOf(const kvt::Variant& v) {
  if (v.Type() == kvt::VarType::kBoolean) return v.AsBool() ? 1 : 0;
  if (v.Type() == kvt::VarType::kDouble) return v.AsDouble();
  return static_cast<double>(kvt::CLng(v));
}

using Values = std::vector<std::pair<std::string, kvt::Variant>>;

// The version before: the values `changes` recorded put back, each at its place.
void GoBack(Values& state, const std::vector<const ArchiveEngine::HistoryRows::Changed*>& changes) {
  for (const auto* c : changes) {
    std::erase_if(state, [&](const auto& entry) { return entry.first == c->field; });
  }
  for (const auto* c : changes) {  // in position order
    if (!c->present) continue;
    const auto at =
        std::min<std::size_t>(static_cast<std::size_t>(std::max(c->position, 1) - 1), state.size());
    state.insert(state.begin() + static_cast<std::ptrdiff_t>(at), {c->field, c->value});
  }
}

// Where each field's value stands through a history. A change row of version v holds the
// field's value at v (the next version changed it), so its value at any version is the first
// row recorded at or after that version, else the newest value.
class FieldTimeline {
 public:
  using Changed = ArchiveEngine::HistoryRows::Changed;
  explicit FieldTimeline(const ArchiveEngine::HistoryRows& rows) : rows_(rows) {
    for (const auto& c : rows.changes) by_field_[c.field].push_back(&c);  // in version order
    for (std::size_t i = 0; i < rows.current.size(); ++i)
      current_.emplace(rows.current[i].first, i);
  }
  // The value of `field` at `version`, or null when it had none.
  const kvt::Variant* At(const std::string& field, std::int32_t version) const {
    if (auto it = by_field_.find(field); it != by_field_.end()) {
      const auto& list = it->second;
      const auto c =
          std::lower_bound(list.begin(), list.end(), version,
                           [](const Changed* x, std::int32_t v) { return x->version < v; });
      if (c != list.end()) return (*c)->present ? &(*c)->value : nullptr;
    }
    const auto now = current_.find(field);
    return now == current_.end() ? nullptr : &rows_.current[now->second].second;
  }
  // How many fields the history names.
  std::size_t Fields() const {
    std::size_t n = current_.size();
    for (const auto& [field, list] : by_field_) n += current_.contains(field) ? 0 : 1;
    return n;
  }

 private:
  const ArchiveEngine::HistoryRows& rows_;
  std::unordered_map<std::string, std::vector<const Changed*>> by_field_;
  std::unordered_map<std::string, std::size_t> current_;
};

// Goes back from the newest version one version at a time, the values of each in their places,
// in one running state: `at` is told each version's index and values, newest first, and stops
// the walk by returning false.
void WalkBack(const ArchiveEngine::HistoryRows& rows,
              const std::function<bool(std::size_t, const Values&)>& at) {
  std::map<std::int32_t, std::vector<const ArchiveEngine::HistoryRows::Changed*>> by_version;
  for (const auto& c : rows.changes) by_version[c.version].push_back(&c);
  Values state = rows.current;
  for (std::size_t i = rows.versions.size(); i-- > 0;) {
    if (!at(i, state) || i == 0) return;
    GoBack(state, by_version[rows.versions[i - 1].version]);
  }
}

// The values version `version` held, in their places (empty for one the history lacks).
Values StateAt(const ArchiveEngine::HistoryRows& rows, std::int32_t version) {
  Values out;
  WalkBack(rows, [&](std::size_t i, const Values& state) {
    if (rows.versions[i].version != version) return true;
    out = state;
    return false;
  });
  return out;
}

std::string Shown(const kvt::Variant& v) {
  return KindOf(v) == StoredKind::kNone ? "(empty)" : "'" + kvt::Printable(kvt::JoinText(v)) + "'";
}

}  // namespace

const kvt::Variant* FindValue(const std::vector<std::pair<std::string, kvt::Variant>>& values,
                              const std::string& field) {
  for (const auto& [name, v] : values)
    if (name == field) return &v;
  return nullptr;
}

void ThrowNoDocument(std::int32_t id, const char* source) {
  throw kvt::RuntimeError(kvt::ErrorCode::kSubscriptOutOfRange, "no document " + std::to_string(id),
                          source);
}

bool SameStoredValue(const kvt::Variant& a, const kvt::Variant& b) {
  const StoredKind ka = KindOf(a), kb = KindOf(b);
  if (ka != kb) return false;
  if (ka == StoredKind::kNone) return true;
  if (ka == StoredKind::kNumber) return NumberOf(a) == NumberOf(b);
  return kvt::CStr(a) == kvt::CStr(b);
}

const char* ChangeName(Change change) {
  switch (change) {
    case Change::kCorrect:
      return "correct";
    case Change::kOverwrite:
      return "overwrite";
    case Change::kDelete:
      return "delete";
    case Change::kRestore:
      return "restore";
    case Change::kSave:
      break;
  }
  return "save";
}

Change ChangeNamed(std::string_view name) {
  for (const Change c : {Change::kCorrect, Change::kOverwrite, Change::kDelete, Change::kRestore}) {
    if (name == ChangeName(c)) return c;
  }
  return Change::kSave;
}

std::vector<DocumentVersion> ArchiveEngine::History(std::int32_t id) {
  HistoryRows rows = ReadHistory(id);
  const std::size_t values =
      rows.versions.size() * std::max<std::size_t>(FieldTimeline(rows).Fields(), 1);
  if (values > kHistoryValues) {
    throw EngineError(kDatabaseError, Source(),
                      "the history of document " + std::to_string(id) + " holds " +
                          std::to_string(rows.versions.size()) + " versions of up to " +
                          std::to_string(values / rows.versions.size()) +
                          " values: too many to read whole (at most " +
                          std::to_string(kHistoryValues) +
                          " values); 'documents history' lists it");
  }
  std::map<std::int32_t, std::vector<const HistoryRows::Changed*>> by_version;
  for (const auto& c : rows.changes) by_version[c.version].push_back(&c);
  std::vector<DocumentVersion> out(rows.versions.size());
  Values state = std::move(rows.current);
  for (std::size_t i = out.size(); i-- > 0;) {
    static_cast<VersionInfo&>(out[i]) = rows.versions[i];
    out[i].values = state;
    if (i == 0) break;
    const auto& changes = by_version[rows.versions[i - 1].version];
    for (const auto* c : changes) out[i].changed.push_back(c->field);
    GoBack(state, changes);
  }
  return out;
}

void ArchiveEngine::WalkHistory(
    std::int32_t id, const std::function<void(const VersionInfo&, const VersionStep&)>& visit) {
  const HistoryRows rows = ReadHistory(id);
  const FieldTimeline timeline(rows);
  // The first version and each one back from a deletion are shown whole: their values are
  // kept from one walk back while they fit the budget, else found again when they are shown.
  auto whole_at = [&](std::size_t i) {
    return rows.versions[i].change != Change::kDelete &&
           (i == 0 || rows.versions[i - 1].change == Change::kDelete);
  };
  std::map<std::size_t, Values> wholes;
  std::size_t kept = 0;
  WalkBack(rows, [&](std::size_t i, const Values& state) {
    if (whole_at(i) && kept + state.size() <= kHistoryValues) {
      kept += state.size();
      wholes.emplace(i, state);
    }
    return true;
  });
  // The change rows of each version, which follow one another in the rows.
  std::map<std::int32_t, std::pair<std::size_t, std::size_t>> by_version;
  for (std::size_t i = 0; i < rows.changes.size(); ++i) {
    auto [it, made] = by_version.try_emplace(rows.changes[i].version, i, i);
    it->second.second = i + 1;
  }
  for (std::size_t i = 0; i < rows.versions.size(); ++i) {
    const VersionInfo& v = rows.versions[i];
    VersionStep step;
    step.first_or_back = whole_at(i);
    if (step.first_or_back) {
      auto kept_whole = wholes.find(i);
      step.whole =
          kept_whole != wholes.end() ? std::move(kept_whole->second) : StateAt(rows, v.version);
    } else if (v.change != Change::kDelete) {
      if (auto it = by_version.find(rows.versions[i - 1].version); it != by_version.end()) {
        for (std::size_t c = it->second.first; c < it->second.second; ++c) {
          const auto& row = rows.changes[c];
          const kvt::Variant* after = timeline.At(row.field, v.version);
          step.changed.push_back({row.field, row.present ? row.value : kvt::Variant::Null(),
                                  after ? *after : kvt::Variant::Null()});
        }
      }
    }
    visit(v, step);
  }
}

Conflict ArchiveEngine::ConflictSince(std::int32_t id, std::int32_t base) {
  const HistoryRows rows = ReadHistory(id);
  Conflict out;
  if (rows.versions.empty()) return out;
  out.now = rows.versions.back();
  if (std::none_of(rows.versions.begin(), rows.versions.end(),
                   [&](const VersionInfo& v) { return v.version == base; })) {
    return out;
  }
  const Values then = StateAt(rows, base);
  const Values& now = rows.current;
  for (const auto& [field, v] : then) {
    const kvt::Variant* held = FindValue(now, field);
    const kvt::Variant other = held ? *held : kvt::Variant::Null();
    if (!SameStoredValue(v, other)) out.fields.push_back({field, v, other});
  }
  for (const auto& [field, v] : now) {
    if (!FindValue(then, field) && !SameStoredValue(v, kvt::Variant::Null()))
      out.fields.push_back({field, kvt::Variant::Null(), v});
  }
  return out;
}

namespace {

// The refusal of a change that did not start from the stored version, saying what happened.
[[noreturn]] void ThrowConflict(ArchiveEngine& engine, std::int32_t id, std::int32_t base,
                                const char* source) {
  const Conflict c = engine.ConflictSince(id, base);
  std::string what = "document " + std::to_string(id) + " was " +
                     (c.now.change == Change::kDelete ? "deleted" : "changed") + " by " +
                     (c.now.saved_by.empty() ? "an unknown user" : "'" + c.now.saved_by + "'") +
                     " at " + c.now.saved_at + " (version " + std::to_string(c.now.version) +
                     ") since version " + std::to_string(base) + " was read; nothing was written";
  for (std::size_t i = 0; i < c.fields.size(); ++i) {
    const auto& f = c.fields[i];
    what += (i == 0 ? ": " : "; ") + kvt::Printable(f.name) + " " + Shown(f.then) + " -> " +
            Shown(f.now);
  }
  throw EngineError(kConflict, source, what);
}

bool IsConflict(const kvt::Error& e) {
  return e.Number() == kvt::kObjectErrorBase + kConflict;
}

}  // namespace

std::int32_t ArchiveEngine::CorrectDocument(std::int32_t id, const kvt::ObjectRef& values,
                                            std::int32_t base, Change how) {
  const auto entries = DocumentValues(values, Source())->Entries();
  try {
    return WriteChange(id, base, &entries, how);
  } catch (const kvt::Error& e) {
    if (!IsConflict(e)) throw;
  }
  ThrowConflict(*this, id, base, Source());
}

std::int32_t ArchiveEngine::DeleteDocument(std::int32_t id, std::int32_t base) {
  try {
    return WriteChange(id, base, nullptr, Change::kDelete);
  } catch (const kvt::Error& e) {
    if (!IsConflict(e)) throw;
  }
  ThrowConflict(*this, id, base, Source());
}

std::int32_t ArchiveEngine::RestoreDocument(std::int32_t id, std::int32_t version,
                                            std::int32_t base) {
  const HistoryRows rows = ReadHistory(id);
  const auto it = std::find_if(rows.versions.begin(), rows.versions.end(),
                               [&](const VersionInfo& v) { return v.version == version; });
  if (it == rows.versions.end()) {
    throw kvt::RuntimeError(
        kvt::ErrorCode::kSubscriptOutOfRange,
        "document " + std::to_string(id) + " has no version " + std::to_string(version), Source());
  }
  if (it->change == Change::kDelete) {
    throw kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall,
                            "version " + std::to_string(version) + " of document " +
                                std::to_string(id) + " is its deletion: restore the one before",
                            Source());
  }
  const Values values = StateAt(rows, version);
  try {
    return WriteChange(id, base, &values, Change::kRestore);
  } catch (const kvt::Error& e) {
    if (!IsConflict(e)) throw;
  }
  ThrowConflict(*this, id, base, Source());
}

}  // namespace kvtengine
