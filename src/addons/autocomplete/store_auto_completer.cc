#include "addons/autocomplete/store_auto_completer.h"

#include "kvtfields/contracts/controls.h"
#include "runtime/class_registry.h"
#include "runtime/error.h"
#include "runtime/platform.h"
#include "runtime/text.h"

namespace kvtaddons {
namespace {

namespace member = kvtfields::member;

constexpr const char* kSource = "kvtAutoComplete.AutoCompleter";

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

void AutoCompleter::Attach(const kvt::Variant& connection, const std::string& table,
                           const std::string& key, const kvt::ObjectRef& control) {
  kvt::ObjectRef store_object = connection.IsObject() ? connection.AsObject() : nullptr;
  auto* store = dynamic_cast<kvtfields::IAutoCompleteStore*>(store_object.get());
  if (!store) {
    throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch, "not an autocomplete store", kSource);
  }
  if (!kvtfields::IsStoreTableName(table)) {
    throw kvt::RuntimeError(kvt::ErrorCode::kInvalidProcedureCall,
                            "'" + table + "' is not a table name", kSource);
  }
  auto* input = dynamic_cast<kvtfields::IInputControl*>(control.get());
  if (!input) throw kvt::RuntimeError(kvt::ErrorCode::kTypeMismatch, "not a text control", kSource);
  store_object_ = std::move(store_object);
  store_ = store;
  table_ = table;
  key_ = key;
  control_ = control;
  change_ = input->Events().Change.Subscribe([this] { OnChange(); });
}

void AutoCompleter::Detach() {
  change_.Reset();
  control_.Reset();
  alive_ = std::make_shared<int>();  // answers still on their way are for the old control
}

std::vector<std::string> AutoCompleter::Suggestions(const std::string& prefix) {
  if (!store_) throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "not attached", kSource);
  return store_->StartingWith(table_, key_, prefix, match_case_, kMaxSuggestions);
}

void AutoCompleter::NotifySaved(const std::string& text) {
  if (!store_) throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "not attached", kSource);
  if (!learn_) return;
  std::string value = text;
  if (value.empty()) {
    auto control = control_.Resolve();
    if (!control) return;
    value = kvt::CStr(kvt::GetProperty(control, member::kText));
  }
  if (value.empty()) return;
  store_->Learn(table_, key_, value);
}

void AutoCompleter::OnChange() {
  auto control = control_.Resolve();
  // A host's own control may have nowhere to show the values: then nothing is offered.
  if (!control || control->Class().IdOf("ShowSuggestions") == kvt::kNoMember ||
      control->Class().IdOf("Parent") == kvt::kNoMember) {
    return;
  }
  // Only what the person types while in the box is answered, not the program's writes.
  if (!Typing(control)) return;
  if (!kvt::CurrentPlatform().Attended()) return;  // nobody to offer them to
  const std::string text = kvt::CStr(kvt::GetProperty(control, member::kText));
  const std::uint64_t asked = ++asked_;
  if (text.empty()) return Offer(asked, text, {});
  // Answered at once, or later by a store that looks up in the background: then only the
  // answer to the newest question, for the text still in the box, is shown.
  store_->StartingWithLater(
      table_, key_, text, match_case_, kMaxSuggestions,
      [this, alive = std::weak_ptr<int>(alive_), asked, text](std::vector<std::string> offered) {
        if (alive.expired()) return;  // detached or gone meanwhile
        Offer(asked, text, std::move(offered));
      });
}

bool AutoCompleter::Typing(const kvt::ObjectRef& control) {
  const kvt::Variant parent = kvt::GetProperty(control, member::kParent);
  if (!parent.IsObject() || !parent.AsObject()) return false;
  const kvt::Variant active = kvt::GetProperty(parent.AsObject(), member::kActiveControl);
  return active.IsObject() && active.AsObject() == control;
}

void AutoCompleter::Offer(std::uint64_t asked, const std::string& text,
                          std::vector<std::string> offered) {
  if (asked != asked_) return;  // an older question's answer
  auto control = control_.Resolve();
  if (!control || !Typing(control)) return;  // left meanwhile: nothing to offer there
  if (kvt::CStr(kvt::GetProperty(control, member::kText)) != text) return;
  if (offered.size() == 1 && offered.front() == text) offered.clear();  // nothing left to offer
  kvt::CallMethod(control, member::kShowSuggestions, kvt::ToVariant(offered));
}

void RegisterAutoCompleterClass() {
  kvt::ClassRegistry::Instance().Register(kvtfields::kAutoCompleterProgId, {},
                                          [] { return std::make_shared<AutoCompleter>(); });
}

}  // namespace kvtaddons
