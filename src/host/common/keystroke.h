// A key as every window system hands it to the form: the platform's key code and shift state,
// the character it types and the editing command it stands for. The form routes it (Form::Key);
// a window system only translates its own key events into keystrokes.
#pragma once

#include <cstdint>
#include <string>

#include "host/common/units.h"

namespace kvthost {

/// The editing commands a toolkit recognises from its shortcut table (Ctrl+V, Shift+Insert ...).
enum class EditCommand { kNone, kPaste, kCut, kCopy, kUndo, kRedo, kSelectAll };

struct Keystroke {
  /// The platform key code (kvtfields::key), 0 for a key it has no code for.
  std::int16_t code = 0;
  /// Shift state: kShiftMask, kCtrlMask, kAltMask.
  std::int16_t shift = 0;
  /// What the key types: usually one character, empty for none (an input method may give more).
  std::u32string text;
  EditCommand command = EditCommand::kNone;
  /// For kPaste: the text on the clipboard.
  std::string pasted;
  /// When it was pressed, in ms of the window system's clock; 0 when unknown.
  std::uint64_t at_ms = 0;

  bool Is(std::int16_t key) const { return code == key; }
  /// The first character typed, 0 for none.
  char32_t Character() const { return text.empty() ? 0 : text.front(); }
  bool Shift() const { return (shift & kShiftMask) != 0; }
  /// Ctrl or Alt held: the key is a command, never text.
  bool Command() const { return (shift & (kCtrlMask | kAltMask)) != 0; }
};

/// The keystroke a person makes to type `c`: letters and digits carry their key code (a letter's
/// upper-case code, without Shift, as a keyboard reports it), the space its own, line ends
/// Enter, a tab Tab, Backspace (8) Backspace; any other character arrives as text alone.
Keystroke TypingKeystroke(char32_t c);

/// The keystroke of a key pressed alone: letters, digits and the space also type their character
/// (a letter upper-cased with Shift), as on a keyboard; Ctrl with A, C, V, X, Z, Y (and
/// Ctrl+Shift+Z) are the editing commands (a paste without a clipboard pastes nothing).
Keystroke PressedKeystroke(std::int16_t code, std::int16_t shift);

}  // namespace kvthost
