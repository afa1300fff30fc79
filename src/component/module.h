// The module that holds the component's code and resources: Tarvex4.ocx when
// a host loaded the component, the test program when a test links the
// component's objects directly.  Any thread.
#pragma once

#include <windows.h>

#include <string>

namespace tarvex::com {

HINSTANCE ModuleInstance();
// The module's full path, as registration writes it.
std::wstring ModulePath();

}  // namespace tarvex::com
