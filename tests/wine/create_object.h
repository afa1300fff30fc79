// An object of the registered Tarvex4.ocx made by its ProgID, as a host makes
// one: its interface T, or null when the class is unknown or refuses.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace tarvex::com::testing {

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

}  // namespace tarvex::com::testing
