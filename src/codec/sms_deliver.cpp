#include "tarvex/sms_deliver.h"

#include <optional>
#include <string_view>

#include "codec/gsm_03_40.h"
#include "codec/gsm_alphabet.h"
#include "codec/message_entry.h"
#include "codec/pdu_octets.h"
#include "common/text.h"
#include "tarvex/error.h"

namespace tarvex {
namespace {

using codec_detail::kHexValue;
using codec_detail::kMaxUnits;

// Reads octets from the PDU's hex text on demand, each checked, never past the
// end: a field that is not there or not hex raises the type-mismatch error, as
// reading it as a number would.
class HexReader {
 public:
  explicit HexReader(std::string_view hex) : hex_(hex) {}

  uint8_t Octet(const char* field) {
    uint8_t b;
    Octets(&b, 1, field);
    return b;
  }

  void Octets(uint8_t* out, size_t count, const char* field) {
    if (count > (hex_.size() - pos_) / 2) {
      throw Error(kTypeMismatch, std::string("PDU cut short in ") + field);
    }
    const char* p = hex_.data() + pos_;
    for (size_t i = 0; i < count; ++i) {
      const int high = kHexValue[static_cast<uint8_t>(p[2 * i])];
      const int low = kHexValue[static_cast<uint8_t>(p[2 * i + 1])];
      if ((high | low) < 0) {
        throw Error(kTypeMismatch, "not a hex digit at character " +
                                       std::to_string(pos_ + 2 * i + (high < 0 ? 1 : 2)) +
                                       " of the PDU (" + field + ")");
      }
      out[i] = static_cast<uint8_t>(high << 4 | low);
    }
    pos_ += 2 * count;
  }

  void Skip(size_t count, const char* field) {
    uint8_t scratch[32];
    while (count > 0) {
      const size_t n = count < sizeof scratch ? count : sizeof scratch;
      Octets(scratch, n, field);
      count -= n;
    }
  }

 private:
  std::string_view hex_;
  size_t pos_ = 0;
};

enum class Alphabet { kGsm7, kEightBit, kUcs2 };

// TS 23.038 4: the general groups (00xx, 01xx), the message-waiting groups
// (1100-1110) and the data coding / message class group (1111).  Reserved
// groups and the reserved alphabet are read as the default alphabet, as the
// standard tells a receiver to; compressed text cannot be shown as text, so
// its octets come through one character each.
Alphabet AlphabetOf(uint8_t dcs) {
  switch (dcs >> 4) {
    case 0x0:
    case 0x1:
    case 0x2:
    case 0x3:
    case 0x4:
    case 0x5:
    case 0x6:
    case 0x7:
      if (dcs & 0x20) return Alphabet::kEightBit;
      switch ((dcs >> 2) & 0x03) {
        case 1:
          return Alphabet::kEightBit;
        case 2:
          return Alphabet::kUcs2;
        default:
          return Alphabet::kGsm7;
      }
    case 0xE:
      return Alphabet::kUcs2;
    case 0xF:
      return (dcs & 0x04) ? Alphabet::kEightBit : Alphabet::kGsm7;
    default:
      return Alphabet::kGsm7;
  }
}

// TS 23.040 9.1.2.5: the length counts semi-octets; an alphanumeric address
// (type of number 101) holds GSM 7-bit text in them.
void AddressText(const uint8_t* octets, size_t semi_octets, uint8_t type, std::string& out) {
  const unsigned type_of_number = gsm0340::TypeOfNumber(type);
  if (type_of_number == gsm0340::kTonAlphanumeric) {
    const size_t count = semi_octets * 4 / 7;
    uint8_t septets[kMaxUnits];
    char16_t text[kMaxUnits];
    codec_detail::UnpackSeptets(octets, 0, count, septets);
    out = Utf16ToUtf8(std::u16string_view(text, gsm7::DecodeInto(septets, count, text)));
    return;
  }
  out = codec_detail::SemiOctetsToText(octets, semi_octets);
  if (type_of_number == gsm0340::kTonInternational && !out.empty()) out.insert(out.begin(), '+');
}

struct Concatenation {
  bool present = false;
  char ref[12] = {};
  size_t ref_length = 0;
  int total = 0;
  int sequence = 0;
  gsm7::ShiftTables tables;
};

// Walks the user data header (TS 23.040 9.2.3.24) by its element lengths.  The
// first valid concatenation element (00: 8-bit reference, 08: 16-bit) gives
// the facts; one with a zero count, a zero sequence number or a number past
// the count is ignored, as receivers must.  The national shift elements (24
// single shift, 25 locking shift) name the tables, the last of each kind
// counting; a language without such a table leaves the default one.
Concatenation ReadHeader(const uint8_t* header, size_t header_octets) {
  Concatenation c;
  size_t i = 1;
  while (i < header_octets) {
    if (i + 2 > header_octets) throw Error(kInvalidArgument, "user data header element cut short");
    const uint8_t id = header[i];
    const uint8_t length = header[i + 1];
    if (i + 2 + length > header_octets) {
      throw Error(kInvalidArgument, "user data header element longer than the header");
    }
    const uint8_t* data = header + i + 2;
    const bool eight_bit = id == gsm0340::kIeiConcat8 && length == gsm0340::kConcat8Length;
    const bool sixteen_bit = id == gsm0340::kIeiConcat16 && length == gsm0340::kConcat16Length;
    if (id == gsm0340::kIeiNationalSingleShift && length == 1) {
      c.tables.single = gsm7::HasSingleShift(data[0]) ? data[0] : 0;
    } else if (id == gsm0340::kIeiNationalLockingShift && length == 1) {
      c.tables.locking = gsm7::HasLockingShift(data[0]) ? data[0] : 0;
    }
    if (!c.present && (eight_bit || sixteen_bit)) {
      const int total = data[length - 2];
      const int sequence = data[length - 1];
      if (total >= 1 && sequence >= 1 && sequence <= total) {
        c.present = true;
        c.total = total;
        c.sequence = sequence;
        c.ref_length = 2 * (length);  // identifier, length and the reference octets
        codec_detail::OctetsToHex(header + i, length, c.ref);
      }
    }
    i += 2 + length;
  }
  return c;
}

}  // namespace

const char* DataCodingAlphabet(int data_coding) {
  switch (AlphabetOf(static_cast<uint8_t>(data_coding))) {
    case Alphabet::kEightBit:
      return "8bit";
    case Alphabet::kUcs2:
      return "UCS2";
    default:
      return "GSM7";
  }
}

void SMSDeliver::Decode(std::string& SMSDeliverPDU) {
  const std::optional<ParsedEntry> entry = ParseEntry(SMSDeliverPDU);
  if (!entry) throw Error(kInvalidArgument, "message entry without CR LF between index and PDU");
  message_id_ = entry->id;
  SMSDeliverPDU.erase(0, static_cast<size_t>(entry->pdu.data() - SMSDeliverPDU.data()));
  HexReader in(SMSDeliverPDU);

  // A listing without a service-centre address has the length octet 00.
  in.Skip(in.Octet("service-centre address length"), "service-centre address");
  const uint8_t first = in.Octet("first octet");
  // TS 23.040 9.2.3.1: 0 SMS-DELIVER, 1 SMS-SUBMIT (a stored outgoing
  // message), 2 a status report, 3 reserved (read as SMS-DELIVER).
  const unsigned mti = first & gsm0340::kMtiMask;
  if (mti == gsm0340::kMtiStatusReport) {
    throw Error(kInvalidArgument, "a status report (TP-MTI 2) carries no message");
  }
  const bool submit = mti == gsm0340::kMtiSubmit;
  if (submit) in.Skip(1, "TP-MR");

  const uint8_t semi_octets = in.Octet("address length");
  const uint8_t type = in.Octet("type of address");
  uint8_t address[128];
  in.Octets(address, (semi_octets + 1u) / 2, "address");
  AddressText(address, semi_octets, type, phone_number_);
  sender_type_ = type;
  is_submit_ = submit;

  in.Skip(1, "TP-PID");
  const uint8_t dcs = in.Octet("TP-DCS");
  data_coding_ = dcs;
  if (submit) {
    in.Skip(gsm0340::kValidityPeriodOctets[(first & gsm0340::kVpfMask) >> gsm0340::kVpfShift],
            "TP-VP");
    message_time_ = MessageTimeValue{};
  } else {
    uint8_t stamp[7];
    in.Octets(stamp, 7, "TP-SCTS");
    message_time_ = codec_detail::TimeStampToDate(stamp);
  }

  const size_t units = in.Octet("TP-UDL");
  const Alphabet alphabet = AlphabetOf(dcs);
  const size_t ud_octets = alphabet == Alphabet::kGsm7 ? (units * 7 + 7) / 8 : units;
  uint8_t ud[kMaxUnits];
  in.Octets(ud, ud_octets, "user data");

  Concatenation concat;
  size_t header_octets = 0;
  if (first & gsm0340::kUdhi) {
    if (ud_octets == 0) throw Error(kInvalidArgument, "user data header flagged but absent");
    header_octets = ud[0] + 1u;
    const bool fits = alphabet == Alphabet::kGsm7
                          ? codec_detail::HeaderSeptets(header_octets) <= units
                          : header_octets <= units;
    if (!fits) throw Error(kInvalidArgument, "user data header longer than the user data");
    concat = ReadHeader(ud, header_octets);
  }

  char16_t text[kMaxUnits];
  size_t length = 0;
  if (alphabet == Alphabet::kGsm7) {
    const size_t skip = header_octets == 0 ? 0 : codec_detail::HeaderSeptets(header_octets);
    uint8_t septets[kMaxUnits];
    codec_detail::UnpackSeptets(ud, 7 * skip, units - skip, septets);
    length = gsm7::DecodeInto(septets, units - skip, text, concat.tables);
  } else if (alphabet == Alphabet::kUcs2) {
    // UTF-16 big-endian; surrogate pairs stay pairs.  An odd last octet is
    // half a unit and is dropped.
    length = (units - header_octets) / 2;
    const uint8_t* p = ud + header_octets;
    for (size_t i = 0; i < length; ++i) {
      text[i] = static_cast<char16_t>(p[2 * i] << 8 | p[2 * i + 1]);
    }
  } else {
    length = units - header_octets;
    for (size_t i = 0; i < length; ++i) text[i] = ud[header_octets + i];
  }

  message_text_.assign(text, length);
  multi_part_ = concat.present;
  multi_part_ref_.assign(concat.ref, concat.ref_length);
  multi_part_count_ = static_cast<int16_t>(concat.total);
  multi_part_number_ = static_cast<int16_t>(concat.sequence);
  // Only 7-bit text is read through the tables.
  tables_ = alphabet == Alphabet::kGsm7 ? concat.tables : gsm7::ShiftTables{};
}

}  // namespace tarvex
