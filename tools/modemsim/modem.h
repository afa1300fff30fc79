// Modem: the simulated PDU-mode GSM modem, as a pure event-driven core.
//
// Bytes written by the client go in through Receive together with "now" (in
// milliseconds on any monotonic scale); what the modem answers comes out of
// Poll at the times it is due (reply delay, USSD answer delay and chunking are
// data, not sleeps).  The pseudo-terminal loop in main.cpp and the tests drive
// the same object, the tests without a terminal and without waiting.
//
// Behaviour follows ITU-T V.250 (command lines, echo, result codes) and
// 3GPP TS 27.007 / 27.005 (identity, status, SMS in PDU mode, USSD).  Text mode
// (AT+CMGF=1) is accepted but minimal: AT+CMGS, AT+CMGL and AT+CMGR then
// answer "operation not allowed".
//
// What happens from outside (messages and status reports arriving, the
// network, the SIM, the device going away) is data too: ModemOptions at
// start, Control lines (control.h) while running, each due at its own
// millisecond.  Indications follow AT+CNMI as TS 27.005 3.4.1 describes.
//
// One thread.  Malformed input never throws; it gets the error a modem would
// give.  The object owns its message stores and its log of sent messages.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "modemsim/at_command.h"
#include "modemsim/control.h"
#include "modemsim/message_store.h"
#include "modemsim/output_queue.h"
#include "modemsim/sent_log.h"

namespace tarvex::modemsim {

struct Identity {
  std::string manufacturer = "Tarvex";
  std::string model = "ModemSim-1";
  std::string revision = "TVXSIM_1.0.0";
  std::string imei = "356938035643809";
  std::string imsi = "001010123456789";
  std::string operator_long = "Tarvex Net";
  std::string operator_short = "Tarvex";
  std::string operator_numeric = "00101";
  std::string service_centre = "+31624000000";
};

enum class UssdMode {
  kOk,       // +CUSD: 0,"<text>",15
  kStatus4,  // +CUSD: 4 (operation not supported)
  kUcs2,     // +CUSD: 0,"<UCS2 hex>",72
  kNone,     // OK, then nothing
};

// Fault injection.  Command patterns name a command as AtCommand::Matches
// reads them ("CMGS", "E0", "CPMS"); a bare "AT" line matches "AT".
struct Faults {
  int64_t delay_ms = 0;  // every reply (not the echo) this much later
  size_t chunk = 0;      // replies leave in pieces of this many bytes
  int64_t chunk_gap_ms = 2;
  bool silent = false;                                         // no echo, no reply, ever
  std::vector<std::string> silent_on = {};                     // lines holding one: no reply
  std::vector<std::string> error_on = {};                      // this command answers "ERROR"
  std::vector<std::pair<std::string, int>> cms_error_on = {};  // "+CMS ERROR: <n>"
  std::vector<std::string> garbage_before = {};                // junk bytes in front of the reply
  std::vector<std::string> urc_before = {};                    // an unsolicited line in front
  std::string urc_text = "+CMTI: \"SM\",3";
  std::string garbage = "\xFF\xFE~#%&*\x01";
  // Answer this many command lines, then hang up when the next one arrives.
  std::optional<int> hangup_after = {};
  // Arrivals are stored, but no +CMTI / +CDSI / +CDS is ever sent.
  bool no_indications = false;
  // An arrival that finds its storage full also sends "+CMS ERROR: 322"
  // unsolicited (the message itself waits in the network until room is made).
  bool full_error = false;
  // Reading these indices (+CMGR) fails with +CMS ERROR 321; listing skips them.
  std::vector<int> unreadable = {};
};

// The network as +CSQ, +CREG and +COPS report it.
struct NetworkState {
  int rssi = 21;  // 0-31, 99 unknown
  int ber = 99;
  // +CREG <stat>: 0 not registered, 1 home, 2 searching, 3 denied, 4 unknown,
  // 5 roaming.
  int registration = 1;
  std::string lac = "00A1";
  std::string cell = "0000B2C3";
};

// The SIM: with a PIN it starts locked (+CPIN: SIM PIN); three wrong PINs ask
// for the PUK, ten wrong PUKs block it.  busy_commands: the first N commands
// that need the SIM (and +CPIN?) answer "SIM busy".
struct SimOptions {
  std::string pin;
  std::string puk = "12345678";
  int busy_commands = 0;
};

// Status reports for messages sent with TP-SRR set: one report per TP-ST
// value here ("0x20,0x00": still trying, then delivered), `delay_ms` apart,
// kept in `storage` when +CNMI asks for +CDSI (or for nothing).
struct ReportOptions {
  std::vector<int> statuses = {0x00};
  int64_t delay_ms = 2000;
  std::string storage = "SR";
};

// Civil time stamp given to messages that arrive through the loopback number.
struct WallTime {
  int year = 2026, month = 12, day = 6, hour = 9, minute = 30, second = 0;
  int zone_quarters = 4;
};

struct ModemOptions {
  Identity identity;
  std::string ussd_text = "Balance: 12.50 EUR, valid until 31.12.2026";
  UssdMode ussd_mode = UssdMode::kOk;
  int64_t ussd_delay_ms = 500;
  // Messages sent to this number come back into the receive storage.
  std::string loopback_number;
  // Announce loopback arrivals with +CMTI (also done when the client asked for
  // it with AT+CNMI=<mode>,1).
  bool notify = false;
  int sim_total = 30;
  int phone_total = 100;
  int report_total = 20;
  // The +CNMI=? answer; values outside it are refused with +CMS ERROR 303.
  std::string cnmi_modes = "(0-3),(0-3),(0,2),(0-2),(0,1)";
  NetworkState network;
  SimOptions sim;
  ReportOptions reports;
  Faults faults;
  std::function<WallTime()> wall_clock;  // unset: the fixed WallTime{}
};

class Modem {
 public:
  explicit Modem(ModemOptions options);

  // Puts a message into "SM" or "ME", growing that store when it is full (so
  // that a large generated inbox fits).  Returns the index.
  int Preload(std::string_view storage, StoredMessage message);

  // Bytes the client wrote, arriving at now_ms.  Times must not go back.
  void Receive(std::string_view bytes, int64_t now_ms);
  // What is due at now_ms, and whether the line hangs up now (with
  // reopen_after_ms when the device comes back).
  PollResult Poll(int64_t now_ms);
  std::optional<int64_t> NextWake() const;

  // Applies one control line at now_ms (its "after=" counts from there).
  // Throws std::runtime_error for a verb, key or value it cannot take, and
  // then changes nothing.
  void Control(const ControlCommand& command, int64_t now_ms);
  // The device is plugged in again after a vanish: a fresh line, settings
  // back to their defaults, the SIM locked again if it has a PIN.  Stores
  // keep their messages.
  void Reattach(int64_t now_ms);

  // Every PDU accepted by AT+CMGS, in order.
  const std::vector<SentMessage>& sent() const { return sent_; }
  // "SM", "ME" or "SR" (case-insensitive); nullptr for any other name.
  MessageStore* store(std::string_view name);
  bool echo() const { return settings_.echo; }

 private:
  enum class Family { kPlain, kCme, kCms, kForcedCms };
  struct Failure {
    Family family = Family::kPlain;
    int code = 0;
  };
  // What one command gave: information lines, or a failure, or the prompt.
  struct Outcome {
    std::vector<std::string> lines;
    std::optional<Failure> failure;
    bool prompt = false;        // +CMGS: wait for the PDU
    bool ussd_request = false;  // schedule the network's answer
  };
  struct Settings {
    bool echo = true;
    bool verbose = true;  // V1
    bool quiet = false;   // Q1
    int cmee = 0;
    int cmgf = 0;
    std::string cscs = "IRA";
    std::array<int, 5> cnmi = {1, 0, 0, 0, 0};
    int csms = 0;
    int creg = 0;
    int cgreg = 0;
    int cusd = 0;
    int cops_format = 0;
    std::map<int, int> s_registers = {{0, 0}, {3, 13}, {4, 10}, {5, 8}, {7, 50}};
  };

  void HandleLine(const std::string& line, int64_t now);
  void ExecuteLine(const std::vector<AtCommand>& commands, int64_t now);
  void HandlePduByte(char c, int64_t now);
  void FinishPdu(int64_t now);
  Outcome Execute(const AtCommand& cmd);
  void Echo(std::string_view bytes, int64_t now);
  void SendReply(std::string text, int64_t at);

  // Formatting by V and CMEE.
  std::string InfoText(const std::vector<std::string>& lines) const;
  std::string FinalOk() const;
  std::string FinalError(const Failure& failure) const;
  bool Matches(const std::vector<std::string>& patterns,
               const std::vector<AtCommand>& commands) const;

  static Outcome Lines(std::vector<std::string> lines);
  static Outcome Fail(Failure failure);
  // Command groups.
  Outcome Identification(const AtCommand& cmd);
  Outcome Basic(const AtCommand& cmd);
  Outcome Network(const AtCommand& cmd);
  Outcome Sms(const AtCommand& cmd);
  Outcome Storage(const AtCommand& cmd);
  Outcome List(const AtCommand& cmd);
  Outcome Read(const AtCommand& cmd);
  Outcome Delete(const AtCommand& cmd);
  Outcome Ussd(const AtCommand& cmd);
  std::string UssdAnswer() const;
  void Loopback(const SentMessage& sent, int64_t at);
  MessageStore& Mem(int which);

  // Things due later: arrivals, reports, indications, the device vanishing.
  struct Event {
    enum Kind { kArrive, kReport, kIndicate, kVanish, kSet } kind = kArrive;
    std::string storage;     // kArrive, kIndicate ("" : the receive storage)
    std::string pdu;         // kArrive
    int index = 0;           // kIndicate; kReport: the message reference
    std::string recipient;   // kReport
    WallTime submitted;      // kReport
    int status = 0;          // kReport
    int64_t back_ms = -1;    // kVanish
    ControlCommand command;  // kSet
  };
  void RunDue(int64_t now);
  void Arrive(const Event& event, int64_t now);
  void ArriveReport(const Event& event, int64_t now);
  // An unsolicited result code, as +CNMI <mode> says: sent, buffered or dropped.
  void Indicate(const std::string& line, int64_t now);
  void FlushUrcs(int64_t at);
  void ScheduleDeliver(const ControlCommand& command, int64_t at);
  // Checks every key and value (throwing for the first bad one); changes the
  // modem only with apply.
  void ApplySet(const ControlCommand& command, bool apply);
  WallTime Now() const;
  // Why a command cannot run with the SIM as it is, if it cannot.
  std::optional<Failure> SimGate(const AtCommand& cmd);
  Outcome Pin(const AtCommand& cmd);
  bool Unreadable(int index) const;

  ModemOptions options_;
  Settings settings_;
  OutputQueue output_;
  MessageStore sim_;
  MessageStore phone_;
  MessageStore reports_;
  std::array<std::string, 3> mem_ = {"SM", "SM", "SM"};
  std::vector<SentMessage> sent_;
  std::multimap<int64_t, Event> events_;
  std::vector<Event> held_;        // arrivals waiting for room in their storage
  std::vector<std::string> urcs_;  // indications buffered by +CNMI mode 0 / 2
  bool memory_freed_ = false;      // a deletion made room: held arrivals try again
  bool flush_urcs_ = false;        // +CNMI left mode 0: buffered indications follow the OK
  int64_t reopen_after_ms_ = -1;
  enum class SimState { kReady, kPin, kPuk, kBlocked } sim_state_ = SimState::kReady;
  int pin_tries_ = 3;
  int puk_tries_ = 10;
  int sim_busy_left_ = 0;
  int next_ref_ = 1;  // concatenation references of injected long messages

  std::string line_;
  std::string last_line_;
  int lines_seen_ = 0;
  bool hanging_up_ = false;
  bool in_pdu_ = false;
  int pdu_length_ = 0;
  std::string pdu_;
  int next_mr_ = 1;
};

}  // namespace tarvex::modemsim
