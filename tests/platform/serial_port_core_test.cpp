// The serial-port object's roles on a device in memory: what both platforms'
// ports inherit, so the termios and Win32 tests keep only what the device does.
// The blank-trim and the whole-number reader that the settings grammar uses
// are checked here too.
#include "platform/serial_port_core.h"

#include <gtest/gtest.h>

#include <string>

#include "common/error.h"
#include "common/text.h"

namespace tarvex {
namespace {

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

class MemoryDevice : public SerialPortCore {
 public:
  MemoryDevice() : SerialPortCore(255) {}
  bool PortOpen() const override { return open_; }

  std::string held;     // received, not yet drained
  std::string written;  // what went out
  std::string config;   // the last settings the device took
  bool refuses = false;
  bool gone = false;

 private:
  void OpenDevice() override {
    open_ = true;
    if (!Configure(line(), handshaking(), rts())) {
      open_ = false;
      throw Error(kInvalidPropertyValue, "refused");
    }
  }
  void CloseDevice() override { open_ = false; }
  bool Configure(const LineSettings& line, int32_t handshaking, bool rts) override {
    if (refuses) return false;
    config = FormatSettings(line) + " h" + std::to_string(handshaking) + (rts ? " rts" : "");
    return true;
  }
  bool TakesRate(uint32_t baud) const override { return baud != 12345; }
  bool Drain(std::string& pending) override {
    pending += held;
    held.clear();
    return !gone;
  }
  void Write(std::string_view data) override {
    if (gone) Vanished();
    written += data;
  }
  bool Wait(uint32_t) override { return !held.empty() || gone; }

  bool open_ = false;
};

TEST(ParseSettings, TakesTheControlsGrammarAndNothingElse) {
  const struct {
    const char* text;
    const char* canonical;  // nullptr: refused
  } cases[] = {
      {"9600,n,8,1", "9600,n,8,1"},
      {" 14400 , E , 7 , 2 ", "14400,e,7,2"},
      {"300,o,7,1", "300,o,7,1"},
      {"1200,M,8,1", "1200,m,8,1"},
      {"110,s,5,2", "110,s,5,2"},
      {"\t256000\t,n,6,1", "256000,n,6,1"},
      {"999999999,n,8,1", "999999999,n,8,1"},
      {"0,n,8,1", nullptr},
      {"-9600,n,8,1", nullptr},
      {"+9600,n,8,1", nullptr},
      {"1234567890,n,8,1", nullptr},
      {"96 00,n,8,1", nullptr},
      {"9600,x,8,1", nullptr},
      {"9600,,8,1", nullptr},
      {"9600,n,9,1", nullptr},
      {"9600,n,4,1", nullptr},
      {"9600,n,8,3", nullptr},
      {"9600,n,8,1.5", nullptr},
      {"9600,n,8", nullptr},
      {"9600,n,8,1,1", nullptr},
      {",,,", nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.canonical == nullptr) {
      EXPECT_EQ(ErrorOf([&] { ParseSettings(c.text); }), kInvalidPropertyValue);
    } else {
      EXPECT_EQ(FormatSettings(ParseSettings(c.text)), c.canonical);
    }
  }
}

TEST(SerialPortCore, PropertiesAreCheckedAndAnOpenPortTakesThemAtOnce) {
  MemoryDevice port;
  for (int16_t number : {0, -1, 256}) {
    EXPECT_EQ(ErrorOf([&] { port.SetCommPort(number); }), kInvalidPortNumber) << number;
  }
  EXPECT_EQ(ErrorOf([&] { port.SetSettings("12345,n,8,1"); }), kInvalidPropertyValue)
      << "a rate the platform cannot run";
  for (int32_t mode : {-1, 4}) {
    EXPECT_EQ(ErrorOf([&] { port.SetHandshaking(mode); }), kInvalidPropertyValue) << mode;
  }
  EXPECT_EQ(ErrorOf([&] { port.SetInputLen(-1); }), kInvalidPropertyValue);
  EXPECT_EQ(port.Settings(), "9600,n,8,1") << "a refused text leaves the last good one";

  port.SetCommPort(255);
  port.SetSettings("19200,e,7,1");
  port.SetPortOpen(true);
  EXPECT_EQ(port.config, "19200,e,7,1 h0");
  EXPECT_EQ(ErrorOf([&] { port.SetCommPort(3); }), kPortOpenNotAllowed);
  EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), kPortAlreadyOpen);
  port.SetHandshaking(3);
  port.SetRTSEnable(true);
  EXPECT_EQ(port.config, "19200,e,7,1 h3") << "RTS is the driver's under RTS/CTS";
  port.SetHandshaking(1);
  port.SetRTSEnable(true);
  EXPECT_EQ(port.config, "19200,e,7,1 h1 rts");

  // A device that refuses keeps what it had, and so does the object.
  port.refuses = true;
  EXPECT_EQ(ErrorOf([&] { port.SetSettings("4800,n,8,1"); }), kInvalidPropertyValue);
  EXPECT_EQ(ErrorOf([&] { port.SetHandshaking(2); }), kInvalidPropertyValue);
  port.SetRTSEnable(false);  // quietly
  EXPECT_EQ(port.Settings(), "19200,e,7,1");
  port.SetPortOpen(false);
  EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), kInvalidPropertyValue);
  EXPECT_FALSE(port.PortOpen());
}

TEST(SerialPortCore, InputComesInPiecesOfInputLenAndAHangUpHandsOverWhatCameFirst) {
  MemoryDevice port;
  EXPECT_EQ(ErrorOf([&] { port.Output("AT\r"); }), kPortNotOpen);
  EXPECT_EQ(ErrorOf([&] { port.Input(); }), kPortNotOpen);
  EXPECT_EQ(ErrorOf([&] { port.WaitForInput(0); }), kPortNotOpen);
  port.SetPortOpen(true);
  port.Output("AT\r");
  EXPECT_EQ(port.written, "AT\r");
  EXPECT_FALSE(port.WaitForInput(0));
  EXPECT_EQ(port.Input(), "");

  port.SetInputLen(2);
  port.held = "abcde";
  EXPECT_EQ(port.Input(), "ab");
  EXPECT_TRUE(port.WaitForInput(0)) << "what is read but not handed out counts";
  EXPECT_EQ(port.Input(), "cd");
  port.SetInputLen(0);
  port.held = "fg";
  port.gone = true;
  EXPECT_EQ(port.Input(), "efg");
  EXPECT_EQ(ErrorOf([&] { port.Input(); }), kPortNotOpen);
  EXPECT_FALSE(port.PortOpen());

  port.gone = false;
  port.SetPortOpen(true);
  port.held = "stale";
  port.Input();
  port.SetInputLen(1);
  port.held = "xy";
  port.Input();
  port.SetPortOpen(false);
  port.SetPortOpen(false);  // closing a closed port is fine
  port.SetPortOpen(true);
  EXPECT_EQ(port.Input(), "") << "closing drops what was read but not handed out";
  port.gone = true;
  EXPECT_EQ(ErrorOf([&] { port.Output("AT\r"); }), kPortNotOpen);
  EXPECT_FALSE(port.PortOpen());
}

TEST(WholeNumbers, ShapeFirstThenRange) {
  const struct {
    const char* text;
    WholeNumber::Status status;
    int64_t value;
  } cases[] = {
      {"0", WholeNumber::kOk, 0},
      {"+7", WholeNumber::kOk, 7},
      {"-32768", WholeNumber::kOk, -32768},
      {"32767", WholeNumber::kOk, 32767},
      {"32768", WholeNumber::kOutOfRange, 0},
      {"-32769", WholeNumber::kOutOfRange, 0},
      {"99999999999999999999999", WholeNumber::kOutOfRange, 0},
      {"40000x", WholeNumber::kNotANumber, 0},
      {" 1", WholeNumber::kNotANumber, 0},
      {"1.0", WholeNumber::kNotANumber, 0},
      {"-", WholeNumber::kNotANumber, 0},
      {"", WholeNumber::kNotANumber, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const WholeNumber n = ParseWholeNumber(c.text, -32768, 32767);
    EXPECT_EQ(n.status, c.status);
    EXPECT_EQ(n.value, c.value);
  }
  EXPECT_EQ(TrimBlanks(" \t 3 \t"), "3");
  EXPECT_EQ(TrimBlanks("\t3 ", " "), "\t3") << "VB's Trim leaves tabs";
  EXPECT_EQ(TrimBlanks("   "), "");
}

}  // namespace
}  // namespace tarvex
