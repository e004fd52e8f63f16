#include "engine/common/archive_engine.h"

#include <algorithm>
#include <atomic>
#include <ctime>
#include <map>
#include <unordered_set>

#include "engine/common/engine_error.h"
#include "kvtfields/contracts/autocomplete_store.h"
#include "runtime/record_set.h"
#include "runtime/text.h"

namespace kvtengine {

const char* IntakeStateName(IntakeItem::State state) {
  switch (state) {
    case IntakeItem::State::kQueued:
      return "in coda";
    case IntakeItem::State::kTaken:
      return "preso";
    case IntakeItem::State::kFiled:
      return "archiviato";
    case IntakeItem::State::kSetAside:
      return "scartato";
  }
  return "in coda";
}

IntakeItem::State IntakeStateOf(std::string_view name) {
  for (const auto st : {IntakeItem::State::kQueued, IntakeItem::State::kTaken,
                        IntakeItem::State::kFiled, IntakeItem::State::kSetAside}) {
    if (name == IntakeStateName(st)) return st;
  }
  return IntakeItem::State::kSetAside;
}

namespace {
std::atomic<std::int64_t> process_trips{0};
}  // namespace

std::int64_t ProcessRoundTrips() {
  return process_trips.load(std::memory_order_relaxed);
}

void CountRoundTrip() {
  process_trips.fetch_add(1, std::memory_order_relaxed);
}

std::string SavedAtNow() {
  char stamp[32];
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return stamp;
}

std::shared_ptr<kvt::Dictionary> DocumentValues(const kvt::ObjectRef& values, const char* source) {
  auto dict = std::dynamic_pointer_cast<kvt::Dictionary>(values);
  if (!dict) {
    throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch,
                            "a document's values must be a Dictionary", source);
  }
  return dict;
}

const char* const kDefinitionColumnsSql =
    "\"Label\", \"Descr\", \"MaxLen\", \"MinLen\", \"Priority\", \"IsIndex\", \"IsRequired\", "
    "\"AutoComplete\", \"DATA_FORMAT\", \"CHAR_FORMAT\", \"IsRetainInMemory\", \"Type\"";
const char* const kLayoutColumnsSql =
    "archive, cod, form, \"Width\", \"Height\", \"BreakLine\", \"MultiLine\", "
    "\"ShowComboLabel\"";

std::string QuotedStoreTable(const std::string& table, const char* source) {
  if (!kvtfields::IsStoreTableName(table)) {
    throw kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall,
                            "'" + table + "' is not a table name", source);
  }
  return "\"" + table + "\"";
}

const std::vector<std::string>& DefinitionColumns() {
  static const std::vector<std::string> columns = {
      "Label",      "Descr",        "MaxLen",      "MinLen",      "Priority",         "IsIndex",
      "IsRequired", "AutoComplete", "DATA_FORMAT", "CHAR_FORMAT", "IsRetainInMemory", "Type"};
  return columns;
}

const std::vector<std::string>& LayoutColumns() {
  static const std::vector<std::string> columns = {
      "archive", "cod", "form", "Width", "Height", "BreakLine", "MultiLine", "ShowComboLabel"};
  return columns;
}

// The archive as read when its form build began. Each field's questions are answered once, in
// the order of the fields: a question out of that order belongs to something after the build
// (a code list reloaded, a field added by hand) and must see the database as it is now.
struct ArchiveEngine::Snapshot {
  std::string archive;
  std::unordered_map<std::string, std::size_t> index;  // field name → position
  std::vector<std::vector<kvt::Variant>> definitions;
  std::vector<std::vector<std::vector<kvt::Variant>>> codes;  // per field: {COD, VALUE} rows
  std::map<std::string, std::unordered_map<std::string, std::vector<kvt::Variant>>> layouts;
  // Which questions were answered: per field, and for layouts per form and field.
  std::vector<bool> definition_asked, codes_asked;
  std::map<std::string, std::vector<bool>> layout_asked;
  std::size_t cursor = 0;

  // The field's position when the snapshot may answer for it, marking the question answered.
  std::optional<std::size_t> Claim(const std::string& field, std::vector<bool>& asked) {
    auto it = index.find(field);
    if (it == index.end()) return std::nullopt;
    const std::size_t i = it->second;
    if (i < cursor || asked[i]) return std::nullopt;
    asked[i] = true;
    cursor = i;
    return i;
  }
};

ArchiveEngine::ArchiveEngine() = default;
ArchiveEngine::~ArchiveEngine() = default;

void ArchiveEngine::SetFormSnapshot(bool on) {
  use_snapshot_ = on;
  DropSnapshot();
}

void ArchiveEngine::DropSnapshot() {
  snapshot_.reset();
  kinds_.clear();
}

void ArchiveEngine::RememberKinds(const std::string& archive, const ArchiveRead& read) {
  static const auto column = [](const char* name) {
    const auto& c = DefinitionColumns();
    return static_cast<std::size_t>(std::find(c.begin(), c.end(), name) - c.begin());
  };
  static const std::size_t type = column("Type"), format = column("DATA_FORMAT");
  auto& kinds = kinds_[archive];
  kinds.clear();
  for (std::size_t i = 0; i < read.names.size() && i < read.definitions.size(); ++i) {
    const auto& row = read.definitions[i];
    kinds[read.names[i]] = row.size() > std::max(type, format)
                               ? SearchKindOf(row[type], row[format])
                               : SearchKind::kText;
  }
}

const std::unordered_map<std::string, SearchKind>& ArchiveEngine::KindsOf(
    const std::string& archive) {
  auto it = kinds_.find(archive);
  if (it == kinds_.end()) {
    RememberKinds(archive, ReadArchive(archive));
    it = kinds_.find(archive);
  }
  return it->second;
}

SearchKind ArchiveEngine::KindOf(const std::string& archive, const std::string& field) {
  const auto& kinds = KindsOf(archive);
  const auto f = kinds.find(field);
  return f == kinds.end() ? SearchKind::kText : f->second;
}

std::vector<KeyCondition> ArchiveEngine::KeyConditions(const std::string& archive,
                                                       const std::vector<Criterion>& criteria) {
  std::vector<KeyCondition> out;
  for (const auto& c : criteria) {
    SearchKind kind = SearchKind::kText;  // every field's text: a contains-search
    if (!c.field.empty()) {
      const auto& kinds = KindsOf(archive);
      const auto f = kinds.find(c.field);
      if (f == kinds.end()) {
        throw kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall,
                                "archive '" + archive + "' has no field '" + c.field + "'",
                                Source());
      }
      kind = f->second;
    }
    out.push_back(KeyConditionOf(c, kind, Source()));
  }
  return out;
}

void ArchiveEngine::ReadDocumentTexts(
    const std::string& archive, const std::function<void(const DocumentText& document)>& each) {
  std::vector<std::string> texts;
  DocumentText text;
  ReadDocuments(archive, [&](StoredDocument&& d) {
    texts.clear();
    for (const auto& [field, v] : d.values) texts.push_back(kvt::JoinText(v));
    text.id = d.id;
    text.saved_at = d.saved_at;
    text.values.clear();
    for (std::size_t i = 0; i < texts.size(); ++i)
      text.values.emplace_back(d.values[i].first, texts[i]);
    each(text);
  });
}

std::vector<std::string> ArchiveEngine::GetFormFields(const std::string& archive) {
  DropSnapshot();
  std::vector<std::string> names;
  std::unique_ptr<Snapshot> snap;
  if (use_snapshot_) {
    ArchiveRead read = ReadArchive(archive);
    RememberKinds(archive, read);
    snap = std::make_unique<Snapshot>();
    snap->archive = archive;
    snap->definitions = std::move(read.definitions);
    snap->codes.resize(read.names.size());
    snap->definition_asked.resize(read.names.size());
    snap->codes_asked.resize(read.names.size());
    for (std::size_t i = 0; i < read.names.size(); ++i) snap->index.emplace(read.names[i], i);
    for (auto& [field, row] : read.codes) {
      auto it = snap->index.find(field);
      if (it != snap->index.end()) snap->codes[it->second].push_back(std::move(row));
    }
    names = std::move(read.names);
  } else {
    names = ReadFieldNames(archive);
  }
  // A form names its controls without regard to letter case: two such fields would share one
  // control, the second silently replacing the first.
  std::unordered_set<std::string_view, kvt::IgnoreCaseHash, kvt::IgnoreCaseEqual> seen;
  for (const auto& n : names) {
    if (!seen.insert(n).second) {
      throw EngineError(kBadDefinition, Source(),
                        "archive '" + archive + "' has two fields named '" + n +
                            "' but for letter case; rename one of them");
    }
  }
  snapshot_ = std::move(snap);
  return names;
}

std::shared_ptr<kvt::RecordSet> ArchiveEngine::GetFieldDefinition(const std::string& archive,
                                                                  const std::string& field_name) {
  if (snapshot_ && snapshot_->archive == archive) {
    if (auto i = snapshot_->Claim(field_name, snapshot_->definition_asked)) {
      // Each row is answered once (Claim), so it moves out of the snapshot.
      std::vector<std::vector<kvt::Variant>> rows;
      rows.push_back(std::move(snapshot_->definitions[*i]));
      return kvt::MemoryRecordSet::Create(DefinitionColumns(), std::move(rows));
    }
    DropSnapshot();
  }
  return ReadDefinition(archive, field_name);
}

namespace {

// A width or height no screen can show is a damaged or hostile layout: refused when read, so
// that no window arithmetic ever sees it.
void CheckLayoutSize(const kvt::Variant& value, const char* what, const std::string& archive,
                     const std::string& field, const std::string& form, const char* source) {
  if (!kvt::IsNumeric(value)) return;
  const double v = kvt::CDbl(value);
  if (v >= -kMaxLayoutTwips && v <= kMaxLayoutTwips) return;
  throw EngineError(kBadDefinition, source,
                    "the layout of field '" + field + "' of archive '" + archive + "' on form '" +
                        form + "' has a " + what + " of " + kvt::CStr(value) +
                        " twips, more than a screen can show (at most " +
                        std::to_string(kMaxLayoutTwips) + ")");
}

kvt::Variant CheckedLayout(kvt::Variant layout, const std::string& archive,
                           const std::string& field, const std::string& form, const char* source) {
  if (!layout.IsObject()) return layout;
  auto rs = std::dynamic_pointer_cast<kvt::RecordSet>(layout.AsObject());
  if (rs && !rs->Eof()) {
    CheckLayoutSize(rs->Value("Width"), "width", archive, field, form, source);
    CheckLayoutSize(rs->Value("Height"), "height", archive, field, form, source);
  }
  return layout;
}

}  // namespace

kvt::Variant ArchiveEngine::GetFieldVisualProperties(const std::string& archive,
                                                     const std::string& field_name,
                                                     const std::string& form_name) {
  if (snapshot_ && snapshot_->archive == archive) {
    auto asked = snapshot_->layout_asked.find(form_name);
    if (asked == snapshot_->layout_asked.end()) {
      // One query per form, the first time it is asked for; a failed read changes nothing.
      auto rows = ReadLayouts(archive, form_name);
      snapshot_->layouts[form_name] = std::move(rows);
      asked = snapshot_->layout_asked
                  .emplace(form_name, std::vector<bool>(snapshot_->definitions.size(), false))
                  .first;
    }
    if (snapshot_->Claim(field_name, asked->second)) {
      auto& rows = snapshot_->layouts[form_name];
      auto row = rows.find(field_name);
      if (row == rows.end()) return kvt::Variant::Nothing();
      std::vector<std::vector<kvt::Variant>> answer;
      answer.push_back(std::move(row->second));
      return CheckedLayout(
          kvt::Variant(kvt::MemoryRecordSet::Create(LayoutColumns(), std::move(answer))), archive,
          field_name, form_name, Source());
    }
    DropSnapshot();
  }
  auto rs = ReadLayout(archive, field_name, form_name);
  if (rs->Eof()) return kvt::Variant::Nothing();
  return CheckedLayout(kvt::Variant(rs), archive, field_name, form_name, Source());
}

std::shared_ptr<kvt::RecordSet> ArchiveEngine::GetCodeList(const std::string& filter) {
  const CodeFilter f = ParseCodeFilter(filter, Source());
  if (snapshot_ && f.IsArchiveField() && snapshot_->archive == f.equals[0].second) {
    if (auto i = snapshot_->Claim(f.equals[1].second, snapshot_->codes_asked)) {
      return kvt::MemoryRecordSet::Create({"COD", "VALUE"}, std::move(snapshot_->codes[*i]));
    }
    DropSnapshot();
  }
  return ReadCodes(f);
}

void ArchiveEngine::AddCode(const std::string& archive, const std::string& field_name,
                            const std::string& code, const std::string& description) {
  WriteCode(archive, field_name, code, description);
  if (!snapshot_ || snapshot_->archive != archive) return;
  auto it = snapshot_->index.find(field_name);
  if (it == snapshot_->index.end()) return;
  // Codes are kept in the database's order: bytes, as both engines compare them.
  auto& rows = snapshot_->codes[it->second];
  auto at =
      std::lower_bound(rows.begin(), rows.end(), code,
                       [](const auto& row, const std::string& c) { return row[0].AsString() < c; });
  if (at != rows.end() && at->front().AsString() == code) {
    (*at)[1] = kvt::Variant(description);
  } else {
    rows.insert(at, {kvt::Variant(code), kvt::Variant(description)});
  }
}

void ArchiveEngine::DeleteCode(const std::string& archive, const std::string& field_name,
                               const std::string& code) {
  EraseCode(archive, field_name, code);
  if (!snapshot_ || snapshot_->archive != archive) return;
  auto it = snapshot_->index.find(field_name);
  if (it == snapshot_->index.end()) return;
  auto& rows = snapshot_->codes[it->second];
  std::erase_if(rows, [&](const auto& row) { return row[0].AsString() == code; });
}

}  // namespace kvtengine
