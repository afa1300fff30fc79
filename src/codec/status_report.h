// StatusReport: an SMS-STATUS-REPORT (3GPP TS 23.040 9.2.2.3), the service
// centre's answer to a message sent with TP-SRR set: which message (TP-MR),
// to whom, when the centre took it, when it settled, and how (TP-ST).
//
// DecodeStatusReport reads the PDU as hex text, the way +CMGR, +CMGL and +CDS
// hand it over: with the service-centre address field in front, or without it
// (some modems drop it from +CDS, some count it in <length> and some do not,
// so the decoder tells the two readings apart by structure, not by length).
// BuildStatusReportPdu makes one, for the modem simulator and for tests.
//
// Stateless functions; any thread.  Failures raise the codec's Error: 13 for
// text that is not whole octets of hex or a field cut short, 5 for a PDU that
// is not a status report.  Nothing is read outside the input.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tarvex/sms_deliver.h"

namespace tarvex {

// TP-ST's three groups (TS 23.040 9.2.3.15, bits 6-5), plus values with the
// reserved bit 7 set, whose meaning nobody defines.
enum class ReportOutcome {
  kDelivered,  // transaction completed
  kPending,    // temporary error, the centre is still trying
  kFailed,     // permanent error, or temporary and the centre has given up
  kUnknown,    // bit 7 set
};

struct StatusMeaning {
  ReportOutcome outcome;
  // "delivered", "still trying", "failed" or "unknown".
  const char* outcome_text;
  // The reason in the standard's words ("validity period expired"), or
  // "reserved (0x4B)" / "service-centre specific (0x52)".
  std::string reason;
};
StatusMeaning DescribeStatus(uint8_t status);

struct StatusReport {
  std::string service_centre;  // "+digits", digits, or "" (absent or empty field)
  bool had_service_centre_field = false;
  uint8_t first_octet = 0;
  bool more_messages = false;            // TP-MMS clear: the centre has more for us
  bool reports_command = false;          // TP-SRQ: the report answers an SMS-COMMAND
  int message_reference = 0;             // TP-MR of the sent message, 0..255
  std::string recipient;                 // as SMSDeliver reads addresses
  int recipient_type = 0;                // type-of-address octet
  MessageTimeValue service_centre_time;  // TP-SCTS: when the centre took the message
  MessageTimeValue discharge_time;       // TP-DT: when the status below came about
  uint8_t status = 0;                    // TP-ST
  StatusMeaning meaning{ReportOutcome::kUnknown, "unknown", ""};
  // TP-PI and what it announces (TS 23.040 9.2.3.27); absent when not sent.
  std::optional<uint8_t> parameter_indicator;
  std::optional<uint8_t> protocol_id;
  std::optional<uint8_t> data_coding;
  std::optional<uint8_t> user_data_length;
  std::string user_data_hex;  // TP-UD as it came, when TP-UDL was sent
};

enum class ServiceCentreField { kDetect, kPresent, kAbsent };

StatusReport DecodeStatusReport(std::string_view pdu,
                                ServiceCentreField field = ServiceCentreField::kDetect);

// A time as the simulator and tests write it; zone in quarter hours.
struct StampFields {
  int year = 2026, month = 12, day = 6, hour = 9, minute = 30, second = 0;
  int zone_quarters = 4;
};

struct StatusReportFields {
  std::string service_centre = "+31624000000";  // "" gives the length octet 00
  int message_reference = 0;
  std::string recipient = "+31612345678";
  StampFields service_centre_time;
  StampFields discharge_time;
  uint8_t status = 0x00;
};

// Upper-case hex; raises 5 for a number that is not 1 to 20 digits or a
// reference outside 0..255.
std::string BuildStatusReportPdu(const StatusReportFields& fields);

}  // namespace tarvex
