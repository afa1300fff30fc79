// TextDecode::MessageList: a "+CMGL" listing cut into message entries, the
// input of SMSDeliver.Decode.  The listing's own parser, kept with the
// listing rather than with the other reply parsers because it alone makes
// entries (through the codec's MakeEntry) and alone may fail.
//
// Only the index of each header is read; the PDU line is passed on
// unexamined.  The search moves forward through the reply without copying
// it, so a listing of a thousand messages is cut in one pass.  Pure; any
// thread.
#pragma once

#include <string>
#include <string_view>

#include "tarvex/collection.h"

namespace tarvex::TextDecode {

// One entry per "+CMGL:" header: the index in decimal, CR LF, and the PDU
// line behind the header (ended by CR LF, CR or LF).  The index is the text
// between the header's colon and its first comma, blanks around allowed:
// raises 13 when it is no number, 6 beyond 32 bits, 5 when no comma follows
// the colon, as the listing has always done.
Collection<std::string> MessageList(std::string_view Data);

}  // namespace tarvex::TextDecode
