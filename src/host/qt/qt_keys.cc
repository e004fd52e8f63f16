#include "host/qt/qt_keys.h"

#include <QApplication>
#include <QClipboard>
#include <array>
#include <utility>

#include "host/qt/qt_text.h"

namespace kvthost::qt {
namespace {

// Keys whose platform code is not their Qt code.
constexpr std::array<std::pair<int, std::int16_t>, 22> kKeys{{
    {Qt::Key_Backspace, 8}, {Qt::Key_Tab, 9},    {Qt::Key_Backtab, 9},  {Qt::Key_Return, 13},
    {Qt::Key_Enter, 13},    {Qt::Key_Shift, 16}, {Qt::Key_Control, 17}, {Qt::Key_Alt, 18},
    {Qt::Key_Escape, 27},   {Qt::Key_Space, 32}, {Qt::Key_PageUp, 33},  {Qt::Key_PageDown, 34},
    {Qt::Key_End, 35},      {Qt::Key_Home, 36},  {Qt::Key_Left, 37},    {Qt::Key_Up, 38},
    {Qt::Key_Right, 39},    {Qt::Key_Down, 40},  {Qt::Key_Insert, 45},  {Qt::Key_Delete, 46},
    {Qt::Key_F1, 112},      {Qt::Key_F12, 123},
}};

}  // namespace

Keystroke KeystrokeOf(const QKeyEvent& event) {
  Keystroke k;
  k.code = VirtualKey(event);
  k.shift = ShiftOf(event.modifiers());
  k.text = event.text().toStdU32String();
  k.at_ms = event.timestamp();
  if (event.matches(QKeySequence::Paste)) {
    k.command = EditCommand::kPaste;
    k.pasted = FromQt(QApplication::clipboard()->text());
  } else if (event.matches(QKeySequence::Cut)) {
    k.command = EditCommand::kCut;
  } else if (event.matches(QKeySequence::Undo)) {
    k.command = EditCommand::kUndo;
  } else if (event.matches(QKeySequence::Redo)) {
    k.command = EditCommand::kRedo;
  } else if (event.matches(QKeySequence::SelectAll)) {
    k.command = EditCommand::kSelectAll;
  } else if (event.matches(QKeySequence::Copy)) {
    k.command = EditCommand::kCopy;
  }
  return k;
}

std::int16_t VirtualKey(const QKeyEvent& event) {
  const int key = event.key();
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) {
    return static_cast<std::int16_t>(key);  // letters and digits share their codes
  }
  if (key > Qt::Key_F1 && key < Qt::Key_F12)
    return static_cast<std::int16_t>(112 + key - Qt::Key_F1);
  for (const auto& [qt, code] : kKeys) {
    if (qt == key) return code;
  }
  return 0;
}

std::int16_t ShiftOf(Qt::KeyboardModifiers modifiers) {
  return ShiftState(modifiers & Qt::ShiftModifier, modifiers & Qt::ControlModifier,
                    modifiers & Qt::AltModifier);
}

Qt::Key QtKey(std::int16_t key_code) {
  if ((key_code >= 'A' && key_code <= 'Z') || (key_code >= '0' && key_code <= '9')) {
    return static_cast<Qt::Key>(key_code);
  }
  if (key_code >= 112 && key_code <= 123) return static_cast<Qt::Key>(Qt::Key_F1 + key_code - 112);
  for (const auto& [qt, code] : kKeys) {
    if (code == key_code) return static_cast<Qt::Key>(qt);
  }
  return Qt::Key_unknown;
}

Qt::KeyboardModifiers ModifiersOf(std::int16_t shift) {
  Qt::KeyboardModifiers m;
  if (shift & kShiftMask) m |= Qt::ShiftModifier;
  if (shift & kCtrlMask) m |= Qt::ControlModifier;
  if (shift & kAltMask) m |= Qt::AltModifier;
  return m;
}

}  // namespace kvthost::qt
