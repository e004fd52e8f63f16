// The typed side of the controls a field creates on a host form: the caption label and the four
// input controls. Each input control is a typed event source; its members are reached late-bound
// by the names and member ids of host_contract.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kvtfields/contracts/host_contract.h"
#include "runtime/event_source.h"
#include "runtime/object.h"

namespace kvtfields {

/// Optional for a host form's `Controls` collection: whether a control of a name is there, so
/// that building a field on a new form needs no failed removal of a control that is not.
class IControlLookup {
 public:
  virtual ~IControlLookup() = default;
  virtual bool Contains(std::string_view name) const = 0;
};

/// Events every input control raises to the field bound to it.
struct InputEvents {
  kvt::EventSource<> GotFocus;
  kvt::EventSource<> LostFocus;
  kvt::EventSource<> Change;
  /// The focus is about to leave; a handler that sets the flag keeps the focus in place.
  kvt::EventSource<bool&> Validate;
};

/// Base of the four input controls' interfaces. A control is an automation object that also
/// offers exactly one of the derived interfaces, which is what binding it to a field tests.
class IInputControl {
 public:
  virtual ~IInputControl() = default;
  virtual InputEvents& Events() = 0;
};

/// The multi-line text box ("ZulMultiLineTextBox.MultiLineTextBox").
class ITextBoxControl : public IInputControl {};

/// The code/description combo ("zulDBCodDescr.DBCodDescr").
class ICodeComboControl : public IInputControl {
 public:
  struct CodeEvents {
    /// The person added a code: code, description, and a third argument the field ignores.
    kvt::EventSource<const std::string&, const std::string&, const kvt::Variant&> CodeAdded;
    /// The person deleted a code: code, and two further arguments the field ignores.
    kvt::EventSource<const std::string&, const kvt::Variant&, const kvt::Variant&> CodeDeleted;
  };
  virtual CodeEvents& CodeMaintenance() = 0;
};

/// The date picker ("MSComCtl2.DTPicker.2").
class IDatePickerControl : public IInputControl {
 public:
  /// Raised when the person edits the date (a part typed, the check box toggled); the argument
  /// is the picker's new value and the field does not read it.
  virtual kvt::EventSource<const kvt::Variant&>& UserEdit() = 0;
};

/// The file-link control ("ZulFileLinker.FileLinker").
class IFileLinkerControl : public IInputControl {};

/// The platform's plain label ("VB.Label"), set up through this typed interface; like the input
/// controls it is an automation object that also offers this interface.
class ILabelControl {
 public:
  virtual ~ILabelControl() = default;
  virtual std::string Caption() const = 0;
  virtual void LetCaption(const std::string& caption) = 0;
  virtual bool AutoSize() const = 0;
  virtual void LetAutoSize(bool auto_size) = 0;
  /// 0 transparent, 1 opaque.
  virtual std::int16_t BackStyle() const = 0;
  virtual void LetBackStyle(std::int16_t style) = 0;
  virtual std::string ToolTipText() const = 0;
  virtual void LetToolTipText(const std::string& text) = 0;
  virtual std::string Tag() const = 0;
  virtual void LetTag(const std::string& tag) = 0;
};

}  // namespace kvtfields
