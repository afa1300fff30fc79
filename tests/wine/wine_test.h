// What the Wine test programs share: the program's apartment, an object of
// the registered Tarvex4.ocx made by its ProgID, as a host makes one, and text
// values of the registry as the component and its hosts find them.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>
#include <objbase.h>
#include <ole2.h>

#include <optional>
#include <string>

namespace tarvex::com::testing {

// The single-threaded apartment a program's tests run in (with OLE's
// services, which a control's container needs, when `ole`), entered before
// the first test and left after the last.
class Apartment : public ::testing::Environment {
 public:
  explicit Apartment(bool ole) : ole_(ole) {}
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(ole_ ? OleInitialize(nullptr)
                                  : CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  }
  void TearDown() override { ole_ ? OleUninitialize() : CoUninitialize(); }

 private:
  bool ole_;
};

// Interface T of a new object, or null when the class is unknown or refuses.
template <typename T>
T* Create(const wchar_t* prog_id) {
  CLSID clsid;
  T* object = nullptr;
  if (FAILED(CLSIDFromProgID(prog_id, &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T),
                              reinterpret_cast<void**>(&object)))) {
    return nullptr;
  }
  return object;
}

// The function `name` that `module` exports, or null.
template <typename F>
F* Export(HMODULE module, const char* name) {
  return reinterpret_cast<F*>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// HKEY_LOCAL_MACHINE\<path> in the 32-bit view, where hosts of both sizes
// keep the slots; created when missing, left open for the program's life.
inline HKEY MachineKey(const wchar_t* path) {
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                  nullptr, &key, nullptr);
  return key;
}

// The REG_SZ value `name` (null: the default one) of root\path, or nothing.
inline std::optional<std::wstring> ReadText(HKEY root, const std::wstring& path,
                                            const wchar_t* name = nullptr, REGSAM view = 0) {
  HKEY key = nullptr;
  wchar_t text[1024] = {};
  DWORD size = sizeof text;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const LSTATUS status = RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text, &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return text;
}

inline void WriteText(HKEY key, const wchar_t* name, const std::wstring& text) {
  RegSetKeyValueW(key, nullptr, name, REG_SZ, text.c_str(),
                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

}  // namespace tarvex::com::testing
