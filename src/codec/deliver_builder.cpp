#include "codec/deliver_builder.h"

#include <cstring>

#include "codec/gsm_03_40.h"
#include "codec/gsm_alphabet.h"
#include "codec/pdu_octets.h"
#include "common/text.h"
#include "tarvex/error.h"

namespace tarvex {
namespace {

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// TS 23.040 9.1.2.5: the length counts the semi-octets in use.
size_t WriteAlphanumeric(const std::string& sender, uint8_t* out) {
  const std::u16string text = Utf8ToUtf16(sender);
  uint8_t septets[11];
  const size_t count = gsm7::EncodeInto(text, septets, sizeof septets);
  if (count == gsm7::kNotGsm || count == 0 || count > sizeof septets) {
    throw Error(kInvalidArgument,
                "an alphanumeric sender is 1 to 11 GSM septets: \"" + sender + "\"");
  }
  const size_t octets = (7 * count + 7) / 8;
  std::memset(out + 2, 0, octets);
  codec_detail::PackSeptets(septets, count, 0, out + 2);
  out[0] = static_cast<uint8_t>((7 * count + 3) / 4);
  out[1] = gsm0340::kTypeAlphanumeric;
  return 2 + octets;
}

}  // namespace

std::string BuildDeliverPdu(const DeliverFields& fields) {
  uint8_t pdu[12 + 1 + 12 + 2 + 7 + 1 + codec_detail::kMaxUserDataOctets];
  size_t n = 0;
  if (fields.service_centre.empty()) {
    pdu[n++] = 0x00;
  } else {
    n += codec_detail::WriteNumber(fields.service_centre, true, pdu + n);
  }
  const size_t first = n++;
  // TP-MMS set: no more messages waiting, as networks usually send it.
  pdu[first] = gsm0340::kMtiDeliver | gsm0340::kMms | (fields.concat ? gsm0340::kUdhi : 0);
  const bool numeric =
      !fields.sender.empty() &&
      AllDigits(std::string_view(fields.sender).substr(fields.sender[0] == '+' ? 1 : 0));
  n += numeric ? codec_detail::WriteNumber(fields.sender, false, pdu + n)
               : WriteAlphanumeric(fields.sender, pdu + n);
  pdu[n++] = 0x00;  // TP-PID
  const size_t dcs = n++;
  codec_detail::WriteTimeStamp(fields.year, fields.month, fields.day, fields.hour, fields.minute,
                               fields.second, fields.zone_quarters, pdu + n);
  n += 7;

  uint8_t header[7];
  size_t header_octets = 0;
  if (fields.concat) {
    const auto& c = *fields.concat;
    const int max_reference = c.wide_reference ? 0xFFFF : 0xFF;
    if (c.reference < 0 || c.reference > max_reference || c.total < 1 ||
        c.total > gsm0340::kMaxConcatenatedParts || c.sequence < 1 ||
        c.sequence > gsm0340::kMaxConcatenatedParts) {
      throw Error(kInvalidArgument, "concatenation reference, count or number out of range");
    }
    if (c.wide_reference) {
      const uint8_t h[7] = {0x06,  // the header's length
                            gsm0340::kIeiConcat16,
                            gsm0340::kConcat16Length,
                            static_cast<uint8_t>(c.reference >> 8),
                            static_cast<uint8_t>(c.reference & 0xFF),
                            static_cast<uint8_t>(c.total),
                            static_cast<uint8_t>(c.sequence)};
      std::memcpy(header, h, sizeof h);
      header_octets = 7;
    } else {
      const uint8_t h[6] = {0x05,
                            gsm0340::kIeiConcat8,
                            gsm0340::kConcat8Length,
                            static_cast<uint8_t>(c.reference),
                            static_cast<uint8_t>(c.total),
                            static_cast<uint8_t>(c.sequence)};
      std::memcpy(header, h, sizeof h);
      header_octets = 6;
    }
  }
  const auto coding = fields.force_ucs2 ? codec_detail::Coding::kUcs2 : codec_detail::Coding::kAuto;
  n += codec_detail::WriteUserData(fields.text, header, header_octets, coding, &pdu[dcs], pdu + n);

  std::string hex(2 * n, '\0');
  codec_detail::OctetsToHex(pdu, n, hex.data());
  return hex;
}

}  // namespace tarvex
