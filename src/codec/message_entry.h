// The message entry: how a stored message travels from the listing to the
// decoder and the faces, "INDEX" CR LF "PDU" (the index in decimal, the PDU
// as the modem's hex text).  The listing makes entries, SMSDeliver.Decode
// reads them, and the tool reads them for the index it deletes by; none of
// them cuts or joins the text on its own.
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

// "7" CR LF "0791...": the entry of the message stored at `index`.
std::string MakeEntry(int32_t index, std::string_view pdu);
// The same with the index as text, as a host or the tool's user typed it
// ("" for a PDU without one).
std::string MakeEntry(std::string_view id, std::string_view pdu);

// An entry taken apart.  The views point into the entry given to ParseEntry.
struct ParsedEntry {
  std::string_view id;           // the text before CR LF, blanks and tabs around it removed
  std::optional<int32_t> index;  // id as a decimal number (a sign allowed), when it is one
  std::string_view pdu;          // everything behind the first CR LF, as it is
};

// Nothing when the entry holds no CR LF.
std::optional<ParsedEntry> ParseEntry(std::string_view entry);

}  // namespace tarvex
