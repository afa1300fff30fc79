// What the engine reads in a modem's reply: the one classifier of final
// result codes (OK, ERROR, "+CMS ERROR: <n>", "+CME ERROR: <n>") and of the
// ">" prompt, and beside it the filter that takes unsolicited lines out of a
// reply before anything parses it.  Operations ask these; they do not search
// the buffer for words of their own.
//
// All pure and stateless except FinalCodeWatch, which one transaction owns.
// A final result code is a whole line, so a word inside an answer (a model
// called "NOK", a USSD text saying "ERROR") never ends a wait.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

// The final result code a modem ended its reply with.
struct FinalCode {
  enum Kind { kNone, kOk, kError, kCmsError, kCmeError };
  Kind kind = kNone;
  // The number of "+CMS ERROR: 38" / "+CME ERROR: 10"; -1 when the modem gave
  // none (plain ERROR) or gave words instead (AT+CMEE=2).
  int number = -1;
  std::string line;  // the line as the modem sent it, "+CMS ERROR: 38"

  bool complete() const { return kind != kNone; }
  bool ok() const { return kind == kOk; }
  bool refused() const { return kind != kNone && kind != kOk; }
};

// The code a single line holds, kNone when it is no final result code.
FinalCode ClassifyLine(std::string_view line);

// Watches a growing reply buffer line by line for a final result code, and
// for the ">" that opens a line when the modem waits for a PDU.  Each Scan
// reads only the lines completed since the last one, so a reply that arrives
// in thousands of small reads costs linear time.  When one read brings both
// OK and an error, the error wins.
class FinalCodeWatch {
 public:
  // Call after every append; true once the buffer holds a final result code.
  bool Scan(std::string_view buffer);
  bool Complete() const { return code_.complete(); }
  bool ErrorSeen() const { return code_.refused(); }
  bool PromptSeen() const { return prompt_; }
  const FinalCode& code() const { return code_; }
  // The buffer was emptied (the send dialogue does so at the prompt).
  void Reset() { *this = FinalCodeWatch(); }

 private:
  size_t line_start_ = 0;
  FinalCode code_;
  bool prompt_ = false;
};

// The whole-buffer form of the watch.
FinalCode Classify(std::string_view reply);

// A line a modem sent on its own account: a new message stored (+CMTI), a
// status report (+CDSI, or +CDS with its PDU line), a message delivered
// directly (+CMT with its PDU line).  Kept for the engine's caller.
struct Unsolicited {
  std::string text;  // the line; for a two-line notice the header, CR LF, the PDU
};

// The reply without the lines that are not the running command's own answer:
// lines of the form "+NAME: ..." or "^NAME..." other than the command's own
// answer prefix (own_prefix, e.g. "+CGMI:", empty when the command has none)
// and the error codes; RING and NO CARRIER; +CMT, +CDS and +CBM take their PDU
// line with them.  Bare lines (an identity, a PDU) stay.  A notice framed by
// its own blank line loses that line too, so the answer keeps the shape the
// parsers expect.  Notices worth keeping (see Unsolicited) are appended to
// `kept` when given.  One pass, linear time.
std::string RemoveUnsolicited(std::string_view reply, std::string_view own_prefix = {},
                              std::vector<Unsolicited>* kept = nullptr);

// How much of a buffer of notices is whole lines that RemoveUnsolicited can
// take now: a +CDS / +CMT header whose PDU line is still to come stays behind.
size_t CompleteNotices(std::string_view buffer);

// "+CGMI:" for "AT+CGMI", "+CPMS:" for "AT+CPMS?" or "AT+CPMS=...", "^CPIN:"
// for "AT^CPIN?", "" for a command without an extended name ("ATE0").
std::string AnswerPrefix(std::string_view command);

}  // namespace tarvex
