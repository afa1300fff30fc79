// How a long text is cut for a concatenated message: the one rule shared by
// the engine's SendLongMessage and `tarvex pdu encode --long`.
//
// A text the GSM 7-bit alphabet (with its extension table) can carry goes in
// septets: one message holds 160, a part 153 (after the 6-octet header and its
// fill bit); an escape pair is never cut.  Any other text goes as UCS2: 70
// UTF-16 units in one message, 67 in a part; a surrogate pair is never cut.
//
// With national tables allowed (PlanMessage), the user data header also names
// the tables: each shift element takes three octets, so one message holds 155
// or 152 septets and a part 149 or 146.
// Stateless and thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tarvex/national_tables.h"

namespace tarvex {

// True when the text fits one single message (SMSSubmit::Encode takes it).
bool FitsSingle(std::u16string_view text);

// The parts to send, in order.  A text that fits one message gives one element,
// the whole text, to be sent as a single message; otherwise every element fits
// one part (SMSSubmit::EncodeLongSMS takes it).  More than 255 parts cannot be
// numbered: that raises error 5.
std::vector<std::u16string> SplitForParts(std::u16string_view text);

// Septets of text one message (or one part) holds through these tables, after
// the header with its shift elements and fill bits.
int SeptetCapacity(gsm7::ShiftTables tables, bool part);

// How a text goes out: UCS2 or 7-bit through `tables`, in `parts` (one element:
// a single message; SMSSubmit's Encode or EncodeLongSMS with Tables set take
// them).  kOff gives SplitForParts' answer with the default tables.  A language
// uses its tables where they give fewer parts than the default alphabet (or
// where only they carry the text), UCS2 only when they cannot carry it.  kAuto
// tries every pair of tables and UCS2 and takes the fewest parts; on a tie the
// default alphabet, then UCS2, then fewer shift elements.  Raises error 5 when
// every choice needs more than 255 parts.
struct MessagePlan {
  bool ucs2 = false;
  gsm7::ShiftTables tables;
  std::vector<std::u16string> parts;
};
MessagePlan PlanMessage(std::u16string_view text, gsm7::NationalChoice choice);

}  // namespace tarvex
