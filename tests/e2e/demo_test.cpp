// `tarvex demo` as a new user runs it: it tours every step and leaves nothing
// behind (no simulator, no temporary store), or with --keep a working setup.
#include <regex>

#include "e2e/e2e_harness.h"

namespace tarvex::e2e {
namespace {

class DemoTest : public ToolTest {};

std::string Captured(const std::string& text, const std::string& pattern) {
  std::smatch m;
  return std::regex_search(text, m, std::regex(pattern)) ? m[1].str() : "";
}

TEST_F(DemoTest, ToursEverythingAndCleansUp) {
  const RunResult r = Tool({"demo"}, 60000ms);
  ASSERT_EQ(r.status, 0) << r.Describe();
  for (const char* step :
       {"tarvex info", "TARVEX", "Balance: 12.50", "Sent to", "as 3 parts", "(3 parts)",
        "Delivered.", "Deleted message", "[watch]   See you at 8", "(ME) from +447700900123",
        "(2 parts)", "watch exited 0", "Slot 1 closed"}) {
    EXPECT_NE(r.out.find(step), std::string::npos) << step << "\n" << r.Describe();
  }
  const std::string dir = Captured(r.out, "private store (/tmp/tarvex-demo\\.[A-Za-z0-9]+)");
  ASSERT_FALSE(dir.empty()) << r.Describe();
  EXPECT_FALSE(std::filesystem::exists(dir)) << dir << " was left behind";
  const std::string pid = Captured(r.out, "tarvex-modemsim \\(pid ([0-9]+)\\)");
  ASSERT_FALSE(pid.empty()) << r.Describe();
  EXPECT_NE(kill(std::stoi(pid), 0), 0) << "the simulator is still running";
}

TEST_F(DemoTest, KeepLeavesAWorkingSetupBehind) {
  const RunResult r = Tool({"demo", "--keep"}, 60000ms);
  ASSERT_EQ(r.status, 0) << r.Describe();
  const std::string dir = Captured(r.out, "export TARVEX_STATE_DIR=(\\S+)");
  const std::string pid = Captured(r.out, "kill ([0-9]+);");
  ASSERT_FALSE(dir.empty()) << r.Describe();
  ASSERT_FALSE(pid.empty()) << r.Describe();
  struct Cleanup {
    std::string dir;
    pid_t pid;
    ~Cleanup() {
      // The simulator unlinks its control pipe as it stops: gone first, it
      // cannot vanish under remove_all.
      std::filesystem::remove(dir + "/modem.ctl");
      kill(pid, SIGTERM);
      std::filesystem::remove_all(dir);
    }
  } cleanup{dir, std::stoi(pid)};

  // The printed commands work against what was left.
  const std::string own_state = state_dir_;
  state_dir_ = dir;
  const RunResult info = Tool({"info", "-m", "1", "--json"});
  state_dir_ = own_state;
  ASSERT_EQ(info.status, 0) << info.Describe();
  EXPECT_EQ(info.JsonLines().at(0)["DeviceName"], "Demo modem");
}

}  // namespace
}  // namespace tarvex::e2e
