// The host side: values the component compares host answers with. The members it calls on the
// host form and the coordinator, with what each must do, are declared in host_contract.h. The
// component keeps neither object alive (weak references); the host does.
#pragma once

#include <cstdint>

#include "kvtfields/contracts/host_contract.h"

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
