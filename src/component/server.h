// The in-process server's entry points, behind the DLL's exports: class
// factories for the creatable classes and self-registration.  Any thread may
// call them, as COM does.
#pragma once

#include <windows.h>

namespace tarvex::com {

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** out);
HRESULT CanUnloadNow();
HRESULT RegisterServer();
HRESULT UnregisterServer();

}  // namespace tarvex::com
