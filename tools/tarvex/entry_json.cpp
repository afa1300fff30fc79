#include "entry_json.h"

#include <cstdio>
#include <cstdlib>

#include "codec/mdl_converter.h"
#include "codec/message_entry.h"
#include "common/text.h"
#include "tarvex/error.h"

namespace tarvex::cli {

DecodedEntry DecodeEntry(std::string_view entry) {
  DecodedEntry item;
  if (const std::optional<ParsedEntry> parsed = ParseEntry(entry)) {
    item.id = parsed->id;
    item.index = parsed->index;
    item.pdu = parsed->pdu;
  } else {
    item.id = entry;
  }
  SMSDeliver message;
  std::string argument(entry);
  try {
    message.Decode(argument);
    item.message = std::move(message);
  } catch (const Error& e) {
    item.error = e.what();
    item.error_number = e.number();
  }
  return item;
}

std::string FormatMessageTime(const MessageTimeValue& t) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::string FormatTimeZone(int zone_quarters) {
  const int minutes = std::abs(zone_quarters) * 15;
  char text[16];
  std::snprintf(text, sizeof text, "%c%02d:%02d", zone_quarters < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return text;
}

nlohmann::ordered_json EntryJson(const SMSDeliver& m) {
  nlohmann::ordered_json j;
  j["MessageID"] = m.MessageID();
  j["PhoneNumber"] = m.PhoneNumber();
  j["MessageTime"] = FormatMessageTime(m.MessageTime());
  j["MessageText"] = Utf16ToUtf8(m.MessageText());
  j["MultiPartSMS"] = m.MultiPartSMS();
  j["MultiPartSMSRef"] = m.MultiPartSMSRef();
  j["MultiPartSMSCount"] = m.MultiPartSMSCount();
  j["MultiPartSMSNumber"] = m.MultiPartSMSNumber();
  j["TimeZone"] = FormatTimeZone(m.MessageTime().zone_quarters);
  j["DataCoding"] = mdlConverter::ByteToHex(m.DataCoding() & 0xFF);
  j["Alphabet"] = DataCodingAlphabet(m.DataCoding());
  j["SenderType"] = mdlConverter::ByteToHex(m.SenderType() & 0xFF);
  j["MessageType"] = m.IsSubmit() ? "SMS-SUBMIT" : "SMS-DELIVER";
  j["Tables"] = {{"LockingShift", gsm7::LanguageCode(m.Tables().locking)},
                 {"SingleShift", gsm7::LanguageCode(m.Tables().single)}};
  return j;
}

std::string JsonLine(const nlohmann::ordered_json& j) {
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

nlohmann::ordered_json EntryErrorJson(const std::string& message, int number) {
  return {{"error", message}, {"number", number}};
}

}  // namespace tarvex::cli
