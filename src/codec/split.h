// How a long text is cut for a concatenated message: the one rule shared by
// the engine's SendLongMessage and `tarvex pdu encode --long`.
//
// A text the GSM 7-bit alphabet (with its extension table) can carry goes in
// septets: one message holds 160, a part 153 (after the 6-octet header and its
// fill bit); an escape pair is never cut.  Any other text goes as UCS2: 70
// UTF-16 units in one message, 67 in a part; a surrogate pair is never cut.
// Stateless and thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

// True when the text fits one single message (SMSSubmit::Encode takes it).
bool FitsSingle(std::u16string_view text);

// The parts to send, in order.  A text that fits one message gives one element,
// the whole text, to be sent as a single message; otherwise every element fits
// one part (SMSSubmit::EncodeLongSMS takes it).  More than 255 parts cannot be
// numbered: that raises error 5.
std::vector<std::u16string> SplitForParts(std::u16string_view text);

}  // namespace tarvex
