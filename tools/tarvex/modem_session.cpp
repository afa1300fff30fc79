#include "modem_session.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>

#include "engine/modem_errors.h"
#include "engine/modem_status.h"
#include "platform/forwarding_port.h"
#include "platform/posix/socket_port.h"
#include "platform/tracing_port.h"
#include "store.h"
#include "tarvex/error.h"
#include "tarvex/mdl_public.h"
#include "ui/settings_tui.h"

namespace tarvex::cli {
namespace {

volatile sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
  if (g_interrupted) {
    // The user insists: leave now; the kernel closes the port.
    const char kNewline[] = "\n";
    (void)!write(STDERR_FILENO, kNewline, 1);
    _exit(kExitInterrupted);
  }
  g_interrupted = 1;
}

void OnBrokenPipe(int) { g_interrupted = 1; }

SessionDevices g_devices;

// The tool has no event loop; its pump is where a pending Ctrl-C surfaces.
class InterruptPump : public MessagePump {
 public:
  void DoEvents() override { InterruptGuard::Check(); }
};

}  // namespace

// The slot's device, or the running `tarvex watch` of the slot when there is
// one: the line settings go to the device's port object as always (so their
// errors are the port's own), the modem's bytes through the watcher.
class ModemSession::RoutedPort : public SerialPort {
 public:
  // `given`, when a test gave one, stands for the device.
  RoutedPort(RegistryBackend& store, std::unique_ptr<SerialPort> given)
      : port_(store), given_(std::move(given)) {}

  std::string path() const { return watcher_ ? watcher_->path() : port_.device(); }
  // The modem through a running watcher instead of the device (nullptr: the device).
  void UseWatcher(std::unique_ptr<posix::SocketPort> watcher) { watcher_ = std::move(watcher); }

  void SetCommPort(int16_t port) override { device().SetCommPort(port); }
  int16_t CommPort() const override { return device().CommPort(); }
  void SetSettings(const std::string& settings) override { device().SetSettings(settings); }
  std::string Settings() const override { return device().Settings(); }
  void SetHandshaking(int32_t mode) override { device().SetHandshaking(mode); }
  void SetRThreshold(int16_t threshold) override { device().SetRThreshold(threshold); }
  void SetSThreshold(int16_t threshold) override { device().SetSThreshold(threshold); }
  void SetRTSEnable(bool enable) override { device().SetRTSEnable(enable); }
  void SetPortOpen(bool open) override {
    io().SetPortOpen(open);
    if (!open) watcher_.reset();
  }
  bool PortOpen() const override { return watcher_ ? watcher_->PortOpen() : device().PortOpen(); }
  void SetInputLen(int16_t length) override { io().SetInputLen(length); }
  void Output(std::string_view data) override { io().Output(data); }
  std::string Input() override { return io().Input(); }
  bool WaitForInput(uint32_t timeout_ms) override { return io().WaitForInput(timeout_ms); }

 private:
  SerialPort& device() { return given_ ? *given_ : static_cast<SerialPort&>(port_); }
  const SerialPort& device() const {
    return given_ ? *given_ : static_cast<const SerialPort&>(port_);
  }
  SerialPort& io() { return watcher_ ? static_cast<SerialPort&>(*watcher_) : device(); }

  posix::TermiosPort port_;
  std::unique_ptr<SerialPort> given_;
  std::unique_ptr<posix::SocketPort> watcher_;
};

namespace {

// The port as the tool uses it: a pending Ctrl-C ends its waits and stops its
// writes, also during the modem's initialisation, which runs no message pump.
class InterruptiblePort : public ForwardingPort {
 public:
  static constexpr uint32_t kLongestWaitMs = 1000;
  using ForwardingPort::ForwardingPort;
  void Output(std::string_view data) override {
    InterruptGuard::Check();
    ForwardingPort::Output(data);
  }
  // A Ctrl-C landing between the check and the wait is only seen when the
  // wait ends, which for a USSD request may be a minute away; waiting at most
  // a second at a time bounds that (the engine's loops simply wait again).
  bool WaitForInput(uint32_t timeout_ms) override {
    InterruptGuard::Check();
    const bool ready = ForwardingPort::WaitForInput(std::min(timeout_ms, kLongestWaitMs));
    InterruptGuard::Check();
    return ready;
  }
};

}  // namespace

// ---------------------------------------------------------------------------

InterruptGuard::InterruptGuard() {
  g_interrupted = 0;
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked poll returns at once
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A reader that went away (`tarvex list | head -1`) stops the command the
  // same way: the port is closed, the demo cleans up, and nothing more is
  // deleted, since what follows could not be shown.
  action.sa_handler = OnBrokenPipe;
  sigaction(SIGPIPE, &action, nullptr);
}

InterruptGuard::~InterruptGuard() {
  signal(SIGINT, SIG_DFL);
  signal(SIGTERM, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
}

void InterruptGuard::Check() {
  if (g_interrupted) throw Error(kInterrupted, "interrupted");
}

// ---------------------------------------------------------------------------

bool IsTerminal(int fd) { return isatty(fd) == 1; }

ProgressBar::ProgressBar(bool enabled) : enabled_(enabled && IsTerminal(STDERR_FILENO)) {}

ProgressBar::~ProgressBar() {
  if (drawn_) std::cerr << "\n" << std::flush;
}

namespace {

std::string Bar(int filled_of_24) {
  std::string bar = "[";
  for (int i = 0; i < 24; ++i) bar += i < filled_of_24 ? '#' : '.';
  return bar + "]";
}

}  // namespace

void ProgressBar::Show(int part, int total, const std::string& caption) {
  if (!enabled_ || total <= 0) return;
  const int filled = 24 * (part - 1) / total;
  std::cerr << "\r\033[K" << Bar(filled) << " part " << part << " of " << total << "  " << caption
            << std::flush;
  drawn_ = true;
}

void ProgressBar::Finish(const std::string& caption) {
  if (!drawn_) return;
  std::cerr << "\r\033[K" << Bar(24) << " " << caption << "\n" << std::flush;
  drawn_ = false;
}

int StatusFor(Answer::Outcome outcome) {
  switch (outcome) {
    case Answer::kDone:
      return kExitOk;
    case Answer::kRefused:
      return kExitFailure;
    case Answer::kNoAnswer:
      break;
  }
  return kExitTimeout;
}

std::string Why(const Answer& answer) {
  if (answer.outcome == Answer::kNoAnswer) return "no answer";
  return DescribeModemError(answer.error);
}

// ---------------------------------------------------------------------------

void SetSessionDevices(SessionDevices devices) { g_devices = std::move(devices); }

ModemSession::ModemSession(SessionOptions options)
    : ModemSession(posix::SqliteRegistry::OpenDefault(), options) {}

ModemSession::ModemSession(std::unique_ptr<posix::SqliteRegistry> store, SessionOptions options)
    : store_(std::move(store)), pump_(std::make_unique<InterruptPump>()) {
  Tarvex::Ports ports;
  for (int i = 0; i < Tarvex::kSlotCount; ++i) {
    auto routed = std::make_unique<RoutedPort>(
        *store_, g_devices.port ? g_devices.port(static_cast<int16_t>(i)) : nullptr);
    routed_[i] = routed.get();
    std::unique_ptr<SerialPort> port = std::move(routed);
    if (options.trace) {
      // The PIN never reaches the trace (nor, through it, a log).
      port = std::make_unique<TracingPort>(
          std::move(port), std::cerr, [r = routed_[i]] { return r->path(); }, MaskSecrets);
    }
    ports[static_cast<size_t>(i)] = std::make_unique<InterruptiblePort>(std::move(port));
  }
  engine_ = std::make_unique<Tarvex>(
      std::move(ports), g_devices.clock ? *g_devices.clock : static_cast<Clock&>(clock_), *store_);
  engine_->SetMessagePump(pump_.get());
  // Setting shows the dialog in the terminal; off a terminal the dialog
  // refuses with a message, which is all a script can be offered.
  user_settings_ = std::make_unique<RegistryUserSettings>(*store_);
  engine_->SetSettingsDialog([this] { ui::RunSettingsDialog(*store_, *user_settings_); });
  if (options.command_timeout_ms != 0) engine_->SetCommandTimeout(options.command_timeout_ms);
  // Refusals with their reasons: the tool prints them.
  engine_->SetExtendedErrors(true);
}

ModemSession::~ModemSession() {
  try {
    Close();
  } catch (...) {
    // Nothing useful to say while unwinding; the kernel closes what is left.
  }
}

std::string ModemSession::DescribePort(int16_t slot) {
  const std::string port = mdlPublic::GetPortSetting(*store_, slot);
  std::string text = "port " + port;
  try {
    const int n = std::stoi(port);
    text += " (" + posix::TermiosPort::ResolveDevice(*store_, static_cast<int16_t>(n)) + ")";
  } catch (const std::exception&) {
    // Not a number: DeviceOpen will say so through the port's error.
  }
  return text;
}

void ModemSession::Open(int16_t slot, SimNeed need) {
  const std::string where = "slot " + std::to_string(slot);
  if (slot < 0 || slot >= Tarvex::kSlotCount) {
    throw CommandFailure(kExitUsage, "there is no " + where + " (slots are 0 to 4)");
  }
  CheckStore(*store_);
  if (mdlPublic::GetPortSetting(*store_, slot).empty()) {
    // Slot 0 is the engine's, configured only by programs that write dvp0
    // themselves; the tool and the dialog configure 1 to 4.
    throw CommandFailure(
        kExitNoModem, where + " has no port configured; " +
                          (slot == 0 ? "the tool configures slots 1 to 4, e.g." : "set one with") +
                          "\n  tarvex slot set " + std::to_string(slot == 0 ? 1 : slot) +
                          " --port P --baud 115200");
  }
  RoutedPort& port = *routed_[slot];
  // A running `tarvex watch` holds this slot's device: talk through it.
  port.UseWatcher(posix::SocketPort::ConnectWatcher(slot));
  SlotOpening opening = engine_->OpenSlot(slot);
  if (opening.outcome == SlotOpening::kRefused) {
    // A refused initialisation is often a SIM that is locked or still
    // starting: ask it, wait out "busy", and try the initialisation again
    // once the SIM is ready.
    const PinState sim = engine_->AwaitSim(slot, kSimBusyWaitMs);
    if (sim.waited_busy && sim.ready()) {
      engine_->DeviceClose(slot);
      port.UseWatcher(posix::SocketPort::ConnectWatcher(slot));
      opening = engine_->OpenSlot(slot);
    } else if (!sim.ready() && sim.done()) {
      if (need == SimNeed::kAny) {
        // The SIM is what refused: `pin` and `status` work on it as it is.
        slot_ = slot;
        return;
      }
      engine_->DeviceClose(slot);
      CheckSim(slot, sim, need);
    }
  }
  const std::string described = DescribePort(slot);
  switch (opening.outcome) {
    case SlotOpening::kOpened:
      slot_ = slot;
      CheckSim(slot, engine_->AwaitSim(slot, kSimBusyWaitMs), need);
      return;
    case SlotOpening::kNoPort:
      throw CommandFailure(kExitNoModem, where +
                                             " has no port configured; set one with\n"
                                             "  tarvex slot set " +
                                             std::to_string(slot) + " --port P --baud 115200");
    case SlotOpening::kPortError:
      throw CommandFailure(kExitNoModem, "could not open " + described + " for " + where + ": " +
                                             opening.error_message + " (error " +
                                             std::to_string(opening.error_number) + ")");
    case SlotOpening::kRefused:
      // The engine leaves such a port open, as DeviceOpen always has.
      engine_->DeviceClose(slot);
      throw CommandFailure(kExitNoModem,
                           "the modem on " + described +
                               " refused its initialisation (ATE0, AT+CMGF=0, AT+CMEE=0 answered "
                               "ERROR); is it a GSM modem in command mode?");
    case SlotOpening::kSilent:
      break;
  }
  throw CommandFailure(kExitNoModem, "the modem on " + described +
                                         " did not initialise: no answer within 5 s; check the "
                                         "device, the baud rate and that the modem is on");
}

void ModemSession::CheckSim(int16_t slot, const PinState& sim, SimNeed need) {
  if (need == SimNeed::kAny) return;
  const std::string n = std::to_string(slot);
  std::string why;
  if (sim.needs_pin() || (sim.outcome == Answer::kRefused &&
                          ((sim.error.kind == FinalCode::kCmeError && sim.error.number == 11) ||
                           (sim.error.kind == FinalCode::kCmsError && sim.error.number == 311)))) {
    why = "SIM PIN required: run tarvex pin -m " + n;
  } else if (sim.needs_puk()) {
    why = "the SIM asks for its PUK (" + sim.code +
          "): too many wrong PINs; unblock it with the PUK in a phone";
  } else if (sim.busy()) {
    why = "the SIM stayed busy for " + std::to_string(kSimBusyWaitMs / 1000) + " s (" + Why(sim) +
          "); try again in a moment";
  } else if (sim.done() && !sim.ready() && !sim.code.empty()) {
    why = "the SIM is locked (" + sim.code + "); tarvex pin enters only the SIM PIN";
  } else {
    return;  // ready, or a modem that does not say: the command finds out
  }
  Close();
  throw CommandFailure(kExitNoModem, why);
}

void ModemSession::Close() {
  if (slot_ < 0) return;
  const int16_t slot = slot_;
  slot_ = -1;
  if (!engine_->DeviceClose(slot) && routed_[slot]->PortOpen()) {
    routed_[slot]->SetPortOpen(false);
  }
  ReportIndications();
}

void ModemSession::ReportIndications() {
  for (const Indication& i : engine_->TakeIndications()) {
    const std::string line = i.text.substr(0, i.text.find('\r'));
    const char* what = line.starts_with("+CMTI:")  ? "a new message was stored"
                       : line.starts_with("+CMT:") ? "a message was delivered to the tool"
                                                   : "a status report arrived";
    std::cerr << "tarvex: note: " << what << " on slot " << i.ModemID << " (" << Printable(i.text)
              << ")\n";
  }
}

// ---------------------------------------------------------------------------

int RunModemCommand(const std::function<int()>& body) {
  InterruptGuard guard;
  try {
    return body();
  } catch (const CommandFailure& e) {
    std::cout.flush();
    std::cerr << "tarvex: " << e.what() << "\n";
    return e.status();
  } catch (const Error& e) {
    std::cout.flush();
    if (e.number() == kInterrupted) {
      std::cerr << "tarvex: interrupted; the port was closed\n";
      return kExitInterrupted;
    }
    if (e.number() == kPortNotOpen) {
      std::cerr << "tarvex: the modem's port closed during the command (" << e.what()
                << "; did the device go away?)\n";
      return kExitError;
    }
    std::cerr << "tarvex: " << e.what() << " (error " << e.number() << ")\n";
    return kExitError;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << "tarvex: " << e.what() << "\n";
    return kExitError;
  }
}

int RunOnSlot(int slot, SessionOptions options, ModemSession::SimNeed need,
              const std::function<int(ModemSession&, int16_t)>& body, const SlotHooks& hooks) {
  return RunModemCommand([&] {
    const auto n = static_cast<int16_t>(slot);
    std::unique_ptr<ModemSession> session;
    try {
      if (hooks.check) hooks.check();
      session = std::make_unique<ModemSession>(options);
      if (hooks.configure) hooks.configure(*session);
      session->Open(n, need);
    } catch (const std::exception& e) {
      if (hooks.failed) hooks.failed(e);
      throw;
    }
    // When the body throws, the session's destructor closes the slot.
    const int result = body(*session, n);
    session->Close();
    return result;
  });
}

void AddSlotOption(CLI::App* command, int& slot) {
  command
      ->add_option("-m,--modem", slot,
                   "Modem slot: 1-4 as set with 'tarvex slot set' (0 when a program stored "
                   "slot 0's port)")
      ->required()
      ->check(CLI::Range(0, 4));
}

void AddTraceOption(CLI::App* command, bool& trace) {
  command->add_flag("--trace", trace, "Print the AT dialogue with the modem on stderr");
}

std::shared_ptr<SlotArgs> AddSlotArgs(CLI::App& command, const char* json_help) {
  auto args = std::make_shared<SlotArgs>();
  AddSlotOption(&command, args->slot);
  command.add_flag("--json", args->json, json_help);
  AddTraceOption(&command, args->trace);
  return args;
}

}  // namespace tarvex::cli
