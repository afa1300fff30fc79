// A locked SIM from the first command to the delivered message: the other
// commands point to `tarvex pin`, a wrong PIN costs a try, the trace never
// shows the PIN, `status` tells it all, and a send waits for its reports,
// stored ones included.  And Ctrl-C during a wait.
#include "e2e/e2e_harness.h"

namespace tarvex::e2e {
namespace {

class StatusTest : public ToolTest {};

TEST_F(StatusTest, PinStatusAndDeliveryReports) {
  StartModem({"--pin", "4321", "--sim-busy", "2", "--signal", "20", "--report-delay", "200",
              "--cnmi-modes", "(0-3),(0-3),(0,2),(0,2),(0,1)"});
  RunResult r = Tool({"list", "-m", "1"});
  EXPECT_EQ(r.status, 3) << r.Describe();
  EXPECT_NE(r.err.find("SIM PIN required: run tarvex pin -m 1"), std::string::npos) << r.Describe();

  r = Tool({"pin", "-m", "1", "--trace"}, 30000ms, "1111\n");
  EXPECT_EQ(r.status, 1) << r.Describe();
  EXPECT_NE(r.err.find("2 tries left"), std::string::npos) << r.Describe();
  EXPECT_EQ(r.err.find("1111"), std::string::npos) << r.Describe();
  r = Tool({"pin", "-m", "1", "--trace", "--json"}, 30000ms, "4321\n");
  ASSERT_EQ(r.status, 0) << r.Describe();
  EXPECT_EQ(r.JsonLines().at(0)["SIM"], "READY");
  EXPECT_EQ(r.err.find("4321"), std::string::npos) << r.Describe();

  r = Tool({"status", "-m", "1", "--json"});
  ASSERT_EQ(r.status, 0) << r.Describe();
  const Json s = r.JsonLines().at(0);
  EXPECT_EQ(s["Signal"]["dBm"], -73);
  EXPECT_EQ(s["Registration"]["Status"], "home network");
  EXPECT_FALSE(s["Registration"]["Cell"].is_null()) << s;
  EXPECT_EQ(s["ServiceCentre"], "+31624000000");
  EXPECT_EQ(s["Storage"][0]["Name"], "SM");

  // 200 characters: two parts, each with its report, read from SR.
  r = Tool(
      {"send", "-m", "1", "+31612345678", std::string(200, 'x'), "--json", "--wait-report=20"});
  ASSERT_EQ(r.status, 0) << r.Describe();
  const std::vector<Json> lines = r.JsonLines();
  ASSERT_EQ(lines.size(), 4u) << r.Describe();
  EXPECT_EQ(lines[1]["MessageType"], "SMS-STATUS-REPORT");
  EXPECT_EQ(lines[1]["Reference"], lines[0]["Parts"][0]["Reference"]);
  EXPECT_EQ(lines[3]["Result"], "DELIVERED");
}

// What each command says for each answer of the modem runs in process
// (tests/tools); here the signal through a real process and port.
TEST_F(StatusTest, CtrlCDuringAWaitClosesThePort) {
  StartModem({"--ussd-mode", "none"});
  auto tool = StartTool({"ussd", "-m", "1", "*100#", "--timeout", "60000", "--trace"});
  ASSERT_TRUE(tool->ReadUntil([](const std::string&, const std::string& err) {
    const size_t request = err.find(">> AT+CUSD");
    return request != std::string::npos && err.find("OK", request) != std::string::npos;
  })) << tool->err();
  tool->Kill(SIGINT);
  const RunResult r = tool->Finish(10000ms);
  EXPECT_EQ(r.status, 130) << r.Describe();
  EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.Describe();

  const RunResult after = Tool({"info", "-m", "1"});
  EXPECT_EQ(after.status, 0) << "the port stayed taken\n" << after.Describe();
}

}  // namespace
}  // namespace tarvex::e2e
