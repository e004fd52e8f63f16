#include "host/common/keystroke.h"

namespace kvthost {

namespace key = kvtfields::key;

Keystroke TypingKeystroke(char32_t c) {
  Keystroke k;
  if (c == U'\t') return PressedKeystroke(key::kTab, 0);
  if (c == U'\n' || c == U'\r') return PressedKeystroke(key::kReturn, 0);
  if (c == U'\b') return PressedKeystroke(key::kBack, 0);
  if (c >= U'a' && c <= U'z') {
    k.code = static_cast<std::int16_t>(c - U'a' + key::kA);
  } else if ((c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9') || c == U' ') {
    k.code = static_cast<std::int16_t>(c);
  }
  k.text.assign(1, c);
  return k;
}

Keystroke PressedKeystroke(std::int16_t code, std::int16_t shift) {
  Keystroke k;
  k.code = code;
  k.shift = shift;
  if (shift == kCtrlMask || shift == (kCtrlMask | kShiftMask)) {
    // The editing shortcuts every toolkit knows.
    const bool plain = shift == kCtrlMask;
    if (plain && code == key::kV) k.command = EditCommand::kPaste;
    if (plain && code == key::kX) k.command = EditCommand::kCut;
    if (plain && code == key::kC) k.command = EditCommand::kCopy;
    if (plain && code == key::kA) k.command = EditCommand::kSelectAll;
    if (plain && code == key::kZ) k.command = EditCommand::kUndo;
    if ((plain && code == key::kA + ('Y' - 'A')) || (!plain && code == key::kZ)) {
      k.command = EditCommand::kRedo;
    }
  }
  if (k.Command()) return k;  // Ctrl or Alt: no text
  if (code >= key::kA && code <= key::kZ) {
    k.text.assign(1, static_cast<char32_t>(k.Shift() ? code : code - key::kA + U'a'));
  } else if ((code >= key::k0 && code < key::k0 + 10 && !k.Shift()) || code == key::kSpace) {
    k.text.assign(1, static_cast<char32_t>(code));
  } else if (code == key::kReturn) {
    k.text = U"\r";
  } else if (code == key::kBack) {
    k.text = U"\b";
  } else if (code == key::kTab) {
    k.text = U"\t";
  }
  return k;
}

}  // namespace kvthost
