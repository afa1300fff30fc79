// `tarvex demo`: the whole job against the modem simulator, with nothing on
// the machine touched.  It starts tarvex-modemsim (built beside this tool) on
// a pseudo-terminal, points a private settings store (a temporary
// TARVEX_STATE_DIR) at it, and then runs, as the tool itself in a child
// process, every command it shows: what it prints is what it ran, so a user
// can copy each line.
//
// Cleanup is one object's destructor: the simulator is stopped and the
// temporary directory removed on every path, Ctrl-C included; only a tour
// that finished with --keep leaves both for the user to try.
#include <fcntl.h>
#include <limits.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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

// The simulator process and the temporary store, gone when this goes.
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
    if (keep_) return;
    StopSimulator();
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  DemoWorld(const DemoWorld&) = delete;
  DemoWorld& operator=(const DemoWorld&) = delete;

  const std::string& dir() const { return dir_; }
  const std::string& pty() const { return pty_; }
  pid_t pid() const { return pid_; }
  void Keep() { keep_ = true; }

  void StartSimulator(const std::string& path, const std::vector<std::string>& options) {
    const std::string out = dir_ + "/modemsim.out";
    const std::string err = dir_ + "/modemsim.err";
    pid_ = fork();
    if (pid_ < 0) throw CommandFailure(kExitError, "cannot start the simulator (fork failed)");
    if (pid_ == 0) {
      // Its own session: Ctrl-C reaches only the tool, which stops it in
      // order.  Unless it is to outlive the tour, it also dies with the tool.
      setsid();
      if (!detach_) prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int in = open("/dev/null", O_RDONLY);
      const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || o < 0 || e < 0) _exit(127);
      dup2(in, 0);
      dup2(o, 1);
      dup2(e, 2);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(path.c_str()));
      for (const std::string& a : options) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(path.c_str(), argv.data());
      _exit(127);
    }
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

 private:
  void StopSimulator() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {  // at most 2 s, then no more asking
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

  bool detach_;
  bool keep_ = false;
  std::string dir_;
  std::string pty_;
  pid_t pid_ = -1;
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

// Shows a command exactly as it runs (copyable into a shell), with a remark
// after "#", and runs it; its exit status.
int Step(const std::string& self, const std::vector<std::string>& args,
         const std::string& remark = "") {
  std::string line = "$ tarvex";
  for (const std::string& a : args) line += " " + Quote(a);
  if (!remark.empty()) line += "   # " + remark;
  std::cout << "\n" << line << "\n" << std::flush;
  return RunSelf(self, args);
}

// 400 characters: three parts of at most 153.
std::string LongDemoText() {
  return "This is a long message from the Tarvex demo. It is longer than one SMS can carry, so "
         "Tarvex cuts it into parts of at most 153 characters, gives them one shared reference, "
         "and the phone puts them together. Watch the bar while the parts go out: part "
         "one, part two, part three. The receiving phone shows them as one message again, as if "
         "it had never been cut. That is all this message had to say. Adieu!";
}

int Tour(DemoWorld& world, const std::string& self, bool keep) {
  const fs::path sim = fs::path(self).parent_path() / "tarvex-modemsim";
  if (!fs::exists(sim)) {
    throw CommandFailure(kExitError, "the simulator is not beside the tool: " + sim.string() +
                                         " is missing (build the target tarvex-modemsim)");
  }
  Say("Starting the modem simulator");
  world.StartSimulator(sim.string(), {"--demo-inbox", "--log", world.dir() + "/sent.jsonl",
                                      "--loopback", kLoopbackNumber, "--ussd-delay", "300"});
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
              << "  " << self << " settings\n\n"
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
