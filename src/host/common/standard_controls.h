// The controls every window system shares: the label, the text boxes, the code/description
// combo, the date picker, the file link and the status bar, as state and behaviour. They behave
// like desktop controls: typed input honours MaxLength and Locked, a change event follows every
// change of content (by the person or by the program), and focus and validate events come from
// the form. The headless window system uses them as they are; a toolkit subclasses each one and
// shows it (OnChanged), feeding the person's input back through the same members.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/common/control.h"
#include "kvtfields/contracts/controls.h"
#include "runtime/object.h"

namespace kvthost {

/// "VB.Label": a caption; never takes the focus.
class Label : public Control, public kvtfields::ILabelControl {
  KVT_OBJECT()

 public:
  Label() : Control(1215, 255) {}
  std::string Caption() const override { return caption_; }
  void LetCaption(const std::string& v) override;
  bool AutoSize() const override { return auto_size_; }
  void LetAutoSize(bool v) override;
  std::int16_t BackStyle() const override { return back_style_; }
  void LetBackStyle(std::int16_t v) override;
  std::string ToolTipText() const override { return Control::ToolTipText(); }
  void LetToolTipText(const std::string& v) override { Control::LetToolTipText(v); }
  std::string Tag() const override { return Control::Tag(); }
  void LetTag(const std::string& v) override { Control::LetTag(v); }

  bool Focusable() const override { return false; }
  std::string Describe() const override { return caption_; }

 private:
  void Fit();
  std::string caption_;
  bool auto_size_ = false;
  std::int16_t back_style_ = 1;
};

/// What the text boxes share: text, selection, maximum length, lock and suggestions.
class TextBoxBase : public Control {
 public:
  std::string Text() const { return text_; }
  /// A write by the program; raises Change when the text differs.
  void LetText(const std::string& v);
  std::int16_t MaxLength() const { return max_length_; }
  void LetMaxLength(std::int16_t v);
  bool MultiLine() const { return multi_line_; }
  void LetMultiLine(bool v) {
    multi_line_ = v;
    NotifyChanged(Aspect::kAppearance);
  }
  bool Locked() const { return locked_; }
  void LetLocked(bool v) {
    locked_ = v;
    NotifyChanged(Aspect::kAppearance);
  }
  /// Selection, in characters.
  std::int32_t SelStart() const { return sel_start_; }
  void LetSelStart(std::int32_t v);
  std::int32_t SelLength() const { return sel_length_; }
  void LetSelLength(std::int32_t v);
  std::string SelText() const;
  /// Values offered under the box while the person types (the autocomplete class fills them).
  std::vector<std::string> Suggestions() const { return suggestions_; }
  void ShowSuggestions(const std::vector<std::string>& values) {
    suggestions_ = values;
    marked_ = -1;
    NotifyChanged(Aspect::kList);
  }
  /// The offered value the person marked by keys (Down, Up), -1 for none.
  std::int32_t MarkedSuggestion() const { return marked_; }
  /// Moves the mark one value down (+1) or up (-1); above the first there is no mark.
  void MarkSuggestion(std::int32_t step);
  /// The person accepts an offered value: it replaces the text.
  void AcceptSuggestion(std::int32_t index);
  /// Characters the box refuses as they are typed (its field can never hold them), and why;
  /// a refused character is told to Refused and leaves the text as it was.
  void RefuseTyped(std::function<bool(char32_t)> refuses, std::string reason) {
    refuses_ = std::move(refuses);
    refusal_ = std::move(reason);
  }
  /// Told the reason when a typed character was refused.
  kvt::EventSource<const std::string&> Refused;
  /// The person pastes text over the selection: one change; cut at MaxLength; line ends become
  /// "\r\n" in a multi-line box and end the text in a single-line one.
  void PasteText(const std::string& text);

  kvtfields::InputEvents* FocusEvents() override { return &events_; }
  void TypeCharacter(char32_t c) override;
  bool TakesTypedText() const override { return true; }
  /// Without a widget: Ctrl+A selects the whole text; Home, End and the arrows move the caret.
  void EditorKey(const Keystroke& key) override;
  bool Undo() override;
  void MarkEntry() override;
  void AfterLeaving() override {
    if (!suggestions_.empty()) ShowSuggestions({});
  }
  bool RevertToEntry() override;
  std::string Describe() const override;

  template <class C>
  static kvt::ClassBuilder<C>& DescribeText(kvt::ClassBuilder<C>& b) {
    return b.template Get<&TextBoxBase::MaxLength>("MaxLength")
        .template Let<&TextBoxBase::LetMaxLength>("MaxLength")
        .template Get<&TextBoxBase::MultiLine>("MultiLine")
        .template Let<&TextBoxBase::LetMultiLine>("MultiLine")
        .template Get<&TextBoxBase::SelStart>("SelStart")
        .template Let<&TextBoxBase::LetSelStart>("SelStart")
        .template Get<&TextBoxBase::SelLength>("SelLength")
        .template Let<&TextBoxBase::LetSelLength>("SelLength")
        .template Get<&TextBoxBase::SelText>("SelText")
        .template Get<&TextBoxBase::Suggestions>("Suggestions")
        .template Method<&TextBoxBase::ShowSuggestions>("ShowSuggestions")
        .template Method<&TextBoxBase::AcceptSuggestion>("AcceptSuggestion");
  }

 protected:
  TextBoxBase() : Control(1215, 315) {}
  kvtfields::InputEvents events_;

 private:
  void Replace(std::string text);  // a change of content, with its Change event
  void Edited();                   // the person is about to change the text: an undo step
  std::string text_;
  std::string entry_text_;
  // The person's edits since the program last wrote the text: text and caret before each.
  std::vector<std::pair<std::string, std::int32_t>> undo_;
  bool typing_run_ = false;      // the last edit typed a character at the caret
  std::int16_t max_length_ = 0;  // 0: no limit
  bool multi_line_ = false;
  bool locked_ = false;
  std::int32_t sel_start_ = 0;
  std::int32_t sel_length_ = 0;
  std::vector<std::string> suggestions_;
  std::int32_t marked_ = -1;
  std::function<bool(char32_t)> refuses_;
  std::string refusal_;
};

/// "ZulMultiLineTextBox.MultiLineTextBox": the text box of text fields.
class MultiLineTextBox : public TextBoxBase, public kvtfields::ITextBoxControl {
  KVT_OBJECT()

 public:
  kvtfields::InputEvents& Events() override { return events_; }
};

/// "VB.TextBox": the platform's plain text box (not a field's text box).
class PlainTextBox : public TextBoxBase {
  KVT_OBJECT()

 public:
  kvtfields::InputEvents& Events() { return events_; }
};

/// "zulDBCodDescr.DBCodDescr": chooses a code from a list of codes with descriptions; the
/// person can also add and delete codes, which it reports to the field.
class CodeCombo : public Control, public kvtfields::ICodeComboControl {
  KVT_OBJECT()

 public:
  CodeCombo() : Control(2415, 315) {}
  /// The current code; "" when the empty entry or nothing is selected. Setting a code that
  /// is not in the list raises 380.
  std::string Value() const;
  void LetValue(const std::string& code);
  std::string Description() const;
  /// The code as typed in the combo's box: the same as Value.
  std::string Text() const { return Value(); }
  void LetText(const std::string& code) { LetValue(code); }
  /// Entries and position are 16-bit by contract: a list longer than 32,767 entries answers
  /// them with an overflow error (6), never with a wrapped number.
  std::int16_t ListCount() const;
  std::int16_t ListIndex() const;
  /// The selected position, -1 for none, at any length of the list (for the window system).
  std::int32_t Position() const { return index_; }
  void LetListIndex(std::int16_t v);
  /// The code at a position of the list.
  std::string List(std::int16_t index) const;
  /// The entries, code and description, in list order.
  const std::vector<std::pair<std::string, std::string>>& Entries() const { return entries_; }
  bool Locked() const { return locked_; }
  void LetLocked(bool v) {
    locked_ = v;
    NotifyChanged(Aspect::kAppearance);
  }
  bool VisibleDescription() const { return visible_description_; }
  void LetVisibleDescription(bool v) {
    visible_description_ = v;
    box_text_ = EntryText(index_);
    NotifyChanged(Aspect::kAppearance);
  }
  std::int32_t Behavior() const { return behavior_; }
  void LetBehavior(std::int32_t v) {
    behavior_ = v;
    NotifyChanged(Aspect::kAppearance);
  }
  bool HaveEmptyElement() const { return have_empty_; }
  void LetHaveEmptyElement(bool v) { have_empty_ = v; }
  kvt::ObjectRef DataRows() const { return data_rows_; }
  void SetDataRows(kvt::ObjectRef rows) { data_rows_ = std::move(rows); }
  bool RequeryRecordset() const { return requery_; }
  void LetRequeryRecordset(bool v) { requery_ = v; }
  std::string ComboBinding() const { return combo_binding_; }
  void LetComboBinding(const std::string& v) { combo_binding_ = v; }
  std::string LabelBinding() const { return label_binding_; }
  void LetLabelBinding(const std::string& v) { label_binding_ = v; }
  /// Rebuilds the list from DataRows (current row to the end), copying what it needs: the
  /// record set may be closed right afterwards. The selected code stays when still listed.
  void Refill();

  // What the person does.
  void Choose(const std::string& code);
  void AddCode(const std::string& code, const std::string& description);
  void DeleteCode(const std::string& code);
  /// An entry as the box shows it: "code - description", or the code alone.
  std::string EntryText(std::int32_t index) const;
  /// Widget hook: the text in the combo's box, what the person typed or the chosen entry.
  virtual std::string BoxText() const { return box_text_; }
  /// Typing in the box without a widget: characters at its end, Backspace the last one.
  void EditorKey(const Keystroke& key) override;
  /// Enter and leaving the combo choose a listed code typed in the box ("code" or "code -
  /// description"), a code in another letter case, a whole description, or the one entry
  /// whose description holds the text; Insert adds one that is not listed; Shift+Delete
  /// deletes the code there. Other text is refused: it stays in the box, selected, the focus
  /// stays and the form is told why (none or several codes match); Esc brings the code back.
  bool Enter() override {
    Commit();
    return true;
  }
  /// Entering the combo selects its box's text, so that a code typed replaces the one shown.
  void MarkEntry() override {
    entry_value_ = Value();
    SelectBoxText();
  }
  bool RevertToEntry() override;
  bool Insert() override {
    TypedCode(/*add=*/true);
    return true;
  }
  bool Commit() override { return TypedCode(/*add=*/false); }
  bool Pending() const override { return BoxText() != EntryText(index_); }
  void ShiftDelete() override;

  kvtfields::InputEvents& Events() override { return events_; }
  CodeEvents& CodeMaintenance() override { return code_events_; }
  kvtfields::InputEvents* FocusEvents() override { return &events_; }
  std::string Describe() const override;

 protected:
  /// The whole text of the box is selected: the next character typed replaces it. A widget
  /// selects its editor's text too.
  virtual void SelectBoxText() { box_selected_ = true; }

 private:
  void Select(std::int32_t index);  // with a Change event when the code changes
  void ShowChosen();                // the box shows the chosen entry again
  // Settles the box's text; false when it names no code (it stays, selected, and is said).
  bool TypedCode(bool add);
  // Text that is no listed code: a code in another case, a description or part of one. False
  // when none or several match.
  bool ChooseByText(const std::string& typed);
  std::int32_t Find(const std::string& code) const;
  std::vector<std::pair<std::string, std::string>> entries_;
  std::int32_t index_ = -1;
  std::string box_text_;
  std::string entry_value_;
  bool box_selected_ = false;  // the next character typed replaces the box's text
  bool locked_ = false;
  bool visible_description_ = true;
  std::int32_t behavior_ = 1;
  bool have_empty_ = false;
  kvt::ObjectRef data_rows_;
  bool requery_ = false;
  std::string combo_binding_ = "COD";
  std::string label_binding_ = "VALUE";
  kvtfields::InputEvents events_;
  CodeEvents code_events_;
};

/// "MSComCtl2.DTPicker.2": a date, or no date (Null) when it has a check box.
class DatePicker : public Control, public kvtfields::IDatePickerControl {
  KVT_OBJECT()

 public:
  DatePicker() : Control(1800, 315) {}
  /// A Date, or Null when the check box is cleared.
  kvt::Variant Value() const;
  /// Null needs the check box (380 otherwise); anything else must read as a date (13).
  void LetValue(const kvt::Variant& v);
  std::int32_t Format() const { return format_; }
  void LetFormat(std::int32_t v) {
    format_ = v;
    NotifyChanged(Aspect::kAppearance);
  }
  std::string CustomFormat() const { return custom_format_; }
  void LetCustomFormat(const std::string& v) {
    custom_format_ = v;
    NotifyChanged(Aspect::kAppearance);
  }
  bool CheckBox() const { return check_box_; }
  void LetCheckBox(bool v) {
    check_box_ = v;
    NotifyChanged(Aspect::kAppearance);
  }
  /// The date as the picker shows it ("" for no date); writing it reads a date ("" is Null).
  std::string Text() const;
  void LetText(const std::string& text);

  /// The person picks a date, or clears the check box with Null.
  void PickDate(const kvt::Variant& v);

  kvtfields::InputEvents& Events() override { return events_; }
  kvt::EventSource<const kvt::Variant&>& UserEdit() override { return user_edit_; }
  kvtfields::InputEvents* FocusEvents() override { return &events_; }
  std::string Describe() const override { return Text(); }
  void MarkEntry() override { entry_value_ = Value(); }
  bool RevertToEntry() override;

 private:
  kvt::Variant entry_value_;
  bool has_date_ = false;
  kvt::Date date_{};
  std::int32_t format_ = 1;
  std::string custom_format_;
  bool check_box_ = false;
  kvtfields::InputEvents events_;
  kvt::EventSource<const kvt::Variant&> user_edit_;
};

/// "ZulFileLinker.FileLinker": a link to a file; its lock flag clears Enabled while set.
class FileLinker : public Control, public kvtfields::IFileLinkerControl {
  KVT_OBJECT()

 public:
  FileLinker() : Control(3000, 315) {}
  std::string Text() const { return text_; }
  void LetText(const std::string& v);
  bool Locked() const { return locked_; }
  void LetLocked(bool v);
  /// The person picks a file: the link becomes what the chooser makes of its path (the path
  /// itself without one); a chooser that gives nothing leaves the link as it was.
  void Browse(const std::string& path);
  using Chooser = std::function<std::optional<std::string>(const std::string& path)>;
  /// What a program makes of a file picked (a reference to the file kept by its archive).
  void SetChooser(Chooser chooser) { chooser_ = std::move(chooser); }

  kvtfields::InputEvents& Events() override { return events_; }
  kvtfields::InputEvents* FocusEvents() override { return &events_; }
  void TypeCharacter(char32_t c) override;
  bool TakesTypedText() const override { return true; }
  std::string Describe() const override { return text_; }
  void MarkEntry() override { entry_text_ = text_; }
  bool RevertToEntry() override;

 private:
  std::string entry_text_;
  std::string text_;
  bool locked_ = false;
  Chooser chooser_;
  kvtfields::InputEvents events_;
};

/// One panel of a status bar.
class Panel final : public kvt::Object {
  KVT_OBJECT()

 public:
  Panel(std::string key, std::string text) : key_(std::move(key)), text_(std::move(text)) {}
  std::string Key() const { return key_; }
  std::string Text() const { return text_; }
  void LetText(const std::string& v) {
    text_ = v;
    if (on_change) on_change();
  }
  /// Called after the text changed (the status bar shows it anew).
  std::function<void()> on_change;

 private:
  std::string key_;
  std::string text_;
};

/// A status bar's panels: by key or by position (from 1).
class Panels final : public kvt::Object {
  KVT_OBJECT()

 public:
  kvt::ObjectRef Add(const std::string& key, std::optional<std::string> text);
  kvt::ObjectRef Item(const kvt::Variant& index) const;
  std::int32_t Count() const { return static_cast<std::int32_t>(panels_.size()); }
  /// Called after a panel was added or its text changed.
  std::function<void()> on_change;

 private:
  std::vector<std::shared_ptr<Panel>> panels_;
};

/// "MSComctlLib.SBarCtrl.2": a status bar with keyed panels.
class StatusBar : public Control {
  KVT_OBJECT()

 public:
  StatusBar() : Control(4680, 315) {}
  kvt::ObjectRef GetPanels() const;
  bool Focusable() const override { return false; }
  std::string Describe() const override;

 private:
  std::shared_ptr<Panels> panels_ = std::make_shared<Panels>();
};

}  // namespace kvthost
