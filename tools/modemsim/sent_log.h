// What the simulated modem makes of a PDU handed to it with AT+CMGS: the
// decoded SMS-SUBMIT (destination, text, concatenation facts) as one record,
// and that record as a line of JSON for the --log file.
//
// Decoding is the codec's SMSDeliver::Decode, which also reads a stored
// SMS-SUBMIT; the simulator has no PDU codec of its own.
#pragma once

#include <optional>
#include <string>

namespace tarvex::modemsim {

struct SentMessage {
  std::string pdu;   // as received, upper case
  std::string to;    // "+digits" or digits
  std::string text;  // UTF-8
  // Concatenation element as the codec reports it (e.g. "0003A7"); "" and
  // part 1 of 1 for a single message.
  std::string ref;
  int part = 1;
  int total = 1;
  int data_coding = 0;  // TP-DCS octet
  int mr = 0;           // the reference answered in "+CMGS: <mr>"
};

// nullopt when the PDU is not an SMS-SUBMIT (TP-MTI 01) the codec can read.
std::optional<SentMessage> DecodeSubmitted(const std::string& pdu);

// {"pdu","to","text","ref","part","total","mr"} on one line, no line end.
std::string SentMessageJson(const SentMessage& message);

}  // namespace tarvex::modemsim
