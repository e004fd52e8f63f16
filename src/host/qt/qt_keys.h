// Qt's keys as the platform numbers them: key codes (virtual keys) and the shift state.
#pragma once

#include <QKeyEvent>
#include <cstdint>

#include "host/common/keystroke.h"
#include "host/common/units.h"

namespace kvthost::qt {

/// A Qt key event as the form routes it: code, shift state, text and the editing command its
/// shortcut means (a paste carries the clipboard's text).
Keystroke KeystrokeOf(const QKeyEvent& event);
/// The platform's key code of a Qt key event, 0 for a key it has no code for.
std::int16_t VirtualKey(const QKeyEvent& event);
/// The platform's shift state (1 Shift, 2 Ctrl, 4 Alt) of Qt's modifiers.
std::int16_t ShiftOf(Qt::KeyboardModifiers modifiers);
/// The Qt key of a platform key code (Qt::Key_unknown for none), for sending keys.
Qt::Key QtKey(std::int16_t key_code);
/// Qt's modifiers of a platform shift state.
Qt::KeyboardModifiers ModifiersOf(std::int16_t shift);

}  // namespace kvthost::qt
