// The wire constants of 3GPP TS 23.040 that the codec writes and reads: the
// bits of a TPDU's first octet, the types of address, the information
// element identifiers of the user data header and the sizes they imply.
// Each is tied to its section, so a reader can check a bit against the
// standard without working it out from hex in the code.
//
// Values only; the codec's encoders and decoders own what is done with them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tarvex::gsm0340 {

// --- The first octet of a TPDU ----------------------------------------------

// 9.2.3.1 TP-MTI, bits 1-0.  Read by a phone: 0 SMS-DELIVER, 2 a status
// report; written by a phone: 1 SMS-SUBMIT.  3 is reserved.
inline constexpr uint8_t kMtiMask = 0x03;
inline constexpr uint8_t kMtiDeliver = 0x00;
inline constexpr uint8_t kMtiSubmit = 0x01;
inline constexpr uint8_t kMtiStatusReport = 0x02;

// 9.2.3.2 TP-MMS, bit 2 of SMS-DELIVER and SMS-STATUS-REPORT: set when no more
// messages are waiting in the service centre.
inline constexpr uint8_t kMms = 0x04;

// 9.2.3.3 TP-VPF, bits 4-3 of SMS-SUBMIT: the form of TP-VP that follows.
inline constexpr uint8_t kVpfMask = 0x18;
inline constexpr unsigned kVpfShift = 3;
inline constexpr uint8_t kVpfNone = 0x00;
inline constexpr uint8_t kVpfEnhanced = 0x08;  // 7 octets
inline constexpr uint8_t kVpfRelative = 0x10;  // 1 octet
inline constexpr uint8_t kVpfAbsolute = 0x18;  // 7 octets, a time stamp
// TP-VP's length in octets for each TP-VPF value (9.2.3.12).
inline constexpr size_t kValidityPeriodOctets[4] = {0, 7, 1, 7};
// 9.2.3.12.1: the relative period's largest value, 63 weeks.
inline constexpr uint8_t kLongestRelativePeriod = 0xFF;

// 9.2.3.4 TP-SRI, bit 5 of SMS-DELIVER: a status report will go to the sender.
inline constexpr uint8_t kSri = 0x20;
// 9.2.3.5 TP-SRR, bit 5 of SMS-SUBMIT: a status report is requested.
inline constexpr uint8_t kSrr = 0x20;
// 9.2.3.26 TP-SRQ, bit 5 of SMS-STATUS-REPORT: set when the report answers an
// SMS-COMMAND rather than an SMS-SUBMIT.
inline constexpr uint8_t kSrq = 0x20;
// 9.2.3.23 TP-UDHI, bit 6: the user data opens with a header.
inline constexpr uint8_t kUdhi = 0x40;
// 9.2.3.17 TP-RP, bit 7: a reply path is set.
inline constexpr uint8_t kRp = 0x80;

// --- Addresses ----------------------------------------------------------------

// 9.1.2.5: type of address, extension bit set, type of number in bits 6-4,
// numbering plan in bits 3-0.
inline constexpr uint8_t kTypeInternational = 0x91;  // international, ISDN/telephone
inline constexpr uint8_t kTypeUnknown = 0x81;        // unknown, ISDN/telephone
inline constexpr uint8_t kTypeAlphanumeric = 0xD0;   // GSM 7-bit text in the semi-octets
// The type of number alone: (type >> 4) & 7.
inline constexpr unsigned TypeOfNumber(uint8_t type) { return (type >> 4) & 0x07; }
inline constexpr unsigned kTonInternational = 1;
inline constexpr unsigned kTonAlphanumeric = 5;
// 9.1.2.5 and 9.2.3.8: an address field holds at most 20 digits (10 octets).
inline constexpr size_t kMaxAddressDigits = 20;

// --- The user data --------------------------------------------------------------

// 9.2.3.24: TP-UD holds at most 140 octets (160 septets).
inline constexpr size_t kMaxUserDataOctets = 140;

// 9.2.3.24: information element identifiers of the user data header.
inline constexpr uint8_t kIeiConcat8 = 0x00;               // 9.2.3.24.1, 8-bit reference
inline constexpr uint8_t kIeiConcat16 = 0x08;              // 9.2.3.24.8, 16-bit reference
inline constexpr uint8_t kIeiNationalSingleShift = 0x24;   // 9.2.3.24.15
inline constexpr uint8_t kIeiNationalLockingShift = 0x25;  // 9.2.3.24.16
// The element lengths of the two concatenation elements.
inline constexpr uint8_t kConcat8Length = 3;
inline constexpr uint8_t kConcat16Length = 4;
// 9.2.3.24.1: parts are numbered in one octet, 1 to 255.
inline constexpr int kMaxConcatenatedParts = 255;

// --- TP-PI (9.2.3.27): which optional fields of a status report follow -------
inline constexpr uint8_t kPiPid = 0x01;
inline constexpr uint8_t kPiDcs = 0x02;
inline constexpr uint8_t kPiUdl = 0x04;
inline constexpr uint8_t kPiExtension = 0x80;

}  // namespace tarvex::gsm0340
