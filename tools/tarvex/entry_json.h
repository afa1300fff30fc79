// How the tool reads and shows a message entry: the entry decoded (or why it
// was not), the JSON object of `tarvex pdu decode --json` and `tarvex list
// --json` (the eight SMSDeliver properties under their own names, plus a few
// facts), the error object of an entry that did not decode, and the readable
// forms of a message's time.  Pure functions.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "tarvex/sms_deliver.h"

namespace tarvex::cli {

// One message entry ("INDEX" CR LF "PDU") decoded, or the reason it was not.
struct DecodedEntry {
  std::string id;                // the index as the entry wrote it
  std::optional<int32_t> index;  // the same as a number, what deleting it takes
  std::string pdu;
  std::optional<SMSDeliver> message;  // none when the entry did not decode
  std::string error;
  int error_number = 0;
};
DecodedEntry DecodeEntry(std::string_view entry);

// "2026-12-06T09:30:00": the time as the service centre wrote it.
std::string FormatMessageTime(const MessageTimeValue& time);
// "+01:00" from the stamp's quarter hours.
std::string FormatTimeZone(int zone_quarters);

// "MessageID", "PhoneNumber", "MessageTime", "MessageText" (UTF-8),
// "MultiPartSMS", "MultiPartSMSRef", "MultiPartSMSCount", "MultiPartSMSNumber",
// and "TimeZone", "DataCoding" and "SenderType" (two hex digits), "Alphabet",
// "MessageType", "Tables" (the national tables the text was read through):
// the same object `tarvex pdu decode --json` prints.
nlohmann::ordered_json EntryJson(const SMSDeliver& message);
// One line of JSON.  Bytes that are not UTF-8 (a modem's line noise in a PDU
// or an answer) become U+FFFD instead of aborting the output.
std::string JsonLine(const nlohmann::ordered_json& j);
// {"error": message, "number": n}
nlohmann::ordered_json EntryErrorJson(const std::string& message, int number);

}  // namespace tarvex::cli
