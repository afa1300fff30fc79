#include "tarvex/sms_submit.h"

#include <cstring>
#include <string_view>

#include "codec/gsm_03_40.h"
#include "codec/gsm_alphabet.h"
#include "codec/pdu_octets.h"
#include "common/text.h"
#include "tarvex/error.h"

namespace tarvex {
namespace {

using codec_detail::kMaxUserDataOctets;

// Service-centre octet, first octet, TP-MR, TP-DA (2 + 10), TP-PID, TP-DCS,
// TP-VP, then TP-UDL and the user data.
constexpr size_t kMaxPduOctets = 3 + 12 + 3 + 1 + kMaxUserDataOctets;

// Numbers this short are short codes, not international numbers.
constexpr size_t kLongestShortCode = 6;

struct Destination {
  std::string digits;
  uint8_t type = gsm0340::kTypeInternational;
};

// The destination as digits and its type of address.  Blanks, "-", "(" and
// ")" anywhere are dropped.  "+" or "00" before the country code make it
// international (the "00" is not sent); a national number (one leading "0")
// and a short code go as the unknown type, which the network completes the
// way a phone does, where the international type would name a number that
// usually does not exist; other digits keep the international type, as hosts
// pass numbers with their country code and no "+".  1 to 20 digits (TP-DA
// holds 20); any other character raises 5.
Destination NormalisedNumber(const std::string& number) {
  Destination d;
  bool plus = false;
  bool ok = true;
  for (const char c : number) {
    if (c == ' ' || c == '\t' || c == '-' || c == '(' || c == ')') continue;
    if (c == '+' && d.digits.empty() && !plus) {
      plus = true;
    } else if (c >= '0' && c <= '9') {
      d.digits += c;
    } else {
      ok = false;
    }
  }
  if (!plus) {
    if (d.digits.size() > 2 && d.digits.starts_with("00")) {
      d.digits.erase(0, 2);
    } else if (d.digits.starts_with("0") || d.digits.size() <= kLongestShortCode) {
      d.type = gsm0340::kTypeUnknown;
    }
  }
  if (!ok || d.digits.empty() || d.digits.size() > gsm0340::kMaxAddressDigits) {
    throw Error(kInvalidArgument,
                "Invalid procedure call or argument: the destination number must be 1 to 20 "
                "digits, optionally after \"+\" (blanks, \"-\", \"(\" and \")\" may separate "
                "them): \"" +
                    number + "\"");
  }
  return d;
}

// Writes first octet .. TP-PID (without TP-DCS) and returns the octets used.
size_t WriteHead(uint8_t first_octet, const Destination& to, uint8_t* pdu) {
  size_t n = 0;
  pdu[n++] = 0x00;  // no service-centre address: the modem uses its own
  pdu[n++] = first_octet;
  pdu[n++] = 0x00;  // TP-MR, the modem assigns it
  pdu[n++] = static_cast<uint8_t>(to.digits.size());
  pdu[n++] = to.type;
  n += codec_detail::DigitsToSemiOctets(to.digits, pdu + n);
  pdu[n++] = 0x00;  // TP-PID
  return n;
}

// Appends the shift elements of the tables to a header whose length octet
// comes first, and updates that octet.
size_t AddShiftElements(gsm7::ShiftTables tables, uint8_t* header, size_t octets) {
  if (gsm7::HasSingleShift(tables.single)) {  // TS 23.040 9.2.3.24.15
    header[octets++] = 0x24;
    header[octets++] = 0x01;
    header[octets++] = static_cast<uint8_t>(tables.single);
  }
  if (gsm7::HasLockingShift(tables.locking)) {  // TS 23.040 9.2.3.24.16
    header[octets++] = 0x25;
    header[octets++] = 0x01;
    header[octets++] = static_cast<uint8_t>(tables.locking);
  }
  header[0] = static_cast<uint8_t>(octets - 1);
  return octets;
}

// TS 23.040 9.2.3.5: TP-SRR, bit 5 of the first octet.
uint8_t SrrBit(bool requested) { return requested ? 0x20 : 0x00; }

std::string ToHex(const uint8_t* pdu, size_t octets) {
  std::string hex(2 * octets, '\0');
  codec_detail::OctetsToHex(pdu, octets, hex.data());
  return hex;
}

// The service-centre field is the one octet 00 in front.
SubmitPdu Finish(const uint8_t* pdu, size_t octets) {
  return {ToHex(pdu, octets), static_cast<int>(octets) - 1};
}

}  // namespace

SubmitPdu SMSSubmit::Encode() {
  const Destination to = NormalisedNumber(PhoneNumber);
  uint8_t header[7] = {0};
  const size_t header_octets = AddShiftElements(Tables, header, 1);
  uint8_t pdu[kMaxPduOctets];
  // SMS-SUBMIT, relative TP-VP, TP-UDHI when the header names tables
  const uint8_t udhi = header_octets > 1 ? gsm0340::kUdhi : 0;
  size_t n = WriteHead(
      gsm0340::kMtiSubmit | gsm0340::kVpfRelative | udhi | SrrBit(StatusReportRequest), to, pdu);
  const size_t dcs = n++;
  pdu[n++] = gsm0340::kLongestRelativePeriod;
  n += codec_detail::WriteUserData(MessageText, header, header_octets > 1 ? header_octets : 0,
                                   codec_detail::Coding::kAuto, &pdu[dcs], pdu + n, Tables);
  PhoneNumber = to.digits;
  return Finish(pdu, n);
}

SubmitPdu SMSSubmit::EncodeLongSMS(const std::string& REFID, int32_t Total, int32_t ThisPart) {
  const Destination to = NormalisedNumber(PhoneNumber);
  const bool ref_ok = REFID.size() == 2 &&
                      codec_detail::kHexValue[static_cast<uint8_t>(REFID[0])] >= 0 &&
                      codec_detail::kHexValue[static_cast<uint8_t>(REFID[1])] >= 0;
  if (!ref_ok || Total < 1 || Total > gsm0340::kMaxConcatenatedParts || ThisPart < 1 ||
      ThisPart > gsm0340::kMaxConcatenatedParts) {
    throw Error(kInvalidArgument,
                "concatenation needs a reference of two hex digits and a part "
                "count and part number from 1 to 255");
  }
  // TS 23.040 9.2.3.24.1: concatenated short messages, 8-bit reference.
  uint8_t header[12] = {
      0x05,  // the header's length
      gsm0340::kIeiConcat8,
      gsm0340::kConcat8Length,
      static_cast<uint8_t>(codec_detail::kHexValue[static_cast<uint8_t>(REFID[0])] << 4 |
                           codec_detail::kHexValue[static_cast<uint8_t>(REFID[1])]),
      static_cast<uint8_t>(Total),
      static_cast<uint8_t>(ThisPart)};
  const size_t header_octets = AddShiftElements(Tables, header, 6);
  uint8_t pdu[kMaxPduOctets];
  size_t n = WriteHead(gsm0340::kMtiSubmit | gsm0340::kUdhi | SrrBit(StatusReportRequest), to,
                       pdu);  // no TP-VP
  const size_t dcs = n++;
  n += codec_detail::WriteUserData(MessageText, header, header_octets, codec_detail::Coding::kAuto,
                                   &pdu[dcs], pdu + n, Tables);
  PhoneNumber = to.digits;
  return Finish(pdu, n);
}

}  // namespace tarvex
