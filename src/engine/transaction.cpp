// The AT command transaction in its three forms, and the modem's
// initialisation.  See tarvex_impl.h for the shape of the loop.
#include <string>

#include "engine/reply.h"
#include "engine/tarvex_impl.h"
#include "engine/text_decode.h"
#include "tarvex/error.h"

namespace tarvex {
namespace {

// A modem that streams without pause cannot keep a command from being written:
// after this many reads the rest counts as the new reply's.
constexpr int kMaxStaleReads = 4096;

constexpr std::string_view kUssdAnswer = "+CUSD:";

// Watches a growing buffer for a complete "+CUSD:" answer: its line ended by
// CR LF outside the quoted text (menus carry line breaks inside the quotes),
// or ended right after the coding scheme even if the text held a stray
// quotation mark.  Linear over the reply, like FinalCodeWatch.
class UssdAnswerWatch {
 public:
  bool Scan(std::string_view buffer) {
    if (complete_) return true;
    if (start_ == std::string_view::npos) {
      const size_t from = scanned_ >= kUssdAnswer.size() ? scanned_ - kUssdAnswer.size() + 1 : 0;
      scanned_ = buffer.size();
      start_ = buffer.find(kUssdAnswer, from);
      if (start_ == std::string_view::npos) return false;
      pos_ = start_ + kUssdAnswer.size();
    }
    for (; pos_ < buffer.size(); ++pos_) {
      const char c = buffer[pos_];
      if (c == '"') {
        in_quotes_ = !in_quotes_;
      } else if (c == '\r') {
        if (pos_ + 1 == buffer.size()) return false;  // its LF is still to come
        if (buffer[pos_ + 1] == '\n' &&
            (!in_quotes_ || EndsWithScheme(buffer.substr(start_, pos_ - start_)))) {
          complete_ = true;
          return true;
        }
      }
    }
    return false;
  }
  bool Started() const { return start_ != std::string_view::npos; }

 private:
  // `...",<digits>`
  static bool EndsWithScheme(std::string_view line) {
    size_t digits = 0;
    while (digits < line.size() && line[line.size() - 1 - digits] >= '0' &&
           line[line.size() - 1 - digits] <= '9') {
      ++digits;
    }
    return digits > 0 && line.substr(0, line.size() - digits).ends_with("\",");
  }

  size_t scanned_ = 0;
  size_t start_ = std::string_view::npos;
  size_t pos_ = 0;
  bool in_quotes_ = false;
  bool complete_ = false;
};

}  // namespace

void Tarvex::Impl::WriteCommand(SerialPort& port, std::string_view command) {
  for (int i = 0; i < kMaxStaleReads && !port.Input().empty(); ++i) {
  }
  port.SetInputLen(0);
  std::string line(command);
  line += '\r';
  port.Output(line);
  clock.Sleep(kWriteSettleMs);
}

Tarvex::Impl::Reply Tarvex::Impl::ExchangeCommand(SerialPort& port, std::string_view command,
                                                  uint32_t timeout_ms) {
  WriteCommand(port, command);
  Deadline deadline(clock, timeout_ms, Deadline::kSilence);
  Reply reply;
  FinalCodeWatch watch;
  reply.complete =
      Poll(port, /*run_pump=*/true, deadline, /*deadline_wins=*/false, [&](std::string_view fresh) {
        reply.raw.append(fresh);
        return watch.Scan(reply.raw);
      });
  if (reply.complete) {
    reply.error = watch.ErrorSeen();
    reply.text = RemoveUnsolicited(reply.raw);
  }
  return reply;
}

std::string Tarvex::Impl::ExchangeCommandInit(SerialPort& port, std::string_view command) {
  WriteCommand(port, command);
  Deadline deadline(clock, kInitTimeoutMs, Deadline::kFixed);
  std::string buffer;
  FinalCodeWatch watch;
  const bool complete =
      Poll(port, /*run_pump=*/false, deadline, /*deadline_wins=*/true, [&](std::string_view fresh) {
        buffer.append(fresh);
        return watch.Scan(buffer);
      });
  if (!complete) {
    // A silent modem: give the port back, so the next DeviceOpen starts afresh.
    port.SetPortOpen(false);
    return "ERROR";
  }
  const std::string text = RemoveUnsolicited(buffer);
  return !IsError(text) && IsOK(text) ? "OK" : "ERROR";
}

std::string Tarvex::Impl::InitializeModem(SerialPort& port) {
  // Echo off (the parsers take the first line), PDU mode, plain error reports.
  for (const char* command : {"ATE0", "AT+CMGF=0", "AT+CMEE=0"}) {
    if (ExchangeCommandInit(port, command) != "OK") return "ERROR";
  }
  return "OK";
}

std::string Tarvex::Impl::ExchangeCommandUssdAnswer(SerialPort& port, std::string buffer,
                                                    int32_t timeout_ms) {
  Deadline deadline(clock, timeout_ms > 0 ? static_cast<uint32_t>(timeout_ms) : 0,
                    Deadline::kFixed);
  UssdAnswerWatch answer;
  FinalCodeWatch codes;
  // A network error report ends the wait too, unless an answer has begun
  // (its text may hold the word).
  auto done = [&] {
    const bool answered = answer.Scan(buffer);
    codes.Scan(buffer);
    return answered || (!answer.Started() && codes.ErrorSeen());
  };
  if (!done()) {
    const bool complete = Poll(port, /*run_pump=*/true, deadline, /*deadline_wins=*/true,
                               [&](std::string_view fresh) {
                                 buffer.append(fresh);
                                 return done();
                               });
    if (!complete) return "TIMEOUT";
  }
  if (!answer.Started()) return "ERROR";
  return TextDecode::USSDResponse(RemoveUnsolicited(buffer));
}

void CheckQuotedArgument(std::string_view value, const char* what) {
  if (value.find_first_of("\r\n\x1A\x1B\"") != std::string_view::npos) {
    throw Error(kInvalidArgument, std::string("Invalid procedure call or argument: ") + what +
                                      " holds a line break, Ctrl-Z, Esc or a quotation mark");
  }
}

}  // namespace tarvex
