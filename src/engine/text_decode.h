// TextDecode: the engine's reply parsers, private to the engine.  Each is a
// pure function of a reply text (after the engine removed unsolicited lines
// from it) and never fails on a reply of an unexpected shape: it returns
// whatever its cuts give.  The listing's parser, MessageList, lives with the
// listing (engine/message_list.h).
//
// The identity and storage parsers keep the modem's first-line cut: drop the
// CR LF that opens the answer and take the line behind it, so they rely on
// the modem's echo being off (InitializeModem sends ATE0).
//
// Results are UTF-8.  Upper-casing covers ASCII, Latin-1, Latin Extended-A,
// Greek and Cyrillic letters.
#pragma once

#include <string>
#include <string_view>

#include "tarvex/collection.h"
namespace tarvex {

// A namespace of pure functions, named as the engine's parser class.
namespace TextDecode {

// The text of the first "+CUSD:" answer: the characters from the tenth
// behind the start of "+CUSD:" (right behind the opening quotation mark of
// "+CUSD: <m>,"<text>") up to the closing quotation mark before the coding
// scheme, upper-cased; hex UCS2 text (coding scheme 72 and the other UCS2
// schemes) decoded first.  "" without an answer or with an answer too short
// to hold text (a status 4 or 2 alone).
std::string USSDResponse(std::string_view Data);
// The model: the line behind the opening CR LF, upper-cased, without a
// leading "+CGMM:" and blanks.
std::string DeviceModel(std::string_view Data);
// The line behind the opening CR LF, upper-cased (DeviceIMEI then removes a
// leading "+CGSN:").
std::string DeviceSerialNumber(std::string_view Data);
// As DeviceModel, for "+CGMI:".
std::string DeviceManufacture(std::string_view Data);
// The first quoted name of the reply (the storage for reading), upper-cased.
std::string MessageStorage(std::string_view Data);

}  // namespace TextDecode

// Helpers the parsers share, exposed for the engine.
namespace text {

// Upper case of UTF-8 text; bytes that are not well-formed UTF-8 stay as they are.
std::string UpperCase(std::string_view utf8);
// Blanks (code 32) off both ends, nothing else.
std::string_view TrimBlanks(std::string_view s);

}  // namespace text

}  // namespace tarvex
