// SMSSubmit: a destination number and a text -> the SMS-SUBMIT PDU (3GPP TS
// 23.040 9.2.2.2) that a modem takes after AT+CMGS= in PDU mode, as upper-case
// hex text behind an empty service-centre field ("00").
//
// Texts the GSM 7-bit alphabet (with its extension table) can carry go as
// septets (TP-DCS 00); any other text goes as UCS2 (TP-DCS 08).  Encode makes a
// single message (first octet 11, TP-VP FF); EncodeLongSMS one part of a
// concatenated message (first octet 41, 8-bit reference header 05 00 03).
// With national Tables set (the tool's --national; the COM face never sets
// them) the header also names them (TS 23.040 9.2.3.24.15 and .16), and a
// single message then has a header too (first octet 51).
//
// The send operations make one per message or part; a program may make one
// to code a PDU without a modem.
#pragma once

#include <cstdint>
#include <string>

#include "tarvex/national_tables.h"

namespace tarvex {

// One encoded message or part: the PDU as hex text, and the octets of its
// TPDU, everything behind the service-centre field, which is what
// "AT+CMGS=<length>" counts.
struct SubmitPdu {
  std::string hex;
  int tpdu_octets = 0;
};

class SMSSubmit {
 public:
  // Capacities of one message / one part.
  static constexpr int kMaxSeptets = 160;
  static constexpr int kMaxPartSeptets = 153;
  static constexpr int kMaxUcs2Units = 70;
  static constexpr int kMaxPartUcs2Units = 67;

  // Destination: 1 to 20 digits, optionally after "+" or "00" (international)
  // and separated by blanks, "-", "(" or ")"; a national number (leading
  // "0") or a short code (up to 6 digits) goes as the unknown type of
  // address, any other as international.  Encoding writes the digits back
  // here (without "+" or "00").
  std::string PhoneNumber;
  std::u16string MessageText;
  // The tables the 7-bit text goes through; the default pair unless a caller
  // chose national ones.  A text they cannot carry raises error 5.
  gsm7::ShiftTables Tables;
  // TP-SRR (TS 23.040 9.2.3.5): the service centre sends a status report.
  // Off unless the caller asks; the documented PDUs have it clear.
  bool StatusReportRequest = false;

  // Both raise error 5 for a bad number or a text longer than the message (or
  // part) can carry, and then build nothing.
  SubmitPdu Encode();
  // REFID: two hex digits; Total and ThisPart: 1..255.
  SubmitPdu EncodeLongSMS(const std::string& REFID, int32_t Total, int32_t ThisPart);
};

}  // namespace tarvex
