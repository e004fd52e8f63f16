// The autocomplete class over an engine's autocomplete store: while the person types into the
// attached text box it offers the values saved before under the field's key that start with
// the typed text, most used first; accepting one fills the box. After a save it learns the
// box's text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kvtfields/contracts/auto_completer.h"
#include "kvtfields/contracts/autocomplete_store.h"
#include "runtime/event_source.h"
#include "runtime/weak_ref.h"

namespace kvtaddons {

/// How many values are offered at most.
inline constexpr std::size_t kMaxSuggestions = 8;

class AutoCompleter final : public kvtfields::IAutoCompleter {
  KVT_OBJECT()

 public:
  /// `connection` must be an engine's store (what its connection's AdoConnection gives),
  /// `control` an input control; the table name must be a plain identifier. Anything else
  /// raises 13 (5 for the table name) and attaches nothing.
  void Attach(const kvt::Variant& connection, const std::string& table, const std::string& key,
              const kvt::ObjectRef& control) override;
  void Detach() override;
  /// False (the default): "acme" finds "ACME S.p.A.".
  void LetMatchCase(bool match_case) override { match_case_ = match_case; }
  std::vector<std::string> Suggestions(const std::string& prefix) override;
  /// True (the default): NotifySaved stores what it is given.
  void LetLearnNewValues(bool learn) override { learn_ = learn; }
  void NotifySaved(const std::string& text) override;

  bool MatchCase() const { return match_case_; }
  bool LearnNewValues() const { return learn_; }

 private:
  void OnChange();
  // True while `control` is the focused control of its form (the person is in it).
  static bool Typing(const kvt::ObjectRef& control);
  // Shows the answer to question `asked` about `text`, when it is still the newest.
  void Offer(std::uint64_t asked, const std::string& text, std::vector<std::string> offered);
  kvt::ObjectRef store_object_;  // keeps the store alive
  kvtfields::IAutoCompleteStore* store_ = nullptr;
  std::string table_;
  std::string key_;
  kvt::WeakRef<kvt::Object> control_;  // the form owns the control
  kvt::Subscription change_;
  bool match_case_ = false;
  bool learn_ = true;
  std::uint64_t asked_ = 0;                               // questions asked the store
  std::shared_ptr<int> alive_ = std::make_shared<int>();  // answers hold it weakly
};

/// Registers "kvtAutoComplete.AutoCompleter" with the class registry.
void RegisterAutoCompleterClass();

}  // namespace kvtaddons
