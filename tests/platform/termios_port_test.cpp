#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "platform/posix/posix_platform.h"
#include "tarvex/error.h"
#include "testing/memory_registry.h"

namespace tarvex::posix {
namespace {

using testing::MemoryRegistry;

constexpr int16_t kPort = 7;
constexpr int kWaitMs = 5000;  // a bound for real I/O, never reached when all is well

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

  void WriteMaster(const std::string& bytes) {
    ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Everything that reaches the port, through WaitForInput and Input.
  std::string ReadPort(size_t count) {
    std::string got;
    while (got.size() < count && port_.WaitForInput(kWaitMs)) got += port_.Input();
    return got;
  }

  void HangUp() {
    close(master_);
    master_ = -1;
  }

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
  const struct {
    int16_t port;
    const char* device;
  } cases[] = {{3, "/dev/ttyUSB0"},  {4, "/dev/ttyUSB1"}, {5, "/dev/ttyACM0"},
               {33, "/dev/ttyUSB9"}, {6, "/dev/ttyS5"},   {1, "/dev/ttyS0"}};
  for (const auto& c : cases) {
    SCOPED_TRACE("COM" + std::to_string(c.port));
    EXPECT_EQ(TermiosPort::ResolveDevice(registry_, c.port), c.device);
  }
  EXPECT_EQ(registry_.OpenHandles(), 0);

  // Opening needs a terminal that exists.
  Map("/nonexistent/tty", "COM8");
  Map("/dev/null", "COM9");
  for (int16_t port : {8, 9, 250}) {
    SCOPED_TRACE("COM" + std::to_string(port));
    port_.SetCommPort(port);
    EXPECT_EQ(ErrorOf([&] { port_.SetPortOpen(true); }), kInvalidPortNumber);
    EXPECT_FALSE(port_.PortOpen());
  }
  EXPECT_EQ(ErrorOf([&] { port_.SetCommPort(0); }), kInvalidPortNumber);
}

TEST_F(TermiosPortTest, OpenIsExclusiveAndGuardsTheOtherCalls) {
  EXPECT_EQ(ErrorOf([&] { port_.Output("AT\r"); }), kPortNotOpen);
  EXPECT_EQ(ErrorOf([&] { port_.Input(); }), kPortNotOpen);
  EXPECT_EQ(ErrorOf([&] { port_.WaitForInput(0); }), kPortNotOpen);
  OpenPort();
  EXPECT_EQ(ErrorOf([&] { port_.SetPortOpen(true); }), kPortAlreadyOpen) << "same object";
  EXPECT_EQ(ErrorOf([&] { port_.SetCommPort(3); }), kPortOpenNotAllowed);
  EXPECT_EQ(port_.CommPort(), kPort);

  TermiosPort other(registry_);
  other.SetCommPort(kPort);
  EXPECT_EQ(ErrorOf([&] { other.SetPortOpen(true); }), kPortAlreadyOpen) << "second opener";
  port_.SetPortOpen(false);
  port_.SetPortOpen(false);  // closing a closed port is fine
  EXPECT_EQ(ErrorOf([&] { other.SetPortOpen(true); }), 0) << "free again after close";
  EXPECT_TRUE(other.PortOpen());
}

TEST_F(TermiosPortTest, SettingsAreCheckedWhenSet) {
  const char* good[] = {"14400,n,8,1", "256000,n,8,1", "460800,n,8,1", "4800,E,7,2",
                        "300,o,7,1",   "1200,m,8,1",   "110,s,5,2",    " 9600 , n , 8 , 1 "};
  const char* bad[] = {
      "12345,n,8,1", "-9600,n,8,1",  "99999999999,n,8,1", "9600,x,8,1",   "9600,n,9,1",
      "9600,n,8,3",  "9600,n,8,1.5", "9600,n,8",          "9600,n,8,1,1", ""};
  // Applied at once on an open port, too: a pty takes every rate.
  for (bool open : {false, true}) {
    SCOPED_TRACE(open ? "open" : "closed");
    if (open) OpenPort();
    for (const char* text : good) {
      EXPECT_EQ(ErrorOf([&] { port_.SetSettings(text); }), 0) << text;
    }
    for (const char* text : bad) {
      EXPECT_EQ(ErrorOf([&] { port_.SetSettings(text); }), kInvalidPropertyValue) << text;
    }
    EXPECT_EQ(port_.Settings(), "9600,n,8,1") << "a refused text leaves the last good one";
  }
  for (int32_t mode : {-1, 4}) {
    EXPECT_EQ(ErrorOf([&] { port_.SetHandshaking(mode); }), kInvalidPropertyValue) << mode;
  }
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
  EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));

  port_.SetHandshaking(1);
  port_.SetSettings("9600,n,8,1");
  ASSERT_EQ(tcgetattr(slave_, &t), 0);
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_FALSE(t.c_cflag & (CSTOPB | CRTSCTS));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXON | IXOFF));
}

TEST_F(TermiosPortTest, BytesPassUnchangedBothWaysInPiecesOfInputLen) {
  OpenPort();
  EXPECT_FALSE(port_.WaitForInput(0));
  EXPECT_EQ(port_.Input(), "");

  // Raw in both directions: no CR/LF translation, no echo, every byte value.
  const std::string command = std::string("AT+CMGS=13\r\n\x1a\x1b", 14) + std::string("\0\xff", 2);
  port_.Output(command);
  EXPECT_EQ(ReadMaster(command.size()), command);

  const std::string reply("\r\nOK\r\n\x11\x13\0\xfe", 10);
  WriteMaster(reply);
  EXPECT_EQ(ReadPort(reply.size()), reply);
  // An echo would have been queued when the reply arrived, before the port
  // could read it, so looking without waiting is enough.
  pollfd p{master_, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0) << "nothing echoed back";

  port_.SetInputLen(2);
  WriteMaster("abcde");
  ASSERT_TRUE(port_.WaitForInput(kWaitMs));
  const std::string first = port_.Input();
  EXPECT_LE(first.size(), 2u) << "InputLen limits each read";
  EXPECT_EQ(first + ReadPort(5 - first.size()), "abcde");
  EXPECT_EQ(ErrorOf([&] { port_.SetInputLen(-1); }), kInvalidPropertyValue);
}

TEST_F(TermiosPortTest, LargeOutputIsWrittenWhole) {
  OpenPort();
  // More than the pty buffer holds: Output must wait for room, not drop bytes.
  std::string big(256 * 1024, 'x');
  for (size_t i = 0; i < big.size(); i += 97) big[i] = static_cast<char>('a' + i % 26);
  std::string got;
  std::thread reader([&] { got = ReadMaster(big.size()); });
  port_.Output(big);
  reader.join();
  EXPECT_EQ(got, big);
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
