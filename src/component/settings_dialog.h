// The settings dialog frmSetting as a Win32 modal window, drawn from the
// dialog model (config/frm_setting.h), so that the terminal face and this one
// show the same dialog and run the same handlers.
//
// Runs on the calling (host) thread; returns when the user closes the dialog.
// Failures: none are reported (the model's writes fail silently).
#pragma once

#include <windows.h>

#include "platform/registry_backend.h"
#include "platform/user_settings.h"

namespace tarvex::com {

// owner: the container's window when there is one, else nullptr.
void ShowSettingsDialog(HWND owner, RegistryBackend& registry, UserSettings& user_settings);

}  // namespace tarvex::com
