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

namespace tarvex::win32 {
namespace {

constexpr uint32_t kWaitMs = 5000;  // a bound for real I/O, never reached when all is well
constexpr int16_t kMissingPort = 200;

// The number of the Error that `f` raises, 0 when it raises nothing.
template <typename F>
int ErrorOf(F f) {
  try {
    f();
  } catch (const Error& e) {
    return e.number();
  }
  return 0;
}

int16_t PortFromEnvironment(const char* variable) {
  const char* value = std::getenv(variable);
  return static_cast<int16_t>(value ? std::atoi(value) : 0);
}

TEST(Win32SerialPortChecks, PortNumbersSettingsAndAClosedPort) {
  Win32SerialPort port;
  for (int16_t number : {0, -1, 256}) {
    EXPECT_EQ(ErrorOf([&] { port.SetCommPort(number); }), kInvalidPortNumber) << number;
  }
  port.SetCommPort(kMissingPort);
  EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), kInvalidPortNumber);
  EXPECT_FALSE(port.PortOpen());
  EXPECT_EQ(ErrorOf([&] { port.Output("AT\r"); }), kPortNotOpen);
  EXPECT_EQ(ErrorOf([&] { port.Input(); }), kPortNotOpen);
  EXPECT_EQ(ErrorOf([&] { port.WaitForInput(0); }), kPortNotOpen);

  for (const char* text :
       {"0,n,8,1", "-9600,n,8,1", "1234567890,n,8,1", "9600,x,8,1", "9600,n,9,1", "9600,n,4,1",
        "9600,n,8,3", "9600,n,8,1.5", "9600,n,8", "9600,n,8,1,1", ""}) {
    EXPECT_EQ(ErrorOf([&] { port.SetSettings(text); }), kInvalidPropertyValue) << text;
  }
  EXPECT_EQ(port.Settings(), "9600,n,8,1") << "a refused text leaves the last good one";
  port.SetSettings(" 14400 , E , 7 , 2 ");
  EXPECT_EQ(port.Settings(), "14400,e,7,2");
  for (int32_t mode : {-1, 4}) {
    EXPECT_EQ(ErrorOf([&] { port.SetHandshaking(mode); }), kInvalidPropertyValue) << mode;
  }
  EXPECT_EQ(ErrorOf([&] { port.SetInputLen(-1); }), kInvalidPropertyValue);
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
  EXPECT_EQ(ErrorOf([&] { port_.SetPortOpen(true); }), kPortAlreadyOpen) << "same object";
  EXPECT_EQ(ErrorOf([&] { port_.SetCommPort(3); }), kPortOpenNotAllowed);
  EXPECT_EQ(port_.CommPort(), com_);
  Win32SerialPort other;
  other.SetCommPort(com_);
  EXPECT_EQ(ErrorOf([&] { other.SetPortOpen(true); }), kPortAlreadyOpen) << "second opener";
  port_.SetPortOpen(false);
  port_.SetPortOpen(false);  // closing a closed port is fine
  EXPECT_EQ(ErrorOf([&] { port_.Input(); }), kPortNotOpen);
  EXPECT_EQ(ErrorOf([&] { other.SetPortOpen(true); }), 0) << "free again after close";
}

TEST_F(Win32SerialPortTest, SettingsAndHandshakingReachTheDevice) {
  for (const char* text : {"12345,n,8,1", "256000,n,8,1", "4800,e,7,2", "300,o,7,1", "1200,m,8,1",
                           "110,s,5,2", "115200,n,8,1"}) {
    EXPECT_EQ(ErrorOf([&] { port_.SetSettings(text); }), 0) << text;
  }
  // Wine lets a second handle look at the device; Windows does not, and then
  // only the absence of errors above can be checked.
  HANDLE look = CreateFileW((L"\\\\.\\COM" + std::to_wstring(com_)).c_str(),
                            GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (look == INVALID_HANDLE_VALUE) GTEST_SKIP() << "the device cannot be looked at";
  const struct {
    int32_t mode;
    bool cts, xon;
  } modes[] = {{2, true, false}, {1, false, true}, {3, true, true}, {0, false, false}};
  for (const auto& m : modes) {
    SCOPED_TRACE(m.mode);
    port_.SetHandshaking(m.mode);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ASSERT_TRUE(GetCommState(look, &dcb));
    // A pty forces 8 bits without parity, and Wine rebuilds the DCB from the
    // terminal's flags, so RTS control does not show; speed, stop bits and the
    // flow control flags do.
    EXPECT_EQ(dcb.BaudRate, 115200u);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(static_cast<bool>(dcb.fOutxCtsFlow), m.cts);
    EXPECT_EQ(static_cast<bool>(dcb.fOutX), m.xon);
    EXPECT_EQ(static_cast<bool>(dcb.fInX), m.xon);
  }
  port_.SetSettings("9600,n,8,2");
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(look, &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
  CloseHandle(look);
}

TEST_F(Win32SerialPortTest, ModemAnswersAndEveryByteValueComesBack) {
  EXPECT_EQ(port_.Input(), "");
  port_.Output("AT\r");
  EXPECT_EQ(ReadUntil("OK\r\n"), "AT\r\r\nOK\r\n");

  // The echo returns every byte as sent: none of them forms a command.
  std::string all;
  for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
  all += '\r';
  port_.Output(all);
  EXPECT_EQ(ReadUntil(all), all);

  port_.SetInputLen(3);
  port_.Output("AT\r");
  std::string pieces;
  while (!pieces.ends_with("OK\r\n") && port_.WaitForInput(kWaitMs)) {
    const std::string piece = port_.Input();
    EXPECT_LE(piece.size(), 3u) << "InputLen limits each read";
    pieces += piece;
  }
  EXPECT_EQ(pieces, "AT\r\r\nOK\r\n");
}

TEST_F(Win32SerialPortTest, WaitEndsForInputAndForWindowMessages) {
  EXPECT_FALSE(port_.WaitForInput(0));
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
  port_.Output("AT\r");
  EXPECT_TRUE(port_.WaitForInput(kWaitMs));
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
