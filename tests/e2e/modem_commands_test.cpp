// The modem commands (info, storage, ussd) against the simulator, and how the
// tool fails: a silent modem, a refused initialisation, extended errors, a
// line that hangs up, a port that cannot be opened, Ctrl-C.  A successful
// `delete` is a step of the demo's tour.
#include "e2e/e2e_harness.h"

namespace tarvex::e2e {
namespace {

class ModemCommandsTest : public ToolTest {};

TEST_F(ModemCommandsTest, InfoStorageAndUssd) {
  StartModem({"--manufacturer", "Quectel", "--model", "EC25", "--imei", "861234567890123",
              "--ussd-mode", "ucs2", "--ussd-text", "Остаток 5"});
  RunResult r = Tool({"info", "-m", "1", "--json"});
  ASSERT_EQ(r.status, 0) << r.Describe();
  const Json info = r.JsonLines().at(0);
  EXPECT_EQ(info["DeviceManufacture"], "QUECTEL");
  EXPECT_EQ(info["DeviceModel"], "EC25");
  EXPECT_EQ(info["DeviceIMEI"], "861234567890123");
  EXPECT_EQ(info["MessageStorage"], "SM");
  EXPECT_EQ(info["DeviceName"], "Test modem");

  // Each run opens the port again: the open is exclusive, so the last run
  // must have closed it.
  r = Tool({"storage", "-m", "1", "ME", "--json"});
  ASSERT_EQ(r.status, 0) << r.Describe();
  EXPECT_EQ(r.JsonLines().at(0)["MessageStorage"], "ME");
  r = Tool({"storage", "-m", "1", "XX"});
  EXPECT_EQ(r.status, 1) << r.Describe();

  r = Tool({"ussd", "-m", "1", "*100#", "--json"});
  ASSERT_EQ(r.status, 0) << r.Describe();
  EXPECT_EQ(r.JsonLines().at(0)["Result"], "ОСТАТОК 5") << r.Describe();
}

// Each fault must end in a clear message and its exit status, in bounded time.
TEST_F(ModemCommandsTest, FaultsEndCleanly) {
  // One simulator refuses every command of the rows that use it.
  const std::vector<std::string> refusing = {"--cms-error-on", "CMGD:321",   "--cms-error-on",
                                             "CMGS:500",       "--error-on", "CMGL",
                                             "--ussd-mode",    "status4"};
  struct Case {
    const char* name;
    std::vector<std::string> simulator;
    std::vector<std::string> tool;
    int status;
    const char* says;
  };
  const std::vector<Case> cases = {
      {"silent modem", {"--silent"}, {"info", "-m", "1"}, 3, "did not initialise"},
      {"ERROR on init", {"--error-on", "E0"}, {"info", "-m", "1"}, 3, "refused its initialisation"},
      {"hang-up after init", {"--hangup-after", "3"}, {"info", "-m", "1"}, 5, "port closed"},
      {"no USSD answer",
       {"--ussd-mode", "none"},
       {"ussd", "-m", "1", "*100#", "--timeout", "300"},
       4,
       "within 300 ms (TIMEOUT)"},
      {"+CMS ERROR on delete", refusing, {"delete", "-m", "1", "1"}, 1, "did not delete"},
      {"+CMS ERROR on send",
       refusing,
       {"send", "-m", "1", "+123", "hi"},
       1,
       "refused: +CMS ERROR 500: unknown error"},
      {"listing refused", refusing, {"list", "-m", "1"}, 1, "refused the listing"},
      {"USSD not supported",
       refusing,
       {"ussd", "-m", "1", "*100#"},
       1,
       "the network refused the request"},
      {"backspace in a USSD code",
       refusing,
       {"ussd", "-m", "1", "*100#\b\b\b\b\b;+CMGD=1,4"},
       5,
       "U+0008 (backspace)"},
  };
  std::optional<std::vector<std::string>> running;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (running != c.simulator) {
      TearDown();
      SetUp();
      ASSERT_NO_FATAL_FAILURE(StartModem(c.simulator));
      running = c.simulator;
    }
    const RunResult r = Tool(c.tool, 30000ms);
    EXPECT_FALSE(r.timed_out) << r.Describe();
    EXPECT_EQ(r.status, c.status) << r.Describe();
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.Describe();
  }
}

// No modem needed: the open fails before one could answer.
TEST_F(ModemCommandsTest, OpenFailuresNameTheirCause) {
  RunResult r = Tool({"info", "-m", "2"});
  EXPECT_EQ(r.status, 3) << r.Describe();
  EXPECT_NE(r.err.find("tarvex slot set 2"), std::string::npos) << r.Describe();

  MapPort(7, StatePath("no-such-device"));
  ASSERT_EQ(Tool({"slot", "set", "2", "--port", "7", "--baud", "9600"}).status, 0);
  r = Tool({"info", "-m", "2"});
  EXPECT_EQ(r.status, 3) << r.Describe();
  EXPECT_NE(r.err.find("could not open port 7"), std::string::npos) << r.Describe();
}

TEST_F(ModemCommandsTest, CtrlCDuringAWaitClosesThePort) {
  StartModem({"--ussd-mode", "none"});
  auto tool = StartTool({"ussd", "-m", "1", "*100#", "--timeout", "60000", "--trace"});
  tool->CloseStdin();
  // Wait until the request went out and the answer is awaited.
  ASSERT_TRUE(tool->ReadUntil(
      [](const std::string&, const std::string& err) {
        const size_t request = err.find(">> AT+CUSD");
        return request != std::string::npos && err.find("OK", request) != std::string::npos;
      },
      15000ms))
      << tool->err();
  tool->Kill(SIGINT);
  const RunResult r = tool->Finish(10000ms);
  EXPECT_EQ(r.status, 130) << r.Describe();
  EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.Describe();

  const RunResult after = Tool({"info", "-m", "1"});
  EXPECT_EQ(after.status, 0) << "the port stayed taken\n" << after.Describe();
}

}  // namespace
}  // namespace tarvex::e2e
