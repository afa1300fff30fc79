// SMSDeliver: one received message, decoded from a message entry ("INDEX",
// CR LF, PDU; codec/message_entry.h) as the modem listing produces it (3GPP
// TS 23.040 9.2.2.1).
//
// The eight properties in the host's order, plus a few facts for the tool.
// Decode honours TP-DCS (7-bit, 8-bit, UCS2), walks the user data header for
// the 8-bit and 16-bit concatenation elements and the national language shift
// elements (7-bit text through national tables), reads alphanumeric senders, and
// also accepts a stored SMS-SUBMIT (destination as PhoneNumber, time zero).
// Failures raise 5 (no CR LF, malformed structure) or 13 (bad hex or a field
// beyond the end); properties assigned before the failing step keep their new
// values, in the order below.  Never reads outside its input.
#pragma once

#include <cstdint>
#include <string>

#include "tarvex/national_tables.h"

namespace tarvex {

// The service centre's time stamp as written (no zone adjustment), with the
// calendar carry-over applied (month 13 is January of the next year), and the
// same moment as an automation DATE (days since 30 December 1899).
struct MessageTimeValue {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
  double date = 0.0;
  // Offset from UTC in quarter hours as written in the stamp.
  int zone_quarters = 0;
};

class SMSDeliver {
 public:
  const std::string& MessageID() const { return message_id_; }
  void SetMessageID(const std::string& v) { message_id_ = v; }
  // UTF-8: digits with "+" for an international number, or the decoded text of
  // an alphanumeric sender.
  const std::string& PhoneNumber() const { return phone_number_; }
  void SetPhoneNumber(const std::string& v) { phone_number_ = v; }
  const MessageTimeValue& MessageTime() const { return message_time_; }
  void SetMessageTime(const MessageTimeValue& v) { message_time_ = v; }
  const std::u16string& MessageText() const { return message_text_; }
  void SetMessageText(const std::u16string& v) { message_text_ = v; }
  bool MultiPartSMS() const { return multi_part_; }
  void SetMultiPartSMS(bool v) { multi_part_ = v; }
  const std::string& MultiPartSMSRef() const { return multi_part_ref_; }
  void SetMultiPartSMSRef(const std::string& v) { multi_part_ref_ = v; }
  int16_t MultiPartSMSCount() const { return multi_part_count_; }
  void SetMultiPartSMSCount(int16_t v) { multi_part_count_ = v; }
  int16_t MultiPartSMSNumber() const { return multi_part_number_; }
  void SetMultiPartSMSNumber(int16_t v) { multi_part_number_ = v; }

  // Extra facts from the last Decode.
  int DataCoding() const { return data_coding_; }  // TP-DCS octet
  int SenderType() const { return sender_type_; }  // type-of-address octet
  bool IsSubmit() const { return is_submit_; }     // a stored outgoing message
  // The tables the text was read through (language identifiers, 0 default).
  gsm7::ShiftTables Tables() const { return tables_; }

  // Leaves the argument holding the PDU alone (the text after the first CR LF).
  void Decode(std::string& SMSDeliverPDU);

 private:
  std::string message_id_;
  std::string phone_number_;
  MessageTimeValue message_time_;
  std::u16string message_text_;
  bool multi_part_ = false;
  std::string multi_part_ref_;
  int16_t multi_part_count_ = 0;
  int16_t multi_part_number_ = 0;
  int data_coding_ = 0;
  int sender_type_ = 0;
  bool is_submit_ = false;
  gsm7::ShiftTables tables_;
};

// How Decode reads the user data of a TP-DCS octet: "GSM7", "8bit" or "UCS2".
const char* DataCodingAlphabet(int data_coding);

}  // namespace tarvex
