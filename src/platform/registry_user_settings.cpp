// VB's per-user settings over the registry, at the path SaveSetting uses on
// Windows, so the per-user copy lands where a Windows user would look for it.
#include "platform/registry_user_settings.h"

namespace tarvex {
namespace {

std::string SectionPath(const std::string& app, const std::string& section) {
  return std::string(RegistryUserSettings::kRoot) + "\\" + app + "\\" + section;
}

}  // namespace

void RegistryUserSettings::SaveSetting(const std::string& app, const std::string& section,
                                       const std::string& key, const std::string& value) {
  RegHandle handle = 0;
  if (registry_.CreateKey(kRegCurrentUser, SectionPath(app, section), &handle) != kRegSuccess) {
    return;
  }
  registry_.SetValue(handle, key, kRegSz, reinterpret_cast<const uint8_t*>(value.c_str()),
                     static_cast<uint32_t>(value.size() + 1));
  registry_.CloseKey(handle);
}

void RegistryUserSettings::DeleteSetting(const std::string& app, const std::string& section,
                                         const std::string& key) {
  // Opened, not created: deleting from a section that never existed leaves no trace.
  RegHandle handle = 0;
  if (registry_.OpenKey(kRegCurrentUser, SectionPath(app, section), &handle) != kRegSuccess) {
    return;
  }
  registry_.DeleteValue(handle, key);
  registry_.CloseKey(handle);
}

}  // namespace tarvex
