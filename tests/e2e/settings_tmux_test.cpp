// The settings dialog as a person uses it: `tarvex settings` in a detached
// tmux session of fixed size, driven with send-keys and read with
// capture-pane; then what the store holds, as `tarvex slots` shows it.  The
// command-line twins of the dialog's buttons (`tarvex slot set`, `slot
// remove`) run in process (tests/tools).
//
// Every wait polls capture-pane a bounded number of times; each try is a
// tmux client round trip, so nothing sleeps.  The tmux server runs on a
// socket in the test's directory and is killed in every path.
#include <gmock/gmock.h>

#include <regex>
#include <string>
#include <vector>

#include "e2e_harness.h"

namespace tarvex::e2e {
namespace {

// A tmux server of our own on a socket in the test's directory, so that
// nothing is left in tmux's shared one; killed when this goes out of scope.
class Tmux {
 public:
  Tmux(std::string socket, std::vector<std::string> env)
      : socket_(std::move(socket)), env_(std::move(env)) {}
  ~Tmux() { Run({"kill-server"}); }

  RunResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), {"/usr/bin/env", "tmux", "-S", socket_, "-f", "/dev/null"});
    return Process(args, env_).Finish(10000ms);
  }

  // The pane's text; tmux's complaint when there is no pane to show.
  std::string Screen() {
    const RunResult r = Run({"capture-pane", "-p", "-t", "dialog"});
    return r.status == 0 ? r.out : r.Describe();
  }

  // Polls `seen` a bounded number of times, each a tmux round trip.
  template <typename Seen>
  static bool Until(Seen seen) {
    for (int i = 0; i < 1000; ++i) {
      if (seen()) return true;
    }
    return false;
  }
  // Until `pattern` matches in the screen (`.` stays on one line); `screen`
  // keeps the last one.
  bool WaitFor(const std::string& pattern, std::string* screen) {
    const std::regex seen(pattern);
    return Until([&] { return std::regex_search(*screen = Screen(), seen); });
  }

  // Keys to the dialog; "-l" first: the text as typed.
  void Keys(std::vector<std::string> keys) {
    keys.insert(keys.begin(), {"send-keys", "-t", "dialog"});
    Run(keys);
  }

 private:
  std::string socket_;
  std::vector<std::string> env_;
};

class SettingsDialogTest : public ToolTest {};

TEST_F(SettingsDialogTest, ConfigureSlotTwoByKeyboard) {
  // A UTF-8 locale for tmux and the tool alike, so that a name beyond ASCII
  // travels from the keys to the store and back to the screen.
  std::vector<std::string> env = Environment();
  std::erase_if(env, [](const std::string& e) {
    return e.starts_with("TMUX=") || e.starts_with("LANG=") || e.starts_with("LC_");
  });
  env.push_back("LC_ALL=C.UTF-8");
  Tmux tmux(StatePath("tmux.sock"), env);
  if (tmux.Run({"-V"}).status != 0) GTEST_SKIP() << "tmux is not installed";
  // The shell around the tool leaves its exit status in a file; the pane stays
  // after the end so that its death can be polled for.
  const std::string status_file = StatePath("dialog.status");
  const std::string command = "sh -c 'env TARVEX_STATE_DIR=" + state_dir_ +
                              " TERM=xterm LC_ALL=C.UTF-8 " + ToolPath() + " settings; echo $? > " +
                              status_file + "'";
  const RunResult started =
      tmux.Run({"start-server", ";", "set-option", "-g", "remain-on-exit", "on", ";", "new-session",
                "-d", "-s", "dialog", "-x", "100", "-y", "30", command});
  ASSERT_EQ(started.status, 0) << started.Describe();

  // What each key does to the dialog is the key handler's own test; here the
  // keys, a name beyond ASCII and the exit travel through a real terminal.
  std::string screen;
  ASSERT_TRUE(tmux.WaitFor("Tarvex : Communication Setting", &screen)) << screen;
  tmux.Keys({"Enter", "Down", "Enter", "Tab"});  // slot 2, then the name field
  tmux.Keys({"-l", "Lab Köln"});                 // shown as typed, not as '?'
  ASSERT_TRUE(tmux.WaitFor("Device Name.*>\\[Lab Köln__", &screen)) << screen;
  tmux.Keys({"Tab", "Enter", "Down", "Down", "Enter"});  // port 3 from its list
  tmux.Keys({"Tab", "Enter", "Down", "Down", "Down", "Down", "Down", "Down", "Down", "Enter"});
  ASSERT_TRUE(tmux.WaitFor("Baud Rate.*>115200", &screen)) << screen;
  tmux.Keys({"M-a"});  // Apply; the reload enables Remove
  ASSERT_TRUE(tmux.WaitFor("Disabled: none", &screen)) << screen;
  tmux.Keys({"M-c"});
  ASSERT_TRUE(Tmux::Until([&] {
    return tmux.Run({"display-message", "-p", "-t", "dialog", "#{pane_dead}"}).out == "1\n";
  })) << tmux.Screen();
  std::string status;
  std::ifstream(status_file) >> status;
  EXPECT_EQ(status, "0");

  // What the store holds for slot 2, the name in UTF-8.
  const RunResult slots = Tool({"slots"});
  ASSERT_EQ(slots.status, 0) << slots.Describe();
  EXPECT_THAT(slots.out, ::testing::ContainsRegex("\n2 +3 +.+ +115200 +Lab Köln\n"));
}

TEST_F(SettingsDialogTest, RefusesWithoutATerminal) {
  const RunResult r = Tool({"settings"});  // stdin and stdout are pipes
  EXPECT_NE(r.status, 0);
  EXPECT_NE(r.err.find("needs a terminal"), std::string::npos) << r.Describe();
}

}  // namespace
}  // namespace tarvex::e2e
