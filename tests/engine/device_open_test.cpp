// Opening a slot: the port's configuration, the initialisation and its 5 s
// deadline, and the state each kind of failure leaves the slot in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine_fixture.h"

namespace tarvex::testing {
namespace {

using DeviceOpenTest = EngineFixture;
using Writes = std::vector<std::string>;

TEST_F(DeviceOpenTest, ConfiguresThePortInOrderThenInitialises) {
  Configure(2, "3", "115200", "Office modem");
  ScriptInitialisation(2);
  EXPECT_TRUE(engine().DeviceOpen(2));
  EXPECT_EQ(modem(2).PropertyLog(),
            (Writes{"CommPort=3", "Settings=115200,n,8,1", "Handshaking=3", "RThreshold=0",
                    "SThreshold=0", "RTSEnable=0", "PortOpen=1"}));
  ExpectScriptMet(2);
  EXPECT_EQ(modem(2).InputLen(), 0);
  EXPECT_EQ(engine().DeviceName(2), "Office modem");
  // Opening an open slot fails and leaves it usable.
  EXPECT_FALSE(engine().DeviceOpen(2));
  EXPECT_TRUE(modem(2).PortOpen());
}

TEST_F(DeviceOpenTest, ConfigurationFailuresGiveFalseAndThePortsError) {
  struct Case {
    const char* name;
    std::string port;
    int32_t open_error;  // 0: the port opens
    bool reject_settings;
    int32_t reported;  // the error the outcome carries
  } cases[] = {
      {"port text that is no number", "COM3", 0, false, kTypeMismatch},
      {"port number beyond 16 bits", "70000", 0, false, kOverflow},
      {"device missing", "3", kInvalidPortNumber, false, kInvalidPortNumber},
      {"rate the port refuses (from now on)", "3", 0, true, kInvalidPropertyValue},
  };
  // No stored port: the port is not touched.
  EXPECT_EQ(engine().OpenSlot(1).outcome, SlotOpening::kNoPort);
  EXPECT_EQ(modem(1).PropertyLog(), Writes{});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Configure(1, c.port, "9600");
    if (c.open_error) modem(1).FailNextOpen(c.open_error);
    if (c.reject_settings) modem(1).RejectSettings();
    const SlotOpening opening = engine().OpenSlot(1);
    EXPECT_EQ(opening.outcome, SlotOpening::kPortError);
    EXPECT_EQ(opening.error_number, c.reported);
    EXPECT_FALSE(modem(1).PortOpen());
    EXPECT_EQ(modem(1).Writes(), Writes{});
  }
}

// Answers to ATE0, AT+CMGF=0, AT+CMEE=0 in turn.  A refusal leaves the port
// open; the next row closes the slot first and shows that it opens again.
// Silence is SilentModemIsGivenUpAfterFiveSeconds.
TEST_F(DeviceOpenTest, InitialisationOutcomes) {
  const struct {
    const char* name;
    std::vector<std::string> answers;
    SlotOpening::Outcome outcome;
  } cases[] = {
      {"no PDU mode", {"\r\nOK\r\n", "\r\n+CMS ERROR: 303\r\n"}, SlotOpening::kRefused},
      {"echo still on at first",
       {"ATE0\r\r\nOK\r\n", "\r\nOK\r\n", "\r\nOK\r\n"},
       SlotOpening::kOpened},
  };
  const std::string commands[] = {"ATE0\r", "AT+CMGF=0\r", "AT+CMEE=0\r"};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    engine().DeviceClose(1);
    modem(1).ClearLog();
    Configure(1, "3", "9600");
    for (size_t i = 0; i < c.answers.size(); ++i) modem(1).Expect(commands[i]).Reply(c.answers[i]);
    EXPECT_EQ(engine().OpenSlot(1).outcome, c.outcome);
    EXPECT_TRUE(modem(1).PortOpen());
    EXPECT_EQ(modem(1).Writes(), Writes(commands, commands + c.answers.size()));
  }
}

// Counted from the last answer, across the wrap of the tick; initialisation
// runs no host events, and the slot opens again afterwards.
TEST_F(DeviceOpenTest, SilentModemIsGivenUpAfterFiveSeconds) {
  clock().Set(0xFFFFFFFFu - 2000);
  Configure(1, "3", "9600");
  modem(1).Expect("ATE0\r").ReplyAfter(4990, "\r\nOK\r\n");
  modem(1).Expect("AT+CMGF=0\r");
  const uint32_t start = clock().TickCount();
  EXPECT_FALSE(engine().DeviceOpen(1));
  EXPECT_EQ(clock().TickCount() - start, 4990 + 10 + Tarvex::kInitTimeoutMs);
  EXPECT_EQ(pump().Passes(), 0);
  EXPECT_FALSE(modem(1).PortOpen());
  EXPECT_EQ(modem(1).Writes(), (Writes{"ATE0\r", "AT+CMGF=0\r"}));
  ScriptInitialisation(1);
  EXPECT_TRUE(engine().DeviceOpen(1));
}

// The tool asks for numbered errors after the initialisation; a modem that
// refuses them is still opened.
TEST_F(DeviceOpenTest, ExtendedErrorsFollowTheInitialisation) {
  engine().SetExtendedErrors(true);
  for (const char* answer : {"\r\nOK\r\n", "\r\nERROR\r\n"}) {
    Configure(2, "4", "9600");
    ScriptInitialisation(2);
    modem(2).Expect("AT+CMEE=1\r").Reply(answer);
    EXPECT_TRUE(engine().DeviceOpen(2)) << answer;
    EXPECT_TRUE(engine().DeviceClose(2));
    ExpectScriptMet(2);
  }
}

}  // namespace
}  // namespace tarvex::testing
