// The settings dialog frmSetting as a Win32 modal window, drawn from the
// dialog model (config/frm_setting.h), so that the terminal face and this one
// show the same dialog and run the same handlers.
//
// Runs on the calling (host) thread, in the dialog manager's modal loop, and
// returns when the user closes the dialog; the owner, if any, is disabled
// meanwhile.  The registry and the per-user store are borrowed for the call.
// Failures: none are reported: the model's writes fail silently, and a window
// that cannot be made means the call returns at once.
#pragma once

#include <windows.h>

#include "tarvex/registry_backend.h"
#include "tarvex/user_settings.h"

namespace tarvex::com {

// Each control's window identifier is this plus its tarvex::ControlId, so
// that tests and automation tools can find a control with GetDlgItem.
inline constexpr int kSettingsControlIdBase = 1000;

// owner: the container's window when there is one, else nullptr.
void ShowSettingsDialog(HWND owner, RegistryBackend& registry, UserSettings& user_settings);

}  // namespace tarvex::com
