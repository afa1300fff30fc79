#include "modem_session.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <iostream>

#include "common/error.h"
#include "config/mdl_public.h"
#include "engine/modem_errors.h"
#include "platform/forwarding_port.h"
#include "platform/tracing_port.h"
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

// The tool has no event loop; its pump is where a pending Ctrl-C surfaces.
class InterruptPump : public MessagePump {
 public:
  void DoEvents() override { InterruptGuard::Check(); }
};

// The termios port as the tool uses it: a pending Ctrl-C ends its waits and
// stops its writes, also during the modem's initialisation, which runs no
// message pump.
class InterruptiblePort : public ForwardingPort {
 public:
  using ForwardingPort::ForwardingPort;
  void Output(std::string_view data) override {
    InterruptGuard::Check();
    ForwardingPort::Output(data);
  }
  bool WaitForInput(uint32_t timeout_ms) override {
    InterruptGuard::Check();
    const bool ready = ForwardingPort::WaitForInput(timeout_ms);
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

bool InterruptGuard::Requested() { return g_interrupted != 0; }

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

ModemSession::ModemSession(SessionOptions options)
    : ModemSession(posix::SqliteRegistry::OpenDefault(), options) {}

ModemSession::ModemSession(std::unique_ptr<posix::SqliteRegistry> store, SessionOptions options)
    : store_(std::move(store)), pump_(std::make_unique<InterruptPump>()) {
  Tarvex::Ports ports;
  for (auto& slot_port : ports) {
    auto termios = std::make_unique<posix::TermiosPort>(*store_);
    const posix::TermiosPort* device = termios.get();
    std::unique_ptr<SerialPort> port = std::move(termios);
    if (options.trace) {
      port = std::make_unique<TracingPort>(std::move(port), std::cerr,
                                           [device] { return device->device(); });
    }
    slot_port = std::make_unique<InterruptiblePort>(std::move(port));
  }
  engine_ = std::make_unique<Tarvex>(std::move(ports), clock_, *store_);
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

void ModemSession::Open(int16_t slot) {
  const std::string where = "slot " + std::to_string(slot);
  if (slot < 0 || slot >= Tarvex::kSlotCount) {
    throw CommandFailure(kExitUsage, "there is no " + where + " (slots are 0 to 4)");
  }
  const SlotOpening opening = engine_->OpenSlot(slot);
  switch (opening.outcome) {
    case SlotOpening::kOpened:
      slot_ = slot;
      return;
    case SlotOpening::kNoPort:
      throw CommandFailure(kExitNoModem,
                           where + " has no port configured; set one with\n  tarvex slot set " +
                               std::to_string(slot) + " --port P --baud 115200");
    case SlotOpening::kPortError:
      throw CommandFailure(kExitNoModem, "could not open " + DescribePort(slot) + " for " + where +
                                             ": " + opening.error_message + " (error " +
                                             std::to_string(opening.error_number) + ")");
    case SlotOpening::kRefused:
      // The engine leaves such a port open, as DeviceOpen always has.
      engine_->DeviceClose(slot);
      throw CommandFailure(kExitNoModem,
                           "the modem on " + DescribePort(slot) +
                               " refused its initialisation (ATE0, AT+CMGF=0, AT+CMEE=0 answered "
                               "ERROR); is it a GSM modem in command mode?");
    case SlotOpening::kSilent:
      break;
  }
  throw CommandFailure(kExitNoModem, "the modem on " + DescribePort(slot) +
                                         " did not initialise: no answer within 5 s; check the "
                                         "device, the baud rate and that the modem is on");
}

void ModemSession::Close() {
  if (slot_ < 0) return;
  const int16_t slot = slot_;
  slot_ = -1;
  if (!engine_->DeviceClose(slot) && engine_->Device(slot).PortOpen()) {
    engine_->Device(slot).SetPortOpen(false);
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

void AddSlotOption(CLI::App* command, int& slot) {
  command->add_option("-m,--modem", slot, "Modem slot (1-4, as set with 'tarvex slot set')")
      ->required()
      ->check(CLI::Range(0, 4));
}

void AddTraceOption(CLI::App* command, bool& trace) {
  command->add_flag("--trace", trace, "Print the AT dialogue with the modem on stderr");
}

}  // namespace tarvex::cli
