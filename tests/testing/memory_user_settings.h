// MemoryUserSettings: the per-user settings store in a map, for tests.  Keys
// compare case-insensitively as VB's SaveSetting does.  With SetFail(true)
// every save and delete is silently ignored, as a failing store would be.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <tuple>

#include "tarvex/user_settings.h"

namespace tarvex::testing {

class MemoryUserSettings : public UserSettings {
 public:
  void SaveSetting(const std::string& app, const std::string& section, const std::string& key,
                   const std::string& value) override;
  void DeleteSetting(const std::string& app, const std::string& section,
                     const std::string& key) override;

  void SetFail(bool fail) { fail_ = fail; }
  std::optional<std::string> Get(const std::string& app, const std::string& section,
                                 const std::string& key) const;
  // Every stored (app, section, key) -> value, lower-cased names.
  using Key = std::tuple<std::string, std::string, std::string>;
  const std::map<Key, std::string>& entries() const { return entries_; }

 private:
  static Key MakeKey(const std::string& app, const std::string& section, const std::string& key);

  std::map<Key, std::string> entries_;
  bool fail_ = false;
};

}  // namespace tarvex::testing
