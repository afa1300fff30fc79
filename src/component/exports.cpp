// The four exports of an in-process COM server.
#include <windows.h>

#include "server.h"

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  // No thread notifications: the component has no per-thread state.
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  return tarvex::com::GetClassObject(clsid, iid, out);
}

STDAPI DllCanUnloadNow() { return tarvex::com::CanUnloadNow(); }

STDAPI DllRegisterServer() { return tarvex::com::RegisterServer(); }

STDAPI DllUnregisterServer() { return tarvex::com::UnregisterServer(); }

}  // extern "C"
