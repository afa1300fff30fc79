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
  // What is due at now_ms, and whether the line hangs up now.
  PollResult Poll(int64_t now_ms) { return output_.Poll(now_ms); }
  std::optional<int64_t> NextWake() const { return output_.NextDue(); }

  // Every PDU accepted by AT+CMGS, in order.
  const std::vector<SentMessage>& sent() const { return sent_; }
  // "SM" or "ME" (case-insensitive); nullptr for any other name.
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

  ModemOptions options_;
  Settings settings_;
  OutputQueue output_;
  MessageStore sim_;
  MessageStore phone_;
  std::array<std::string, 3> mem_ = {"SM", "SM", "SM"};
  std::vector<SentMessage> sent_;

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
