// What the Wine test programs share: an object of the registered Tarvex4.ocx
// made by its ProgID, as a host makes one, and the machine-wide settings as
// the component finds them.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace tarvex::com::testing {

// Interface T of a new object, or null when the class is unknown or refuses.
template <typename T>
T* Create(const wchar_t* prog_id) {
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(prog_id, &clsid))) return nullptr;
  T* object = nullptr;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T),
                              reinterpret_cast<void**>(&object)))) {
    return nullptr;
  }
  return object;
}

// HKEY_LOCAL_MACHINE\<path> in the 32-bit view, where hosts of both sizes
// keep the slots; created when missing, left open for the program's life.
inline HKEY MachineKey(const wchar_t* path) {
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                  nullptr, &key, nullptr);
  return key;
}

}  // namespace tarvex::com::testing
