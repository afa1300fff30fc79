// Ctrl-C while a modem command waits: the tool's signal handling through a
// real process and port.  What each command says for each answer of the
// modem is the in-process tool tests' part (tests/tools).
#include "e2e/e2e_harness.h"

namespace tarvex::e2e {
namespace {

class ModemCommandsTest : public ToolTest {};

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
