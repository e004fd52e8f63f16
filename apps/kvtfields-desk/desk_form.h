// What the desk adds to a form the library built, on Qt: Enter's setting, a mark beside each
// required field, names for a screen reader, Qt's own words in Italian, and a view that
// follows the focused box.
#pragma once

#include <QRect>
#include <QScrollArea>
#include <set>
#include <string>

#include "common/workspace.h"

namespace kvtdesk {

/// Qt's own words (standard buttons, the file dialog) in Italian, from Qt's translations;
/// false when they are not installed (Debian's qt6-translations-l10n).
bool SpeakItalian();

/// The person of the Qt window system, for the workspace.
kvtapp::Workspace::PersonOn QtPersonOn();

/// Puts a red asterisk beside the caption of every required field of the workspace's form
/// (again after each rebuild); the captions' own text stays as the library set it.
void MarkRequiredFields(kvtapp::Workspace& w);

/// Puts a blue arrow before the caption of each field of `pinned` on the workspace's form,
/// taking away those of fields no longer pinned.
void MarkPinnedFields(kvtapp::Workspace& w, const std::set<std::string>& pinned);

/// Names each input for a screen reader (its field's caption and description); the caption is
/// the input's buddy (a click or its mnemonic leads there).
void NameInputs(kvtapp::Workspace& w);

/// What Enter does, kept per user: 1 moves to the next field, 0 saves.
int KeyReturnSetting();
/// Gives the workspace's coordinator that setting, as the field viewer reads it.
void ApplySettings(kvtapp::Workspace& w);

/// Scrolls the least that shows `rect` (in the scrolled widget's coordinates) whole; one larger
/// than the view shows its start, where a caption and the beginning of a box are.
void ShowWhole(QScrollArea& scroll, const QRect& rect);

}  // namespace kvtdesk
