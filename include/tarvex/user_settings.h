// The per-user application-settings store (VB's SaveSetting / DeleteSetting):
// a text under application, section and key.  Write-only for the engine; a
// missing key or section on delete is no error.  Failures are silent.
#pragma once

#include <string>

namespace tarvex {

class UserSettings {
 public:
  virtual ~UserSettings() = default;
  virtual void SaveSetting(const std::string& app, const std::string& section,
                           const std::string& key, const std::string& value) = 0;
  virtual void DeleteSetting(const std::string& app, const std::string& section,
                             const std::string& key) = 0;
};

}  // namespace tarvex
