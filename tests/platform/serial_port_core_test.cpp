// The serial-port object's roles on a device in memory (what both platforms'
// ports inherit, so their tests keep only what the device does), and the
// tracing port: the dialogue as --trace shows it, nothing passed through changed.
#include "platform/serial_port_core.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "platform/tracing_port.h"
#include "tarvex/error.h"
#include "testing/error_of.h"
#include "testing/scripted_port.h"

namespace tarvex {
namespace {

using testing::ErrorOf;

// `held` is what the device received, `config` what it was last told;
// `refuses` and `gone` are its two ways to fail.
struct MemoryDevice : SerialPortCore {
  MemoryDevice() : SerialPortCore(255) {}
  bool PortOpen() const override { return open; }
  void OpenDevice() override {
    open = Configure(line(), handshaking(), rts());
    if (!open) throw Error(kInvalidPropertyValue, "refused");
  }
  void CloseDevice() override { open = false; }
  bool Configure(const LineSettings& l, int32_t h, bool r) override {
    if (!refuses) config = FormatSettings(l) + " h" + std::to_string(h) + (r ? " rts" : "");
    return !refuses;
  }
  bool Drain(std::string& pending) override {
    pending += std::exchange(held, "");
    return !gone;
  }
  void Write(std::string_view) override {}
  bool Wait(uint32_t) override { return !held.empty(); }

  std::string held, config;
  bool open = false, refuses = false, gone = false;
};

TEST(ParseSettings, TakesTheControlsGrammarAndNothingElse) {
  const std::pair<const char*, const char*> good[] = {{" 14400 , E , 7 , 2 ", "14400,e,7,2"},
                                                      {"1200,M,6,1", "1200,m,6,1"},
                                                      {"999999999,s,8,2", "999999999,s,8,2"}};
  for (const auto& [text, canonical] : good) {
    EXPECT_EQ(FormatSettings(ParseSettings(text)), canonical) << text;
  }
  for (const char* text : {"0,n,8,1", "-9600,n,8,1", "+9600,n,8,1", "1234567890,n,8,1",
                           "96 00,n,8,1", "9600,x,8,1", "9600,,8,1", "9600,n,9,1", "9600,n,4,1",
                           "9600,n,8,3", "9600,n,8,1.5", "9600,n,8", "9600,n,8,1,1", ""}) {
    EXPECT_EQ(ErrorOf([&] { ParseSettings(text); }), kInvalidPropertyValue) << text;
  }
}

TEST(SerialPortCore, PropertiesAreCheckedAndAnOpenPortTakesThemAtOnce) {
  MemoryDevice port;
  for (int16_t number : {0, -1, 256}) {
    EXPECT_EQ(ErrorOf([&] { port.SetCommPort(number); }), kInvalidPortNumber) << number;
  }
  for (int32_t mode : {-1, 4}) {
    EXPECT_EQ(ErrorOf([&] { port.SetHandshaking(mode); }), kInvalidPropertyValue) << mode;
  }
  EXPECT_EQ(ErrorOf([&] { port.SetInputLen(-1); }), kInvalidPropertyValue);
  EXPECT_EQ(ErrorOf([&] { port.Output("AT\r"); }), kPortNotOpen);
  EXPECT_EQ(ErrorOf([&] { port.Input(); }), kPortNotOpen);
  EXPECT_EQ(ErrorOf([&] { port.WaitForInput(0); }), kPortNotOpen);

  port.SetSettings("19200,e,7,1");
  port.SetPortOpen(true);
  EXPECT_EQ(port.config, "19200,e,7,1 h0");
  EXPECT_EQ(ErrorOf([&] { port.SetCommPort(3); }), kPortOpenNotAllowed);
  EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), kPortAlreadyOpen);
  port.SetHandshaking(3);
  port.SetRTSEnable(true);
  EXPECT_EQ(port.config, "19200,e,7,1 h3") << "RTS is the driver's under RTS/CTS";
  port.SetHandshaking(1);
  EXPECT_EQ(port.config, "19200,e,7,1 h1 rts");

  // A device that refuses keeps what it had, and so does the object.
  port.refuses = true;
  EXPECT_EQ(ErrorOf([&] { port.SetSettings("4800,n,8,1"); }), kInvalidPropertyValue);
  EXPECT_EQ(ErrorOf([&] { port.SetHandshaking(2); }), kInvalidPropertyValue);
  EXPECT_EQ(port.Settings(), "19200,e,7,1");
  port.SetPortOpen(false);
  EXPECT_EQ(ErrorOf([&] { port.SetPortOpen(true); }), kInvalidPropertyValue);
  EXPECT_FALSE(port.PortOpen());
}

TEST(SerialPortCore, InputComesInPiecesOfInputLenAndAHangUpHandsOverWhatCameFirst) {
  MemoryDevice port;
  port.SetPortOpen(true);
  port.SetInputLen(2);
  port.held = "abcde";
  EXPECT_EQ(port.Input(), "ab");
  EXPECT_TRUE(port.WaitForInput(0)) << "what is read but not handed out counts";
  EXPECT_EQ(port.Input(), "cd");
  port.SetPortOpen(false);
  port.SetPortOpen(false);  // closing a closed port is fine
  port.SetPortOpen(true);
  EXPECT_EQ(port.Input(), "") << "closing drops what was read but not handed out";

  port.SetInputLen(0);
  port.held = "fg";
  port.gone = true;
  EXPECT_EQ(port.Input(), "fg");
  EXPECT_EQ(ErrorOf([&] { port.Input(); }), kPortNotOpen);
  EXPECT_FALSE(port.PortOpen());
}

TEST(TracingPortTest, WritesTheDialogueWithControlBytesVisible) {
  auto modem = std::make_unique<testing::ScriptedPort>();
  testing::ScriptedPort& script = *modem;
  script.Expect("AT+CMGS=13\r").Reply("\r\n> ");
  script.Expect("0011\x1A").Reply("\r\n+CMS ERROR: 38\x07\x7F\r\n");
  std::ostringstream out;
  TracingPort port(std::move(modem), out);
  port.SetCommPort(3);
  port.SetPortOpen(true);
  port.Output("AT+CMGS=13\r");
  EXPECT_EQ(port.Input(), "\r\n> ");
  port.Output("0011\x1A");
  EXPECT_EQ(port.Input(), "\r\n+CMS ERROR: 38\x07\x7F\r\n");
  EXPECT_EQ(port.Input(), "");  // nothing read, nothing written
  EXPECT_EQ(out.str(),
            "-- opened port 3\n"
            ">> AT+CMGS=13\\r\n"
            "<< \\r\\n> \n"
            ">> 0011<Ctrl-Z>\n"
            "<< \\r\\n+CMS ERROR: 38\\x07\\x7F\\r\\n\n");
  EXPECT_TRUE(script.MissingWrites().empty());
}

}  // namespace
}  // namespace tarvex
