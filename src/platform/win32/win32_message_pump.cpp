// One pass of the thread's window messages, as VB's DoEvents runs between two
// polls of a waiting transaction.
#include "platform/win32/win32_platform.h"

namespace tarvex::win32 {

void Win32MessagePump::DoEvents() {
  const DWORD start = GetTickCount();
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Taking WM_QUIT away would leave the host's loop running after its
      // window asked to end.
      PostQuitMessage(static_cast<int>(msg.wParam));
      return;
    }
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    // A message stamped after the pass began arrived during it: the next pass
    // takes the rest, so a handler that posts to itself cannot hold this one.
    if (static_cast<int32_t>(msg.time - start) > 0) return;
  }
}

}  // namespace tarvex::win32
