// The end-to-end harness: the built `tarvex` tool against `tarvex-modemsim`
// on a real pseudo-terminal, through the real termios port and a private
// settings store (a temporary TARVEX_STATE_DIR per test).
//
// Processes run through posix_spawn with pipes; every wait is bounded by
// poll() on the pipes or on a pidfd (a child still running at its deadline
// is killed and reported), none is a fixed sleep.  The simulator is stopped
// and the store removed in teardown, whatever the test did.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/posix_platform.h"
#include "tarvex/t_registry.h"

extern char** environ;

namespace tarvex::e2e {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;
using namespace std::chrono_literals;

// One JSON object per line, as --json and the simulator's --log write them.
inline std::vector<Json> JsonLines(std::istream&& in) {
  std::vector<Json> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(Json::parse(line));
  }
  return lines;
}

struct RunResult {
  int status = -1;  // exit status; 128 + signal when killed by one
  bool timed_out = false;
  std::string out;
  std::string err;

  std::string Describe() const {
    return "status " + std::to_string(status) + (timed_out ? " (timed out)" : "") +
           "\n--- stdout\n" + out + "--- stderr\n" + err;
  }
  std::vector<Json> JsonLines() const { return e2e::JsonLines(std::istringstream(out)); }
};

// A child process with its stdout and stderr on pipes; its stdin gets
// `input` and is closed (short texts only: more than a pipe holds would
// block until read).
class Process {
 public:
  Process(const std::vector<std::string>& argv, const std::vector<std::string>& env,
          const std::string& input = "") {
    int pipes[3][2];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (int fd = 0; fd < 3; ++fd) {
      if (pipe2(pipes[fd], O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
      posix_spawn_file_actions_adddup2(&actions, pipes[fd][fd == 0 ? 0 : 1], fd);
    }
    auto pointers = [](const std::vector<std::string>& strings) {
      std::vector<char*> p;
      for (const std::string& s : strings) p.push_back(const_cast<char*>(s.c_str()));
      p.push_back(nullptr);
      return p;
    };
    const int rc = posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, pointers(argv).data(),
                               pointers(env).data());
    posix_spawn_file_actions_destroy(&actions);
    for (int fd = 0; fd < 3; ++fd) close(pipes[fd][fd == 0 ? 0 : 1]);
    if (rc == 0) {
      EXPECT_EQ(write(pipes[0][1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    }
    close(pipes[0][1]);
    fds_[0] = pipes[1][0];
    fds_[1] = pipes[2][0];
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0]);
    pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  }
  ~Process() {
    Kill(SIGTERM);
    Reap(2000ms);
    for (int fd : {fds_[0], fds_[1], pidfd_}) {
      if (fd >= 0) close(fd);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  void Kill(int signal) {
    if (!exited_) kill(pid_, signal);
  }

  // Reads output until `done(out, err)` holds, the child closes its pipes,
  // or the deadline passes.  Returns whether `done` held.
  template <typename Done>
  bool ReadUntil(Done done, std::chrono::milliseconds limit = 15000ms) {
    const auto deadline = Clock::now() + limit;
    while (!done(text_[0], text_[1])) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if ((fds_[0] < 0 && fds_[1] < 0) || left.count() <= 0) return false;
      Pump(static_cast<int>(left.count()));
    }
    return true;
  }

  // Waits for the child to end, reading its output meanwhile; kills it at
  // the deadline.
  RunResult Finish(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    ReadUntil([](const std::string&, const std::string&) { return false; }, limit);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const bool ended = Reap(std::max(left, 100ms));
    return RunResult{status_, !ended, text_[0], text_[1]};
  }

  const std::string& out() const { return text_[0]; }
  const std::string& err() const { return text_[1]; }

 private:
  // One poll over the open output pipes, at most `ms`.
  void Pump(int ms) {
    pollfd polled[2];
    for (int i = 0; i < 2; ++i) polled[i] = {fds_[i], POLLIN, 0};  // -1 is skipped
    if (poll(polled, 2, ms) <= 0) return;
    for (int i = 0; i < 2; ++i) {
      if (fds_[i] < 0 || !(polled[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      const ssize_t got = read(fds_[i], buffer, sizeof buffer);
      if (got > 0) {
        text_[i].append(buffer, static_cast<size_t>(got));
      } else {
        close(fds_[i]);
        fds_[i] = -1;
      }
    }
  }

  // Waits on the pidfd, which becomes readable when the child ends; a child
  // still running at the deadline is killed.  Returns whether it ended in time.
  bool Reap(std::chrono::milliseconds limit) {
    if (exited_) return true;
    pollfd ended{pidfd_, POLLIN, 0};
    const bool in_time = poll(&ended, 1, static_cast<int>(limit.count())) > 0;
    if (!in_time) {
      kill(pid_, SIGKILL);
      poll(&ended, 1, 5000);
    }
    int wstatus = 0;
    if (waitpid(pid_, &wstatus, WNOHANG) != pid_) return false;
    exited_ = true;
    status_ = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    return in_time;
  }

  pid_t pid_ = -1;
  int pidfd_ = -1;
  bool exited_ = false;
  int status_ = -1;
  int fds_[2] = {-1, -1};  // stdout, stderr
  std::string text_[2];
};

// The fixture: a private store, the simulator on demand, the tool.
class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("TARVEX_BIN_DIR");
    if (!bin) GTEST_SKIP() << "TARVEX_BIN_DIR is not set (run through ctest)";
    bin_dir_ = bin;
    char pattern[] = "/tmp/tarvex-e2e.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    state_dir_ = pattern;
  }
  void TearDown() override {
    simulator_.reset();
    if (!state_dir_.empty()) std::filesystem::remove_all(state_dir_);
  }

  std::string ToolPath() const { return bin_dir_ + "/tarvex"; }
  std::string StatePath(const std::string& name) const { return state_dir_ + "/" + name; }

  std::vector<std::string> Environment() const {
    std::vector<std::string> env{"TARVEX_STATE_DIR=" + state_dir_};
    for (char** e = environ; *e; ++e) {
      if (!std::string_view(*e).starts_with("TARVEX_STATE_DIR=")) env.emplace_back(*e);
    }
    return env;
  }

  // Starts the simulator with these options, maps port 1 to its terminal and
  // configures slot 1 through the tool, as a user would.
  void StartModem(std::vector<std::string> options) {
    options.insert(options.begin(), bin_dir_ + "/tarvex-modemsim");
    simulator_ = std::make_unique<Process>(options, Environment());
    ASSERT_TRUE(simulator_->ReadUntil([](const std::string& out, const std::string&) {
      return out.find('\n') != out.npos;
    })) << "the simulator did not print its terminal:\n"
        << simulator_->err();
    posix::SqliteRegistry store(StatePath("registry.db"), StatePath("user.db"));
    TRegistry(store).SaveString(kHkeyLocalMachine, posix::TermiosPort::kPortMapKey,
                                simulator_->out().substr(0, simulator_->out().find('\n')), "COM1");
    const RunResult set =
        Tool({"slot", "set", "1", "--port", "1", "--baud", "115200", "--name", "Test modem"});
    ASSERT_EQ(set.status, 0) << set.Describe();
  }

  std::unique_ptr<Process> StartTool(std::vector<std::string> args, const std::string& input = "") {
    args.insert(args.begin(), ToolPath());
    return std::make_unique<Process>(args, Environment(), input);
  }

  RunResult Tool(const std::vector<std::string>& args, std::chrono::milliseconds limit = 30000ms,
                 const std::string& input = "") {
    return StartTool(args, input)->Finish(limit);
  }

  std::string bin_dir_;
  std::string state_dir_;
  std::unique_ptr<Process> simulator_;
};

}  // namespace tarvex::e2e
