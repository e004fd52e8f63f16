// FieldType: one data field of an archive on one host form. It reads its definition and
// layout through the database engine, creates its caption label and typed input control on
// the form, loads its code list, reads and writes its value and lock state through the
// control, and turns the control's events into script events and callbacks to its owner.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kvtfields/contracts/auto_completer.h"
#include "kvtfields/contracts/controls.h"
#include "kvtfields/contracts/db_engine.h"
#include "kvtfields/field/event_bound.h"
#include "kvtfields/field/field_type_event_callback.h"
#include "kvtfields/field/field_visual_property.h"
#include "kvtfields/internal/live_object.h"
#include "runtime/object.h"
#include "runtime/weak_ref.h"

namespace kvtfields {

/// The kind of a field's input control.
enum ControlKind : std::int32_t {
  kTextBox = 0,
  kComboBox = 1,
  kCalendar = 2,
  kFileLinker = 3,
};

/// Error numbers of FieldType (object errors 0x80040000 + n), source "kvtFields.FieldType".
inline constexpr std::uint32_t kErrNotInitialized = 513;
inline constexpr std::uint32_t kErrNotFound = 514;
inline constexpr std::uint32_t kErrWrongControl = 515;
inline constexpr std::uint32_t kErrAlreadyInitialized = 516;

inline constexpr std::int32_t kHighlightColor = 65535;  // yellow
inline constexpr std::int32_t kDefaultControlHeight = 315;

class FieldType final : public kvt::Object {
  KVT_OBJECT()

  // Only Create makes one: the object hands itself out as a counted reference.
  struct Private {
    explicit Private() = default;
  };

 public:
  static std::shared_ptr<FieldType> Create() { return std::make_shared<FieldType>(Private{}); }
  explicit FieldType(Private) {}
  /// The class's name where the type library names a parameter or result of this class.
  static constexpr const char* kTypeLibName = "FieldType";
  /// Releases the layout first, then the controls (ending their events), then the rest. The
  /// label and the control stay on their form.
  ~FieldType() override;

  // The interface, in slot order.

  /// The kind of input control (ControlKind); `form_item` is ignored.
  std::int32_t ControlType(std::optional<kvt::ObjectRef> form_item) const;
  /// A new kind rebuilds the input control on `form_item` and binds it.
  void LetControlType(std::optional<kvt::ObjectRef> form_item, std::int32_t value);
  /// Binds an input control of the field's kind (515 otherwise); one the field did not set up
  /// (its tag is not the field name) is configured and given its code list.
  void SetLinkedControl(kvt::ObjectRef the_control);
  kvt::ObjectRef LinkedControl();
  /// Binds the caption label (a label, else 13); one not set up by the field is set up.
  void SetLinkedLabel(kvt::ObjectRef the_label);
  kvt::ObjectRef LinkedLabel();
  bool IsRetainInMemory() const { return mIsRetainInMemory; }
  std::string Name();
  /// The control's value: text for text box, combo and file link; Date or Null for dates.
  kvt::Variant Value();
  void LetValue(kvt::Variant vdata);
  bool IsRequired() const { return mIsRequired; }
  bool AutoComplete() const { return mAutoComplete; }
  bool IsIndex() const { return mIsIndex; }
  std::int32_t DataFormat() const { return mDataFormat; }
  /// The definition's length limits (0: none) and case rule (1 upper, 2 lower, 0 as typed).
  std::int16_t MaxLen() const { return mMaxLen; }
  std::int16_t MinLen() const { return mMinLen; }
  std::int32_t CharFormat() const { return mCharFormat; }
  /// The messages (with their kind) of the rules a non-empty text breaks when the person leaves
  /// the field: minimum length, numbers only. The same test whoever wrote the text.
  std::vector<std::pair<std::string, std::int32_t>> TextRuleFailures(const std::string& text) const;
  bool IsCalendar() const { return mIsCalendar; }
  std::string Label() const { return mLabel; }
  std::string Descr() const { return mDescr; }
  bool Locked();
  void LetLocked(bool vdata);
  /// Reads the definition once. No engine, no connection or a closed one: returns silently.
  /// Errors: 516 on a second call, 514 for an unknown archive or field, conversion errors.
  void Init(std::string archive, std::string field_name, const std::string& form_name,
            std::shared_ptr<IDBEngine> db_eng, std::optional<kvt::ObjectRef> call_back_obj);
  /// Writes the empty value of the field's kind into the control.
  void ClearControlValue();
  /// Creates the caption label "Label_<name>" on the form (replacing one of that name).
  kvt::ObjectRef AddLabel(kvt::ObjectRef form_item);
  /// Creates, configures and fills the input control <name> on the form (replacing one).
  kvt::ObjectRef AddControl(kvt::ObjectRef form_item);
  /// The field's layout object (the form name is not used); Nothing before Init.
  kvt::Variant VisualProperty(const std::string& form_name);

  // Within the component.

  /// Tells the field's autocomplete object that the document was saved.
  void NotifyAfterSave();

  /// The value changed since the control last lost the focus.
  bool ValueChanged() const { return mValueChanged; }

 private:
  struct Kind;  // what differs between the kinds of control (control_kinds.h)
  /// The kind of a ControlType, or null for a value outside the four.
  static const Kind* KindOf(std::int32_t control_type);

  void EnsureInitialized() const;
  void ReadDefinition(kvt::RecordSet& rs);
  void SetupLabel(const kvt::ObjectRef& label);
  void PrepareControl(const kvt::ObjectRef& control);
  void ConfigureControl(const kvt::ObjectRef& control);
  // Each kind's own part of ConfigureControl (the control, its width and height in twips).
  void ConfigureTextBox(const kvt::ObjectRef& control, std::int32_t width, std::int32_t height);
  void ConfigureCombo(const kvt::ObjectRef& control, std::int32_t width, std::int32_t height);
  void ConfigureCalendar(const kvt::ObjectRef& control, std::int32_t width, std::int32_t height);
  void ConfigureFileLinker(const kvt::ObjectRef& control, std::int32_t width, std::int32_t height);
  void AttachAutoCompleter(const kvt::ObjectRef& control);
  void LoadCodeList(const kvt::ObjectRef& control);
  /// The bound input control of the current kind, or null.
  const kvt::ObjectRef& CurrentControl() const;
  /// The bound control of the current kind; a missing one raises 91.
  const kvt::ObjectRef& RequireControl() const;

  // Events (the handlers and the owner).
  struct CallBack {
    kvt::ObjectRef object;  // keeps the owner alive for the call
    IFieldTypeEventCallBack* callback;
  };
  std::optional<CallBack> GetCallBack() const;
  void RaiseCallBack(const std::string& event_name);
  void RaiseScriptEvent(const std::string& event_name, bool& cancel);
  void HighlightControl(const kvt::ObjectRef& control, bool entering, std::int32_t& color);
  std::vector<kvt::Subscription> Subscribe(IInputControl& events);
  void SubscribeCodeMaintenance(IInputControl& combo, std::vector<kvt::Subscription>& subs);
  void SubscribeDateEdit(IInputControl& picker, std::vector<kvt::Subscription>& subs);
  void OnGotFocus();
  void OnLostFocus();
  void OnChange();
  void OnValidate(bool& cancel);
  void OnTextValidate(bool& cancel);
  void OnDateEdit();
  void OnCodeAdded(const std::string& code, const std::string& description);
  void OnCodeDeleted(const std::string& code);
  void ReportInputError(const std::string& message, std::int32_t kind);

  bool mInitialized = false;
  std::shared_ptr<IDBEngine> mDBEngine;
  kvt::WeakRef<kvt::Object> mCallBackPtr;
  // mCallBackPtr's object seen as the callback interface, looked up once at Init; used only
  // after mCallBackPtr resolved, so never while its object is gone.
  IFieldTypeEventCallBack* mCallBackFacet = nullptr;
  bool mValueChanged = false;
  std::shared_ptr<IAutoCompleter> mAutoCompleter;
  kvt::ObjectRef mLinkedLabel;
  std::string mArchive;
  std::string mFieldName;
  std::string mFormName;
  std::string mLabel;
  std::string mDescr;
  std::int32_t mControlType = kTextBox;
  std::int16_t mMaxLen = 0;
  std::int16_t mMinLen = 0;
  std::int32_t mPriority = 0;
  bool mIsIndex = false;
  bool mIsRequired = false;
  bool mAutoComplete = false;
  std::int32_t mDataFormat = 0;
  std::int32_t mCharFormat = 0;
  bool mIsRetainInMemory = false;
  bool mIsCalendar = false;
  std::shared_ptr<FieldVisualProperty> mVisualProperty;
  std::int32_t mSavedBackColor = 0;
  EventBound<IInputControl> mctlTextBox;
  EventBound<IInputControl> mctlComboBox;
  EventBound<IInputControl> mctlCalendar;
  EventBound<IInputControl> mctlFileLinker;
  internal::LiveObject mLive;  // counts towards "may the library unload"
};

}  // namespace kvtfields
