#include "host/common/standard_controls.h"

#include <algorithm>

#include "host/common/form.h"
#include "runtime/class_registry.h"
#include "runtime/error.h"
#include "runtime/record_set.h"
#include "runtime/text.h"

namespace kvthost {
namespace {

constexpr const char* kSource = kHostSource;
const std::function<void()> kNoNotify;
constexpr std::int32_t kTwipsPerChar = 90;

[[noreturn]] void InvalidValue(const std::string& what) {
  throw kvt::Error(kInvalidPropertyValue, kSource, "Invalid property value: " + what);
}

template <class C>
kvt::ClassBuilder<C> Builder(const char* name) {
  kvt::ClassBuilder<C> b(name);
  Control::DescribeCommon(b);
  return b;
}

}  // namespace

// ---- Label

const kvt::ClassInfo& Label::StaticClass() {
  static const kvt::ClassInfo info = Builder<Label>("Label")
                                         .Get<&Label::Caption>("Caption")
                                         .Default()
                                         .Let<&Label::LetCaption>("Caption")
                                         .Get<&Label::AutoSize>("AutoSize")
                                         .Let<&Label::LetAutoSize>("AutoSize")
                                         .Get<&Label::BackStyle>("BackStyle")
                                         .Let<&Label::LetBackStyle>("BackStyle")
                                         .Build();
  return info;
}

void Label::LetCaption(const std::string& v) {
  caption_ = v;
  NotifyChanged(Aspect::kContent);
  Fit();
}

void Label::LetAutoSize(bool v) {
  auto_size_ = v;
  NotifyChanged(Aspect::kAppearance);
  Fit();
}

void Label::LetBackStyle(std::int16_t v) {
  if (v != 0 && v != 1) InvalidValue("BackStyle");
  back_style_ = v;
  NotifyChanged(Aspect::kAppearance);
}

void Label::Fit() {
  // An auto-sized label is as wide as its caption in the default font.
  if (!auto_size_) return;
  LetWidth(static_cast<std::int32_t>(kvt::CharLength(caption_)) * kTwipsPerChar);
  LetHeight(195);
}

// ---- Text boxes

void TextBoxBase::Replace(std::string text) {
  if (text == text_) {
    // No change, but the caret may have moved (a character typed over the same one selected):
    // a widget must show it, or it keeps the old selection and the next key replaces it.
    NotifyChanged(Aspect::kSelection);
    return;
  }
  text_ = std::move(text);
  NotifyChanged(Aspect::kContent);
  events_.Change.Emit();
}

void TextBoxBase::LetText(const std::string& v) {
  // A value written over a whole selection of the focused box (a script proposing a value as
  // the person enters the field) is selected in turn, so that what the person types replaces it.
  const bool whole = HasFocus() && sel_start_ == 0 &&
                     sel_length_ == static_cast<std::int32_t>(kvt::CharLength(text_));
  undo_.clear();  // the person's edits undo back to what the program wrote, not past it
  sel_start_ = 0;
  sel_length_ = 0;
  NotifyChanged(Aspect::kSelection);
  Replace(v);
  if (whole && sel_length_ == 0 && text_ == v) {
    sel_length_ = static_cast<std::int32_t>(kvt::CharLength(text_));
    NotifyChanged(Aspect::kSelection);
  }
}

void TextBoxBase::LetMaxLength(std::int16_t v) {
  if (v < 0) InvalidValue("MaxLength");
  max_length_ = v;
  NotifyChanged(Aspect::kAppearance);
}

void TextBoxBase::LetSelStart(std::int32_t v) {
  if (v < 0) InvalidValue("SelStart");
  sel_start_ = std::min(v, static_cast<std::int32_t>(kvt::CharLength(text_)));
  sel_length_ = 0;
  typing_run_ = false;
  NotifyChanged(Aspect::kSelection);
}

void TextBoxBase::LetSelLength(std::int32_t v) {
  if (v < 0) InvalidValue("SelLength");
  sel_length_ = std::min(v, static_cast<std::int32_t>(kvt::CharLength(text_)) - sel_start_);
  NotifyChanged(Aspect::kSelection);
}

std::string TextBoxBase::SelText() const {
  const auto from = kvt::ByteOffsetOfChar(text_, static_cast<std::size_t>(sel_start_));
  const auto to = kvt::ByteOffsetOfChar(text_, static_cast<std::size_t>(sel_start_ + sel_length_));
  return text_.substr(from, to - from);
}

void TextBoxBase::MarkSuggestion(std::int32_t step) {
  const auto n = static_cast<std::int32_t>(suggestions_.size());
  marked_ = std::clamp(marked_ + step, std::int32_t{-1}, n - 1);
  NotifyChanged(Aspect::kList);
}

void TextBoxBase::AcceptSuggestion(std::int32_t index) {
  if (index < 0 || static_cast<std::size_t>(index) >= suggestions_.size()) {
    throw kvt::RuntimeError(kvt::ErrorCode::kSubscriptOutOfRange, "suggestion", kSource);
  }
  if (locked_ || !Enabled()) return;
  std::string chosen = suggestions_[static_cast<std::size_t>(index)];
  suggestions_.clear();
  marked_ = -1;
  NotifyChanged(Aspect::kList);  // the list under the box goes
  Edited();
  sel_start_ = static_cast<std::int32_t>(kvt::CharLength(chosen));
  sel_length_ = 0;
  Replace(std::move(chosen));
}

void TextBoxBase::PasteText(const std::string& pasted) {
  if (locked_ || !Enabled()) return;
  std::string insert;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < pasted.size();) {
    const char32_t c = kvt::NextCodePoint(pasted, i);
    if (c == U'\r') continue;
    if (c == U'\n') {
      if (!multi_line_) break;
      insert += "\r\n";
      chars += 2;
    } else if (c >= 32) {
      kvt::AppendCodePoint(insert, c);
      ++chars;
    }
  }
  const auto len = static_cast<std::int32_t>(kvt::CharLength(text_));
  if (max_length_ > 0) {
    const std::int32_t room = max_length_ - (len - sel_length_);
    if (room <= 0) return;
    if (static_cast<std::int32_t>(chars) > room) {
      insert = insert.substr(0, kvt::ByteOffsetOfChar(insert, static_cast<std::size_t>(room)));
      chars = static_cast<std::size_t>(room);
    }
  }
  const auto from = kvt::ByteOffsetOfChar(text_, static_cast<std::size_t>(sel_start_));
  const auto to = kvt::ByteOffsetOfChar(text_, static_cast<std::size_t>(sel_start_ + sel_length_));
  std::string next = text_.substr(0, from) + insert + text_.substr(to);
  Edited();
  sel_start_ += static_cast<std::int32_t>(chars);
  sel_length_ = 0;
  Replace(std::move(next));
}

void TextBoxBase::Edited() {
  typing_run_ = false;
  constexpr std::size_t kUndoSteps = 100;
  if (undo_.size() == kUndoSteps) undo_.erase(undo_.begin());
  undo_.emplace_back(text_, sel_start_);
}

bool TextBoxBase::Undo() {
  if (undo_.empty() || locked_ || !Enabled()) return false;
  auto [text, caret] = std::move(undo_.back());
  undo_.pop_back();
  typing_run_ = false;
  sel_start_ = caret;
  sel_length_ = 0;
  Replace(std::move(text));
  NotifyChanged(Aspect::kSelection);
  return true;
}

void TextBoxBase::MarkEntry() {
  entry_text_ = text_;
  undo_.clear();
}

bool TextBoxBase::RevertToEntry() {
  if (locked_ || !Enabled() || text_ == entry_text_) return false;
  Edited();
  sel_start_ = 0;
  sel_length_ = static_cast<std::int32_t>(kvt::CharLength(entry_text_));
  Replace(entry_text_);
  NotifyChanged(Aspect::kSelection);
  return true;
}

void TextBoxBase::EditorKey(const Keystroke& key) {
  namespace k = kvtfields::key;
  const auto len = static_cast<std::int32_t>(kvt::CharLength(text_));
  if (key.command == EditCommand::kSelectAll) {
    LetSelStart(0);
    LetSelLength(len);
  } else if (key.Is(k::kHome) || key.Is(k::kEnd)) {
    LetSelStart(key.Is(k::kHome) ? 0 : len);
  } else if (key.Is(k::kLeft) || key.Is(k::kRight)) {
    // An arrow ends a selection at its side, else moves the caret by one character.
    const std::int32_t caret = sel_length_ > 0
                                   ? (key.Is(k::kLeft) ? sel_start_ : sel_start_ + sel_length_)
                                   : std::clamp(sel_start_ + (key.Is(k::kLeft) ? -1 : 1), 0, len);
    LetSelStart(caret);
  }
}

void TextBoxBase::TypeCharacter(char32_t c) {
  if (locked_ || !Enabled()) return;
  const auto len = static_cast<std::int32_t>(kvt::CharLength(text_));
  const auto from = kvt::ByteOffsetOfChar(text_, static_cast<std::size_t>(sel_start_));
  const auto to = kvt::ByteOffsetOfChar(text_, static_cast<std::size_t>(sel_start_ + sel_length_));
  std::string insert;
  std::int32_t insert_chars = 1;
  if (c == 8) {  // Backspace: the selection, or the character before the caret
    if (sel_length_ > 0) {
      std::string next = text_.substr(0, from) + text_.substr(to);
      Edited();
      sel_length_ = 0;
      Replace(std::move(next));
    } else if (sel_start_ > 0) {
      const auto prev = kvt::ByteOffsetOfChar(text_, static_cast<std::size_t>(sel_start_ - 1));
      std::string next = text_.substr(0, prev) + text_.substr(from);
      Edited();
      --sel_start_;
      Replace(std::move(next));
    }
    return;
  }
  if (c >= 32 && refuses_ && refuses_(c)) {
    Refused.Emit(refusal_);
    return;
  }
  if (c == U'\r') {
    if (!multi_line_) return;  // a single-line box ignores Enter
    insert = "\r\n";
    insert_chars = 2;
  } else if (c < 32) {
    return;
  } else {
    kvt::AppendCodePoint(insert, c);
  }
  if (max_length_ > 0 && len - sel_length_ + insert_chars > max_length_) return;  // full: beep
  std::string next = text_.substr(0, from) + insert + text_.substr(to);
  // A run of characters typed one after another is undone as one.
  if (!typing_run_ || sel_length_ > 0) Edited();
  typing_run_ = true;
  sel_start_ += insert_chars;
  sel_length_ = 0;
  Replace(std::move(next));
}

std::string TextBoxBase::Describe() const {
  return text_;
}

const kvt::ClassInfo& MultiLineTextBox::StaticClass() {
  static const kvt::ClassInfo info = [] {
    auto b = Builder<MultiLineTextBox>("MultiLineTextBox");
    b.Get<&TextBoxBase::Text>("_Default")
        .Default()
        .Let<&TextBoxBase::LetText>("_Default")
        .Get<&TextBoxBase::Text>("Text")
        .Id(kvtfields::member_id::kTextBoxText)
        .Let<&TextBoxBase::LetText>("Text")
        .Get<&TextBoxBase::Locked>("Locked")
        .Id(kvtfields::member_id::kTextBoxLocked)
        .Let<&TextBoxBase::LetLocked>("Locked");
    return TextBoxBase::DescribeText(b).Build();
  }();
  return info;
}

const kvt::ClassInfo& PlainTextBox::StaticClass() {
  static const kvt::ClassInfo info = [] {
    auto b = Builder<PlainTextBox>("TextBox");
    b.Get<&TextBoxBase::Text>("Text")
        .Default()
        .Let<&TextBoxBase::LetText>("Text")
        .Get<&TextBoxBase::Locked>("Locked")
        .Let<&TextBoxBase::LetLocked>("Locked");
    return TextBoxBase::DescribeText(b).Build();
  }();
  return info;
}

// ---- Code/description combo

const kvt::ClassInfo& CodeCombo::StaticClass() {
  namespace id = kvtfields::member_id;
  static const kvt::ClassInfo info =
      Builder<CodeCombo>("DBCodDescr")
          .Get<&CodeCombo::Value>("Value")
          .Id(id::kComboValue)
          .Let<&CodeCombo::LetValue>("Value")
          .Get<&CodeCombo::ListIndex>("ListIndex")
          .Id(id::kComboListIndex)
          .Let<&CodeCombo::LetListIndex>("ListIndex")
          .Get<&CodeCombo::ListCount>("ListCount")
          .Id(id::kComboListCount)
          .Get<&CodeCombo::Locked>("Locked")
          .Id(id::kComboLocked)
          .Let<&CodeCombo::LetLocked>("Locked")
          .Get<&CodeCombo::Description>("Description")
          .Get<&CodeCombo::Text>("Text")
          .Let<&CodeCombo::LetText>("Text")
          .Method<&CodeCombo::List>("List")
          .Params({"Index"})
          .Get<&CodeCombo::VisibleDescription>("VisibleDescription")
          .Let<&CodeCombo::LetVisibleDescription>("VisibleDescription")
          .Get<&CodeCombo::Behavior>("Behavior")
          .Let<&CodeCombo::LetBehavior>("Behavior")
          .Get<&CodeCombo::HaveEmptyElement>("HaveEmptyElement")
          .Let<&CodeCombo::LetHaveEmptyElement>("HaveEmptyElement")
          .Get<&CodeCombo::DataRows>("DataRows")
          .Set<&CodeCombo::SetDataRows>("DataRows")
          .Get<&CodeCombo::RequeryRecordset>("RequeryRecordset")
          .Let<&CodeCombo::LetRequeryRecordset>("RequeryRecordset")
          .Get<&CodeCombo::ComboBinding>("ComboBinding")
          .Let<&CodeCombo::LetComboBinding>("ComboBinding")
          .Get<&CodeCombo::LabelBinding>("LabelBinding")
          .Let<&CodeCombo::LetLabelBinding>("LabelBinding")
          .Method<&CodeCombo::Refill>("Refill")
          .Build();
  return info;
}

std::string CodeCombo::Value() const {
  return index_ < 0 ? std::string() : entries_[static_cast<std::size_t>(index_)].first;
}

std::string CodeCombo::Description() const {
  return index_ < 0 ? std::string() : entries_[static_cast<std::size_t>(index_)].second;
}

std::int16_t Narrow(std::size_t v, const char* what) {
  if (v > 32767) {
    throw kvt::RuntimeError(kvt::ErrorCode::kOverflow,
                            std::string(what) + " " + std::to_string(v) + " does not fit 16 bits",
                            kHostSource);
  }
  return static_cast<std::int16_t>(v);
}

std::int16_t CodeCombo::ListCount() const {
  return Narrow(entries_.size(), "ListCount");
}

std::int16_t CodeCombo::ListIndex() const {
  return index_ < 0 ? std::int16_t{-1} : Narrow(static_cast<std::size_t>(index_), "ListIndex");
}

std::int32_t CodeCombo::Find(const std::string& code) const {
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].first == code) return static_cast<std::int32_t>(i);
  }
  return -1;
}

void CodeCombo::Select(std::int32_t index) {
  const std::string before = Value();
  index_ = index;
  box_text_ = EntryText(index_);
  box_selected_ = false;
  NotifyChanged(Aspect::kSelection);
  if (Value() != before) events_.Change.Emit();
}

void CodeCombo::ShowChosen() {
  box_text_ = EntryText(index_);
  box_selected_ = false;
  NotifyChanged(Aspect::kSelection);
}

std::string CodeCombo::EntryText(std::int32_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) return {};
  const auto& [code, descr] = entries_[static_cast<std::size_t>(index)];
  return !visible_description_ || code.empty() ? code : code + " - " + descr;
}

void CodeCombo::EditorKey(const Keystroke& key) {
  if (locked_ || !Enabled()) return;
  if (key.command == EditCommand::kSelectAll) {
    box_selected_ = true;
    return;
  }
  if (key.Command()) return;
  if (key.Is(kKeyBack)) {
    std::size_t i = 0, last = 0;
    while (i < box_text_.size()) {
      last = i;
      kvt::NextCodePoint(box_text_, i);
    }
    box_text_.resize(box_selected_ ? 0 : last);
    box_selected_ = false;
    return;
  }
  for (char32_t c : key.text) {
    if (c < 32 || kvt::IsControlCharacter(c)) continue;
    if (box_selected_) box_text_.clear();
    box_selected_ = false;
    kvt::AppendCodePoint(box_text_, c);
  }
}

bool CodeCombo::TypedCode(bool add) {
  const std::string typed = BoxText();
  const auto dash = typed.find(" - ");
  const std::string code = typed.substr(0, dash);
  const std::string descr = dash == std::string::npos ? std::string() : typed.substr(dash + 3);
  const bool listed = Find(code) >= 0;
  if (listed && code != Value()) {
    Choose(code);
  } else if (!listed && add) {
    AddCode(code, descr);
  } else if (!listed && typed != EntryText(index_) && !ChooseByText(typed)) {
    SelectBoxText();  // kept, so that the person corrects it rather than types it again
    return false;
  }
  ShowChosen();
  return true;
}

bool CodeCombo::ChooseByText(const std::string& typed) {
  // Many people remember the description, not the code: a code in another letter case, a
  // whole description, or the one entry whose description holds what was typed.
  std::string text = typed;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  while (!text.empty() && text.front() == ' ') text.erase(0, 1);
  if (text.empty()) return true;  // nothing typed: the choice stays
  const std::string folded = kvt::ToLower(text);
  std::vector<std::size_t> holding;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const auto& [code, descr] = entries_[i];
    if (code.empty()) continue;  // the empty entry
    const std::string c = kvt::ToLower(code), d = kvt::ToLower(descr);
    if (c == folded || d == folded) {
      if (code != Value()) Choose(code);
      return true;
    }
    if (d.find(folded) != std::string::npos || c.rfind(folded, 0) == 0) holding.push_back(i);
  }
  if (holding.size() == 1) {
    if (entries_[holding.front()].first != Value()) Choose(entries_[holding.front()].first);
    return true;
  }
  const std::string shown = "\"" + kvt::Printable(text) + "\"";
  if (holding.empty()) {
    Note("Nessun codice corrisponde a " + shown + ": correggere, o Esc per il valore di prima.");
    return false;
  }
  std::string some;
  for (std::size_t k = 0; k < holding.size() && k < 3; ++k) {
    some += (k ? ", " : "") + entries_[holding[k]].first;
  }
  if (holding.size() > 3) some += ", ...";
  Note(shown + " corrisponde a " + std::to_string(holding.size()) + " codici (" + some +
       "): sceglierne uno dall'elenco.");
  return false;
}

bool CodeCombo::RevertToEntry() {
  if (locked_ || !Enabled()) return false;
  if (Value() == entry_value_ || Find(entry_value_) < 0) {
    // Text typed but not taken goes: the box shows the code again.
    if (BoxText() == EntryText(index_)) return false;
    ShowChosen();
    SelectBoxText();
    return true;
  }
  Select(Find(entry_value_));
  return true;
}

void CodeCombo::ShiftDelete() {
  std::string code = BoxText();
  code = code.substr(0, code.find(" - "));
  if (!code.empty()) DeleteCode(code);
  ShowChosen();
}

void CodeCombo::LetValue(const std::string& code) {
  const std::int32_t i = Find(code);
  if (i >= 0) return Select(i);
  if (code.empty()) return Select(-1);
  InvalidValue("'" + code + "' is not in the list of " + Name());
}

void CodeCombo::LetListIndex(std::int16_t v) {
  if (v < -1 || static_cast<std::size_t>(v + 1) > entries_.size()) InvalidValue("ListIndex");
  Select(v);
}

std::string CodeCombo::List(std::int16_t index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= entries_.size()) {
    throw kvt::RuntimeError(kvt::ErrorCode::kSubscriptOutOfRange, std::to_string(index), kSource);
  }
  return entries_[static_cast<std::size_t>(index)].first;
}

void CodeCombo::Refill() {
  auto rs = std::dynamic_pointer_cast<kvt::RecordSet>(data_rows_);
  if (!rs) throw kvt::RuntimeError(kvt::ErrorCode::kObjectNotSet, "DataRows", kSource);
  const std::string selected = Value();
  std::vector<std::pair<std::string, std::string>> entries;
  if (have_empty_) entries.emplace_back();
  const std::int32_t cod = rs->FindField(combo_binding_);
  const std::int32_t val = rs->FindField(label_binding_);
  if (cod < 0 || val < 0) {
    throw kvt::RuntimeError(kvt::ErrorCode::kFieldNotFound,
                            "'" + combo_binding_ + "' or '" + label_binding_ + "'", kSource);
  }
  for (; !rs->Eof(); rs->MoveNext()) {
    entries.emplace_back(kvt::JoinText(rs->Value(cod)), kvt::JoinText(rs->Value(val)));
  }
  entries_ = std::move(entries);
  const std::int32_t keep = Find(selected);
  index_ = keep >= 0 ? keep : (have_empty_ ? 0 : -1);  // refilling is no change of the person's
  box_text_ = EntryText(index_);
  NotifyChanged(Aspect::kList);
}

void CodeCombo::Choose(const std::string& code) {
  if (locked_ || !Enabled()) return;
  const std::int32_t i = Find(code);
  if (i < 0) InvalidValue("'" + code + "' is not in the list of " + Name());
  Select(i);
}

void CodeCombo::AddCode(const std::string& code, const std::string& description) {
  if (locked_ || !Enabled()) return;
  code_events_.CodeAdded.Emit(code, description, kvt::Variant());
}

void CodeCombo::DeleteCode(const std::string& code) {
  if (locked_ || !Enabled()) return;
  code_events_.CodeDeleted.Emit(code, kvt::Variant(), kvt::Variant());
}

std::string CodeCombo::Describe() const {
  if (Value().empty()) return {};
  return visible_description_ ? Value() + " - " + Description() : Value();
}

// ---- Date picker

const kvt::ClassInfo& DatePicker::StaticClass() {
  namespace id = kvtfields::member_id;
  static const kvt::ClassInfo info = Builder<DatePicker>("DTPicker")
                                         .Renumber("Enabled", id::kDatePickerEnabled)
                                         .Get<&DatePicker::Value>("Value")
                                         .Id(id::kDatePickerValue)
                                         .Let<&DatePicker::LetValue>("Value")
                                         .Get<&DatePicker::Format>("Format")
                                         .Let<&DatePicker::LetFormat>("Format")
                                         .Get<&DatePicker::CustomFormat>("CustomFormat")
                                         .Let<&DatePicker::LetCustomFormat>("CustomFormat")
                                         .Get<&DatePicker::CheckBox>("CheckBox")
                                         .Let<&DatePicker::LetCheckBox>("CheckBox")
                                         .Get<&DatePicker::Text>("Text")
                                         .Let<&DatePicker::LetText>("Text")
                                         .Build();
  return info;
}

kvt::Variant DatePicker::Value() const {
  return has_date_ ? kvt::Variant(date_) : kvt::Variant::Null();
}

void DatePicker::LetValue(const kvt::Variant& v) {
  bool has = false;
  kvt::Date d{};
  if (v.IsNull()) {
    if (!check_box_) InvalidValue("a picker without check box needs a date");
  } else {
    d = kvt::CDate(v);
    has = true;
  }
  const bool changed = has != has_date_ || (has && d != date_);
  has_date_ = has;
  date_ = d;
  if (changed) {
    NotifyChanged(Aspect::kContent);
    events_.Change.Emit();
  }
}

std::string DatePicker::Text() const {
  if (!has_date_) return {};
  return kvt::FormatDate(kvt::Date{static_cast<double>(static_cast<long long>(date_.serial))});
}

void DatePicker::LetText(const std::string& text) {
  LetValue(text.empty() ? kvt::Variant::Null() : kvt::Variant(text));
}

bool DatePicker::RevertToEntry() {
  const kvt::Variant now = Value();
  if (!Enabled() || (now.IsNull() && entry_value_.IsNull()) ||
      (!now.IsNull() && !entry_value_.IsNull() &&
       kvt::JoinText(now) == kvt::JoinText(entry_value_))) {
    return false;
  }
  PickDate(entry_value_);
  return true;
}

void DatePicker::PickDate(const kvt::Variant& v) {
  if (!Enabled()) return;
  LetValue(v);
  user_edit_.Emit(Value());
}

// ---- File link

const kvt::ClassInfo& FileLinker::StaticClass() {
  namespace id = kvtfields::member_id;
  static const kvt::ClassInfo info = Builder<FileLinker>("FileLinker")
                                         .Renumber("Enabled", id::kFileLinkerEnabled)
                                         .Get<&FileLinker::Text>("Text")
                                         .Id(id::kFileLinkerText)
                                         .Let<&FileLinker::LetText>("Text")
                                         .Get<&FileLinker::Locked>("Locked")
                                         .Id(id::kFileLinkerLocked)
                                         .Let<&FileLinker::LetLocked>("Locked")
                                         .Method<&FileLinker::Browse>("Browse")
                                         .Params({"Path"})
                                         .Build();
  return info;
}

void FileLinker::LetText(const std::string& v) {
  if (v == text_) return;
  text_ = v;
  NotifyChanged(Aspect::kContent);
  events_.Change.Emit();
}

void FileLinker::LetLocked(bool v) {
  locked_ = v;
  NotifyChanged(Aspect::kAppearance);
  LetEnabled(!v);  // a locked link cannot be followed or changed
}

void FileLinker::Browse(const std::string& path) {
  if (locked_ || !Enabled()) return;
  if (!chooser_) return LetText(path);
  if (const auto link = chooser_(path)) LetText(*link);
}

bool FileLinker::RevertToEntry() {
  if (locked_ || !Enabled() || text_ == entry_text_) return false;
  LetText(entry_text_);
  return true;
}

void FileLinker::TypeCharacter(char32_t c) {
  if (locked_ || !Enabled()) return;
  if (c == 8) {
    if (text_.empty()) return;
    std::size_t i = 0, last = 0;
    while (i < text_.size()) {
      last = i;
      kvt::NextCodePoint(text_, i);
    }
    LetText(text_.substr(0, last));
  } else if (c >= 32) {
    std::string next = text_;
    kvt::AppendCodePoint(next, c);
    LetText(next);
  }
}

// ---- Status bar

const kvt::ClassInfo& Panel::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<Panel>("Panel")
                                         .Get<&Panel::Text>("Text")
                                         .Default()
                                         .Let<&Panel::LetText>("Text")
                                         .Get<&Panel::Key>("Key")
                                         .Build();
  return info;
}

const kvt::ClassInfo& Panels::StaticClass() {
  static const kvt::ClassInfo info = kvt::ClassBuilder<Panels>("Panels")
                                         .Get<&Panels::Item>("Item")
                                         .Default()
                                         .Params({"Index"})
                                         .Method<&Panels::Add>("Add")
                                         .Params({"Key", "Text"})
                                         .Get<&Panels::Count>("Count")
                                         .Build();
  return info;
}

kvt::ObjectRef Panels::Add(const std::string& key, std::optional<std::string> text) {
  for (const auto& p : panels_) {
    if (!key.empty() && p->Key() == key) {
      throw kvt::RuntimeError(kvt::ErrorCode::kDuplicateKey, "'" + key + "'", kSource);
    }
  }
  panels_.push_back(std::make_shared<Panel>(key, text.value_or("")));
  // A panel may outlive its status bar (a caller still holds it): it holds the panels weakly.
  std::weak_ptr<kvt::Object> weak = weak_from_this();
  panels_.back()->on_change = [weak] {
    auto self = weak.lock();
    if (auto& notify = self ? static_cast<Panels&>(*self).on_change : kNoNotify; notify) notify();
  };
  if (on_change) on_change();
  return panels_.back();
}

kvt::ObjectRef Panels::Item(const kvt::Variant& index) const {
  if (index.IsString()) {
    for (const auto& p : panels_) {
      if (p->Key() == index.AsString()) return p;
    }
    throw kvt::RuntimeError(kvt::ErrorCode::kElementNotFound, "panel '" + index.AsString() + "'",
                            kSource);
  }
  const auto i = kvt::CLng(index);
  if (i < 1 || i > Count()) {
    throw kvt::RuntimeError(kvt::ErrorCode::kSubscriptOutOfRange, std::to_string(i), kSource);
  }
  return panels_[static_cast<std::size_t>(i - 1)];
}

kvt::ObjectRef StatusBar::GetPanels() const {
  if (!panels_->on_change) {
    std::weak_ptr<const kvt::Object> weak = shared_from_this();
    panels_->on_change = [weak] {
      if (auto self = weak.lock()) {
        std::const_pointer_cast<StatusBar>(std::static_pointer_cast<const StatusBar>(self))
            ->NotifyChanged(Aspect::kContent);
      }
    };
  }
  return panels_;
}

const kvt::ClassInfo& StatusBar::StaticClass() {
  static const kvt::ClassInfo info =
      Builder<StatusBar>("StatusBar").Get<&StatusBar::GetPanels>("Panels").Build();
  return info;
}

std::string StatusBar::Describe() const {
  std::string out;
  for (std::int32_t i = 1; i <= panels_->Count(); ++i) {
    const std::string text = kvt::CStr(kvt::GetProperty(panels_->Item(kvt::Variant(i)), "Text"));
    if (text.empty()) continue;  // an empty panel shows nothing, not a separator
    if (!out.empty()) out += " | ";
    out += text;
  }
  return out;
}

}  // namespace kvthost
