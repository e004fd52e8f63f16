// The host side, reached only late-bound by name: the host form that fields are placed on, and
// the coordinator. The component keeps neither alive (weak references); the host does.
//
// Host form (`FormItem`):
//   Controls.Add(class name, control name) -> the new control     (field creation)
//   Controls.Remove(control name)          errors ignored           (field creation)
//   SB.panels("fieldHelp").Text = text     errors ignored           (help text on focus)
//
// Coordinator (`oCoordinator`):
//   DBEngine (get)                          the database engine
//   ScriptEngine (get)                      the archive's script engine
//   FieldsCollection (get)                  the collection shown by the field viewer
//   Errori.AggiungiUnErrore(message, kind As Long, field name)   one entry in the error list
//   Application.FormLoaderStatus (get)      a number, compared with 2
//   Application.MainForm.WindowState (get)  a number, 1 = minimised
//   DocViewer.Mode (get)                    a number; paste goes ahead for 0 and 1
//   RegLink.GetSetting("Settings", "keyreturn", 0)   the Enter key's action in the viewer
//   MenuClick(name, 0)                      "miSalva" or "miNuovo", as if the menu was clicked
#pragma once

#include <cstdint>

namespace kvtfields::host {

/// Kinds of entries in the host's error list ("AggiungiUnErrore"'s second argument).
inline constexpr std::int32_t kErrorTooShort = 0;
inline constexpr std::int32_t kErrorNotNumeric = 1;
inline constexpr std::int32_t kErrorRequiredEmpty = 2;

/// Application.FormLoaderStatus value at which the component moves the focus.
inline constexpr std::int32_t kFormLoaderReady = 2;
/// Application.MainForm.WindowState of a minimised main window.
inline constexpr std::int32_t kWindowMinimized = 1;

inline constexpr const char* kHelpPanelKey = "fieldHelp";

}  // namespace kvtfields::host
