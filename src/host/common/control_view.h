// What a renderer needs to draw a form, whatever draws it (a widget toolkit, a browser page):
// every control as plain values, without knowing its class; the whole form once, then only the
// controls that changed. Text positions come in the renderer's units when it asks for them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "host/common/form.h"

namespace kvthost {

/// How a renderer counts text: as the controls do (code points, a line end "\r\n" two of them)
/// or as most toolkits and browsers show it (UTF-16 units, a line end "\n").
enum class TextUnits { kControl, kShown };

/// One control as a renderer draws it.
struct ControlView {
  enum class Kind { kLabel, kText, kCombo, kDate, kFile, kStatus, kOther };
  std::string name;
  Kind kind = Kind::kOther;
  std::int32_t left = 0, top = 0, width = 0, height = 0;  // twips, in the form
  bool visible = true, enabled = true, focused = false;
  bool locked = false;      // shown, not editable
  bool multi_line = false;  // a text box that takes lines
  std::int32_t back_color = 0, fore_color = 0;
  std::string font;
  double font_size = 0;
  bool bold = false, italic = false;
  std::string tool_tip;
  /// What it shows: a caption, a box's text, the code in a combo's box, a date, a path.
  std::string text;
  std::int32_t sel_start = 0, sel_length = 0;  // a text box's selection, in the units asked
  std::string description;                     // a combo's chosen entry's, when it shows it
  std::int32_t list_index = -1;                // a combo's chosen entry
  std::int32_t entries_total = 0;              // a combo's entries in all
  std::int32_t entries_first = 0;              // the first of `entries`
  std::vector<std::pair<std::string, std::string>> entries;  // a page of them: code, description
  std::vector<std::string> suggestions;                      // offered under a text box
  std::vector<std::string> panels;                           // a status bar's texts

  bool operator==(const ControlView&) const = default;
};

/// A form as a renderer draws it.
struct FormView {
  std::string caption;
  std::string active;                 // the focused control's name, "" for none
  std::vector<ControlView> controls;  // in the form's order
};

class TextBoxBase;
/// A text box's text and selection as a renderer shows them: the part of its view a widget
/// draws on every key.
struct TextShown {
  std::string text;                            // line ends "\n"
  std::int32_t sel_start = 0, sel_length = 0;  // UTF-16 units
};
TextShown ShownTextOf(const TextBoxBase& box);

/// `c` as it is now; a combo's entries from `first`, `page` of them at the most.
ControlView ViewOf(const Control& c, TextUnits units, std::size_t first = 0,
                   std::size_t page = 100);

/// Follows one form for a renderer: the whole form once, then what changed since.
class FormViewer {
 public:
  explicit FormViewer(std::shared_ptr<Form> form, TextUnits units = TextUnits::kShown);
  /// The whole form; what changes is counted from here.
  FormView Snapshot();
  struct Delta {
    std::vector<ControlView> changed;  // added or changed, as they are now
    std::vector<std::string> removed;
    std::optional<std::string> active;   // the focus moved here ("" nowhere)
    std::optional<std::string> caption;  // the form's caption changed
    bool Empty() const { return changed.empty() && removed.empty() && !active && !caption; }
  };
  /// What changed since the last Snapshot or Changes. Costs nothing while no control told a
  /// change, came or went, and the focus stayed.
  Delta Changes();

 private:
  std::weak_ptr<Form> form_;
  TextUnits units_;
  std::unordered_map<std::string, ControlView> last_;
  std::string active_, caption_;
  std::uint64_t at_ = 0;  // the form's change count at the last look
};

}  // namespace kvthost
