#include "host/common/control_view.h"

#include <algorithm>

#include "host/common/standard_controls.h"
#include "host/common/text_positions.h"

namespace kvthost {
namespace {

// A line end as a renderer shows it.
std::string Shown(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out.push_back(text[i]);
  }
  return out;
}

void ViewText(const TextBoxBase& box, TextUnits units, ControlView& v) {
  const std::string text = box.Text();
  v.multi_line = box.MultiLine();
  v.locked = box.Locked();
  v.suggestions = box.Suggestions();
  if (units == TextUnits::kControl) {
    v.text = text;
    v.sel_start = box.SelStart();
    v.sel_length = box.SelLength();
    return;
  }
  TextShown shown = ShownTextOf(box);
  v.text = std::move(shown.text);
  v.sel_start = shown.sel_start;
  v.sel_length = shown.sel_length;
}

}  // namespace

TextShown ShownTextOf(const TextBoxBase& box) {
  const std::string text = box.Text();
  TextShown out;
  out.text = Shown(text);
  out.sel_start = ShownPosition(text, box.SelStart());
  out.sel_length = ShownPosition(text, box.SelStart() + box.SelLength()) - out.sel_start;
  return out;
}

namespace {

void ViewCombo(const CodeCombo& combo, std::size_t first, std::size_t page, ControlView& v) {
  v.text = combo.BoxText();
  v.locked = combo.Locked();
  v.list_index = combo.ListIndex();
  if (combo.VisibleDescription()) v.description = combo.Description();
  const auto& entries = combo.Entries();
  v.entries_total = static_cast<std::int32_t>(entries.size());
  first = std::min(first, entries.size());
  v.entries_first = static_cast<std::int32_t>(first);
  const std::size_t last = std::min(entries.size(), first + page);
  v.entries.assign(entries.begin() + static_cast<std::ptrdiff_t>(first),
                   entries.begin() + static_cast<std::ptrdiff_t>(last));
}

void ViewPanels(const StatusBar& bar, ControlView& v) {
  auto panels = std::dynamic_pointer_cast<Panels>(bar.GetPanels());
  if (!panels) return;
  for (std::int32_t i = 1; i <= panels->Count(); ++i) {
    if (auto p = std::dynamic_pointer_cast<Panel>(panels->Item(kvt::Variant(i)))) {
      v.panels.push_back(p->Text());
    }
  }
}

}  // namespace

ControlView ViewOf(const Control& c, TextUnits units, std::size_t first, std::size_t page) {
  ControlView v;
  v.name = c.Name();
  v.left = c.Left();
  v.top = c.Top();
  v.width = c.Width();
  v.height = c.Height();
  v.visible = c.Visible();
  v.enabled = c.Enabled();
  v.focused = c.HasFocus();
  v.back_color = c.BackColor();
  v.fore_color = c.ForeColor();
  v.tool_tip = c.ToolTipText();
  if (auto font = std::dynamic_pointer_cast<Font>(c.Font())) {
    v.font = font->Name();
    v.font_size = font->Size();
    v.bold = font->Bold();
    v.italic = font->Italic();
  }
  if (const auto* label = dynamic_cast<const Label*>(&c)) {
    v.kind = ControlView::Kind::kLabel;
    v.text = label->Caption();
  } else if (const auto* box = dynamic_cast<const TextBoxBase*>(&c)) {
    v.kind = ControlView::Kind::kText;
    ViewText(*box, units, v);
  } else if (const auto* combo = dynamic_cast<const CodeCombo*>(&c)) {
    v.kind = ControlView::Kind::kCombo;
    ViewCombo(*combo, first, page, v);
  } else if (const auto* date = dynamic_cast<const DatePicker*>(&c)) {
    v.kind = ControlView::Kind::kDate;
    v.text = date->Text();
  } else if (const auto* file = dynamic_cast<const FileLinker*>(&c)) {
    v.kind = ControlView::Kind::kFile;
    v.text = file->Text();
    v.locked = file->Locked();
  } else if (const auto* bar = dynamic_cast<const StatusBar*>(&c)) {
    v.kind = ControlView::Kind::kStatus;
    ViewPanels(*bar, v);
  } else {
    v.text = c.Describe();
  }
  return v;
}

FormViewer::FormViewer(std::shared_ptr<Form> form, TextUnits units)
    : form_(std::move(form)), units_(units) {}

FormView FormViewer::Snapshot() {
  FormView out;
  last_.clear();
  auto form = form_.lock();
  if (!form) return out;
  out.caption = caption_ = form->Caption();
  const auto active = form->Active();
  out.active = active_ = active ? active->Name() : std::string();
  for (const auto& c : form->ControlList()) {
    ControlView v = ViewOf(*c, units_);
    last_.emplace(v.name, v);
    out.controls.push_back(std::move(v));
  }
  at_ = form->ChangeCount();
  return out;
}

FormViewer::Delta FormViewer::Changes() {
  Delta d;
  auto form = form_.lock();
  if (!form) return d;
  const auto active = form->Active();
  const std::string was_active = active_;
  if (const std::string now = active ? active->Name() : std::string(); now != active_) {
    d.active = active_ = now;
  }
  if (form->Caption() != caption_) d.caption = caption_ = form->Caption();
  if (form->ChangeCount() == at_) {
    // No control told a change, none came or went: only the focus marks can differ.
    if (d.active) {
      for (const std::string* name : {&was_active, static_cast<const std::string*>(&active_)}) {
        auto it = last_.find(*name);
        if (it == last_.end()) continue;
        it->second.focused = *name == active_ && !name->empty();
        d.changed.push_back(it->second);
      }
    }
    return d;
  }
  std::unordered_map<std::string, ControlView> seen;
  for (const auto& c : form->ControlList()) {
    ControlView v = ViewOf(*c, units_);
    auto it = last_.find(v.name);
    if (it == last_.end() || !(it->second == v)) d.changed.push_back(v);
    seen.emplace(v.name, std::move(v));
  }
  for (const auto& [name, v] : last_) {
    if (!seen.contains(name)) d.removed.push_back(name);
  }
  std::sort(d.removed.begin(), d.removed.end());
  last_ = std::move(seen);
  at_ = form->ChangeCount();
  return d;
}

}  // namespace kvthost
