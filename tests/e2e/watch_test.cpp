// `tarvex watch` against the simulator: messages that arrive while it
// watches are handed over once and deleted after, a kill -9 loses nothing
// and repeats nothing, and other commands reach the watched modem.
#include "e2e/e2e_harness.h"

namespace tarvex::e2e {
namespace {

class WatchTest : public ToolTest {
 protected:
  void SetUp() override {
    ToolTest::SetUp();
    if (IsSkipped()) return;
    StartModem({"--control", StatePath("control")});
  }

  std::unique_ptr<Process> Watch(std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"watch", "-m", "1", "--json"};
    args.insert(args.end(), extra.begin(), extra.end());
    auto watch = StartTool(args);
    EXPECT_TRUE(watch->ReadUntil([](const std::string&, const std::string& err) {
      return err.find("watching") != err.npos;
    })) << watch->err();
    return watch;
  }

  void Control(const std::string& line) { std::ofstream(StatePath("control")) << line << "\n"; }

  // Waits for the watcher's first `n` lines on stdout.
  static bool Lines(Process& watch, size_t n) {
    return watch.ReadUntil([n](const std::string& out, const std::string&) {
      return static_cast<size_t>(std::count(out.begin(), out.end(), '\n')) >= n;
    });
  }

  // Every entry the modem holds, listed through whoever owns the port.
  std::vector<Json> Stored() {
    const RunResult list = Tool({"list", "-m", "1", "--all", "--json"});
    EXPECT_EQ(list.status, 0) << list.Describe();
    return list.JsonLines();
  }
};

TEST_F(WatchTest, KillNineLosesNothingAndRepeatsNothing) {
  // --keep: handed over and recorded, never deleted, as if killed just before.
  auto first = Watch({"--keep"});
  Control("deliver from=+31611111111 text=\"before the kill\"");
  ASSERT_TRUE(Lines(*first, 1)) << first->err();
  // Through the watcher, so the kill comes after the handover was recorded:
  // a kill between the output and that record hands the message over again.
  ASSERT_EQ(Stored().size(), 1u);
  first->Kill(SIGKILL);
  first->Finish(5000ms);

  auto second = Watch();
  Control("deliver from=+31622222222 text=\"" + std::string(400, 'x') + "\" order=3,1,2 gap=200");
  ASSERT_TRUE(Lines(*second, 1)) << second->err();
  // Both deleted, the first not handed over again.
  EXPECT_EQ(Stored(), std::vector<Json>{});
  second->Kill(SIGINT);
  const RunResult done = second->Finish(10000ms);
  EXPECT_EQ(done.status, 130) << done.Describe();
  const std::vector<Json> got = done.JsonLines();
  ASSERT_EQ(got.size(), 1u) << done.Describe();
  EXPECT_EQ(got[0]["MessageText"], std::string(400, 'x'));
  EXPECT_EQ(got[0]["Parts"], Json({1, 2, 3}));
  EXPECT_EQ(got[0]["MissingParts"], Json::array());
}

}  // namespace
}  // namespace tarvex::e2e
