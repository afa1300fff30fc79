#include "codec/status_report.h"

#include <cstdio>
#include <vector>

#include "codec/gsm_03_40.h"
#include "codec/gsm_alphabet.h"
#include "codec/pdu_octets.h"
#include "common/text.h"
#include "tarvex/error.h"

namespace tarvex {
namespace {

using codec_detail::kHexValue;
using gsm0340::kMms;
using gsm0340::kMtiMask;
using gsm0340::kMtiStatusReport;
using gsm0340::kPiDcs;
using gsm0340::kPiExtension;
using gsm0340::kPiPid;
using gsm0340::kPiUdl;
using gsm0340::kSrq;

std::vector<uint8_t> HexToOctets(std::string_view hex) {
  if (hex.size() % 2 != 0) throw Error(kTypeMismatch, "PDU is not whole octets of hex");
  std::vector<uint8_t> out(hex.size() / 2);
  for (size_t i = 0; i < out.size(); ++i) {
    const int high = kHexValue[static_cast<uint8_t>(hex[2 * i])];
    const int low = kHexValue[static_cast<uint8_t>(hex[2 * i + 1])];
    if ((high | low) < 0) {
      throw Error(kTypeMismatch,
                  "not a hex digit at character " + std::to_string(2 * i + (high < 0 ? 1 : 2)));
    }
    out[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return out;
}

class OctetReader {
 public:
  OctetReader(const std::vector<uint8_t>& octets, size_t pos) : octets_(octets), pos_(pos) {}
  const uint8_t* Take(size_t count, const char* field) {
    if (count > octets_.size() - pos_) {
      throw Error(kTypeMismatch, std::string("PDU cut short in ") + field);
    }
    const uint8_t* p = octets_.data() + pos_;
    pos_ += count;
    return p;
  }
  uint8_t Octet(const char* field) { return *Take(1, field); }
  size_t left() const { return octets_.size() - pos_; }

 private:
  const std::vector<uint8_t>& octets_;
  size_t pos_;
};

// As SMSDeliver reads addresses: "+" for international numbers, GSM text for
// alphanumeric ones (type of number 101).
std::string AddressText(const uint8_t* octets, size_t semi_octets, uint8_t type) {
  const unsigned type_of_number = gsm0340::TypeOfNumber(type);
  if (type_of_number == gsm0340::kTonAlphanumeric) {
    const size_t count = semi_octets * 4 / 7;
    uint8_t septets[24];
    char16_t text[24];
    codec_detail::UnpackSeptets(octets, 0, count, septets);
    return Utf16ToUtf8(std::u16string_view(text, gsm7::DecodeInto(septets, count, text)));
  }
  std::string out = codec_detail::SemiOctetsToText(octets, semi_octets);
  if (type_of_number == gsm0340::kTonInternational && !out.empty()) out.insert(out.begin(), '+');
  return out;
}

StatusReport Read(const std::vector<uint8_t>& octets, bool with_service_centre, bool exact) {
  StatusReport r;
  OctetReader in(octets, 0);
  if (with_service_centre) {
    const uint8_t length = in.Octet("service-centre address length");
    if (length > 11) throw Error(kInvalidArgument, "service-centre address longer than 11 octets");
    r.had_service_centre_field = true;
    if (length > 0) {
      const uint8_t type = in.Octet("service-centre type of address");
      const uint8_t* digits = in.Take(length - 1u, "service-centre address");
      r.service_centre = AddressText(digits, 2 * (length - 1u), type);
      // An odd digit count ends in the filler F, which SemiOctetsToText drops.
    }
  }
  r.first_octet = in.Octet("first octet");
  if ((r.first_octet & kMtiMask) != kMtiStatusReport) {
    throw Error(kInvalidArgument,
                "not a status report (TP-MTI " + std::to_string(r.first_octet & kMtiMask) + ")");
  }
  r.more_messages = (r.first_octet & kMms) == 0;
  r.reports_command = (r.first_octet & kSrq) != 0;
  r.message_reference = in.Octet("TP-MR");
  const uint8_t semi_octets = in.Octet("TP-RA length");
  if (semi_octets > gsm0340::kMaxAddressDigits)
    throw Error(kInvalidArgument, "recipient address longer than 20 digits");
  r.recipient_type = in.Octet("TP-RA type of address");
  r.recipient = AddressText(in.Take((semi_octets + 1u) / 2, "TP-RA"), semi_octets,
                            static_cast<uint8_t>(r.recipient_type));
  r.service_centre_time = codec_detail::TimeStampToDate(in.Take(7, "TP-SCTS"));
  r.discharge_time = codec_detail::TimeStampToDate(in.Take(7, "TP-DT"));
  r.status = in.Octet("TP-ST");
  r.meaning = DescribeStatus(r.status);
  if (in.left() > 0) {
    // Extension octets of TP-PI carry nothing defined yet; skip them.
    uint8_t pi = in.Octet("TP-PI");
    r.parameter_indicator = pi;
    for (uint8_t more = pi; more & kPiExtension;) more = in.Octet("TP-PI extension");
    if (pi & kPiPid) r.protocol_id = in.Octet("TP-PID");
    if (pi & kPiDcs) r.data_coding = in.Octet("TP-DCS");
    if (pi & kPiUdl) {
      const uint8_t units = in.Octet("TP-UDL");
      r.user_data_length = units;
      // Septets when the coding is the 7-bit alphabet (or no TP-DCS was sent).
      const uint8_t dcs = r.data_coding.value_or(0);
      const bool septets = std::string_view(DataCodingAlphabet(dcs)) == "GSM7";
      const size_t count = septets ? (units * 7u + 7) / 8 : units;
      const uint8_t* ud = in.Take(count, "TP-UD");
      r.user_data_hex.resize(2 * count);
      codec_detail::OctetsToHex(ud, count, r.user_data_hex.data());
    }
  }
  if (exact && in.left() > 0) throw Error(kInvalidArgument, "octets after the status report");
  return r;
}

}  // namespace

StatusMeaning DescribeStatus(uint8_t status) {
  // TS 23.040 9.2.3.15.  0x60-0x65 repeat 0x20-0x25: the same causes, but the
  // centre has stopped trying.
  static const char* const kCompleted[] = {"received by the recipient",
                                           "forwarded to the recipient, delivery not confirmed",
                                           "replaced by the service centre"};
  static const char* const kTemporary[] = {"congestion",
                                           "recipient busy",
                                           "no response from the recipient",
                                           "service rejected",
                                           "quality of service not available",
                                           "error in the recipient"};
  static const char* const kPermanent[] = {"remote procedure error",
                                           "incompatible destination",
                                           "connection rejected by the recipient",
                                           "not obtainable",
                                           "quality of service not available",
                                           "no interworking available",
                                           "validity period expired",
                                           "deleted by the sender",
                                           "deleted by the service centre's administration",
                                           "message does not exist"};
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", status);
  if (status & 0x80)
    return {ReportOutcome::kUnknown, "unknown", std::string("reserved (") + hex + ")"};
  const unsigned group = status >> 5;  // 0 completed, 1 trying, 2 and 3 failed
  const unsigned in_group = status & 0x1F;
  static constexpr ReportOutcome kOutcome[4] = {ReportOutcome::kDelivered, ReportOutcome::kPending,
                                                ReportOutcome::kFailed, ReportOutcome::kFailed};
  static constexpr const char* kOutcomeText[4] = {"delivered", "still trying", "failed", "failed"};
  StatusMeaning m{kOutcome[group], kOutcomeText[group], ""};
  if (in_group >= 0x10) {
    m.reason = std::string("service-centre specific (") + hex + ")";
    return m;
  }
  const char* const* names = group == 0 ? kCompleted : group == 2 ? kPermanent : kTemporary;
  const unsigned count = group == 0 ? 3 : group == 2 ? 10 : 6;
  m.reason = in_group < count ? names[in_group] : std::string("reserved (") + hex + ")";
  if (group == 3 && in_group < count) m.reason += ", no more attempts";
  return m;
}

StatusReport DecodeStatusReport(std::string_view pdu, ServiceCentreField field) {
  const std::vector<uint8_t> octets = HexToOctets(pdu);
  if (field != ServiceCentreField::kDetect) {
    return Read(octets, field == ServiceCentreField::kPresent, false);
  }
  // The usual form first.  Only a reading that takes the PDU exactly wins, so
  // a TPDU whose first octet happens to read as a centre length of 6 still
  // comes out right; when neither fits, the first reading's error is the
  // one that names the problem, unless it only found a foreign TP-MTI.
  try {
    return Read(octets, true, true);
  } catch (const Error& with) {
    try {
      return Read(octets, false, true);
    } catch (const Error& without) {
      const bool with_was_mti = with.number() == kInvalidArgument &&
                                std::string_view(with.what()).starts_with("not a status report");
      if (with_was_mti && !octets.empty() && (octets[0] & kMtiMask) == kMtiStatusReport) throw;
      throw with;
    }
  }
}

std::string BuildStatusReportPdu(const StatusReportFields& f) {
  if (f.message_reference < 0 || f.message_reference > 255) {
    throw Error(kInvalidArgument, "message reference outside 0..255");
  }
  uint8_t pdu[12 + 3 + 12 + 7 + 7 + 1];
  size_t n = 0;
  if (f.service_centre.empty()) {
    pdu[n++] = 0x00;
  } else {
    n += codec_detail::WriteNumber(f.service_centre, true, pdu + n);
  }
  pdu[n++] = kMtiStatusReport | kMms;  // a report of an SMS-SUBMIT, nothing more waiting
  pdu[n++] = static_cast<uint8_t>(f.message_reference);
  n += codec_detail::WriteNumber(f.recipient, false, pdu + n);
  for (const StampFields* t : {&f.service_centre_time, &f.discharge_time}) {
    codec_detail::WriteTimeStamp(t->year, t->month, t->day, t->hour, t->minute, t->second,
                                 t->zone_quarters, pdu + n);
    n += 7;
  }
  pdu[n++] = f.status;
  std::string hex(2 * n, '\0');
  codec_detail::OctetsToHex(pdu, n, hex.data());
  return hex;
}

}  // namespace tarvex
