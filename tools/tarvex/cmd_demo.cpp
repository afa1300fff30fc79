// `tarvex demo`: the whole job against the modem simulator, with nothing on
// the machine touched.  It starts tarvex-modemsim (built beside this tool) on
// a pseudo-terminal, points a private settings store (a temporary
// TARVEX_STATE_DIR) at it, and then runs, as the tool itself in a child
// process, every command it shows: what it prints is what it ran, so a user
// can copy each line.  Receiving is shown the same way: `tarvex watch` runs
// in the background while messages are played to the simulator through its
// control pipe, and the demo relays what the watcher prints, waiting for each
// handover before the next step so the tour reads the same every time.
//
// Cleanup is one object's destructor: the watcher and the simulator are
// stopped and the temporary directory removed on every path, Ctrl-C
// included; only a tour that finished with --keep leaves the simulator and
// the directory for the user to try.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "modem_actions.h"
#include "tarvex/error.h"
#include "tarvex/sms_deliver.h"
#include "tarvex/t_registry.h"

extern char** environ;

namespace tarvex::cli {
namespace {

namespace fs = std::filesystem;

constexpr int16_t kDemoSlot = 1;
constexpr const char* kDemoPort = "1";
constexpr const char* kLoopbackNumber = "+15550100";

std::string SelfPath() {
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (ec) throw CommandFailure(kExitError, "cannot find the tool's own executable");
  return self.string();
}

void Say(const std::string& step) { std::cout << "\n== " << step << "\n" << std::flush; }

// Starts `path` with `args` in its own session (Ctrl-C reaches only the tool,
// which stops it in order), stdin from /dev/null and stdout and stderr on
// these descriptors; unless it is to outlive the tour, it also dies with the
// tool, whatever kills the tool.
pid_t Launch(const std::string& path, const std::vector<std::string>& args, int out, int err,
             bool outlive) {
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::cout.flush();
  const pid_t pid = fork();
  if (pid == 0) {
    setsid();
    if (!outlive) prctl(PR_SET_PDEATHSIG, SIGTERM);
    const int in = open("/dev/null", O_RDONLY);
    if (in < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(127);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  if (pid < 0) throw CommandFailure(kExitError, "cannot start " + path + " (fork failed)");
  return pid;
}

// Asks a child to stop (SIGTERM) and reaps it: at most 2 s, then no more
// asking.  Its wait status, -1 when there was none.
int Stop(pid_t& pid) {
  if (pid <= 0) return -1;
  kill(pid, SIGTERM);
  int wstatus = -1;
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid, &wstatus, WNOHANG) == pid) {
      pid = -1;
      return wstatus;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &wstatus, 0);
  pid = -1;
  return wstatus;
}

// `tarvex watch` in the background.  What it prints (stdout and stderr, in
// the order written) comes through a pipe that only the demo reads, so its
// lines never cut into a step's output: Follow shows them, marked
// "[watch]", at the moments the tour waits for them.
class BackgroundWatch {
 public:
  BackgroundWatch() = default;
  ~BackgroundWatch() {
    Stop();
    if (fd_ >= 0) close(fd_);
  }
  BackgroundWatch(const BackgroundWatch&) = delete;
  BackgroundWatch& operator=(const BackgroundWatch&) = delete;

  void Start(const std::string& self, const std::vector<std::string>& args) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) throw CommandFailure(kExitError, "cannot make a pipe");
    fd_ = ends[0];
    try {
      pid_ = Launch(self, args, ends[1], ends[1], false);
    } catch (...) {
      close(ends[1]);
      throw;
    }
    close(ends[1]);  // the watcher's end alone: its exit is the pipe's end
  }

  pid_t pid() const { return pid_; }
  bool watching() const { return watching_; }
  int handed() const { return handed_; }
  bool ended() const { return ended_; }

  // Shows what the watcher prints until `done` holds; a watcher that stops
  // or takes more than 10 s fails the tour rather than hanging it.
  void Follow(const std::function<bool()>& done, const std::string& awaited) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      InterruptGuard::Check();
      if (ended_) throw CommandFailure(kExitError, "tarvex watch stopped before " + awaited);
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now())
              .count();
      if (left <= 0) {
        throw CommandFailure(kExitError, "tarvex watch did not show " + awaited + " within 10 s");
      }
      pollfd ready{fd_, POLLIN, 0};
      if (poll(&ready, 1, static_cast<int>(left)) <= 0) continue;  // a signal is checked above
      char buffer[4096];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (!pending_.empty()) Show(pending_);
        pending_.clear();
        ended_ = true;
        continue;
      }
      pending_.append(buffer, static_cast<size_t>(n));
      for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        Show(pending_.substr(0, end));
        pending_.erase(0, end + 1);
      }
    }
  }

  int Stop() { return cli::Stop(pid_); }

 private:
  // A handed-over message is its header line up to the blank line after it.
  void Show(const std::string& line) {
    std::cout << "[watch]" << (line.empty() ? "" : " ") << line << "\n" << std::flush;
    if (line.starts_with("tarvex: watching slot")) watching_ = true;
    if (line.starts_with("Message on slot")) {
      in_message_ = true;
    } else if (line.empty() && in_message_) {
      in_message_ = false;
      ++handed_;
    }
  }

  int fd_ = -1;
  pid_t pid_ = -1;
  std::string pending_;
  bool watching_ = false;
  bool in_message_ = false;
  bool ended_ = false;
  int handed_ = 0;
};

// The simulator, the watcher and the temporary store, gone when this goes.
class DemoWorld {
 public:
  explicit DemoWorld(bool keep_children_alive) : detach_(keep_children_alive) {
    char pattern[] = "/tmp/tarvex-demo.XXXXXX";
    if (!mkdtemp(pattern)) throw CommandFailure(kExitError, "cannot make a temporary directory");
    dir_ = pattern;
    // Before any store is opened, so this process and every child use it.
    setenv("TARVEX_STATE_DIR", dir_.c_str(), 1);
  }

  ~DemoWorld() {
    watch_.Stop();  // first: it holds the simulator's port
    if (keep_) return;
    Stop(pid_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  DemoWorld(const DemoWorld&) = delete;
  DemoWorld& operator=(const DemoWorld&) = delete;

  const std::string& dir() const { return dir_; }
  const std::string& pty() const { return pty_; }
  std::string control() const { return dir_ + "/modem.ctl"; }
  pid_t pid() const { return pid_; }
  BackgroundWatch& watch() { return watch_; }
  void Keep() { keep_ = true; }

  void StartSimulator(const std::string& path, const std::vector<std::string>& options) {
    const std::string out = dir_ + "/modemsim.out";
    const std::string err = dir_ + "/modemsim.err";
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    try {
      if (o < 0 || e < 0) throw CommandFailure(kExitError, "cannot write into " + dir_);
      pid_ = Launch(path, options, o, e, detach_);
    } catch (...) {
      if (o >= 0) close(o);
      if (e >= 0) close(e);
      throw;
    }
    close(o);
    close(e);
    // Its first line is the pseudo-terminal's path.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      InterruptGuard::Check();
      std::ifstream file(out);
      std::string line;
      if (std::getline(file, line) && !file.eof()) {
        pty_ = line;
        return;
      }
      int wstatus = 0;
      if (waitpid(pid_, &wstatus, WNOHANG) == pid_) {
        pid_ = -1;
        std::ifstream why(err);
        std::string text((std::istreambuf_iterator<char>(why)), std::istreambuf_iterator<char>());
        throw CommandFailure(kExitError, "the simulator " + path + " stopped at once:\n" + text);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw CommandFailure(kExitError, "the simulator did not report its pseudo-terminal in 5 s");
  }

  // Hands the simulator a control line, as `echo LINE > PIPE` does.  The
  // simulator holds its pipe open for reading, so this never blocks.
  void Control(const std::string& line) {
    const std::string text = line + "\n";
    const int fd = open(control().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    const bool written =
        fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (fd >= 0) close(fd);
    if (!written) {
      throw CommandFailure(kExitError, "cannot write to the simulator's control pipe " + control());
    }
  }

 private:
  bool detach_;
  bool keep_ = false;
  std::string dir_;
  std::string pty_;
  pid_t pid_ = -1;
  BackgroundWatch watch_;
};

// Runs the tool itself with these arguments; its output goes where ours goes.
int RunSelf(const std::string& self, const std::vector<std::string>& args) {
  std::vector<char*> argv{const_cast<char*>(self.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::cout.flush();
  pid_t pid = 0;
  if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int wstatus = 0;
  while (waitpid(pid, &wstatus, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  InterruptGuard::Check();
  return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

// The argument as a POSIX shell reads it back: bare when it is made of safe
// characters only, else in single quotes (a quote inside becomes '\'').
std::string Quote(const std::string& text) {
  const bool bare = !text.empty() && text.find_first_not_of(
                                         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                         "0123456789+-_./:,=@%") == std::string::npos;
  if (bare) return text;
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A command line as a shell reads it back (then `tail`, e.g. "&"), with a
// remark after "#".
void ShowCommand(const std::vector<std::string>& words, const std::string& remark = "",
                 const std::string& tail = "") {
  std::string line = "$";
  for (const std::string& w : words) line += " " + Quote(w);
  if (!tail.empty()) line += " " + tail;
  if (!remark.empty()) line += "   # " + remark;
  std::cout << "\n" << line << "\n" << std::flush;
}

std::vector<std::string> ToolCommand(const std::vector<std::string>& args) {
  std::vector<std::string> words{"tarvex"};
  words.insert(words.end(), args.begin(), args.end());
  return words;
}

// Shows a command exactly as it runs (copyable into a shell), with a remark
// after "#", and runs it; its exit status.
int Step(const std::string& self, const std::vector<std::string>& args,
         const std::string& remark = "") {
  ShowCommand(ToolCommand(args), remark);
  return RunSelf(self, args);
}

// Plays a control line to the simulator, shown as the shell command that
// does the same.
void Inject(DemoWorld& world, const std::string& line, const std::string& remark) {
  ShowCommand({"echo", line}, remark, "> " + Quote(world.control()));
  world.Control(line);
}

// 400 characters: three parts of at most 153.
std::string LongDemoText() {
  return "This is a long message from the Tarvex demo. It is longer than one SMS can carry, so "
         "Tarvex cuts it into parts of at most 153 characters, gives them one shared reference, "
         "and the phone puts them together. Watch the bar while the parts go out: part "
         "one, part two, part three. The receiving phone shows them as one message again, as if "
         "it had never been cut. That is all this message had to say. Adieu!";
}

// Two parts of at most 153 characters.
std::string TwoPartText() {
  return "This message came in two parts, and the network delivered the second part first. "
         "The watcher kept it until the first part came, joined them by sender, reference and "
         "count, and handed the message over whole.";
}

// `tarvex watch` in the background while messages arrive; the worst exit
// status of the watcher (0 after SIGTERM) and the command sent through it.
int Receive(DemoWorld& world, const std::string& self) {
  Say("Receiving: tarvex watch hands over each message that arrives");
  // Only ME, which the simulator keeps empty: the SIM's messages listed above
  // would otherwise be handed over (and deleted) first.
  const std::vector<std::string> args{"watch", "-m", "1", "--storage", "ME"};
  ShowCommand(ToolCommand(args), "in the background; the SIM's messages stay", "&");
  BackgroundWatch& watch = world.watch();
  watch.Start(self, args);
  watch.Follow([&] { return watch.watching(); }, "that it watches");

  Inject(world, "deliver from=+4915112345678 text=\"See you at 8 at the station\" storage=ME",
         "a message arrives");
  watch.Follow([&] { return watch.handed() == 1; }, "the message");
  Inject(world,
         "deliver from=+447700900123 text=\"" + TwoPartText() + "\" order=2,1 gap=400 storage=ME",
         "two parts: the second first, 0.4 s apart");
  watch.Follow([&] { return watch.handed() == 2; }, "the two-part message");

  int status =
      Step(self, {"info", "-m", "1"}, "the watcher holds the port: this goes through its socket");
  ShowCommand({"kill", "-TERM", std::to_string(watch.pid())}, "stop it: exit 0");
  kill(watch.pid(), SIGTERM);
  watch.Follow([&] { return watch.ended(); }, "its end");
  const int wstatus = watch.Stop();
  const int exit = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  std::cout << "tarvex watch exited " << exit << "\n";
  return std::max(status, exit);
}

int Tour(DemoWorld& world, const std::string& self, bool keep) {
  const fs::path sim = fs::path(self).parent_path() / "tarvex-modemsim";
  if (!fs::exists(sim)) {
    throw CommandFailure(kExitError, "the simulator is not beside the tool: " + sim.string() +
                                         " is missing (build the target tarvex-modemsim)");
  }
  Say("Starting the modem simulator");
  world.StartSimulator(sim.string(),
                       {"--demo-inbox", "--log", world.dir() + "/sent.jsonl", "--loopback",
                        kLoopbackNumber, "--ussd-delay", "300", "--control", world.control(),
                        "--report", "delivered", "--report-delay", "300"});
  std::cout << "tarvex-modemsim (pid " << world.pid() << ") serves a GSM modem on " << world.pty()
            << "\nSettings go to the private store " << world.dir() << "\n";

  Say("Configuring slot 1");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"ports", "map", kDemoPort, world.pty()},
        std::vector<std::string>{"slot", "set", "1", "--port", kDemoPort, "--baud", "115200",
                                 "--name", "Demo modem"}}) {
    std::cout << "$ tarvex";
    for (const std::string& a : args) std::cout << " " << Quote(a);
    std::cout << "\n";
    const int set_status = RunSelf(self, args);
    if (set_status != 0) {
      throw CommandFailure(
          kExitError, "configuring slot 1 failed (exit status " + std::to_string(set_status) + ")");
    }
  }

  int status = kExitOk;
  auto step = [&](const std::vector<std::string>& args, const std::string& remark = "") {
    status = std::max(status, Step(self, args, remark));
  };
  step({"info", "-m", "1"}, "opens the port, initialises the modem, asks");
  step({"ussd", "-m", "1", "*100#"}, "balance request");
  std::cout << "(" << kLoopbackNumber
            << " is the simulator's loopback: it delivers to its own inbox)\n";
  step({"send", "-m", "1", kLoopbackNumber, "Hello from Tarvex! \xE2\x82\xAC 5 {ok}"});
  step({"send", "-m", "1", kLoopbackNumber, LongDemoText()}, "400 characters: 3 parts");
  step({"send", "-m", "1", kLoopbackNumber, "Did this one arrive? Tarvex asks the network.",
        "--report", "--wait-report", "30"},
       "with a delivery report, waited for");
  {
    std::ifstream log(world.dir() + "/sent.jsonl");
    int lines = 0;
    for (std::string line; std::getline(log, line);) lines += line.empty() ? 0 : 1;
    std::cout << "The simulator logged " << lines << " PDUs sent (" << world.dir()
              << "/sent.jsonl)\n";
  }
  step({"list", "-m", "1", "--all", "--join"});

  // The first stored message, to show a deletion on it.
  std::string first_id;
  {
    ModemSession session;
    session.Open(kDemoSlot);
    const Listing listing = session.engine().ListStored(kDemoSlot, 4);
    session.Close();
    if (listing.done() && !listing.entries.empty()) {
      SMSDeliver first;
      std::string entry = listing.entries.Item(1);
      first.Decode(entry);
      first_id = first.MessageID();
    }
  }
  if (!first_id.empty()) step({"delete", "-m", "1", first_id});
  step({"storage", "-m", "1"});
  status = std::max(status, Receive(world, self));
  Say("Done: every command closed the port again");
  std::cout << "Slot 1 closed.\n";

  if (keep) {
    world.Keep();
    std::cout << "\nThe simulator keeps running (pid " << world.pid() << ") on " << world.pty()
              << ". Try it by hand:\n\n"
              << "  export TARVEX_STATE_DIR=" << world.dir() << "\n"
              << "  " << self << " slots\n"
              << "  " << self << " info -m 1\n"
              << "  " << self << " list -m 1 --all --join\n"
              << "  " << self << " send -m 1 " << kLoopbackNumber << " 'Hello again'\n"
              << "  " << self << " ussd -m 1 '*100#'\n"
              << "  " << self << " settings\n"
              << "  " << self << " watch -m 1 &     # hands over the SIM's messages, then waits\n"
              << "  echo 'deliver from=+4915112345678 text=\"Hello\"' > " << world.control() << "\n"
              << "  kill $!                 # stops the watcher\n\n"
              << "When done:\n  kill " << world.pid() << "; rm -rf " << world.dir()
              << "; unset TARVEX_STATE_DIR\n";
  } else {
    std::cout << "\nDemo finished: the simulator stopped and " << world.dir()
              << " was removed. Run 'tarvex demo --keep' to try the commands by hand.\n";
  }
  return status;
}

}  // namespace

void DefineDemo(CLI::App& demo, int& status) {
  auto keep = std::make_shared<bool>(false);
  demo.add_flag("--keep", *keep,
                "Leave the simulator and the private store in place and print the commands to "
                "try by hand");
  demo.footer("Example: tarvex demo");
  demo.callback([keep, &status] {
    status = RunModemCommand([&] {
      const std::string self = SelfPath();
      DemoWorld world(*keep);
      return Tour(world, self, *keep);
    });
  });
}

}  // namespace tarvex::cli
