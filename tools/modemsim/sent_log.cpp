#include "modemsim/sent_log.h"

#include <exception>
#include <nlohmann/json.hpp>

#include "common/text.h"
#include "modemsim/message_store.h"
#include "tarvex/sms_deliver.h"

namespace tarvex::modemsim {

std::optional<SentMessage> DecodeSubmitted(const std::string& pdu) {
  if (TpduLength(pdu) < 0) return std::nullopt;
  int sca = std::stoi(pdu.substr(0, 2), nullptr, 16);
  int first_octet = std::stoi(pdu.substr(2 + 2 * sca, 2), nullptr, 16);
  if ((first_octet & 0x03) != 0x01) return std::nullopt;  // TS 23.040 9.2.3.1
  SMSDeliver decoded;
  std::string entry = "0\r\n" + pdu;
  try {
    decoded.Decode(entry);
  } catch (const std::exception&) {
    return std::nullopt;
  }
  SentMessage out;
  out.pdu = pdu;
  out.to = decoded.PhoneNumber();
  out.text = Utf16ToUtf8(decoded.MessageText());
  out.data_coding = decoded.DataCoding();
  if (decoded.MultiPartSMS()) {
    out.ref = decoded.MultiPartSMSRef();
    out.part = decoded.MultiPartSMSNumber();
    out.total = decoded.MultiPartSMSCount();
  }
  return out;
}

std::string SentMessageJson(const SentMessage& message) {
  nlohmann::ordered_json j = {{"pdu", message.pdu},   {"to", message.to},
                              {"text", message.text}, {"ref", message.ref},
                              {"part", message.part}, {"total", message.total},
                              {"mr", message.mr}};
  // Replace, not throw: a text decoded with U+FFFD is still worth logging.
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace tarvex::modemsim
