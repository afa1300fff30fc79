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

class Win32MessagePumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSW cls{};
    cls.lpfnWndProc = CountingProc;
    cls.hInstance = GetModuleHandleW(nullptr);
    cls.lpszClassName = L"TarvexPumpTest";
    RegisterClassW(&cls);
    window_ = CreateWindowW(L"TarvexPumpTest", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            cls.hInstance, nullptr);
    ASSERT_NE(window_, nullptr);
    g_handled = 0;
  }
  void TearDown() override {
    DestroyWindow(window_);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  HWND window_ = nullptr;
  Win32MessagePump pump_;
};

TEST_F(Win32MessagePumpTest, DispatchesWhatIsPendingAndKeepsTheQuit) {
  for (int i = 0; i < 3; ++i) PostMessageW(window_, WM_USER, 0, 0);
  PostQuitMessage(7);
  pump_.DoEvents();
  EXPECT_EQ(g_handled, 3);
  MSG msg;
  ASSERT_TRUE(PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) << "the host's loop still sees it";
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_QUIT));
  EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(Win32MessagePumpTest, AHandlerThatKeepsPostingCannotHoldThePass) {
  PostMessageW(window_, WM_USER, 1, 0);
  pump_.DoEvents();
  EXPECT_GE(g_handled, 1);
  EXPECT_LT(g_handled, kFlood) << "the pass ran until the handler gave up";
}

}  // namespace
}  // namespace tarvex::win32
