// The system tick (wraps after about 49.7 days, as the engine expects) and a
// real sleep.
#include "platform/win32/win32_platform.h"

namespace tarvex::win32 {

uint32_t Win32Clock::TickCount() { return GetTickCount(); }

void Win32Clock::Sleep(uint32_t ms) { ::Sleep(ms); }

}  // namespace tarvex::win32
