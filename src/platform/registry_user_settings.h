// The per-user settings seam over the registry seam, the same on every
// platform: the POSIX and Win32 faces hand this to the settings dialog.
#pragma once

#include <string>

#include "tarvex/registry_backend.h"
#include "tarvex/user_settings.h"

namespace tarvex {

// VB's SaveSetting / DeleteSetting over a registry: the text is a REG_SZ value
// <key> of HKEY_CURRENT_USER "Software\VB and VBA Program Settings\<app>\<section>".
class RegistryUserSettings : public UserSettings {
 public:
  static constexpr const char* kRoot = "Software\\VB and VBA Program Settings";

  explicit RegistryUserSettings(RegistryBackend& registry) : registry_(registry) {}
  void SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& value) override;
  void DeleteSetting(const std::string& app, const std::string& section,
                     const std::string& key) override;

 private:
  RegistryBackend& registry_;
};

}  // namespace tarvex
