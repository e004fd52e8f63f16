#include "kvtfields/contracts/host_contract.h"

namespace kvtfields::duties {
namespace {

using kvt::kNoMember;
using K = kvt::MemberKind;
namespace m = member;
namespace id = member_id;

constexpr MemberDuty kForm[] = {
    {m::kControls, K::kGet, kNoMember, "the form's controls collection"},
    {m::kCaption, K::kLet, kNoMember, "the window title"},
    {m::kScaleWidth, K::kGet, kNoMember, "client width in twips"},
    {m::kScaleWidth, K::kLet, kNoMember, "sets the client width in twips (> 0)"},
    {m::kScaleHeight, K::kGet, kNoMember, "client height in twips"},
    {m::kScaleHeight, K::kLet, kNoMember, "sets the client height in twips (> 0)"},
    {m::kKeyPreview, K::kLet, kNoMember, "True: the form's key events come before the control's"},
    {m::kActiveControl, K::kGet, kNoMember, "the control that has the focus, or Nothing"},
    {m::kUnload, K::kMethod, kNoMember, "closes the form; every control goes"},
};

constexpr MemberDuty kControls[] = {
    {m::kAdd, K::kMethod, kNoMember,
     "(class name, control name) creates a control; a used name raises an error"},
    {m::kRemove, K::kMethod, kNoMember, "(control name) removes it; an unknown name raises"},
    {m::kItem, K::kGet, kNoMember, "a control by name, or by position from 0"},
    {m::kCount, K::kGet, kNoMember, "number of controls"},
};

constexpr MemberDuty kCommon[] = {
    {m::kName, K::kGet, kNoMember, "the name given to Controls.Add"},
    {m::kTag, K::kGet, kNoMember, "free text kept for the program"},
    {m::kTag, K::kLet, kNoMember, ""},
    {m::kToolTipText, K::kLet, kNoMember, "text shown while the pointer rests on the control"},
    {m::kLeft, K::kLet, kNoMember, "position and size, in twips"},
    {m::kTop, K::kLet, kNoMember, ""},
    {m::kWidth, K::kGet, kNoMember, ""},
    {m::kWidth, K::kLet, kNoMember, ""},
    {m::kHeight, K::kGet, kNoMember, ""},
    {m::kHeight, K::kLet, kNoMember, ""},
    {m::kVisible, K::kLet, kNoMember, "a hidden control cannot keep the focus"},
    {m::kTabIndex, K::kLet, kNoMember,
     "position in the tab order: the control moves to N, the others close up behind it"},
    {m::kBackColor, K::kGet, kNoMember, "0x00BBGGRR"},
    {m::kBackColor, K::kLet, kNoMember, ""},
    {m::kForeColor, K::kLet, kNoMember, "0x00BBGGRR"},
    {m::kFont, K::kGet, kNoMember, "the control's font (Bold)"},
    {m::kParent, K::kGet, kNoMember, "the form, or Nothing once removed"},
    {m::kSetFocus, K::kMethod, kNoMember, "moves the focus here, validating the control left"},
};

constexpr MemberDuty kLabel[] = {
    {m::kCaption, K::kLet, kNoMember, "the caption text"},
    {m::kAutoSize, K::kLet, kNoMember, "True: the label fits its caption"},
    {m::kBackStyle, K::kLet, kNoMember, "0 transparent, 1 opaque"},
};

constexpr MemberDuty kPlainTextBox[] = {
    {m::kText, K::kGet, kNoMember, "the text"},
    {m::kText, K::kLet, kNoMember, ""},
};

constexpr MemberDuty kTextBox[] = {
    {"_Default", K::kGet, kvt::kDefaultMember, "the text, as the default member"},
    {m::kText, K::kGet, id::kTextBoxText, "the text; a write that changes it raises Change"},
    {m::kText, K::kLet, id::kTextBoxText, ""},
    {m::kLocked, K::kGet, id::kTextBoxLocked, "True: the person cannot change the text"},
    {m::kLocked, K::kLet, id::kTextBoxLocked, ""},
    {m::kMaxLength, K::kLet, kNoMember, "most characters the person may type, 0 no limit"},
    {m::kMultiLine, K::kLet, kNoMember, "True: Enter starts a new line"},
    {m::kSelStart, K::kLet, kNoMember, "selection start, in characters"},
    {m::kSelLength, K::kLet, kNoMember, "selection length, in characters"},
    {m::kShowSuggestions, K::kMethod, kNoMember, "(values) offers values under the box"},
};

constexpr MemberDuty kCombo[] = {
    {m::kValue, K::kGet, id::kComboValue, "the selected code, \"\" for the empty entry"},
    {m::kValue, K::kLet, id::kComboValue, "selects a listed code; another raises an error"},
    {m::kListIndex, K::kLet, id::kComboListIndex, "selects an entry by position (Integer)"},
    {m::kListCount, K::kGet, id::kComboListCount, "entries in the list (Integer)"},
    {m::kLocked, K::kGet, id::kComboLocked, "True: the person cannot choose or edit codes"},
    {m::kLocked, K::kLet, id::kComboLocked, ""},
    {m::kVisibleDescription, K::kLet, kNoMember, "True: the description shows beside the code"},
    {m::kBehavior, K::kLet, kNoMember, "1 one line, 2 the description on lines of its own"},
    {m::kHaveEmptyElement, K::kLet, kNoMember, "True: the list starts with an empty entry"},
    {m::kDataRows, K::kSet, kNoMember, "the record set Refill reads (COD, VALUE)"},
    {m::kRequeryRecordset, K::kLet, kNoMember, "False: Refill does not ask the database again"},
    {m::kComboBinding, K::kLet, kNoMember, "the code column"},
    {m::kLabelBinding, K::kLet, kNoMember, "the description column"},
    {m::kRefill, K::kMethod, kNoMember,
     "copies the rows from DataRows; the record set may be closed right after"},
};

constexpr MemberDuty kDatePicker[] = {
    {m::kValue, K::kGet, id::kDatePickerValue, "a Date, or Null for no date"},
    {m::kValue, K::kLet, id::kDatePickerValue, "Null only with CheckBox True"},
    {m::kEnabled, K::kGet, id::kDatePickerEnabled, "False: locked"},
    {m::kEnabled, K::kLet, id::kDatePickerEnabled, ""},
    {m::kFormat, K::kLet, kNoMember, "3: CustomFormat is used"},
    {m::kCustomFormat, K::kLet, kNoMember, "\"dd/MM/yyyy\""},
    {m::kCheckBox, K::kLet, kNoMember, "True: the picker can hold no date"},
};

constexpr MemberDuty kFileLinker[] = {
    {m::kText, K::kGet, id::kFileLinkerText, "the linked file's path"},
    {m::kText, K::kLet, id::kFileLinkerText, ""},
    {m::kEnabled, K::kGet, id::kFileLinkerEnabled, "False while locked"},
    {m::kLocked, K::kLet, id::kFileLinkerLocked, "True: the link cannot be changed"},
};

constexpr MemberDuty kStatusBar[] = {
    {m::kPanels, K::kGet, kNoMember, "the keyed panels"},
};

constexpr ClassDuties kControlClasses[] = {
    {kLabelClass, kLabelClass, kLabel},
    {kPlainTextBoxClass, kPlainTextBoxClass, kPlainTextBox},
    {kTextBoxClass, kTextBoxClass, kTextBox},
    {kComboClass, kComboClass, kCombo},
    {kDatePickerClass, kDatePickerClass, kDatePicker},
    {kFileLinkerClass, kFileLinkerClass, kFileLinker},
    {kStatusBarClass, kStatusBarClass, kStatusBar},
};

constexpr MemberDuty kFont[] = {{m::kBold, K::kLet, kNoMember, "bold type"}};
constexpr MemberDuty kPanels[] = {
    {m::kItem, K::kGet, kNoMember, "a panel by key or from 1"},
    {m::kAdd, K::kMethod, kNoMember, "(key, text) adds a panel: how a host sets up \"fieldHelp\""},
};
constexpr MemberDuty kPanel[] = {{m::kText, K::kLet, kNoMember, "the panel's text"}};

constexpr MemberDuty kCoordinator[] = {
    {m::kDBEngine, K::kGet, kNoMember, "the database engine"},
    {m::kScriptEngine, K::kGet, kNoMember, "the archive's script engine"},
    {m::kFieldsCollection, K::kGet, kNoMember, "the collection the field viewer shows"},
    {m::kErrori, K::kGet, kNoMember, "the error list"},
    {m::kApplication, K::kGet, kNoMember, "the application's state"},
    {m::kDocViewer, K::kGet, kNoMember, "the document viewer"},
    {m::kRegLink, K::kGet, kNoMember, "the settings"},
    {m::kMenuClick, K::kMethod, kNoMember,
     "(name, 0) acts as the menu item \"miSalva\"/\"miNuovo\""},
};
constexpr MemberDuty kErrorList[] = {
    {m::kAggiungiUnErrore, K::kMethod, kNoMember,
     "(message, kind As Long, field name) adds an entry: 0 short, 1 not numeric, 2 required"},
};
constexpr MemberDuty kApplication[] = {
    {m::kFormLoaderStatus, K::kGet, kNoMember, "2 once forms may take the focus"},
    {m::kMainForm, K::kGet, kNoMember, "the main window"},
};
constexpr MemberDuty kMainWindow[] = {
    {m::kWindowState, K::kGet, kNoMember, "0 normal, 1 minimised, 2 maximised"},
};
constexpr MemberDuty kDocViewer[] = {
    {m::kMode, K::kGet, kNoMember, "0 new, 1 editing: paste goes ahead; others do not"},
};
constexpr MemberDuty kRegLink[] = {
    {m::kGetSetting, K::kMethod, kNoMember,
     "(section, key, default) a stored setting; \"keyreturn\" 0 saves, 1 tabs"},
};

constexpr ClassDuties kCoordinatorClasses[] = {
    {"coordinator", nullptr, kCoordinator}, {"Errori", nullptr, kErrorList},
    {"Application", nullptr, kApplication}, {"Application.MainForm", nullptr, kMainWindow},
    {"DocViewer", nullptr, kDocViewer},     {"RegLink", nullptr, kRegLink},
};

}  // namespace

const ClassDuties& FormDuties() {
  static constexpr ClassDuties duties{"form", nullptr, kForm};
  return duties;
}

const ClassDuties& ControlsDuties() {
  static constexpr ClassDuties duties{"Controls", nullptr, kControls};
  return duties;
}

std::span<const ClassDuties> ControlClassDuties() {
  return kControlClasses;
}

std::span<const MemberDuty> CommonControlMembers() {
  return kCommon;
}

const ClassDuties& FontDuties() {
  static constexpr ClassDuties duties{"Font", nullptr, kFont};
  return duties;
}

const ClassDuties& PanelsDuties() {
  static constexpr ClassDuties duties{"panels", nullptr, kPanels};
  return duties;
}

const ClassDuties& PanelDuties() {
  static constexpr ClassDuties duties{"panel", nullptr, kPanel};
  return duties;
}

std::span<const ClassDuties> CoordinatorDuties() {
  return kCoordinatorClasses;
}

}  // namespace kvtfields::duties
