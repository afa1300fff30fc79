// `tarvex status` (SIM, signal, registration, operator, service centre,
// storage use) and `tarvex pin` (enter the SIM PIN).  Both open a slot whose
// SIM may be locked; every other modem command refuses such a slot.
//
// The PIN comes from TARVEX_PIN, else from the terminal with echo off, else
// from the first line of stdin; never from the command line, where the
// process list would show it.  The trace masks it (MaskSecrets), and the
// tool's buffer is wiped once the modem has it.
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "commands.h"
#include "entry_json.h"
#include "modem_actions.h"
#include "modem_session.h"
#include "tarvex/error.h"

namespace tarvex::cli {
namespace {

using Json = nlohmann::ordered_json;

// "unknown (+CMS ERROR 311: SIM PIN required)" for a query that failed.
std::string Unknown(const Answer& a) { return "unknown (" + Why(a) + ")"; }

std::string SignalText(const SignalQuality& s) {
  if (!s.done()) return Unknown(s);
  if (!s.known())
    return "unknown (the modem measures no signal: +CSQ " + std::to_string(s.rssi) + ")";
  return std::to_string(s.dBm()) + " dBm" +
         (s.rssi == 0    ? " or less"
          : s.rssi == 31 ? " or more"
                         : "") +
         ", " + std::to_string(s.Bars()) + " of 5 bars";
}

std::string RegistrationText(const Registration& r) {
  if (!r.done()) return Unknown(r);
  if (r.stat < 0) return "unknown (an answer tarvex does not read)";
  std::string text = r.StatusText();
  if (text.empty()) text = "status " + std::to_string(r.stat);
  if (!r.lac.empty()) text += ", LAC " + r.lac;
  if (!r.cell.empty()) text += ", cell " + r.cell;
  return text;
}

std::string SimText(const PinState& sim, const PinTries& tries) {
  if (!sim.done()) return Unknown(sim);
  if (sim.code.empty()) return "unknown (an answer tarvex does not read)";
  std::string text = sim.ready() ? "ready" : sim.code;
  if (tries.pin >= 0 && !sim.ready()) text += ", " + std::to_string(tries.pin) + " PIN tries left";
  if (tries.puk >= 0 && sim.needs_puk())
    text += ", " + std::to_string(tries.puk) + " PUK tries left";
  return text;
}

// JSON: the value, or null with the failure under "Errors".
template <typename Value>
Json Field(const Answer& a, bool known, Value value, const char* key, Json& errors) {
  if (!a.done()) errors[key] = ModemErrorJson(a);
  return a.done() && known ? Json(value) : Json(nullptr);
}

int ShowStatus(ModemSession& session, int16_t slot, bool json) {
  Tarvex& engine = session.engine();
  const PinState sim = engine.ReadPinState(slot);
  const PinTries tries = sim.done() && !sim.ready() ? engine.ReadPinTries(slot) : PinTries{};
  const SignalQuality signal = engine.ReadSignal(slot);
  const Registration reg = engine.ReadRegistration(slot);
  const OperatorName op = engine.ReadOperator(slot);
  const ServiceCentre sca = engine.ReadServiceCentre(slot);
  const StorageUse storage = engine.ReadStorageUse(slot);
  int status = kExitOk;
  for (const Answer* a :
       std::initializer_list<const Answer*>{&sim, &signal, &reg, &op, &sca, &storage}) {
    status = std::max(status, StatusFor(a->outcome));
  }

  if (json) {
    Json errors = Json::object();
    Json j = {{"ModemID", slot}, {"Port", session.DescribePort(slot)}};
    j["SIM"] = Field(sim, !sim.code.empty(), sim.code, "SIM", errors);
    j["PinTries"] = tries.pin >= 0 ? Json(tries.pin) : Json(nullptr);
    j["PukTries"] = tries.puk >= 0 ? Json(tries.puk) : Json(nullptr);
    Json sig = nullptr;
    if (signal.done()) {
      sig = {{"RSSI", signal.rssi}, {"BER", signal.ber}};
      sig["dBm"] = signal.known() ? Json(signal.dBm()) : Json(nullptr);
      sig["Bars"] = signal.known() ? Json(signal.Bars()) : Json(nullptr);
    } else {
      errors["Signal"] = ModemErrorJson(signal);
    }
    j["Signal"] = sig;
    Json r = nullptr;
    if (reg.done() && reg.stat >= 0) {
      r = {{"Status", reg.StatusText()}, {"Code", reg.stat}};
      r["LAC"] = reg.lac.empty() ? Json(nullptr) : Json(reg.lac);
      r["Cell"] = reg.cell.empty() ? Json(nullptr) : Json(reg.cell);
      r["AccessTechnology"] = reg.act >= 0 ? Json(reg.act) : Json(nullptr);
    } else if (!reg.done()) {
      errors["Registration"] = ModemErrorJson(reg);
    }
    j["Registration"] = r;
    j["Operator"] = Field(op, op.mode >= 0, op.name, "Operator", errors);
    j["ServiceCentre"] = Field(sca, !sca.number.empty(), sca.number, "ServiceCentre", errors);
    Json memories = Json::array();
    for (const StorageUse::Memory& m : storage.memories) {
      memories.push_back({{"Name", m.name}, {"Used", m.used}, {"Total", m.total}});
    }
    j["Storage"] = Field(storage, !storage.memories.empty(), memories, "Storage", errors);
    if (!errors.empty()) j["Errors"] = errors;
    std::cout << JsonLine(j) << "\n";
    return status;
  }

  std::string memories;
  for (const StorageUse::Memory& m : storage.memories) {
    memories += (memories.empty() ? "" : ", ") + m.name + " " + std::to_string(m.used) + " of " +
                std::to_string(m.total);
  }
  const std::pair<const char*, std::string> rows[] = {
      {"SIM", SimText(sim, tries)},
      {"Signal", SignalText(signal)},
      {"Registration", RegistrationText(reg)},
      {"Operator", !op.done()        ? Unknown(op)
                   : op.mode < 0     ? "unknown"
                   : op.name.empty() ? "(none)"
                                     : op.name},
      {"Service centre", !sca.done()          ? Unknown(sca)
                         : sca.number.empty() ? "unknown"
                                              : sca.number},
      {"Storage", !storage.done()    ? Unknown(storage)
                  : memories.empty() ? "unknown"
                                     : memories},
  };
  std::cout << "Slot " << slot << " on " << session.DescribePort(slot) << "\n";
  for (const auto& [caption, value] : rows) {
    std::cout << "  " << caption << std::string(16 - std::string(caption).size(), ' ') << value
              << "\n";
  }
  return status;
}

// Echo off on the terminal for the life of the object, back on every path.
class NoEcho {
 public:
  explicit NoEcho(int fd) : fd_(fd) {
    if (tcgetattr(fd_, &saved_) != 0) return;
    termios quiet = saved_;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    quiet.c_lflag |= ECHONL;
    active_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
  }
  ~NoEcho() {
    if (active_) tcsetattr(fd_, TCSAFLUSH, &saved_);
  }
  NoEcho(const NoEcho&) = delete;
  NoEcho& operator=(const NoEcho&) = delete;

 private:
  int fd_;
  termios saved_{};
  bool active_ = false;
};

// One line from fd, read byte by byte so that nothing after it is taken;
// a Ctrl-C while waiting ends the command (the port is closed).
std::string ReadLine(int fd) {
  std::string line;
  for (char c; line.size() < 64;) {
    const ssize_t got = read(fd, &c, 1);
    if (got < 0) {
      InterruptGuard::Check();
      if (errno == EINTR) continue;
      break;  // an input that cannot be read gives no PIN
    }
    if (got == 0 || c == '\n') break;
    line += c;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

void Wipe(std::string& secret) {
  volatile char* p = secret.data();
  for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
  secret.clear();
}

std::string ReadPin(int16_t slot, const PinTries& tries) {
  if (const char* env = std::getenv("TARVEX_PIN"); env != nullptr && *env != '\0') return env;
  if (!IsTerminal(STDIN_FILENO)) return ReadLine(STDIN_FILENO);
  std::cerr << "SIM PIN for slot " << slot;
  if (tries.pin >= 0)
    std::cerr << " (" << tries.pin << (tries.pin == 1 ? " try" : " tries") << " left)";
  std::cerr << ": " << std::flush;
  NoEcho quiet(STDIN_FILENO);
  return ReadLine(STDIN_FILENO);
}

bool IsPin(const std::string& pin) {
  return pin.size() >= 4 && pin.size() <= 8 &&
         pin.find_first_not_of("0123456789") == std::string::npos;
}

int EnterPin(ModemSession& session, int16_t slot, bool json) {
  Tarvex& engine = session.engine();
  auto print = [&](const std::string& result, const PinState& sim, const PinTries& tries) {
    if (!json) return;
    Json j = {{"ModemID", slot}, {"Result", result}};
    j["SIM"] = sim.code.empty() ? Json(nullptr) : Json(sim.code);
    j["PinTries"] = tries.pin >= 0 ? Json(tries.pin) : Json(nullptr);
    j["PukTries"] = tries.puk >= 0 ? Json(tries.puk) : Json(nullptr);
    std::cout << JsonLine(j) << "\n";
  };
  const PinState before = engine.AwaitSim(slot, ModemSession::kSimBusyWaitMs);
  if (!before.done() || before.code.empty()) {
    print("ERROR", before, {});
    throw CommandFailure(
        before.outcome == Answer::kNoAnswer ? kExitTimeout : kExitFailure,
        "the modem did not tell the SIM's state (AT+CPIN?): " +
            (before.done() ? std::string("an answer tarvex does not read") : Why(before)));
  }
  if (before.ready()) {
    print("OK", before, {});
    if (!json) std::cout << "The SIM is ready; it needs no PIN.\n";
    return kExitOk;
  }
  PinTries tries = engine.ReadPinTries(slot);
  if (!before.needs_pin()) {
    print("REFUSED", before, tries);
    std::string why = "the SIM asks for " + before.code;
    if (before.needs_puk()) {
      why += " (too many wrong PINs";
      if (tries.puk >= 0) why += "; " + std::to_string(tries.puk) + " PUK tries left";
      why += "); tarvex does not enter a PUK: unblock the SIM in a phone";
    } else {
      why += "; tarvex pin enters only the SIM PIN";
    }
    throw CommandFailure(kExitNoModem, why);
  }
  std::string pin = ReadPin(slot, tries);
  if (!IsPin(pin)) {
    Wipe(pin);
    print("ERROR", before, tries);
    throw CommandFailure(kExitUsage, "a PIN is 4 to 8 digits; nothing was sent to the modem");
  }
  Answer entered;
  try {
    entered = engine.EnterPin(slot, pin);
  } catch (...) {
    Wipe(pin);
    throw;
  }
  Wipe(pin);
  const PinState after = engine.AwaitSim(slot, ModemSession::kSimBusyWaitMs);
  if (entered.done() && after.ready()) {
    print("OK", after, {});
    if (!json) std::cout << "PIN accepted; the SIM is ready.\n";
    return kExitOk;
  }
  tries = engine.ReadPinTries(slot);
  print(entered.done() ? "ERROR" : entered.Result(), after, tries);
  std::string why = entered.done() ? "the modem took the PIN but the SIM is " +
                                         (after.code.empty() ? Why(after) : after.code)
                                   : "the PIN was not accepted: " + Why(entered);
  if (after.needs_puk()) {
    why += "; the SIM now asks for its PUK: unblock it in a phone";
  } else if (tries.pin >= 0) {
    why += "; " + std::to_string(tries.pin) + (tries.pin == 1 ? " try" : " tries") + " left";
  }
  std::cerr << "tarvex: " << why << "\n";
  return StatusFor(entered.done() ? Answer::kRefused : entered.outcome);
}

// Both work on a slot whose SIM may be locked.
int Run(const SlotArgs& args, int (*work)(ModemSession&, int16_t, bool)) {
  return RunOnSlot(args.slot, {.trace = args.trace}, ModemSession::SimNeed::kAny,
                   [&](ModemSession& s, int16_t slot) { return work(s, slot, args.json); });
}

}  // namespace

void DefineStatus(CLI::App& show, int& status) {
  auto args = AddSlotArgs(show, "Print one JSON object (null for what the modem did not tell)");
  show.footer(
      "A query the modem refuses shows as unknown, with its reason; the rest still prints\n"
      "(exit 1 then, 4 when one went unanswered).\n"
      "Example: tarvex status -m 1");
  show.callback([args, &status] { status = Run(*args, ShowStatus); });
}

void DefinePin(CLI::App& pin, int& status) {
  auto args = AddSlotArgs(pin, "Print one JSON object: Result, SIM state, tries left");
  pin.footer(
      "The PIN is read from TARVEX_PIN when set, else from the terminal (not shown), else\n"
      "from the first line of stdin; never from the command line. A SIM that asks for its\n"
      "PUK is left alone. Exit 0 unlocked (or no PIN needed), 1 PIN refused, 2 not 4-8\n"
      "digits, 3 the SIM wants a PUK.\n"
      "Examples: tarvex pin -m 1\n"
      "          pass show sim-pin | tarvex pin -m 1");
  pin.callback([args, &status] { status = Run(*args, EnterPin); });
}

}  // namespace tarvex::cli
