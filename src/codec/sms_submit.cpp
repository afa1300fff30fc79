#include "tarvex/sms_submit.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "codec/gsm_alphabet.h"
#include "codec/pdu_octets.h"
#include "tarvex/error.h"

namespace tarvex {
namespace {

using codec_detail::kMaxUserDataOctets;

// Service-centre octet, first octet, TP-MR, TP-DA (2 + 10), TP-PID, TP-DCS,
// TP-VP, then TP-UDL and the user data.
constexpr size_t kMaxPduOctets = 3 + 12 + 3 + 1 + kMaxUserDataOctets;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The destination as digits: blanks around and one leading "+" removed, then
// 1 to 20 decimal digits (TS 23.040 9.1.2.5 allows 20 in TP-DA).  A view into
// the argument.
std::string_view NormalisedNumber(const std::string& number) {
  size_t begin = 0;
  size_t end = number.size();
  while (begin < end && IsBlank(number[begin])) ++begin;
  while (end > begin && IsBlank(number[end - 1])) --end;
  if (begin < end && number[begin] == '+') ++begin;
  const std::string_view digits = std::string_view(number).substr(begin, end - begin);
  bool ok = !digits.empty() && digits.size() <= 20;
  for (char c : digits) ok = ok && c >= '0' && c <= '9';
  if (!ok) {
    throw Error(
        kInvalidArgument,
        "destination number must be 1 to 20 digits, optionally after \"+\": \"" + number + "\"");
  }
  return digits;
}

// Stores the normalised number back; a number stored before is already it.
void StoreNumber(std::string& number, std::string_view digits) {
  if (digits.size() != number.size()) number = std::string(digits);
}

// Writes first octet .. TP-PID (without TP-DCS) and returns the octets used;
// the type of address is always international, as the senders expect numbers
// with their country code.
size_t WriteHead(uint8_t first_octet, std::string_view digits, uint8_t* pdu) {
  size_t n = 0;
  pdu[n++] = 0x00;  // no service-centre address: the modem uses its own
  pdu[n++] = first_octet;
  pdu[n++] = 0x00;  // TP-MR, the modem assigns it
  pdu[n++] = static_cast<uint8_t>(digits.size());
  pdu[n++] = 0x91;
  n += codec_detail::DigitsToSemiOctets(digits, pdu + n);
  pdu[n++] = 0x00;  // TP-PID
  return n;
}

std::string ToHex(const uint8_t* pdu, size_t octets) {
  std::string hex(2 * octets, '\0');
  codec_detail::OctetsToHex(pdu, octets, hex.data());
  return hex;
}

}  // namespace

std::string SMSSubmit::Encode() {
  const std::string_view digits = NormalisedNumber(PhoneNumber);
  uint8_t pdu[kMaxPduOctets];
  size_t n = WriteHead(0x11, digits, pdu);  // SMS-SUBMIT, relative TP-VP
  const size_t dcs = n++;
  pdu[n++] = 0xFF;  // TP-VP: the longest relative period
  n += codec_detail::WriteUserData(MessageText, nullptr, 0, codec_detail::Coding::kAuto, &pdu[dcs],
                                   pdu + n);
  StoreNumber(PhoneNumber, digits);
  return ToHex(pdu, n);
}

std::string SMSSubmit::EncodeLongSMS(const std::string& REFID, int32_t Total, int32_t ThisPart) {
  const std::string_view digits = NormalisedNumber(PhoneNumber);
  const bool ref_ok = REFID.size() == 2 &&
                      codec_detail::kHexValue[static_cast<uint8_t>(REFID[0])] >= 0 &&
                      codec_detail::kHexValue[static_cast<uint8_t>(REFID[1])] >= 0;
  if (!ref_ok || Total < 1 || Total > 255 || ThisPart < 1 || ThisPart > 255) {
    throw Error(kInvalidArgument,
                "concatenation needs a reference of two hex digits and a part "
                "count and part number from 1 to 255");
  }
  // TS 23.040 9.2.3.24.1: concatenated short messages, 8-bit reference.
  const uint8_t header[6] = {
      0x05,
      0x00,
      0x03,
      static_cast<uint8_t>(codec_detail::kHexValue[static_cast<uint8_t>(REFID[0])] << 4 |
                           codec_detail::kHexValue[static_cast<uint8_t>(REFID[1])]),
      static_cast<uint8_t>(Total),
      static_cast<uint8_t>(ThisPart)};
  uint8_t pdu[kMaxPduOctets];
  size_t n = WriteHead(0x41, digits, pdu);  // SMS-SUBMIT, TP-UDHI, no TP-VP
  const size_t dcs = n++;
  n += codec_detail::WriteUserData(MessageText, header, sizeof header, codec_detail::Coding::kAuto,
                                   &pdu[dcs], pdu + n);
  StoreNumber(PhoneNumber, digits);
  return ToHex(pdu, n);
}

std::string SMSSubmit::SwapSemiOctets(const std::string& number) {
  std::string out;
  out.reserve(number.size() + 1);
  for (size_t i = 0; i < number.size(); i += 2) {
    out += i + 1 < number.size() ? number[i + 1] : 'F';
    out += number[i];
  }
  return out;
}

std::string SMSSubmit::PackSeptets(const std::u16string& text, bool fill_bit) {
  uint8_t septets[codec_detail::kMaxUnits * 2];
  std::vector<uint8_t> septet_vector;
  const uint8_t* source = septets;
  size_t count = gsm7::EncodeInto(text, septets, sizeof septets);
  if (count == gsm7::kNotGsm || count > sizeof septets) {
    septet_vector = gsm7::ToSeptets(text);
    source = septet_vector.data();
    count = septet_vector.size();
  }
  std::vector<uint8_t> octets((7 * count + (fill_bit ? 1 : 0) + 7) / 8 + 1, 0);
  const size_t used = codec_detail::PackSeptets(source, count, fill_bit ? 1 : 0, octets.data());
  return ToHex(octets.data(), used);
}

}  // namespace tarvex
