// The end-to-end harness: the built `tarvex` tool against `tarvex-modemsim`
// on a real pseudo-terminal, through the real termios port and a private
// settings store (a temporary TARVEX_STATE_DIR per test).
//
// Processes run through posix_spawn with pipes; every wait is bounded (a
// child still running at its deadline is killed and reported), none is a
// fixed sleep.  The simulator is stopped and the store removed in teardown,
// whatever the test did.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "config/t_registry.h"
#include "platform/posix/posix_platform.h"

extern char** environ;

namespace tarvex::e2e {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;
using namespace std::chrono_literals;

struct RunResult {
  int status = -1;  // exit status; 128 + signal when killed by one
  bool timed_out = false;
  std::string out;
  std::string err;
  std::chrono::milliseconds elapsed{0};

  // What a failed assertion prints.
  std::string Describe() const {
    return "status " + std::to_string(status) + (timed_out ? " (timed out)" : "") +
           "\n--- stdout\n" + out + "--- stderr\n" + err;
  }
  // stdout as JSON lines.
  std::vector<Json> JsonLines() const {
    std::vector<Json> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty()) lines.push_back(Json::parse(line));
    }
    return lines;
  }
};

// A child process with its stdin, stdout and stderr on pipes.
class Process {
 public:
  Process(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) {
      throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const int rc = posix_spawn(&pid_, argv[0].c_str(), &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    stderr_ = err[0];
    if (rc != 0) {
      pid_ = -1;
      throw std::runtime_error("cannot start " + argv[0]);
    }
  }
  ~Process() {
    Kill(SIGTERM);
    if (!Reap(2000ms)) {
      Kill(SIGKILL);
      Reap(2000ms);
    }
    for (int fd : {stdin_, stdout_, stderr_}) {
      if (fd >= 0) close(fd);
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t pid() const { return pid_; }

  void Write(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = write(stdin_, text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  void CloseStdin() {
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
  }
  void Kill(int signal) {
    if (pid_ > 0 && !exited_) kill(pid_, signal);
  }

  // Reads output until `done` says so, the child closes its pipes, or the
  // deadline passes.  Returns whether `done` was satisfied.
  template <typename Done>
  bool ReadUntil(Done done, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!done(out_, err_)) {
      if (stdout_ < 0 && stderr_ < 0) return false;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return false;
      Pump(static_cast<int>(left.count()));
    }
    return true;
  }

  // Waits for the child to end (reading its output meanwhile); kills it at
  // the deadline.
  RunResult Finish(std::chrono::milliseconds limit) {
    const auto start = Clock::now();
    RunResult r;
    ReadUntil([](const std::string&, const std::string&) { return false; }, limit);
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(start + limit - Clock::now());
    if (!Reap(std::max(left, 100ms))) {
      r.timed_out = true;
      Kill(SIGKILL);
      Reap(5000ms);
    }
    r.status = status_;
    r.out = out_;
    r.err = err_;
    r.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return r;
  }

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }

 private:
  // One poll over the open output pipes, at most `ms`.
  void Pump(int ms) {
    pollfd fds[2];
    int n = 0;
    for (int fd : {stdout_, stderr_}) {
      if (fd >= 0) fds[n++] = {fd, POLLIN, 0};
    }
    if (poll(fds, static_cast<nfds_t>(n), std::min(ms, 100)) <= 0) return;
    for (int i = 0; i < n; ++i) {
      if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[65536];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      int& fd = fds[i].fd == stdout_ ? stdout_ : stderr_;
      std::string& sink = fds[i].fd == stdout_ ? out_ : err_;
      if (got > 0) {
        sink.append(buffer, static_cast<size_t>(got));
      } else {
        close(fd);
        fd = -1;
      }
    }
  }

  bool Reap(std::chrono::milliseconds limit) {
    if (pid_ <= 0 || exited_) return true;
    const auto deadline = Clock::now() + limit;
    for (;;) {
      int wstatus = 0;
      const pid_t got = waitpid(pid_, &wstatus, WNOHANG);
      if (got == pid_) {
        exited_ = true;
        status_ = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
        return true;
      }
      if (Clock::now() >= deadline) return false;
      // Output pipes are closed by now or still drained; waiting on a pipe
      // for up to 10 ms is the bounded way to let the child finish.
      pollfd none{-1, 0, 0};
      poll(&none, 0, 10);
    }
  }

  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = -1;
  int stdin_ = -1, stdout_ = -1, stderr_ = -1;
  std::string out_, err_;
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
  std::string SimulatorPath() const { return bin_dir_ + "/tarvex-modemsim"; }
  std::string StatePath(const std::string& name) const { return state_dir_ + "/" + name; }

  std::vector<std::string> Environment() const {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      if (std::string(*e).rfind("TARVEX_STATE_DIR=", 0) != 0) env.emplace_back(*e);
    }
    env.push_back("TARVEX_STATE_DIR=" + state_dir_);
    return env;
  }

  // Starts the simulator with these options, maps port 1 to its terminal and
  // configures slot 1 through the tool, as a user would.
  void StartModem(std::vector<std::string> options) {
    options.insert(options.begin(), SimulatorPath());
    simulator_ = std::make_unique<Process>(options, Environment());
    const bool ready = simulator_->ReadUntil(
        [](const std::string& out, const std::string&) {
          return out.find('\n') != std::string::npos;
        },
        10000ms);
    ASSERT_TRUE(ready) << "the simulator did not print its terminal:\n" << simulator_->err();
    pty_ = simulator_->out().substr(0, simulator_->out().find('\n'));
    MapPort(1, pty_);
    const RunResult set =
        Tool({"slot", "set", "1", "--port", "1", "--baud", "115200", "--name", "Test modem"});
    ASSERT_EQ(set.status, 0) << set.Describe();
  }

  void MapPort(int port, const std::string& device) {
    posix::SqliteRegistry store(StatePath("registry.db"), StatePath("user.db"));
    TRegistry(store).SaveString(kHkeyLocalMachine, posix::TermiosPort::kPortMapKey, device,
                                "COM" + std::to_string(port));
  }

  RunResult Tool(const std::vector<std::string>& args, std::chrono::milliseconds limit = 30000ms,
                 const std::optional<std::string>& input = std::nullopt) {
    std::vector<std::string> argv{ToolPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    Process tool(argv, Environment());
    if (input) tool.Write(*input);
    tool.CloseStdin();
    return tool.Finish(limit);
  }

  std::unique_ptr<Process> StartTool(const std::vector<std::string>& args) {
    std::vector<std::string> argv{ToolPath()};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<Process>(argv, Environment());
  }

  // The simulator's --log: one JSON object per PDU it accepted.
  std::vector<Json> SentLog(const std::string& path) const {
    std::vector<Json> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty()) lines.push_back(Json::parse(line));
    }
    return lines;
  }

  std::string bin_dir_;
  std::string state_dir_;
  std::string pty_;
  std::unique_ptr<Process> simulator_;
};

}  // namespace tarvex::e2e
