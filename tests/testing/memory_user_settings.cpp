#include "testing/memory_user_settings.h"

#include "common/text.h"

namespace tarvex::testing {
MemoryUserSettings::Key MemoryUserSettings::MakeKey(const std::string& app,
                                                    const std::string& section,
                                                    const std::string& key) {
  return {AsciiLower(app), AsciiLower(section), AsciiLower(key)};
}

void MemoryUserSettings::SaveSetting(const std::string& app, const std::string& section,
                                     const std::string& key, const std::string& value) {
  if (fail_) return;
  entries_[MakeKey(app, section, key)] = value;
}

void MemoryUserSettings::DeleteSetting(const std::string& app, const std::string& section,
                                       const std::string& key) {
  if (fail_) return;
  entries_.erase(MakeKey(app, section, key));
}

std::optional<std::string> MemoryUserSettings::Get(const std::string& app,
                                                   const std::string& section,
                                                   const std::string& key) const {
  auto it = entries_.find(MakeKey(app, section, key));
  if (it == entries_.end()) return std::nullopt;
  return it->second;
}

}  // namespace tarvex::testing
