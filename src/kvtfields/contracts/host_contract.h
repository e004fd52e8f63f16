// Everything the component (and the classes beside it) reads, writes or calls on a window
// system's objects, declared once: member names, fixed member ids, and per class the members a
// host must offer, with what the host must do. A host implements these; the conformance suite
// checks them. Calls are late-bound by name, or by member id where one is fixed here.
#pragma once

#include <cstdint>
#include <span>

#include "runtime/object.h"

namespace kvtfields {

// Class names by which a form's Controls.Add creates each control.
inline constexpr const char* kLabelClass = "VB.Label";
inline constexpr const char* kPlainTextBoxClass = "VB.TextBox";
inline constexpr const char* kTextBoxClass = "ZulMultiLineTextBox.MultiLineTextBox";
inline constexpr const char* kComboClass = "zulDBCodDescr.DBCodDescr";
inline constexpr const char* kDatePickerClass = "MSComCtl2.DTPicker.2";
inline constexpr const char* kFileLinkerClass = "ZulFileLinker.FileLinker";
inline constexpr const char* kStatusBarClass = "MSComctlLib.SBarCtrl.2";

/// Member ids of the value and lock members, part of the contract with each input control.
namespace member_id {
inline constexpr kvt::DispId kTextBoxText = 0x68030001;     // String
inline constexpr kvt::DispId kTextBoxLocked = 0x6803000B;   // Boolean
inline constexpr kvt::DispId kComboValue = 0;               // String: the current code
inline constexpr kvt::DispId kComboLocked = 0x68030036;     // Boolean
inline constexpr kvt::DispId kComboListCount = 0x68030001;  // Integer: entries in the list
inline constexpr kvt::DispId kComboListIndex = 0x68030000;  // Integer: selected position
inline constexpr kvt::DispId kDatePickerValue = 20;         // Date, or Null for no date
inline constexpr kvt::DispId kDatePickerEnabled = static_cast<kvt::DispId>(0x8001000D);
inline constexpr kvt::DispId kFileLinkerText = 0x68030000;     // String
inline constexpr kvt::DispId kFileLinkerEnabled = 0x6803000A;  // Boolean, read for Locked
inline constexpr kvt::DispId kFileLinkerLocked = 0x68030005;   // Boolean, written by Locked
}  // namespace member_id

/// Member names called late-bound on host objects.
namespace member {
// Forms and windows.
inline constexpr const char* kControls = "Controls";
inline constexpr const char* kCaption = "Caption";
inline constexpr const char* kScaleWidth = "ScaleWidth";
inline constexpr const char* kScaleHeight = "ScaleHeight";
inline constexpr const char* kKeyPreview = "KeyPreview";
inline constexpr const char* kActiveControl = "ActiveControl";
inline constexpr const char* kUnload = "Unload";
inline constexpr const char* kStatusBar = "SB";  // the form's status bar, reached by its name
// The controls collection.
inline constexpr const char* kAdd = "Add";
inline constexpr const char* kRemove = "Remove";
inline constexpr const char* kItem = "Item";
inline constexpr const char* kCount = "Count";
// Every control.
inline constexpr const char* kName = "Name";
inline constexpr const char* kTag = "Tag";
inline constexpr const char* kToolTipText = "ToolTipText";
inline constexpr const char* kLeft = "Left";
inline constexpr const char* kTop = "Top";
inline constexpr const char* kWidth = "Width";
inline constexpr const char* kHeight = "Height";
inline constexpr const char* kVisible = "Visible";
inline constexpr const char* kTabIndex = "TabIndex";
inline constexpr const char* kBackColor = "BackColor";
inline constexpr const char* kForeColor = "ForeColor";
inline constexpr const char* kFont = "Font";
inline constexpr const char* kBold = "Bold";
inline constexpr const char* kParent = "Parent";
inline constexpr const char* kSetFocus = "SetFocus";
// Text members.
inline constexpr const char* kText = "Text";
inline constexpr const char* kSelStart = "SelStart";
inline constexpr const char* kSelLength = "SelLength";
inline constexpr const char* kMaxLength = "MaxLength";
inline constexpr const char* kMultiLine = "MultiLine";
inline constexpr const char* kShowSuggestions = "ShowSuggestions";
// Value and lock members, called by member id; their names for hosts and readers.
inline constexpr const char* kLocked = "Locked";
inline constexpr const char* kEnabled = "Enabled";
inline constexpr const char* kListIndex = "ListIndex";
inline constexpr const char* kListCount = "ListCount";
// The label.
inline constexpr const char* kAutoSize = "AutoSize";
inline constexpr const char* kBackStyle = "BackStyle";
// The combo.
inline constexpr const char* kVisibleDescription = "VisibleDescription";
inline constexpr const char* kBehavior = "Behavior";
inline constexpr const char* kHaveEmptyElement = "HaveEmptyElement";
inline constexpr const char* kDataRows = "DataRows";
inline constexpr const char* kRequeryRecordset = "RequeryRecordset";
inline constexpr const char* kComboBinding = "ComboBinding";
inline constexpr const char* kLabelBinding = "LabelBinding";
inline constexpr const char* kRefill = "Refill";
// The date picker.
inline constexpr const char* kValue = "Value";
inline constexpr const char* kFormat = "Format";
inline constexpr const char* kCustomFormat = "CustomFormat";
inline constexpr const char* kCheckBox = "CheckBox";
// The status bar.
inline constexpr const char* kPanels = "panels";
// The coordinator and the objects it hands out.
inline constexpr const char* kDBEngine = "DBEngine";
inline constexpr const char* kScriptEngine = "ScriptEngine";
inline constexpr const char* kFieldsCollection = "FieldsCollection";
inline constexpr const char* kErrori = "Errori";
inline constexpr const char* kAggiungiUnErrore = "AggiungiUnErrore";
inline constexpr const char* kApplication = "Application";
inline constexpr const char* kFormLoaderStatus = "FormLoaderStatus";
inline constexpr const char* kMainForm = "MainForm";
inline constexpr const char* kWindowState = "WindowState";
inline constexpr const char* kDocViewer = "DocViewer";
inline constexpr const char* kMode = "Mode";
inline constexpr const char* kRegLink = "RegLink";
inline constexpr const char* kGetSetting = "GetSetting";
inline constexpr const char* kMenuClick = "MenuClick";
}  // namespace member

/// Key codes and shift-state bits of key events, as the platform numbers them.
namespace key {
inline constexpr std::int16_t kBack = 8;
inline constexpr std::int16_t kTab = 9;
inline constexpr std::int16_t kReturn = 13;
inline constexpr std::int16_t kShift = 16;
inline constexpr std::int16_t kControl = 17;
inline constexpr std::int16_t kMenu = 18;  // Alt
inline constexpr std::int16_t kEscape = 27;
inline constexpr std::int16_t kSpace = 32;
inline constexpr std::int16_t kPageUp = 33;
inline constexpr std::int16_t kPageDown = 34;
inline constexpr std::int16_t kEnd = 35;
inline constexpr std::int16_t kHome = 36;
inline constexpr std::int16_t kLeft = 37;
inline constexpr std::int16_t kUp = 38;
inline constexpr std::int16_t kRight = 39;
inline constexpr std::int16_t kDown = 40;
inline constexpr std::int16_t kInsert = 45;
inline constexpr std::int16_t kDelete = 46;
/// Digits and letters are their upper-case ASCII codes: '0' (48) ... '9', 'A' (65) ... 'Z'.
inline constexpr std::int16_t k0 = 48;
inline constexpr std::int16_t kA = 65;
inline constexpr std::int16_t kC = 67;
inline constexpr std::int16_t kV = 86;
inline constexpr std::int16_t kX = 88;
inline constexpr std::int16_t kZ = 90;
/// Function keys F1 ... F12 are 112 ... 123.
inline constexpr std::int16_t kF1 = 112;
inline constexpr std::int16_t kF12 = 123;
inline constexpr std::int16_t kShiftMask = 1;
inline constexpr std::int16_t kCtrlMask = 2;
inline constexpr std::int16_t kAltMask = 4;
}  // namespace key

namespace duties {

/// One member a host object must offer: its name, how it is called, its fixed member id
/// (kNoMember: any id) and, briefly, what the host must do.
struct MemberDuty {
  const char* name;
  kvt::MemberKind kind;
  kvt::DispId id;
  const char* duty;
};

/// The members one class of host object must offer.
struct ClassDuties {
  const char* what;        // the class name for controls, else a description
  const char* class_name;  // the name Controls.Add takes, or null for objects not made so
  std::span<const MemberDuty> members;
};

/// Host forms and the field viewer's window.
const ClassDuties& FormDuties();
/// A form's Controls collection.
const ClassDuties& ControlsDuties();
/// The seven control classes a form's Controls.Add must create: the label, the plain text box,
/// the four input controls and the status bar. Each also offers the common members.
std::span<const ClassDuties> ControlClassDuties();
/// What every control offers beside its own members.
std::span<const MemberDuty> CommonControlMembers();
/// A control's font, a status bar's panels and one panel.
const ClassDuties& FontDuties();
const ClassDuties& PanelsDuties();
const ClassDuties& PanelDuties();
/// The coordinator and the objects reached through it.
std::span<const ClassDuties> CoordinatorDuties();

}  // namespace duties
}  // namespace kvtfields
