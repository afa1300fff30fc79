#include "engine/message_list.h"

#include <cstdint>
#include <limits>
#include <string>

#include "codec/message_entry.h"
#include "engine/text_decode.h"
#include "tarvex/error.h"

namespace tarvex {
namespace {

constexpr auto npos = std::string_view::npos;

// The index text between the header's colon and its first comma.
int32_t ParseIndex(std::string_view s) {
  s = text::TrimBlanks(s);
  bool negative = false;
  if (!s.empty() && (s[0] == '-' || s[0] == '+')) {
    negative = s[0] == '-';
    s.remove_prefix(1);
  }
  if (s.empty()) throw Error(kTypeMismatch, "Type mismatch: a listing header without an index");
  int64_t value = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') {
      throw Error(kTypeMismatch,
                  "Type mismatch: the listing index \"" + std::string(s) + "\" is not a number");
    }
    value = value * 10 + (c - '0');
    if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) {
      throw Error(kOverflow, "Overflow: the listing index is beyond 32 bits");
    }
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max()) {
    throw Error(kOverflow, "Overflow: the listing index is beyond 32 bits");
  }
  return static_cast<int32_t>(value);
}

// Position just behind the line that starts at `from` (its end is CR LF, CR
// or LF), or the end of the text.
size_t NextLine(std::string_view s, size_t from) {
  const size_t end = s.find_first_of("\r\n", from);
  if (end == npos) return s.size();
  return s.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1;
}

}  // namespace

Collection<std::string> TextDecode::MessageList(std::string_view Data) {
  Collection<std::string> entries;
  size_t pos = Data.find("+CMGL:");
  while (pos != npos) {
    const size_t colon = pos + 5;
    const size_t comma = Data.find(',', colon);
    if (comma == npos) {
      throw Error(kInvalidArgument,
                  "Invalid procedure call or argument: a listing header without a comma");
    }
    const int32_t index = ParseIndex(Data.substr(colon + 1, comma - colon - 1));
    // The PDU is the line behind the header; a PDU that ends the text with
    // no line break is taken as it is.
    const size_t pdu_start = NextLine(Data, colon);
    const size_t pdu_end = std::min(Data.find_first_of("\r\n", pdu_start), Data.size());
    entries.Add(MakeEntry(index, Data.substr(pdu_start, pdu_end - pdu_start)));
    pos = Data.find("+CMGL:", pdu_start);
  }
  return entries;
}

}  // namespace tarvex
