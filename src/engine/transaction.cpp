// The AT command transaction in its three forms, and the modem's
// initialisation.  See tarvex_impl.h for the shape of the loop.
#include <array>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "engine/tarvex_impl.h"
#include "engine/text_decode.h"
#include "tarvex/error.h"
#include "tarvex/reply.h"

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

// The status, coding scheme and raw text of the first "+CUSD: <m>[,"<text>"[,<dcs>]]"
// line of a filtered answer.
void ReadUssdLine(std::string_view text, UssdAnswer& out) {
  const size_t p = text.find(kUssdAnswer);
  if (p == std::string_view::npos) return;
  std::string_view rest = text.substr(p + kUssdAnswer.size());
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  if (!rest.empty() && rest.front() >= '0' && rest.front() <= '9') out.status = rest.front() - '0';
  const size_t open = rest.find('"');
  if (open == std::string_view::npos) return;
  rest.remove_prefix(open + 1);
  // The text ends at the last quotation mark followed by "," and digits, or
  // at the line's end.
  size_t close = std::string_view::npos;
  for (size_t q = rest.find("\","); q != std::string_view::npos; q = rest.find("\",", q + 1)) {
    size_t end = q + 2;
    while (end < rest.size() && rest[end] >= '0' && rest[end] <= '9') ++end;
    if (end > q + 2 && end - q - 2 <= 3) {
      close = q;
      out.dcs = std::stoi(std::string(rest.substr(q + 2, end - q - 2)));
      break;
    }
  }
  if (close == std::string_view::npos) {
    close = rest.find_first_of("\r\n");
    if (close == std::string_view::npos) close = rest.size();
    if (close > 0 && rest[close - 1] == '"') --close;
  }
  out.text = std::string(rest.substr(0, close));
}

// The names the guard's messages give the characters it refuses.
constexpr std::array<const char*, 32> kControlNames = {
    "null",
    "start of heading",
    "start of text",
    "end of text",
    "end of transmission",
    "enquiry",
    "acknowledge",
    "bell",
    "backspace",
    "tab",
    "line feed",
    "vertical tab",
    "form feed",
    "carriage return",
    "shift out",
    "shift in",
    "data link escape",
    "device control one",
    "device control two",
    "device control three",
    "device control four",
    "negative acknowledge",
    "synchronous idle",
    "end of transmission block",
    "cancel",
    "end of medium",
    "substitute, Ctrl-Z",
    "escape",
    "file separator",
    "group separator",
    "record separator",
    "unit separator",
};

// Bytes of stale input looked at for notices; beyond it they are dropped.
constexpr size_t kMaxStaleBytes = 1 << 16;

}  // namespace

std::string Tarvex::Impl::Filter(int16_t slot, std::string_view raw, std::string_view own_prefix) {
  std::vector<Unsolicited> kept;
  std::string text = RemoveUnsolicited(raw, own_prefix, &kept);
  for (Unsolicited& u : kept) {
    if (indications.size() >= kMaxIndications) indications.pop_front();
    indications.push_back(Indication{slot, std::move(u.text)});
  }
  return text;
}

void Tarvex::Impl::WriteCommand(SerialPort& port, int16_t slot, std::string_view command) {
  std::string stale = std::exchange(idle_input[static_cast<size_t>(slot)], {});
  for (int i = 0; i < kMaxStaleReads; ++i) {
    std::string bytes = port.Input();
    if (bytes.empty()) break;
    if (stale.size() < kMaxStaleBytes) stale += bytes;
  }
  if (!stale.empty()) Filter(slot, stale, "");
  port.SetInputLen(0);
  std::string line(command);
  line += '\r';
  port.Output(line);
  clock.Sleep(kWriteSettleMs);
}

Tarvex::Impl::Reply Tarvex::Impl::ExchangeCommand(SlotUse& use, std::string_view command,
                                                  uint32_t timeout_ms, bool run_pump) {
  WriteCommand(use.port(), use.slot(), command);
  Deadline deadline(clock, timeout_ms, Deadline::kSilence);
  Reply reply;
  FinalCodeWatch watch;
  const bool complete =
      Poll(use.port(), run_pump, deadline, /*deadline_wins=*/false, [&](std::string_view fresh) {
        reply.raw.append(fresh);
        return watch.Scan(reply.raw);
      });
  if (complete) reply.code = watch.code();
  reply.text = Filter(use.slot(), reply.raw, AnswerPrefix(command));
  return reply;
}

FinalCode Tarvex::Impl::ExchangeCommandInit(SlotUse& use, std::string_view command) {
  WriteCommand(use.port(), use.slot(), command);
  Deadline deadline(clock, kInitTimeoutMs, Deadline::kFixed);
  std::string buffer;
  FinalCodeWatch watch;
  const bool complete = Poll(use.port(), /*run_pump=*/false, deadline, /*deadline_wins=*/true,
                             [&](std::string_view fresh) {
                               buffer.append(fresh);
                               return watch.Scan(buffer);
                             });
  Filter(use.slot(), buffer, "");
  if (!complete) {
    // A silent modem: give the port back, so the next DeviceOpen starts afresh.
    use.port().SetPortOpen(false);
    return FinalCode{};
  }
  return watch.code();
}

SlotOpening::Outcome Tarvex::Impl::InitializeModem(SlotUse& use) {
  // Echo off (the parsers take the first line), PDU mode, plain error reports.
  for (const char* command : {"ATE0", "AT+CMGF=0", "AT+CMEE=0"}) {
    const FinalCode code = ExchangeCommandInit(use, command);
    if (!code.complete()) return SlotOpening::kSilent;
    if (!code.ok()) return SlotOpening::kRefused;
  }
  if (extended_errors) {
    // The reasons of refusals, for the tool.  A modem that refuses or does
    // not answer keeps the plain reports; the port stays open either way.
    ExchangeCommand(use, "AT+CMEE=1", kInitTimeoutMs, /*run_pump=*/false);
  }
  return SlotOpening::kOpened;
}

UssdAnswer Tarvex::Impl::ExchangeCommandUssdAnswer(SlotUse& use, std::string buffer,
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
  UssdAnswer result;
  if (!done()) {
    const bool complete = Poll(use.port(), /*run_pump=*/true, deadline, /*deadline_wins=*/true,
                               [&](std::string_view fresh) {
                                 buffer.append(fresh);
                                 return done();
                               });
    if (!complete) {
      Filter(use.slot(), buffer, kUssdAnswer);
      return result;
    }
  }
  const std::string text = Filter(use.slot(), buffer, kUssdAnswer);
  if (!answer.Started()) {
    result.outcome = Answer::kRefused;
    result.error = codes.code();
    return result;
  }
  result.outcome = Answer::kDone;
  result.value = TextDecode::USSDResponse(text);
  ReadUssdLine(text, result);
  // Status 4 (not supported) or 2 (ended by the network) without text.
  if ((result.status == 4 || result.status == 2) && result.text.empty()) {
    result.outcome = Answer::kRefused;
    result.by_network = true;
  }
  return result;
}

void CheckCommandArgument(std::string_view value, const char* what) {
  for (size_t i = 0; i < value.size(); ++i) {
    const auto c = static_cast<unsigned char>(value[i]);
    if (c >= 32 && c != 127 && c != '"') continue;
    char code[8];
    std::snprintf(code, sizeof code, "U+%04X", c);
    const char* name = c == 127 ? "delete" : c == '"' ? "quotation mark" : kControlNames[c];
    throw Error(kInvalidArgument, std::string("Invalid procedure call or argument: ") + what +
                                      " holds " + code + " (" + name + ") at position " +
                                      std::to_string(i + 1) +
                                      "; control characters and quotation marks cannot go "
                                      "into a command line");
  }
}

}  // namespace tarvex
