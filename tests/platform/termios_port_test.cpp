#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <utility>

#include "platform/posix/posix_platform.h"
#include "tarvex/error.h"
#include "testing/error_of.h"
#include "testing/memory_registry.h"

namespace tarvex::posix {
namespace {

using testing::MemoryRegistry;

constexpr int16_t kPort = 7;
constexpr int kWaitMs = 5000;  // a bound for real I/O, never reached when all is well

using testing::ErrorOf;

class TermiosPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[256];
    ASSERT_EQ(openpty(&master_, &slave_, name, nullptr, nullptr), 0);
    Map(name, "COM7");
  }
  void TearDown() override {
    if (master_ >= 0) close(master_);
    close(slave_);
  }

  void Map(const std::string& device, const std::string& port) {
    registry_.PutString(kRegLocalMachine, TermiosPort::kPortMapKey, device, port);
  }

  void OpenPort() {
    port_.SetCommPort(kPort);
    port_.SetPortOpen(true);
  }

  // What the modem side received, read until `count` bytes or the bound.
  std::string ReadMaster(size_t count) {
    std::string got;
    char buf[256];
    pollfd p{master_, POLLIN, 0};
    for (ssize_t n = 0; got.size() < count && poll(&p, 1, kWaitMs) > 0 &&
                        (n = read(master_, buf, sizeof buf)) > 0;) {
      got.append(buf, static_cast<size_t>(n));
    }
    return got;
  }

  void HangUp() { close(std::exchange(master_, -1)); }

  int master_ = -1;
  int slave_ = -1;
  MemoryRegistry registry_;
  TermiosPort port_{registry_};
};

TEST_F(TermiosPortTest, PortNumbersResolveThroughTheMapToATerminal) {
  Map("/dev/ttyUSB0", "COM3");
  Map("/dev/ttyUSB1", "com4");
  Map("/dev/ttyACM0", " COM5 ");
  Map("/dev/ttyUSB9", "COM33");
  registry_.Put(kRegLocalMachine, TermiosPort::kPortMapKey, "/dev/ttyX", kRegBinary,
                {'C', 'O', 'M', '6'});
  const std::pair<int16_t, const char*> cases[] = {{3, "/dev/ttyUSB0"}, {4, "/dev/ttyUSB1"},
                                                   {5, "/dev/ttyACM0"}, {33, "/dev/ttyUSB9"},
                                                   {6, "/dev/ttyS5"},   {1, "/dev/ttyS0"}};
  for (const auto& [port, device] : cases) {
    EXPECT_EQ(TermiosPort::ResolveDevice(registry_, port), device) << "COM" << port;
  }
  EXPECT_EQ(registry_.OpenHandles(), 0);

  // Opening needs a terminal that exists (COM250: /dev/ttyS249 does not).
  Map("/dev/null", "COM9");
  for (int16_t port : {9, 250}) {
    SCOPED_TRACE("COM" + std::to_string(port));
    port_.SetCommPort(port);
    EXPECT_EQ(ErrorOf([&] { port_.SetPortOpen(true); }), kInvalidPortNumber);
    EXPECT_FALSE(port_.PortOpen());
  }
}

TEST_F(TermiosPortTest, OpenIsExclusive) {
  OpenPort();
  TermiosPort other(registry_);
  other.SetCommPort(kPort);
  EXPECT_EQ(ErrorOf([&] { other.SetPortOpen(true); }), kPortAlreadyOpen) << "second opener";
  port_.SetPortOpen(false);
  EXPECT_EQ(ErrorOf([&] { other.SetPortOpen(true); }), 0) << "free again after close";
  EXPECT_TRUE(other.PortOpen());
}

TEST_F(TermiosPortTest, LineSettingsReachTheDevice) {
  port_.SetSettings("115200,e,7,2");
  port_.SetHandshaking(2);
  OpenPort();
  termios t{};
  ASSERT_EQ(tcgetattr(slave_, &t), 0);
  // A pty forces 8 bits without parity, so only speed, stop bits and flow
  // control can be seen here.
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B115200));
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  EXPECT_TRUE(t.c_cflag & CRTSCTS);

  // The classic control's own rates go by BOTHER; a rate the kernel has not is refused.
  EXPECT_EQ(ErrorOf([&] { port_.SetSettings("256000,n,8,1"); }), 0);
  EXPECT_EQ(ErrorOf([&] { port_.SetSettings("12345,n,8,1"); }), kInvalidPropertyValue);
  port_.SetHandshaking(1);
  port_.SetSettings("9600,n,8,1");
  ASSERT_EQ(tcgetattr(slave_, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_FALSE(t.c_cflag & (CSTOPB | CRTSCTS));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
}

TEST_F(TermiosPortTest, BytesPassUnchangedBothWays) {
  OpenPort();
  // Raw in both directions: no CR/LF translation, no echo, every byte value.
  const std::string command = std::string("AT+CMGS=13\r\n\x1a\x1b", 14) + std::string("\0\xff", 2);
  port_.Output(command);
  EXPECT_EQ(ReadMaster(command.size()), command);

  const std::string reply("\r\nOK\r\n\x11\x13\0\xfe", 10);
  ASSERT_EQ(write(master_, reply.data(), reply.size()), static_cast<ssize_t>(reply.size()));
  std::string got;
  while (got.size() < reply.size() && port_.WaitForInput(kWaitMs)) got += port_.Input();
  EXPECT_EQ(got, reply);
  // An echo would have been queued when the reply arrived, before the port
  // could read it, so looking without waiting is enough.
  pollfd p{master_, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0) << "nothing echoed back";
}

TEST_F(TermiosPortTest, HangUpSeenByTheReaderClosesThePort) {
  OpenPort();
  HangUp();
  EXPECT_TRUE(port_.WaitForInput(kWaitMs)) << "a hang-up wakes the waiter";
  EXPECT_EQ(ErrorOf([&] { port_.Input(); }), kPortNotOpen);
  EXPECT_FALSE(port_.PortOpen());
}

TEST_F(TermiosPortTest, HangUpSeenByTheWriterClosesThePort) {
  OpenPort();
  HangUp();
  EXPECT_EQ(ErrorOf([&] { port_.Output("AT\r"); }), kPortNotOpen);
  EXPECT_FALSE(port_.PortOpen());
}

}  // namespace
}  // namespace tarvex::posix
