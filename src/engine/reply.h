// What the engine reads in a modem's reply: the predicates IsOK, IsError and
// IsPrompt, the watch for a final result code while a reply trickles in, and
// the removal of unsolicited lines before a reply is parsed.
//
// All pure and stateless except FinalCodeWatch, which one transaction owns.
// Matching is case-sensitive and finds a text anywhere in the reply, as the
// modems' answers are matched everywhere in the engine.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarvex {

// "OK" anywhere (also inside a longer word).
bool IsOK(std::string_view reply);
// "ERROR" anywhere, so "+CMS ERROR: 500" counts.
bool IsError(std::string_view reply);
// ">" anywhere: the modem waits for a PDU.
bool IsPrompt(std::string_view reply);

// Watches a growing reply buffer for a final result code: "OK" CR LF,
// "ERROR" CR LF, or a line "+CMS ERROR: <n>" / "+CME ERROR: <n>" ended by
// CR LF (many modems send those whatever AT+CMEE says).  Each Scan looks only
// at what was appended since the last one plus a few bytes of overlap, so a
// reply that arrives in thousands of small reads costs linear time.
class FinalCodeWatch {
 public:
  // Call after every append; true once the buffer holds a final result code.
  bool Scan(std::string_view buffer);
  bool Complete() const { return ok_ || error_; }
  // An error code (plain or extended) has arrived.
  bool ErrorSeen() const { return error_; }
  // The buffer was emptied (the send dialogue does so at the prompt).
  void Reset() { *this = FinalCodeWatch(); }

 private:
  size_t scanned_ = 0;
  // Start of an extended error line whose CR LF has not arrived yet.
  size_t extended_at_ = std::string_view::npos;
  bool ok_ = false;
  bool error_ = false;
};

// The reply without unsolicited lines: lines that start with "^" (Huawei's
// ^RSSI:, ^MODE:, ^BOOT: ...) and the standard notices (+CMTI:, +CDSI:,
// RING, +CRING:, +CLIP:, +CREG:, +CGREG:, +CEREG:; +CMT:, +CDS: and +CBM:
// together with the PDU line that follows them).  A notice framed by its own
// blank line loses that blank line too, so the answer keeps the shape the
// parsers expect: CR LF, the answer line, CR LF.  One pass, linear time.
std::string RemoveUnsolicited(std::string_view reply);

}  // namespace tarvex
