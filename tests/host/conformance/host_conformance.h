// The host conformance suite: what every window system must do for the component, written once
// and run on each host. A host takes part with a driver type H that offers:
//
//   H();  ~H();                              installs / uninstalls the host's platform
//   kvt::ObjectRef NewForm(name);            a new host form, shown and active
//   std::unique_ptr<kvthost::IPerson> PersonOn(form);   the person working on that form
//   kvt::ObjectRef NewCoordinator();         the host's coordinator
//   void Settle();                           runs what the window system has queued
//
// and instantiates the suite: INSTANTIATE_TYPED_TEST_SUITE_P(MyHost, HostConformance, MyDriver).
// The suite reaches the host only through the contract: member names and ids, the typed
// control interfaces, the form's key events and the person.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/common/control_view.h"
#include "host/common/form.h"
#include "host/common/person.h"
#include "host/common/units.h"
#include "kvtfields/contracts/controls.h"
#include "kvtfields/contracts/host_contract.h"
#include "kvtfields/contracts/window.h"
#include "runtime/event_source.h"
#include "runtime/marshal.h"
#include "runtime/object.h"
#include "runtime/platform.h"
#include "runtime/record_set.h"
#include "test_support.h"

namespace kvthost::conformance {

namespace member = kvtfields::member;
namespace id = kvtfields::member_id;
using kvt::CStr;
using kvt::ObjectRef;
using kvt::Variant;
using kvt::testing::CaptureError;

template <class H>
class HostConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    form_ = host_.NewForm("frmConformance");
    person_ = host_.PersonOn(form_);
  }
  void TearDown() override {
    subs_.clear();
    person_.reset();
    if (form_) kvt::CallMethod(form_, member::kUnload);
    form_.reset();
  }

  ObjectRef Controls() { return kvt::CObj(kvt::GetProperty(form_, member::kControls)); }
  ObjectRef Add(const char* cls, const std::string& name) {
    ObjectRef c = kvt::CObj(kvt::CallMethod(Controls(), member::kAdd, cls, name));
    host_.Settle();
    return c;
  }
  template <class I>
  I& As(const ObjectRef& o) {
    auto* i = dynamic_cast<I*>(o.get());
    if (!i) throw std::logic_error(o->Class().Name() + " lacks a contract interface");
    return *i;
  }
  // Logs the focus events of an input control; `cancel` is what its validation answers.
  void Watch(const ObjectRef& c, const std::string& name, const bool* cancel = nullptr) {
    kvtfields::InputEvents& ev = As<kvtfields::IInputControl>(c).Events();
    subs_.push_back(ev.GotFocus.Subscribe([this, name] { log_.push_back("got " + name); }));
    subs_.push_back(ev.LostFocus.Subscribe([this, name] { log_.push_back("lost " + name); }));
    subs_.push_back(ev.Validate.Subscribe([this, name, cancel](bool& c) {
      log_.push_back("validate " + name);
      if (cancel) c = *cancel;
    }));
  }
  // A combo listing the empty entry, FAT and NC, its record set closed.
  ObjectRef AddCombo(const std::string& name) {
    const ObjectRef c = Add(kvtfields::kComboClass, name);
    auto rs = kvt::MemoryRecordSet::Create(
        {"COD", "VALUE"}, {{Variant("FAT"), Variant("Fattura")}, {Variant("NC"), Variant("Nota")}});
    kvt::LetProperty(c, member::kHaveEmptyElement, true);
    kvt::SetProperty(c, member::kDataRows, rs);
    kvt::CallMethod(c, member::kRefill);
    rs->Close();
    host_.Settle();
    return c;
  }
  // Logs what a combo reports: changes, codes added and deleted.
  void LogCombo(kvtfields::ICodeComboControl& combo, std::vector<std::string>& log) {
    subs_.push_back(combo.Events().Change.Subscribe([&log] { log.push_back("change"); }));
    subs_.push_back(combo.CodeMaintenance().CodeAdded.Subscribe(
        [&log](const std::string& code, const std::string& descr, const Variant&) {
          log.push_back("added " + code + "=" + descr);
        }));
    subs_.push_back(combo.CodeMaintenance().CodeDeleted.Subscribe(
        [&log](const std::string& code, const Variant&, const Variant&) {
          log.push_back("deleted " + code);
        }));
  }
  std::int16_t TabIndex(const ObjectRef& c) {
    return kvt::CInt(kvt::GetProperty(c, member::kTabIndex));
  }

  H host_;
  ObjectRef form_;
  std::unique_ptr<IPerson> person_;
  std::vector<std::string> log_;
  std::vector<kvt::Subscription> subs_;
};

TYPED_TEST_SUITE_P(HostConformance);

// ---- The declared members

inline void ExpectMembers(const ObjectRef& o, const kvtfields::duties::ClassDuties& duties,
                          std::span<const kvtfields::duties::MemberDuty> members) {
  ASSERT_TRUE(o) << duties.what;
  for (const auto& m : members) {
    const kvt::DispId got = o->Class().IdOf(m.name);
    EXPECT_NE(got, kvt::kNoMember) << duties.what << " lacks " << m.name;
    if (got == kvt::kNoMember) continue;
    if (m.id != kvt::kNoMember) {
      EXPECT_EQ(got, m.id) << duties.what << "." << m.name;
    }
    EXPECT_NE(o->Class().Find(got, m.kind), nullptr)
        << duties.what << "." << m.name << " cannot be called as kind " << static_cast<int>(m.kind);
  }
}

TYPED_TEST_P(HostConformance, EveryDeclaredMemberIsThereWithItsIdAndKind) {
  namespace h = kvtfields::duties;
  ExpectMembers(this->form_, h::FormDuties(), h::FormDuties().members);
  ExpectMembers(this->Controls(), h::ControlsDuties(), h::ControlsDuties().members);
  int n = 0;
  for (const auto& duties : h::ControlClassDuties()) {
    const ObjectRef c = this->Add(duties.class_name, "C" + std::to_string(n++));
    ExpectMembers(c, duties, duties.members);
    ExpectMembers(c, duties, h::CommonControlMembers());
    ExpectMembers(kvt::CObj(kvt::GetProperty(c, member::kFont)), h::FontDuties(),
                  h::FontDuties().members);
  }
  const ObjectRef bar = kvt::CObj(kvt::GetProperty(this->Controls(), member::kItem, "C6"));
  const ObjectRef panels = kvt::CObj(kvt::GetProperty(bar, member::kPanels));
  ExpectMembers(panels, h::PanelsDuties(), h::PanelsDuties().members);
  ExpectMembers(kvt::CObj(kvt::CallMethod(panels, member::kAdd, "fieldHelp")), h::PanelDuties(),
                h::PanelDuties().members);

  // Binding a control to a field tests its typed interface; the label is set up through one.
  EXPECT_NO_THROW(
      this->template As<kvtfields::ILabelControl>(this->Add(kvtfields::kLabelClass, "L")));
  EXPECT_NO_THROW(
      this->template As<kvtfields::ITextBoxControl>(this->Add(kvtfields::kTextBoxClass, "T")));
  EXPECT_NO_THROW(
      this->template As<kvtfields::ICodeComboControl>(this->Add(kvtfields::kComboClass, "K")));
  EXPECT_NO_THROW(this->template As<kvtfields::IDatePickerControl>(
      this->Add(kvtfields::kDatePickerClass, "D")));
  EXPECT_NO_THROW(this->template As<kvtfields::IFileLinkerControl>(
      this->Add(kvtfields::kFileLinkerClass, "F")));
  EXPECT_EQ(
      dynamic_cast<kvtfields::ITextBoxControl*>(this->Add(kvtfields::kDatePickerClass, "D2").get()),
      nullptr);  // one kind, one interface
  EXPECT_NE(dynamic_cast<kvtfields::IWindowKeys*>(this->form_.get()), nullptr);

  const ObjectRef coordinator = this->host_.NewCoordinator();
  const auto classes = h::CoordinatorDuties();
  ExpectMembers(coordinator, classes[0], classes[0].members);
  ExpectMembers(kvt::CObj(kvt::GetProperty(coordinator, member::kErrori)), classes[1],
                classes[1].members);
  const ObjectRef app = kvt::CObj(kvt::GetProperty(coordinator, member::kApplication));
  ExpectMembers(app, classes[2], classes[2].members);
  ExpectMembers(kvt::CObj(kvt::GetProperty(app, member::kMainForm)), classes[3],
                classes[3].members);
  ExpectMembers(kvt::CObj(kvt::GetProperty(coordinator, member::kDocViewer)), classes[4],
                classes[4].members);
  ExpectMembers(kvt::CObj(kvt::GetProperty(coordinator, member::kRegLink)), classes[5],
                classes[5].members);
}

// ---- Focus

TYPED_TEST_P(HostConformance, FocusLeavesThroughValidateThenLostThenGot) {
  const ObjectRef a = this->Add(kvtfields::kTextBoxClass, "A");
  const ObjectRef b = this->Add(kvtfields::kTextBoxClass, "B");
  this->Watch(a, "A");
  this->Watch(b, "B");
  EXPECT_TRUE(this->person_->Focus("A"));
  EXPECT_TRUE(this->person_->Tab());
  EXPECT_TRUE(this->person_->BackTab());
  kvt::CallMethod(b, member::kSetFocus);
  this->host_.Settle();
  EXPECT_EQ(this->log_,
            (std::vector<std::string>{"got A", "validate A", "lost A", "got B", "validate B",
                                      "lost B", "got A", "validate A", "lost A", "got B"}));
  EXPECT_EQ(this->person_->Focused(), "B");
  EXPECT_EQ(kvt::CObj(kvt::GetProperty(this->form_, member::kActiveControl)), b);
}

TYPED_TEST_P(HostConformance, ARefusingValidationKeepsTheFocusWhereverThePersonGoes) {
  const ObjectRef a = this->Add(kvtfields::kTextBoxClass, "A");
  const ObjectRef b = this->Add(kvtfields::kComboClass, "B");
  this->person_->Focus("A");
  bool refuse = true;
  this->Watch(a, "A", &refuse);
  this->Watch(b, "B");
  EXPECT_FALSE(this->person_->Tab());
  EXPECT_FALSE(this->person_->BackTab());
  EXPECT_FALSE(this->person_->Focus("B"));
  EXPECT_EQ(this->person_->Focused(), "A");
  EXPECT_EQ(this->log_, (std::vector<std::string>{"validate A", "validate A", "validate A"}));
  refuse = false;
  EXPECT_TRUE(this->person_->Focus("B"));
  EXPECT_EQ(this->person_->Focused(), "B");
}

TYPED_TEST_P(HostConformance, TabFollowsTheTabOrderSkipsWhatCannotTakeFocusAndWraps) {
  this->Add(kvtfields::kLabelClass, "Label_A");
  this->Add(kvtfields::kTextBoxClass, "A");
  const ObjectRef b = this->Add(kvtfields::kTextBoxClass, "B");
  this->Add(kvtfields::kDatePickerClass, "C");
  kvt::LetProperty(b, member::kVisible, false);
  this->host_.Settle();
  this->person_->Focus("A");
  this->person_->Tab();
  EXPECT_EQ(this->person_->Focused(), "C");
  this->person_->Tab();
  EXPECT_EQ(this->person_->Focused(), "A");
  this->person_->BackTab();
  EXPECT_EQ(this->person_->Focused(), "C");
  EXPECT_EQ(CaptureError([&] { kvt::CallMethod(b, member::kSetFocus); }).Number(),
            kvt::testing::Code(kvt::ErrorCode::kInvalidProcedureCall));
}

TYPED_TEST_P(HostConformance, ATabPositionMovesTheControlAndTheOthersCloseUp) {
  const ObjectRef a = this->Add(kvtfields::kTextBoxClass, "A");
  const ObjectRef b = this->Add(kvtfields::kTextBoxClass, "B");
  const ObjectRef c = this->Add(kvtfields::kTextBoxClass, "C");
  kvt::LetProperty(c, member::kTabIndex, std::int16_t{0});
  EXPECT_EQ(this->TabIndex(c), 0);
  EXPECT_EQ(this->TabIndex(a), 1);
  EXPECT_EQ(this->TabIndex(b), 2);
  // Everyone given 0, last first (as SortTab does): collection order results.
  for (const auto& ctl : {c, b, a}) kvt::LetProperty(ctl, member::kTabIndex, std::int16_t{0});
  EXPECT_EQ(this->TabIndex(a), 0);
  EXPECT_EQ(this->TabIndex(b), 1);
  EXPECT_EQ(this->TabIndex(c), 2);
  kvt::LetProperty(a, member::kTabIndex, std::int16_t{99});  // beyond the end: last
  EXPECT_EQ(this->TabIndex(a), 2);
  EXPECT_EQ(this->TabIndex(b), 0);
  // Moving between the same neighbours again and again keeps one consistent order.
  for (int i = 0; i < 200; ++i) kvt::LetProperty(i % 2 ? b : c, member::kTabIndex, std::int16_t{1});
  EXPECT_EQ(this->TabIndex(c), 0);
  EXPECT_EQ(this->TabIndex(b), 1);
  EXPECT_EQ(this->TabIndex(a), 2);
  this->host_.Settle();
  this->person_->Focus("C");
  this->person_->Tab();
  EXPECT_EQ(this->person_->Focused(), "B");
}

// ---- Values, lock, clear

TYPED_TEST_P(HostConformance, ValuesAndLocksAnswerToTheirIdsAndChangesAreReported) {
  const ObjectRef t = this->Add(kvtfields::kTextBoxClass, "T");
  const ObjectRef d = this->Add(kvtfields::kDatePickerClass, "D");
  const ObjectRef f = this->Add(kvtfields::kFileLinkerClass, "F");
  int changes = 0;
  for (const auto& c : {t, d, f}) {
    this->subs_.push_back(this->template As<kvtfields::IInputControl>(c).Events().Change.Subscribe(
        [&] { ++changes; }));
  }
  kvt::LetProperty(t, id::kTextBoxText, "ciao");
  kvt::LetProperty(t, id::kTextBoxText, "ciao");  // no change
  kvt::LetProperty(d, id::kDatePickerValue, "05/12/2026");
  kvt::LetProperty(f, id::kFileLinkerText, "/tmp/a.pdf");
  EXPECT_EQ(changes, 3);
  EXPECT_EQ(CStr(kvt::GetDefaultValue(t)), "ciao");
  EXPECT_EQ(CStr(kvt::GetProperty(f, id::kFileLinkerText)), "/tmp/a.pdf");
  EXPECT_EQ(CStr(kvt::GetProperty(d, id::kDatePickerValue)), "05/12/2026");

  kvt::LetProperty(t, id::kTextBoxLocked, true);
  EXPECT_TRUE(kvt::CBool(kvt::GetProperty(t, id::kTextBoxLocked)));
  kvt::LetProperty(d, id::kDatePickerEnabled, false);
  EXPECT_FALSE(kvt::CBool(kvt::GetProperty(d, id::kDatePickerEnabled)));
  // The file link's lock flag clears its enabled flag while set, and gives it back.
  kvt::LetProperty(f, id::kFileLinkerLocked, true);
  EXPECT_FALSE(kvt::CBool(kvt::GetProperty(f, id::kFileLinkerEnabled)));
  kvt::LetProperty(f, id::kFileLinkerLocked, false);
  EXPECT_TRUE(kvt::CBool(kvt::GetProperty(f, id::kFileLinkerEnabled)));
  kvt::LetProperty(t, id::kTextBoxLocked, false);

  kvt::LetProperty(t, id::kTextBoxText, "");
  kvt::LetProperty(f, id::kFileLinkerText, "");
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "");
  EXPECT_EQ(changes, 5);
}

TYPED_TEST_P(HostConformance, TheDatePickerHoldsNoDateOnlyWithItsCheckBox) {
  const ObjectRef d = this->Add(kvtfields::kDatePickerClass, "D");
  EXPECT_EQ(
      CaptureError([&] { kvt::LetProperty(d, id::kDatePickerValue, Variant::Null()); }).Number(),
      kInvalidPropertyValue);
  kvt::LetProperty(d, member::kCheckBox, true);
  kvt::LetProperty(d, id::kDatePickerValue, Variant::Null());
  EXPECT_TRUE(kvt::GetProperty(d, id::kDatePickerValue).IsNull());
  int edits = 0;
  this->subs_.push_back(this->template As<kvtfields::IDatePickerControl>(d).UserEdit().Subscribe(
      [&](const Variant&) { ++edits; }));
  this->person_->Focus("D");
  this->person_->PickDate(Variant(kvt::MakeDate(2026, 12, 31)));
  EXPECT_EQ(CStr(kvt::GetProperty(d, id::kDatePickerValue)), "31/12/2026");
  this->person_->Clear();
  EXPECT_TRUE(kvt::GetProperty(d, id::kDatePickerValue).IsNull());
  EXPECT_EQ(edits, 2);
  EXPECT_EQ(CaptureError([&] { kvt::LetProperty(d, id::kDatePickerValue, "domani"); }).Number(),
            kvt::testing::Code(kvt::ErrorCode::kTypeMismatch));
}

TYPED_TEST_P(HostConformance, TheComboListsItsCodesAfterTheRecordSetIsClosed) {
  const ObjectRef c = this->Add(kvtfields::kComboClass, "C");
  auto rs = kvt::MemoryRecordSet::Create(
      {"COD", "VALUE"}, {{Variant("FAT"), Variant("Fattura")}, {Variant("NC"), Variant("Nota")}});
  kvt::LetProperty(c, member::kHaveEmptyElement, true);
  kvt::SetProperty(c, member::kDataRows, rs);
  kvt::LetProperty(c, member::kRequeryRecordset, false);
  kvt::LetProperty(c, member::kComboBinding, "COD");
  kvt::LetProperty(c, member::kLabelBinding, "VALUE");
  kvt::CallMethod(c, member::kRefill);
  rs->Close();
  EXPECT_EQ(kvt::CInt(kvt::GetProperty(c, id::kComboListCount)), 3);
  kvt::LetProperty(c, id::kComboValue, "NC");
  EXPECT_EQ(CStr(kvt::GetDefaultValue(c)), "NC");
  kvt::LetProperty(c, id::kComboListIndex, std::int16_t{0});
  EXPECT_EQ(CStr(kvt::GetDefaultValue(c)), "");  // the empty first entry
  EXPECT_EQ(CaptureError([&] { kvt::LetProperty(c, id::kComboValue, "XX"); }).Number(),
            kInvalidPropertyValue);
  EXPECT_EQ(CStr(kvt::GetDefaultValue(c)), "");

  // What the person does reaches the field: a choice changes the value, codes are reported.
  auto& combo = this->template As<kvtfields::ICodeComboControl>(c);
  std::vector<std::string> log;
  this->LogCombo(combo, log);
  this->person_->Focus("C");
  this->person_->Choose("FAT");
  this->person_->AddCode("PRO", "Proforma");
  this->person_->DeleteCode("NC");
  EXPECT_EQ(log, (std::vector<std::string>{"change", "added PRO=Proforma", "deleted NC"}));
  kvt::LetProperty(c, id::kComboLocked, true);
  this->person_->Choose("NC");
  EXPECT_EQ(CStr(kvt::GetDefaultValue(c)), "FAT");  // a locked combo ignores the person
}

TYPED_TEST_P(HostConformance, ALongCodeListAnswersItsSixteenBitPositionsWithAnOverflow) {
  const ObjectRef c = this->Add(kvtfields::kComboClass, "C");
  std::vector<std::vector<Variant>> rows;
  for (int i = 0; i < 40000; ++i) {
    rows.push_back({Variant("R" + std::to_string(100000 + i)), Variant("Reparto")});
  }
  auto rs = kvt::MemoryRecordSet::Create({"COD", "VALUE"}, std::move(rows));
  kvt::SetProperty(c, member::kDataRows, rs);
  kvt::CallMethod(c, member::kRefill);
  kvt::LetProperty(c, id::kComboValue, "R139999");  // beyond 32,767: chosen by its code
  EXPECT_EQ(CStr(kvt::GetDefaultValue(c)), "R139999");
  const auto overflow = kvt::testing::Code(kvt::ErrorCode::kOverflow);
  EXPECT_EQ(CaptureError([&] { kvt::GetProperty(c, id::kComboListCount); }).Number(), overflow);
  EXPECT_EQ(CaptureError([&] { kvt::GetProperty(c, member::kListIndex); }).Number(), overflow);
  kvt::LetProperty(c, id::kComboValue, "R100002");
  EXPECT_EQ(kvt::CInt(kvt::GetProperty(c, member::kListIndex)), 2);
}

TYPED_TEST_P(HostConformance, TypingHonoursMaximumLengthLockAndLineEnds) {
  const ObjectRef t = this->Add(kvtfields::kTextBoxClass, "T");
  const ObjectRef f = this->Add(kvtfields::kFileLinkerClass, "F");
  kvt::LetProperty(t, member::kMaxLength, std::int16_t{3});
  this->person_->Focus("T");
  this->person_->Type("àèìò");
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "àèì");  // characters, not bytes
  this->person_->PressKey(kKeyBack, 0);
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "àè");
  kvt::LetProperty(t, id::kTextBoxLocked, true);
  this->person_->Type("x");
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "àè");
  kvt::LetProperty(t, id::kTextBoxLocked, false);
  this->person_->Clear();
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "");
  this->person_->PressKey(kKeyReturn, 0);  // a single-line box ignores Enter
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "");
  kvt::LetProperty(t, member::kMultiLine, true);
  kvt::LetProperty(t, member::kMaxLength, std::int16_t{0});
  this->person_->Type("a\nb");
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "a\r\nb");
  // A paste is one change, cut at the maximum length.
  int changes = 0;
  this->subs_.push_back(
      this->template As<kvtfields::IInputControl>(t).Events().Change.Subscribe([&] { ++changes; }));
  kvt::LetProperty(t, member::kMaxLength, std::int16_t{8});
  this->person_->Paste("12\n3456789");
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "a\r\nb12\r\n");  // 8 characters
  EXPECT_EQ(changes, 1);

  this->person_->Focus("F");
  this->person_->Browse("/tmp/fattura.pdf");
  EXPECT_EQ(CStr(kvt::GetProperty(f, id::kFileLinkerText)), "/tmp/fattura.pdf");
  // A locked link is disabled: it gives up the focus and cannot take it back.
  kvt::LetProperty(f, id::kFileLinkerLocked, true);
  EXPECT_EQ(this->person_->Focused(), "");
  EXPECT_EQ(CaptureError([&] { this->person_->Focus("F"); }).Number(),
            kvt::testing::Code(kvt::ErrorCode::kInvalidProcedureCall));
  EXPECT_EQ(CStr(kvt::GetProperty(f, id::kFileLinkerText)), "/tmp/fattura.pdf");
}

TYPED_TEST_P(HostConformance, TheComboTakesACodeTypedInItsBoxWithEnterInsertOrShiftDelete) {
  namespace key = kvtfields::key;
  const ObjectRef c = this->AddCombo("C");
  this->Add(kvtfields::kTextBoxClass, "T");
  auto& combo = this->template As<kvtfields::ICodeComboControl>(c);
  std::vector<std::string> log;
  this->LogCombo(combo, log);
  this->person_->Focus("C");
  this->person_->Type("NC");
  this->person_->PressKey(kKeyReturn, 0);  // a listed code typed is chosen
  EXPECT_EQ(CStr(kvt::GetDefaultValue(c)), "NC");
  this->person_->PressKey(key::kDelete, kShiftMask);  // the code in the box is deleted
  this->person_->Clear();
  this->person_->Type("PRO - Proforma");
  this->person_->PressKey(key::kInsert, 0);  // an unlisted one is added
  this->person_->Type("ZZ");
  this->person_->PressKey(key::kInsert, kCtrlMask);  // a command: Insert with Ctrl adds nothing
  this->person_->PressKey(kKeyReturn, 0);            // nor does Enter on an unlisted code
  EXPECT_EQ(this->person_->Focused(), "C");
  this->person_->Type("FAT");
  EXPECT_TRUE(this->person_->Tab());  // leaving chooses what was typed
  EXPECT_EQ(CStr(kvt::GetDefaultValue(c)), "FAT");
  EXPECT_EQ(log, (std::vector<std::string>{"change", "deleted NC", "change", "added PRO=Proforma",
                                           "added ZZ=", "change"}));
}

// A clerk who remembers the description, or types the code in another case, gets the code;
// text that matches none or several keeps the choice, stays in the box with the focus, and the
// form is told why; Esc brings the code back.
TYPED_TEST_P(HostConformance, TheComboFindsACodeByItsDescriptionOrSaysWhyNot) {
  const ObjectRef c = this->AddCombo("C");
  this->Add(kvtfields::kTextBoxClass, "T");
  std::vector<std::string> notes;
  auto* form = dynamic_cast<kvthost::Form*>(this->form_.get());
  ASSERT_NE(form, nullptr);
  form->on_note = [&notes](kvthost::Control&, const std::string& note) { notes.push_back(note); };
  auto leave_with = [&](const char* typed, bool leaves = true) {
    this->person_->Focus("C");
    this->person_->Clear();
    this->person_->Type(typed);
    EXPECT_EQ(this->person_->Tab(), leaves) << typed;
    return CStr(kvt::GetDefaultValue(c));
  };
  EXPECT_EQ(leave_with("not"), "NC");  // part of "Nota"
  EXPECT_EQ(leave_with("fat"), "FAT");
  EXPECT_EQ(leave_with(" FATTURA "), "FAT");
  EXPECT_TRUE(notes.empty());
  EXPECT_EQ(leave_with("t", false), "");  // both descriptions hold it: as the person cleared it
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0], "\"t\" corrisponde a 2 codici (FAT, NC): sceglierne uno dall'elenco.");
  EXPECT_EQ(this->person_->Focused(), "C");
  EXPECT_EQ(leave_with("proforma", false), "");
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_EQ(notes[1],
            "Nessun codice corrisponde a \"proforma\": correggere, o Esc per il valore di prima.");
  EXPECT_FALSE(this->person_->Tab());                   // still not a code
  this->person_->PressKey(kvtfields::key::kEscape, 0);  // the code it had when entered
  EXPECT_TRUE(this->person_->Tab());
  EXPECT_EQ(CStr(kvt::GetDefaultValue(c)), "FAT");
  // Entered again by keys, what the box shows is selected: a code typed replaces it.
  kvt::LetProperty(c, id::kComboValue, "FAT");
  EXPECT_EQ(this->person_->Focused(), "T");
  this->person_->BackTab();
  this->person_->Type("nc");
  EXPECT_TRUE(this->person_->Tab());
  EXPECT_EQ(CStr(kvt::GetDefaultValue(c)), "NC");
  form->on_note = nullptr;
}

TYPED_TEST_P(HostConformance, EnterIsAKeyPressOnEveryKindAndANewLineOnlyInAMemo) {
  const ObjectRef t = this->Add(kvtfields::kTextBoxClass, "T");
  const ObjectRef m = this->Add(kvtfields::kTextBoxClass, "M");
  kvt::LetProperty(m, member::kMultiLine, true);
  const ObjectRef c = this->AddCombo("C");
  kvt::LetProperty(c, id::kComboValue, "FAT");
  const ObjectRef d = this->Add(kvtfields::kDatePickerClass, "D");
  kvt::LetProperty(d, id::kDatePickerValue, Variant(kvt::MakeDate(2026, 1, 31)));
  const ObjectRef f = this->Add(kvtfields::kFileLinkerClass, "F");
  kvt::LetProperty(this->form_, member::kKeyPreview, true);
  auto& keys = this->template As<kvtfields::IWindowKeys>(this->form_);
  std::vector<std::string> seen;
  this->subs_.push_back(keys.KeyPressEvent().Subscribe([&](std::int32_t& ch) {
    if (ch == kKeyReturn) seen.push_back(this->person_->Focused());
  }));
  for (const char* name : {"T", "M", "C", "D", "F"}) {
    this->person_->Focus(name);
    this->person_->PressKey(kKeyReturn, 0);
    EXPECT_EQ(this->person_->Focused(), name);  // Enter does not move the focus by itself
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"T", "M", "C", "D", "F"}));
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "");
  EXPECT_EQ(CStr(kvt::GetProperty(m, id::kTextBoxText)), "\r\n");
  EXPECT_EQ(CStr(kvt::GetDefaultValue(c)), "FAT");
  EXPECT_EQ(kvt::FormatDate(kvt::CDate(kvt::GetProperty(d, id::kDatePickerValue))).substr(0, 10),
            "31/01/2026");
  EXPECT_EQ(CStr(kvt::GetProperty(f, id::kFileLinkerText)), "");
}

TYPED_TEST_P(HostConformance, EditingKeysChangeTheTextOnlyThroughTheControl) {
  namespace key = kvtfields::key;
  const ObjectRef t = this->Add(kvtfields::kTextBoxClass, "T");
  this->Add(kvtfields::kTextBoxClass, "U");
  int changes = 0;
  this->subs_.push_back(
      this->template As<kvtfields::IInputControl>(t).Events().Change.Subscribe([&] { ++changes; }));
  this->person_->Focus("T");
  this->person_->Type(
      "ab\x01\x1b\x7f"
      "c");  // control characters type nothing
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "abc");
  EXPECT_EQ(changes, 3);
  this->person_->PressKey(key::kHome, 0);
  this->person_->PressKey(key::kRight, 0);
  this->person_->PressKey(key::kDelete, 0);  // forward: the character after the caret
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "ac");
  this->person_->PressKey(key::kX, kCtrlMask);  // cut is an edit the control does not make
  this->person_->PressKey(key::kA, kAltMask);   // a character with Alt is a command
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "ac");
  this->person_->PressKey(key::kZ, kCtrlMask);  // undo: the delete, then the typing at once
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "abc");
  EXPECT_EQ(kvt::CLng(kvt::GetProperty(t, member::kSelStart)), 1);
  this->person_->Paste("\tx\nd");  // a paste into one line stops at its end
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "axbc");
  this->person_->PressKey(key::kZ, kCtrlMask);
  this->person_->PressKey(key::kZ, kCtrlMask);
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "");
  this->person_->Type("nuovo");
  this->person_->PressKey(key::kEscape, 0);  // Esc: the value the box had on entry
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "");
  // A value the program writes over the whole text (a script proposing one as the person
  // enters) is selected: what the person types replaces it.
  kvt::LetProperty(t, id::kTextBoxText, "1");
  this->person_->Type("3");
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "3");
  // Typed starting with the very character proposed: the caret moves past it all the same.
  for (const char* typed : {"1", "10", "12", "100"}) {
    kvt::LetProperty(t, id::kTextBoxText, "");
    kvt::LetProperty(t, member::kSelStart, 0);
    kvt::LetProperty(t, id::kTextBoxText, "1");
    kvt::LetProperty(t, member::kSelLength, 1);
    this->person_->Type(typed);
    EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), typed);
  }

  // A value offered under the box replaces the text; leaving with a refusal keeps the focus.
  kvt::CallMethod(t, member::kShowSuggestions,
                  kvt::ToVariant(std::vector<std::string>{"Rossi", "Rossini"}));
  this->host_.Settle();
  this->person_->AcceptSuggestion(1);
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "Rossini");
  const bool refuse = true;
  this->Watch(t, "T", &refuse);
  EXPECT_FALSE(this->person_->Focus("U"));
  EXPECT_FALSE(this->person_->Tab());
  EXPECT_EQ(this->person_->Focused(), "T");
  EXPECT_EQ(this->log_, (std::vector<std::string>{"validate T", "validate T"}));
}

// ---- Keys, status bar, the controls collection, lifetimes

TYPED_TEST_P(HostConformance, KeyPreviewSeesKeysFirstAndMaySwallowThem) {
  const ObjectRef t = this->Add(kvtfields::kTextBoxClass, "T");
  kvt::LetProperty(t, member::kMultiLine, true);
  kvt::LetProperty(this->form_, member::kKeyPreview, true);
  auto& keys = this->template As<kvtfields::IWindowKeys>(this->form_);
  std::vector<int> seen;
  // A real keyboard raises KeyDown for every key typed too: only Enter is looked at.
  this->subs_.push_back(keys.KeyDownEvent().Subscribe([&](std::int16_t& k, std::int16_t& shift) {
    if (k == kKeyReturn) seen.push_back(k * 10 + shift);
  }));
  this->subs_.push_back(keys.KeyPressEvent().Subscribe([](std::int32_t& c) {
    if (c == kKeyReturn) c = 0;
  }));
  this->person_->Focus("T");
  this->person_->PressKey(kKeyReturn, kCtrlMask);
  this->person_->Type("ok");
  EXPECT_EQ(seen, std::vector<int>{kKeyReturn * 10 + kCtrlMask});
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "ok");
  kvt::LetProperty(this->form_, member::kKeyPreview, false);
  this->person_->PressKey(kKeyReturn, 0);
  EXPECT_EQ(seen.size(), 1u);
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "ok\r\n");
}

TYPED_TEST_P(HostConformance, TheStatusBarIsReachedByNameAndShowsItsHelpPanel) {
  const ObjectRef bar = this->Add(kvtfields::kStatusBarClass, member::kStatusBar);
  kvt::CallMethod(kvt::CObj(kvt::GetProperty(bar, member::kPanels)), member::kAdd, "fieldHelp");
  const ObjectRef panel = kvt::CObj(kvt::GetProperty(
      kvt::CObj(kvt::GetProperty(kvt::CObj(kvt::GetProperty(this->form_, member::kStatusBar)),
                                 member::kPanels)),
      member::kItem, "fieldHelp"));
  kvt::LetProperty(panel, member::kText, "Numero del documento");
  EXPECT_EQ(CStr(kvt::GetProperty(panel, member::kText)), "Numero del documento");
  EXPECT_EQ(CaptureError([&] { kvt::GetProperty(this->form_, "Nessuno"); }).Number(),
            kvt::testing::Code(kvt::ErrorCode::kNotSupported));
}

TYPED_TEST_P(HostConformance, TheControlsCollectionRefusesDuplicatesAndUnknownNames) {
  const ObjectRef controls = this->Controls();
  this->Add(kvtfields::kLabelClass, "L");
  EXPECT_EQ(CaptureError([&] {
              kvt::CallMethod(controls, member::kAdd, kvtfields::kPlainTextBoxClass, "l");
            }).Number(),
            kDuplicateControlName);
  EXPECT_EQ(CaptureError([&] { kvt::CallMethod(controls, member::kRemove, "X"); }).Number(),
            kControlNotFound);
  EXPECT_NE(CaptureError([&] { kvt::CallMethod(controls, member::kAdd, "No.Such", "Y"); }).Number(),
            0u);
  EXPECT_EQ(kvt::CLng(kvt::GetProperty(controls, member::kCount)), 1);
  kvt::CallMethod(controls, member::kRemove, "L");
  EXPECT_EQ(kvt::CLng(kvt::GetProperty(controls, member::kCount)), 0);
  this->Add(kvtfields::kLabelClass, "L");  // the name is free again
}

TYPED_TEST_P(HostConformance, ControlsThatOutliveTheirFormAnswerWithAClearError) {
  const ObjectRef t = this->Add(kvtfields::kTextBoxClass, "T");
  const ObjectRef removed = this->Add(kvtfields::kComboClass, "K");
  this->person_->Focus("T");
  kvt::CallMethod(this->Controls(), member::kRemove, "K");
  EXPECT_FALSE(kvt::CObj(kvt::GetProperty(removed, member::kParent)));
  kvt::CallMethod(this->form_, member::kUnload);
  this->person_.reset();
  this->form_.reset();  // the form is gone; the controls are still held
  this->host_.Settle();
  for (const auto& c : {t, removed}) {
    EXPECT_FALSE(kvt::CObj(kvt::GetProperty(c, member::kParent)));
    EXPECT_EQ(CaptureError([&] { kvt::CallMethod(c, member::kSetFocus); }).Number(),
              kvt::testing::Code(kvt::ErrorCode::kInvalidProcedureCall));
    kvt::LetProperty(c, member::kTabIndex, std::int16_t{3});
    kvt::LetProperty(c, member::kVisible, true);
  }
  kvt::LetProperty(t, id::kTextBoxText, "dopo");
  EXPECT_EQ(CStr(kvt::GetProperty(t, id::kTextBoxText)), "dopo");
}

// The platform seam as the component reaches it (kvt::CurrentPlatform()): Tab sent to the
// active window moves its focus as the person's Tab does; work posted runs on the windows'
// thread after what runs there now (at once where nothing runs later by itself); a box only
// informing answers OK and a question nobody answers gives Cancel, the answer that changes
// nothing; Attended is the platform's; a new window is a form, hidden, named as asked.
TYPED_TEST_P(HostConformance, ThePlatformTabsPostsAsksAndMakesWindows) {
  this->Add(kvtfields::kTextBoxClass, "A");
  this->Add(kvtfields::kTextBoxClass, "B");
  ASSERT_TRUE(this->person_->Focus("A"));
  kvt::Platform& platform = kvt::CurrentPlatform();
  platform.SendTab();
  this->host_.Settle();
  EXPECT_EQ(this->person_->Focused(), "B");

  std::vector<int> ran;
  platform.Post([&] { ran.push_back(1); });
  ran.push_back(0);
  this->host_.Settle();
  EXPECT_EQ(ran, platform.PostsWork() ? (std::vector<int>{0, 1}) : (std::vector<int>{1, 0}));

  EXPECT_EQ(platform.MsgBox("Fatto", kvt::kMsgBoxOkOnly, ""), kvt::kMsgBoxAnswerOk);
  EXPECT_EQ(platform.MsgBox("Salvare?", kvt::kMsgBoxYesNoCancel, ""), kvt::kMsgBoxAnswerCancel);
  EXPECT_EQ(platform.MsgBox("Procedere?", kvt::kMsgBoxOkCancel, ""), kvt::kMsgBoxAnswerCancel);

  EXPECT_TRUE(platform.Attended());
  platform.SetAttended(false);
  EXPECT_FALSE(kvt::CurrentPlatform().Attended());
  platform.SetAttended(true);

  const ObjectRef window = platform.CreateWindow("frmAltro");
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(CStr(kvt::GetProperty(window, member::kName)), "frmAltro");
  EXPECT_FALSE(kvt::CBool(kvt::GetProperty(window, member::kVisible)));
  EXPECT_NE(kvt::CObj(kvt::GetProperty(window, member::kControls)), nullptr);
  kvt::CallMethod(window, member::kUnload);
}

TYPED_TEST_P(HostConformance, TheControlViewShowsTheSameFormAfterTheSameKeys) {
  const ObjectRef label = this->Add(kvtfields::kLabelClass, "L");
  kvt::LetProperty(label, member::kCaption, "Note:");
  const ObjectRef t = this->Add(kvtfields::kTextBoxClass, "T");
  kvt::LetProperty(t, member::kMultiLine, true);
  this->AddCombo("C");
  auto form = std::dynamic_pointer_cast<kvthost::Form>(this->form_);
  ASSERT_NE(form, nullptr);
  FormViewer viewer(form);
  const FormView first = viewer.Snapshot();
  ASSERT_EQ(first.controls.size(), 3u);
  EXPECT_EQ(first.controls[0].kind, ControlView::Kind::kLabel);
  EXPECT_EQ(first.controls[0].text, "Note:");
  EXPECT_EQ(first.controls[1].kind, ControlView::Kind::kText);
  EXPECT_TRUE(first.controls[1].multi_line);
  EXPECT_EQ(first.controls[2].kind, ControlView::Kind::kCombo);
  EXPECT_EQ(first.controls[2].entries_total, 3);
  EXPECT_EQ(first.controls[2].entries[1], (std::pair<std::string, std::string>{"FAT", "Fattura"}));
  EXPECT_TRUE(viewer.Changes().Empty());

  // Two characters outside the BMP and a line end: the renderer counts UTF-16 units and "\n".
  this->person_->Focus("T");
  this->person_->Type("\xF0\x9F\x98\x80\xF0\x9F\x98\x80\nb");
  this->host_.Settle();
  FormViewer::Delta d = viewer.Changes();
  EXPECT_EQ(d.active, std::optional<std::string>("T"));
  ASSERT_EQ(d.changed.size(), 1u);
  const ControlView& typed = d.changed[0];
  EXPECT_EQ(typed.name, "T");
  EXPECT_TRUE(typed.focused);
  EXPECT_EQ(typed.text, "\xF0\x9F\x98\x80\xF0\x9F\x98\x80\nb");
  EXPECT_EQ(typed.sel_start, 6);
  EXPECT_EQ(typed.sel_length, 0);
  const ControlView own = ViewOf(*form->FindControl("T"), TextUnits::kControl);
  EXPECT_EQ(own.text, "\xF0\x9F\x98\x80\xF0\x9F\x98\x80\r\nb");
  EXPECT_EQ(own.sel_start, 5);
  EXPECT_TRUE(viewer.Changes().Empty());

  this->person_->Focus("C");
  this->person_->Choose("NC");
  kvt::LetProperty(label, member::kCaption, "Annotazioni:");
  this->host_.Settle();
  d = viewer.Changes();
  EXPECT_EQ(d.active, std::optional<std::string>("C"));
  std::map<std::string, ControlView> changed;
  for (const auto& v : d.changed) changed.emplace(v.name, v);
  ASSERT_EQ(changed.size(), 3u);
  EXPECT_EQ(changed["L"].text, "Annotazioni:");
  EXPECT_FALSE(changed["T"].focused);
  EXPECT_TRUE(changed["C"].focused);
  EXPECT_EQ(changed["C"].text, "NC - Nota");  // as the box shows it
  EXPECT_EQ(changed["C"].list_index, 2);

  kvt::CallMethod(this->Controls(), member::kRemove, "L");
  this->host_.Settle();
  d = viewer.Changes();
  EXPECT_EQ(d.removed, std::vector<std::string>{"L"});
  EXPECT_TRUE(d.changed.empty());
}

REGISTER_TYPED_TEST_SUITE_P(HostConformance, EveryDeclaredMemberIsThereWithItsIdAndKind,
                            FocusLeavesThroughValidateThenLostThenGot,
                            ARefusingValidationKeepsTheFocusWhereverThePersonGoes,
                            TabFollowsTheTabOrderSkipsWhatCannotTakeFocusAndWraps,
                            ATabPositionMovesTheControlAndTheOthersCloseUp,
                            ValuesAndLocksAnswerToTheirIdsAndChangesAreReported,
                            TheDatePickerHoldsNoDateOnlyWithItsCheckBox,
                            TheComboListsItsCodesAfterTheRecordSetIsClosed,
                            ALongCodeListAnswersItsSixteenBitPositionsWithAnOverflow,
                            TypingHonoursMaximumLengthLockAndLineEnds,
                            TheComboTakesACodeTypedInItsBoxWithEnterInsertOrShiftDelete,
                            TheComboFindsACodeByItsDescriptionOrSaysWhyNot,
                            EnterIsAKeyPressOnEveryKindAndANewLineOnlyInAMemo,
                            EditingKeysChangeTheTextOnlyThroughTheControl,
                            KeyPreviewSeesKeysFirstAndMaySwallowThem,
                            TheStatusBarIsReachedByNameAndShowsItsHelpPanel,
                            TheControlsCollectionRefusesDuplicatesAndUnknownNames,
                            ControlsThatOutliveTheirFormAnswerWithAClearError,
                            ThePlatformTabsPostsAsksAndMakesWindows,
                            TheControlViewShowsTheSameFormAfterTheSameKeys);

}  // namespace kvthost::conformance
