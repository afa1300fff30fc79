// The interfaces and GUIDs widl generates from tarvex4.idl, made safe to
// include beside <windows.h>: the enumeration THKey names its members
// HKEY_CURRENT_USER and HKEY_LOCAL_MACHINE, which the Windows headers define
// as macros.  And the member SendMessage is not the Win32 function.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

// The engine's SendMessage and the interface's member of that name are not
// the Win32 function that <windows.h> maps it to; code here that wants the
// function calls SendMessageW.
#undef SendMessage

#pragma push_macro("HKEY_CURRENT_USER")
#pragma push_macro("HKEY_LOCAL_MACHINE")
#undef HKEY_CURRENT_USER
#undef HKEY_LOCAL_MACHINE
#include "tarvex4.h"
#pragma pop_macro("HKEY_LOCAL_MACHINE")
#pragma pop_macro("HKEY_CURRENT_USER")

namespace tarvex::com {

// The library's identity, as the IDL gives it.
inline constexpr GUID kLibId = {
    0xDDAD54A4, 0xC1D4, 0x497D, {0xB1, 0x4F, 0x98, 0xE7, 0xFE, 0xB8, 0xBD, 0xE2}};
inline constexpr WORD kLibMajor = 77;
inline constexpr WORD kLibMinor = 0;

}  // namespace tarvex::com
