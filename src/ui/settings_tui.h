// The settings dialog in a terminal (ncurses): the same dialog as frmSetting
// describes, drawn on a character grid (see settings_layout.h) and driven by
// the keyboard (see settings_keys.h).  Used by `tarvex settings` and, on a
// terminal, by the engine's Setting hook.
//
// It takes over the terminal on stdin/stdout until the user closes the
// dialog, and restores it on every path out.  Refuses, with a message on
// stderr, when stdin or stdout is not a terminal, when the terminal type is
// unknown, or when the terminal is smaller than the dialog.
#pragma once

#include "tarvex/registry_backend.h"
#include "tarvex/user_settings.h"

namespace tarvex::ui {

// The smallest terminal the dialog fits in: the window, a state line and a
// line of key help.
inline constexpr int kMinColumns = 78;
inline constexpr int kMinRows = 20;

enum DialogResult : int {
  kDialogClosed = 0,      // shown, and closed by the user
  kDialogNoTerminal = 1,  // stdin/stdout is not a terminal, or no usable terminal type
  kDialogTooSmall = 2,    // the terminal is smaller than kMinColumns x kMinRows
};

// Shows the dialog modally over the given stores; returns when it is closed.
int RunSettingsDialog(RegistryBackend& registry, UserSettings& user_settings);

}  // namespace tarvex::ui
