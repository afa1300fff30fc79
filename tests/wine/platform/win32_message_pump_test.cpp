#include <windows.h>
#include <gtest/gtest.h>

#include "platform/win32/win32_platform.h"

namespace tarvex::win32 {
namespace {

// Far more than one pass can handle within a tick, even on a fast machine.
constexpr int kFlood = 200000;
int g_handled = 0;

// Counts WM_USER; with wParam 1 it posts itself another one, up to kFlood.
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_USER) return DefWindowProcW(window, message, wparam, lparam);
  ++g_handled;
  if (wparam == 1 && g_handled < kFlood) PostMessageW(window, WM_USER, 1, 0);
  return 0;
}

TEST(Win32MessagePump, DispatchesWhatIsPendingKeepsTheQuitAndEndsItsPass) {
  WNDCLASSW cls{};
  cls.lpfnWndProc = CountingProc;
  cls.lpszClassName = L"TarvexPumpTest";
  RegisterClassW(&cls);
  const HWND window =
      CreateWindowW(cls.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  Win32MessagePump pump;
  for (int i = 0; i < 3; ++i) PostMessageW(window, WM_USER, 0, 0);
  PostQuitMessage(7);
  pump.DoEvents();
  EXPECT_EQ(g_handled, 3);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) << "the host's loop still sees it";
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);

  // A handler that keeps posting cannot hold the pass.
  g_handled = 0;
  PostMessageW(window, WM_USER, 1, 0);
  pump.DoEvents();
  EXPECT_GE(g_handled, 1);
  EXPECT_LT(g_handled, kFlood) << "the pass ran until the handler gave up";
  DestroyWindow(window);
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
}

}  // namespace
}  // namespace tarvex::win32
