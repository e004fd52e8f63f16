#include "addons/autocomplete/auto_completer.h"

#include "engine/sqlite/db_engine.h"
#include "kvtfields/contracts/controls.h"
#include "runtime/class_registry.h"
#include "runtime/error.h"
#include "runtime/text.h"

namespace kvtaddons {
namespace {

constexpr const char* kSource = "kvtAutoComplete.AutoCompleter";

bool IsIdentifier(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) {
      return false;
    }
  }
  return true;
}

}  // namespace

const kvt::ClassInfo& AutoCompleter::StaticClass() {
  static const kvt::ClassInfo info = [] {
    kvt::ClassBuilder<AutoCompleter> b("AutoCompleter");
    kvtfields::IAutoCompleter::Describe(b)
        .Get<&AutoCompleter::MatchCase>("MatchCase")
        .Get<&AutoCompleter::LearnNewValues>("LearnNewValues");
    return b.Build();
  }();
  return info;
}

void AutoCompleter::Attach(kvt::Variant& connection, const std::string& table,
                           const std::string& key, kvt::ObjectRef& control) {
  auto handle = connection.IsObject()
                    ? std::dynamic_pointer_cast<kvtsqlite::DatabaseHandle>(connection.AsObject())
                    : nullptr;
  if (!handle) {
    throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch, "not a database connection", kSource);
  }
  if (!IsIdentifier(table)) {
    throw kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall,
                            "'" + table + "' is not a table name", kSource);
  }
  auto* input = dynamic_cast<kvtfields::IInputControl*>(control.get());
  if (!input) throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch, "not a text control", kSource);
  db_ = handle->Get();
  table_ = "\"" + table + "\"";
  key_ = key;
  control_ = control;
  change_ = input->Events().Change.Subscribe([this] { OnChange(); });
}

void AutoCompleter::Detach() {
  change_.Reset();
  control_.Reset();
}

std::vector<std::string> AutoCompleter::Suggestions(const std::string& prefix) {
  if (!db_) throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "not attached", kSource);
  auto q = db_->Query("SELECT value FROM " + table_ +
                      " WHERE key = ?1 ORDER BY uses DESC, last_used DESC, value");
  q.Bind(1, key_);
  const std::string wanted = match_case_ ? prefix : kvt::ToLower(prefix);
  std::vector<std::string> out;
  while (out.size() < kMaxSuggestions && q.Step()) {
    std::string value = q.ColumnText(0);
    const std::string probe = match_case_ ? value : kvt::ToLower(value);
    if (probe.starts_with(wanted)) out.push_back(std::move(value));
  }
  return out;
}

void AutoCompleter::NotifySaved(const std::string& text) {
  if (!db_) throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "not attached", kSource);
  if (!learn_) return;
  std::string value = text;
  if (value.empty()) {
    auto control = control_.Resolve();
    if (!control) return;
    value = kvt::CStr(kvt::GetProperty(control, "Text"));
  }
  if (value.empty()) return;
  db_->Query("INSERT INTO " + table_ +
             " (key, value, uses, last_used) VALUES (?1, ?2, 1, (SELECT coalesce(max(last_used), "
             "0) + 1 FROM " +
             table_ +
             ")) ON CONFLICT (key, value) DO UPDATE SET uses = uses + 1, last_used = "
             "excluded.last_used")
      .Bind(1, key_)
      .Bind(2, value)
      .Run();
}

void AutoCompleter::OnChange() {
  auto control = control_.Resolve();
  // A host's own control may have nowhere to show the values: then nothing is offered.
  if (!control || control->Class().IdOf("ShowSuggestions") == kvt::kNoMember ||
      control->Class().IdOf("Parent") == kvt::kNoMember) {
    return;
  }
  // Only what the person types while in the box is answered, not the program's writes.
  const kvt::Variant parent = kvt::GetProperty(control, "Parent");
  if (!parent.IsObject() || !parent.AsObject()) return;
  const kvt::Variant active = kvt::GetProperty(parent.AsObject(), "ActiveControl");
  if (!active.IsObject() || active.AsObject() != control) return;
  const std::string text = kvt::CStr(kvt::GetProperty(control, "Text"));
  std::vector<std::string> offered;
  if (!text.empty()) offered = Suggestions(text);
  if (offered.size() == 1 && offered.front() == text) offered.clear();  // nothing left to offer
  kvt::CallMethod(control, "ShowSuggestions", kvt::ToVariant(offered));
}

void RegisterAutoCompleterClass() {
  kvt::ClassRegistry::Instance().Register(kvtfields::kAutoCompleterProgId, {},
                                          [] { return std::make_shared<AutoCompleter>(); });
}

}  // namespace kvtaddons
