// The inside of the engine Tarvex, shared by the engine's files: the slots
// and queries (tarvex.cpp), the AT command transaction and the modem's
// initialisation (transaction.cpp), sending (send.cpp) and listing
// (listing.cpp).
//
// The transaction: write one command line (after dropping whatever stale
// bytes wait on the port), then poll: one pass of the host's pump (not during
// initialisation), one read, and when nothing is waiting a wait on the port
// itself until a byte or the deadline (the Windows port also wakes for the
// host's messages), so a silent modem costs no wakeups and a byte that
// arrives is read at once.  Every wait has a deadline measured on the 32-bit
// tick with unsigned differences, so the wrap of the counter does no harm.
//
// Ownership and threads: Impl belongs to its Tarvex; everything runs on the
// host's thread.  A slot is held by one public operation at a time (SlotUse);
// a second one, which can only come from the host's pump, raises kSlotBusy
// and leaves the waiting operation untouched.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <random>
#include <string>
#include <string_view>

#include "tarvex/engine.h"
#include "tarvex/reply.h"

namespace tarvex {

struct SubmitPdu;
// The pause after a command line and after a PDU, as modems have always had it.
inline constexpr uint32_t kWriteSettleMs = 10;

// A deadline on the engine's clock.  A silence deadline starts again whenever
// bytes arrive, so a long listing that keeps flowing is not cut off; a fixed
// one (initialisation, the USSD answer) counts from its start only.
class Deadline {
 public:
  enum Kind { kFixed, kSilence };
  // A silence deadline restarts whenever bytes arrive, so a long listing that
  // keeps flowing is not cut off; it still ends after kSilenceCapFactor times
  // its span in all, so a modem that chatters notices (^RSSI every few
  // seconds) without ever answering cannot hold a call forever.
  static constexpr uint64_t kSilenceCapFactor = 10;

  Deadline(Clock& clock, uint32_t ms, Kind kind) : clock_(clock), kind_(kind) { Restart(ms); }

  void Restart(uint32_t ms) {
    ms_ = ms;
    start_ = first_ = clock_.TickCount();
  }
  void BytesArrived() {
    if (kind_ == kSilence) start_ = clock_.TickCount();
  }
  bool Passed() const { return Remaining() == 0; }
  uint32_t Remaining() const {
    const uint32_t now = clock_.TickCount();
    const uint32_t silent = now - start_;
    uint64_t remaining = silent >= ms_ ? 0 : ms_ - silent;
    if (kind_ == kSilence) {
      const uint64_t cap = ms_ * kSilenceCapFactor;
      const uint32_t total = now - first_;
      remaining = std::min<uint64_t>(remaining, total >= cap ? 0 : cap - total);
    }
    return static_cast<uint32_t>(remaining);
  }

 private:
  Clock& clock_;
  Kind kind_;
  uint32_t ms_ = 0;
  uint32_t start_ = 0;
  uint32_t first_ = 0;
};

struct Tarvex::Impl {
  Impl(Ports ports_in, Clock& clock_in, RegistryBackend& registry_in);

  // One public operation's hold on a slot.  Raises 9 for a slot outside
  // 0..4 (or one without a port object) and kSlotBusy for a slot already
  // held.  On leaving, by return or by error, the slot is free again and its
  // port reads everything waiting (input length 0).
  class SlotUse {
   public:
    SlotUse(Impl& impl, int16_t slot);
    ~SlotUse();
    SlotUse(const SlotUse&) = delete;
    SlotUse& operator=(const SlotUse&) = delete;
    SerialPort& port() { return port_; }
    int16_t slot() const { return slot_; }

   private:
    Impl& impl_;
    int16_t slot_;
    SerialPort& port_;
  };

  // What a transaction collected.
  struct Reply {
    FinalCode code;    // the final result code; kNone when the deadline came first
    std::string raw;   // the reply buffer as read
    std::string text;  // the same without the lines that are not the command's answer
    bool complete() const { return code.complete(); }
    // The outcome of a query whose value `parse` takes from the text.
    template <typename Parse>
    Answer Outcome(Parse parse) const {
      Answer a;
      if (!complete()) return a;
      if (code.refused()) {
        a.outcome = Answer::kRefused;
        a.error = code;
        return a;
      }
      a.outcome = Answer::kDone;
      a.value = parse(text);
      return a;
    }
  };

  SerialPort& Port(int16_t slot);

  // Drops stale input (keeping the notices in it), writes the command line
  // (text and CR, one write) and pauses 10 ms.
  void WriteCommand(SerialPort& port, int16_t slot, std::string_view command);
  // The reply without what is not the command's answer; the notices worth
  // keeping go to the indication queue.
  std::string Filter(int16_t slot, std::string_view raw, std::string_view own_prefix);

  // Polls until step(fresh bytes) says the reply is complete (true) or the
  // deadline passes (false).  With deadline_wins, a reply that completes in
  // the poll in which the deadline passes still counts as late, as the
  // initialisation and USSD waits have always done.
  template <typename Step>
  bool Poll(SerialPort& port, bool run_pump, Deadline& deadline, bool deadline_wins, Step&& step) {
    for (;;) {
      if (run_pump && pump != nullptr) pump->DoEvents();
      std::string fresh = port.Input();
      if (fresh.empty()) {
        const uint32_t remaining = deadline.Remaining();
        if (remaining > 0 && port.WaitForInput(remaining)) {
          fresh = port.Input();
        }
      }
      if (!fresh.empty()) deadline.BytesArrived();
      const bool complete = step(std::string_view(fresh));
      const bool late = deadline.Passed();
      if (complete && !(late && deadline_wins)) return true;
      if (late) return false;
    }
  }

  // The standard form: the host's events run between polls; the deadline is
  // timeout_ms of silence from the modem.
  Reply ExchangeCommand(SlotUse& use, std::string_view command, uint32_t timeout_ms,
                        bool run_pump = true);
  // The initialisation form: no host events, 5000 ms from the end of the
  // pause; on the deadline the port is closed.  The modem's final code, kNone
  // when it was silent.
  FinalCode ExchangeCommandInit(SlotUse& use, std::string_view command);
  // kOpened, kRefused or kSilent (the port then closed).
  SlotOpening::Outcome InitializeModem(SlotUse& use);
  // The second phase of a USSD request: the network's "+CUSD:" answer.
  UssdAnswer ExchangeCommandUssdAnswer(SlotUse& use, std::string buffer, int32_t timeout_ms);

  // One query on a held slot: done with the reply text (notices taken out)
  // as its value, refused with the modem's code, or silent.
  Answer Query(SlotUse& use, std::string_view command, uint32_t timeout_ms);
  // `command` with `storage` selected for reading, then the read storage
  // the modem had selected again.  When the selection fails, its reply.
  Reply ExchangeInStorage(SlotUse& use, const std::string& storage, const std::string& command);

  // The send path (send.cpp), on the slot the send holds.  The dialogue:
  // "AT+CMGS=<TPDU octets>", the PDU and Ctrl-Z at the prompt.
  PartReport SendDialogue(SlotUse& use, const SubmitPdu& pdu);
  // SendProgress, then encode one ordinary message, then the dialogue.
  PartReport SendSingle(SlotUse& use, const std::string& number, const std::u16string& text);
  // SendProgress, then encode part ThisPart of Total under REFID, then the
  // dialogue; the report names the part and its text.
  PartReport SendMessagePart(SlotUse& use, const std::string& PhoneNumber, const std::string& REFID,
                             const std::u16string& part, int16_t Total, int16_t ThisPart);
  void RaiseSendProgress(int16_t slot, int16_t count, int16_t part, const std::u16string& text);
  // A fresh concatenation reference, "00" to "FF".
  std::string DrawReference();

  Ports ports;
  Clock& clock;
  RegistryBackend& registry;
  MessagePump* pump = nullptr;
  std::function<void()> settings_dialog;
  SendProgressHandler send_progress;
  uint32_t command_timeout_ms = kDefaultCommandTimeoutMs;
  uint32_t send_timeout_ms = kDefaultSendTimeoutMs;
  bool extended_errors = false;
  bool status_report_request = false;  // TP-SRR for the parts of the running send
  std::deque<Indication> indications;
  // Bytes an idle wait read that do not yet make a whole notice.
  std::array<std::string, kSlotCount> idle_input;
  std::array<bool, kSlotCount> busy{};
  std::mt19937 reference_source;
  gsm7::NationalChoice national;
  // The tables of the send under way (SendLongMessage sets them for its parts).
  gsm7::ShiftTables send_tables;
};

// The argument guard, run on every argument the engine puts into a command
// line before anything is written: a C0 control character (0-31), DEL or a
// quotation mark could end the command, start another or edit it on the
// modem's line (nine backspaces and ";+CMGD=1,4" delete every message), so
// any of them raises 5 with a message naming the character.
void CheckCommandArgument(std::string_view value, const char* what);

}  // namespace tarvex
