// A registry key where the component keeps settings, opened as the component
// opens it: HKEY_LOCAL_MACHINE in the 32-bit view, whatever the size of the
// program (that is where every host finds the slots), HKEY_CURRENT_USER as it
// stands.  Created when missing; closed with the object.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace tarvex::com::testing {

class SettingsKey {
 public:
  SettingsKey(HKEY root, const wchar_t* path) {
    const REGSAM view = root == HKEY_LOCAL_MACHINE ? KEY_WOW64_32KEY : 0;
    RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key_, nullptr);
  }
  ~SettingsKey() { RegCloseKey(key_); }
  SettingsKey(const SettingsKey&) = delete;
  SettingsKey& operator=(const SettingsKey&) = delete;
  operator HKEY() const { return key_; }

  std::optional<std::wstring> Get(const wchar_t* name) const {
    wchar_t text[256];
    DWORD size = sizeof text;
    if (RegGetValueW(key_, nullptr, name, RRF_RT_REG_SZ, nullptr, text, &size)) return std::nullopt;
    return text;
  }
  void Set(const wchar_t* name, const std::wstring& text) const {
    RegSetValueExW(key_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
  }
  void Delete(const wchar_t* name) const { RegDeleteValueW(key_, name); }

 private:
  HKEY key_ = nullptr;
};

}  // namespace tarvex::com::testing
