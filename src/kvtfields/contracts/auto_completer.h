// The autocomplete class attached to text fields that have AutoComplete: it offers values that
// were saved before under the field's key. Created by programmatic identifier.
#pragma once

#include <string>
#include <vector>

#include "runtime/class_builder.h"
#include "runtime/object.h"

namespace kvtfields {

inline constexpr const char* kAutoCompleterProgId = "kvtAutoComplete.AutoCompleter";

/// Six operations in interface order. The component calls Attach, MatchCase, LearnNewValues
/// and NotifySaved; Detach and Suggestions serve hosts.
class IAutoCompleter : public kvt::Object {
 public:
  /// Binds to a text control: values are kept in `table` (of `connection`) under `key`.
  virtual void Attach(const kvt::Variant& connection, const std::string& table,
                      const std::string& key, const kvt::ObjectRef& control) = 0;
  /// Stops offering values to the attached control.
  virtual void Detach() = 0;
  /// True: the typed text must match a known value's letter case.
  virtual void LetMatchCase(bool match_case) = 0;
  /// Known values that start with `prefix`, most used first.
  virtual std::vector<std::string> Suggestions(const std::string& prefix) = 0;
  /// True: NotifySaved learns the values it is given.
  virtual void LetLearnNewValues(bool learn) = 0;
  /// A document was saved: learns `text`, or the attached control's text when it is "".
  virtual void NotifySaved(const std::string& text) = 0;

  template <class C>
  static kvt::ClassBuilder<C>& Describe(kvt::ClassBuilder<C>& b) {
    return b.template Method<&IAutoCompleter::Attach>("Attach")
        .Params({"Connection", "Table", "Key", "Control"})
        .ByRef({"Connection", "Control"})
        .template Method<&IAutoCompleter::Detach>("Detach")
        .template Let<&IAutoCompleter::LetMatchCase>("MatchCase")
        .template Method<&IAutoCompleter::Suggestions>("Suggestions")
        .Params({"Prefix"})
        .template Let<&IAutoCompleter::LetLearnNewValues>("LearnNewValues")
        .template Method<&IAutoCompleter::NotifySaved>("NotifySaved")
        .Params({"Text"});
  }
};

}  // namespace kvtfields
