// HKEY_LOCAL_MACHINE\<path> as the component opens it: in the 32-bit view,
// whatever the size of the program, since that is where every host keeps the
// slots.  Created when missing; left open for the life of the test program.
#pragma once

#include <windows.h>

namespace tarvex::com::testing {

inline HKEY MachineKey(const wchar_t* path) {
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                  nullptr, &key, nullptr);
  return key;
}

}  // namespace tarvex::com::testing
