// What every modem command of the tool shares: the engine built on the POSIX
// platform (settings store, termios ports, steady clock), opening a slot with
// a message that says why it failed, closing it on every path, Ctrl-C, the
// progress bar and the mapping of results and errors to exit statuses.
//
// Ownership: a ModemSession owns its store, the engine and (through the
// engine) the five ports; it closes the slot it opened when destroyed, so a
// command that fails or is interrupted still releases the port.
// Threads: the tool's one thread.  The SIGINT handler only sets a flag; the
// engine notices it at its next poll (through the message pump and the port's
// wait) and unwinds with Error(kInterrupted).
// Failures: CommandFailure carries the message and exit status for the user;
// RunModemCommand turns it and tarvex::Error into a printed line and a status;
// RunOnSlot is how every command that works on one slot opens and closes it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

#include "commands.h"
#include "platform/posix/posix_platform.h"
#include "tarvex/engine.h"

namespace tarvex::cli {

// A failure the tool explains itself: the message is printed as is.
class CommandFailure : public std::runtime_error {
 public:
  CommandFailure(int status, const std::string& message)
      : std::runtime_error(message), status_(status) {}
  int status() const { return status_; }

 private:
  int status_;
};

// SIGINT / SIGTERM set a flag instead of killing the tool, so ports get closed
// and the demo's simulator and temporary store get removed.  A second Ctrl-C
// while the first is still being handled exits at once (the kernel then closes
// the port).  Installed for the life of the object.
class InterruptGuard {
 public:
  InterruptGuard();
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // Raises Error(kInterrupted) when Ctrl-C was pressed.
  static void Check();
};

// A progress bar on stderr, drawn only when stderr is a terminal.  Finish()
// (also run by the destructor) ends the line so the shell prompt and later
// messages start on a clean line, whatever happened.
class ProgressBar {
 public:
  explicit ProgressBar(bool enabled);
  ~ProgressBar();
  // Part `part` of `total` is about to go out.
  void Show(int part, int total, const std::string& caption);
  void Finish(const std::string& caption);
  bool enabled() const { return enabled_; }

 private:
  bool enabled_;
  bool drawn_ = false;
};

bool IsTerminal(int fd);

// 0 done, 1 refused (by the modem or the network), 4 no answer.
int StatusFor(Answer::Outcome outcome);
// Why an operation failed, for a message: "+CMS ERROR 38: network out of
// order", "ERROR", or "no answer".
std::string Why(const Answer& answer);

// Where the sessions created from now on get their modems and time: tests
// put a scripted port per slot and a fake clock in place of the slots'
// devices and the steady clock (nullptr / null: those, as in the tool).
struct SessionDevices {
  std::function<std::unique_ptr<SerialPort>(int16_t slot)> port;
  Clock* clock = nullptr;
};
void SetSessionDevices(SessionDevices devices);

struct SessionOptions {
  bool trace = false;               // print the AT dialogue on stderr
  uint32_t command_timeout_ms = 0;  // 0: the engine's default
};

class ModemSession {
 public:
  explicit ModemSession(SessionOptions options = {});
  // Over a store the caller already opened (the demo's private one).
  ModemSession(std::unique_ptr<posix::SqliteRegistry> store, SessionOptions options);
  ~ModemSession();
  ModemSession(const ModemSession&) = delete;
  ModemSession& operator=(const ModemSession&) = delete;

  Tarvex& engine() { return *engine_; }
  posix::SqliteRegistry& store() { return *store_; }

  // How long the open waits for a SIM that answers "busy" (still starting).
  static constexpr uint32_t kSimBusyWaitMs = 20000;
  // What a command needs of the SIM: unlocked (every command that uses the
  // network or the storage), or anything (`status`, `pin`).
  enum class SimNeed { kUnlocked, kAny };

  // Opens the slot and says why when it does not open: raises
  // CommandFailure(kExitNoModem) naming the engine's outcome (no port, the
  // port's error, a refusal, silence), or (with kUnlocked) the SIM wants its PIN ("SIM PIN
  // required: run tarvex pin -m N"), a PUK, or stayed busy.  A SIM that
  // answers "busy" is asked again for up to kSimBusyWaitMs.  A slot that
  // answered ERROR is closed again.
  void Open(int16_t slot, SimNeed need = SimNeed::kUnlocked);
  // DeviceClose of the opened slot (nothing when none is open); then the
  // notices the modem sent meanwhile (a new message, a status report) are
  // named on stderr, since the tool keeps no receiver of its own.
  void Close();
  int16_t slot() const { return slot_; }
  // "port 1 (/dev/pts/4)" for messages.
  std::string DescribePort(int16_t slot);

 private:
  class RoutedPort;

  void ReportIndications();
  void CheckSim(int16_t slot, const PinState& sim, SimNeed need);

  std::unique_ptr<posix::SqliteRegistry> store_;
  std::unique_ptr<RegistryUserSettings> user_settings_;
  posix::SteadyClock clock_;
  std::unique_ptr<MessagePump> pump_;
  std::unique_ptr<Tarvex> engine_;
  RoutedPort* routed_[Tarvex::kSlotCount] = {};
  int16_t slot_ = -1;
};

// Runs a command body with Ctrl-C handling and turns every failure into a
// message on stderr and the documented exit status.
int RunModemCommand(const std::function<int()>& body);

// What a modem command does around opening its slot, each step optional.
struct SlotHooks {
  std::function<void()> check;                        // before the session: the command's input
  std::function<void(ModemSession&)> configure;       // the session before the open
  std::function<void(const std::exception&)> failed;  // a failure of the above or the open
};

// The one way a modem command runs: under RunModemCommand, a new session opens
// `slot` (with `need` of its SIM), runs `body` on it and closes the slot on
// every path.  Hooks' failures and the open's reach `hooks.failed` first, where
// a --json command prints its one object.
int RunOnSlot(int slot, SessionOptions options, ModemSession::SimNeed need,
              const std::function<int(ModemSession&, int16_t)>& body, const SlotHooks& hooks = {});

// The "-m N" option every modem command takes, checked to 0..4.
void AddSlotOption(CLI::App* command, int& slot);
void AddTraceOption(CLI::App* command, bool& trace);

// -m, --json and --trace, the options of a modem command with one answer to
// print; shared with the command's action, which reads them once parsed.
struct SlotArgs {
  int slot = 1;
  bool json = false;
  bool trace = false;
};
std::shared_ptr<SlotArgs> AddSlotArgs(CLI::App& command,
                                      const char* json_help = "Print one JSON object");

}  // namespace tarvex::cli
