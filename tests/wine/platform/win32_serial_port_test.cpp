// The serial port against the Linux modem simulator, which with_modemsim.sh
// serves as COM$TARVEX_TEST_COM (echo on, as a modem starts) and, hanging up
// at its first command, as COM$TARVEX_TEST_COM_HANGUP.  Cases that need a
// simulator skip without one.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/win32/win32_platform.h"
#include "tarvex/error.h"
#include "testing/error_of.h"

namespace tarvex::win32 {
namespace {

constexpr uint32_t kWaitMs = 5000;  // a bound for real I/O, never reached when all is well
constexpr int16_t kMissingPort = 200;

using testing::ErrorOf;

int16_t PortFromEnvironment(const char* variable) {
  const char* value = std::getenv(variable);
  return static_cast<int16_t>(value ? std::atoi(value) : 0);
}

// The property roles themselves are the shared core's, tested on Linux.
TEST(Win32SerialPortChecks, PortNumbersEndAt255AndAMissingDeviceCannotOpen) {
  Win32SerialPort port;
  EXPECT_EQ(ErrorOf([&] { port.SetCommPort(256); }), kInvalidPortNumber);
  port.SetCommPort(kMissingPort);
  EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), kInvalidPortNumber);
  EXPECT_FALSE(port.PortOpen());
}

class Win32SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    com_ = PortFromEnvironment("TARVEX_TEST_COM");
    if (com_ == 0) GTEST_SKIP() << "TARVEX_TEST_COM names no simulated modem";
    port_.SetCommPort(com_);
    port_.SetPortOpen(true);
  }

  // Everything that arrives until `tail` ends it, or the bound.
  std::string ReadUntil(const std::string& tail) {
    std::string got;
    while (!got.ends_with(tail) && port_.WaitForInput(kWaitMs)) got += port_.Input();
    return got;
  }

  int16_t com_ = 0;
  Win32SerialPort port_;
};

TEST_F(Win32SerialPortTest, OpenIsExclusive) {
  Win32SerialPort other;
  other.SetCommPort(com_);
  EXPECT_EQ(ErrorOf([&] { other.SetPortOpen(true); }), kPortAlreadyOpen) << "second opener";
  port_.SetPortOpen(false);
  EXPECT_EQ(ErrorOf([&] { other.SetPortOpen(true); }), 0) << "free again after close";
}

TEST_F(Win32SerialPortTest, SettingsAndHandshakingReachTheDevice) {
  // Wine lets a second handle look at the device; Windows does not.
  HANDLE look = CreateFileW((L"\\\\.\\COM" + std::to_wstring(com_)).c_str(),
                            GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (look == INVALID_HANDLE_VALUE) GTEST_SKIP() << "the device cannot be looked at";
  // A pty forces 8 bits without parity, and Wine rebuilds the DCB from the
  // terminal's flags, so RTS control does not show; speed, stop bits and the
  // flow control flags do.
  const struct {
    const char* settings;
    int32_t mode;
    DWORD rate;
    BYTE stop_bits;
    bool cts, xon;
  } rows[] = {{"115200,n,8,1", 2, 115200, ONESTOPBIT, true, false},
              {"115200,n,8,1", 1, 115200, ONESTOPBIT, false, true},
              {"9600,n,8,2", 3, 9600, TWOSTOPBITS, true, true},
              {"9600,n,8,2", 0, 9600, TWOSTOPBITS, false, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.mode);
    port_.SetSettings(row.settings);
    port_.SetHandshaking(row.mode);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(look, &dcb));
    EXPECT_EQ(dcb.BaudRate, row.rate);
    EXPECT_EQ(dcb.StopBits, row.stop_bits);
    EXPECT_EQ(static_cast<bool>(dcb.fOutxCtsFlow), row.cts);
    EXPECT_EQ(static_cast<bool>(dcb.fOutX), row.xon);
    EXPECT_EQ(static_cast<bool>(dcb.fInX), row.xon);
  }
  CloseHandle(look);
}

TEST_F(Win32SerialPortTest, WaitEndsForWindowMessagesAndTheModemAnswers) {
  EXPECT_FALSE(port_.WaitForInput(0));
  EXPECT_EQ(port_.Input(), "");
  // A message already peeked at but left in the queue, and one posted from
  // another thread while the port waits: both end the wait at once.
  MSG msg;
  PostThreadMessageW(GetCurrentThreadId(), WM_USER, 0, 0);
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
  const DWORD thread = GetCurrentThreadId();
  for (bool from_other_thread : {false, true}) {
    SCOPED_TRACE(from_other_thread ? "posted meanwhile" : "already queued");
    std::thread poster;
    if (from_other_thread)
      poster = std::thread([thread] { PostThreadMessageW(thread, WM_USER, 0, 0); });
    const DWORD start = GetTickCount();
    EXPECT_FALSE(port_.WaitForInput(4 * kWaitMs));
    EXPECT_LT(GetTickCount() - start, kWaitMs);
    if (poster.joinable()) poster.join();
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
  }
  // Under Wine only the flow-control flags (SettingsAndHandshakingReachTheDevice)
  // could keep a byte from coming back.
  port_.Output("AT\r");
  EXPECT_EQ(ReadUntil("OK\r\n"), "AT\r\r\nOK\r\n");
}

TEST(Win32SerialPortHangUp, ADeviceThatGoesAwayClosesThePort) {
  const int16_t com = PortFromEnvironment("TARVEX_TEST_COM_HANGUP");
  if (com == 0) GTEST_SKIP() << "TARVEX_TEST_COM_HANGUP names no hanging-up modem";
  Win32SerialPort port;
  port.SetCommPort(com);
  port.SetPortOpen(true);
  port.Output("AT\r");
  // The echo may come first; then the hang-up wakes the waiter.
  int error = 0;
  for (int reads = 0; error == 0 && reads < 100 && port.WaitForInput(kWaitMs); ++reads) {
    error = ErrorOf([&] { port.Input(); });
  }
  EXPECT_EQ(error, kPortNotOpen);
  EXPECT_FALSE(port.PortOpen());
}

}  // namespace
}  // namespace tarvex::win32
