// Versions and history of documents, the same on every engine: an engine writes one change at a
// time and reads the rows a history is made of; older versions are rebuilt here by going back
// from the newest through the values each change replaced.
#include <algorithm>
#include <cmath>
#include <map>

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

Conflict ArchiveEngine::ConflictSince(std::int32_t id, std::int32_t base) {
  const auto history = History(id);
  Conflict out;
  if (history.empty()) return out;
  out.now = history.back();
  const auto then = std::find_if(history.begin(), history.end(),
                                 [&](const DocumentVersion& v) { return v.version == base; });
  if (then == history.end()) return out;
  const Values& now = history.back().values;
  for (const auto& [field, v] : then->values) {
    const kvt::Variant* held = FindValue(now, field);
    const kvt::Variant other = held ? *held : kvt::Variant::Null();
    if (!SameStoredValue(v, other)) out.fields.push_back({field, v, other});
  }
  for (const auto& [field, v] : now) {
    if (!FindValue(then->values, field) && !SameStoredValue(v, kvt::Variant::Null()))
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
  const auto history = History(id);
  const auto it = std::find_if(history.begin(), history.end(),
                               [&](const DocumentVersion& v) { return v.version == version; });
  if (it == history.end()) {
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
  try {
    return WriteChange(id, base, &it->values, Change::kRestore);
  } catch (const kvt::Error& e) {
    if (!IsConflict(e)) throw;
  }
  ThrowConflict(*this, id, base, Source());
}

}  // namespace kvtengine
