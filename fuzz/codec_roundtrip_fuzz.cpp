// Encode then decode: for any number and any text the GSM alphabet or UCS2 can
// carry within one message or part, the stored-message listing of the PDU
// gives back the number and the text (and the part facts).  Texts that do not
// fit must be refused with error 5.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "codec/gsm_alphabet.h"
#include "codec/split.h"
#include "tarvex/error.h"
#include "tarvex/sms_deliver.h"
#include "tarvex/sms_submit.h"

namespace {

// A few characters that matter to the alphabet, so that short inputs reach
// escape pairs, Greek letters and surrogates often.
constexpr char16_t kInteresting[] = {u'@',      u'$',      u'_',      u'\u20AC', u'[',
                                     u'\u0394', u'\u00E7', u'\r',     u'\n',     0xD83D,
                                     0xDE00,    u'\u041F', u'\u00A1', u'\x1B'};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const unsigned mode = data[0];
  const size_t digits = 1 + data[1] % 20;
  std::string number = (mode & 1) ? "+" : "";
  for (size_t i = 0; i < digits; ++i) number += static_cast<char>('0' + (data[2] + i * 7) % 10);

  std::u16string text;
  for (size_t i = 3; i + 1 < size; i += 2) {
    const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if ((mode & 6) == 0) {
      text += static_cast<char16_t>(unit & 0x7F);  // mostly the default table
    } else if ((mode & 6) == 2) {
      text += kInteresting[unit % (sizeof kInteresting / sizeof kInteresting[0])];
    } else {
      text += unit;
    }
  }

  const bool part = mode & 8;
  tarvex::SMSSubmit submit;
  submit.PhoneNumber = number;
  submit.MessageText = text;
  std::string pdu;
  const int total = 1 + data[2] % 255;
  const int sequence = 1 + (data[2] * 31) % total;
  try {
    const tarvex::SubmitPdu encoded =
        part ? submit.EncodeLongSMS("5C", total, sequence) : submit.Encode();
    pdu = encoded.hex;
    if (static_cast<size_t>(encoded.tpdu_octets) * 2 + 2 != pdu.size()) std::abort();
  } catch (const tarvex::Error& e) {
    // Only a text too long for its message may be refused.
    const bool gsm = tarvex::gsm7::CanEncode(text);
    const size_t room = gsm ? (part ? 153u : 160u) : (part ? 67u : 70u);
    const size_t need = gsm ? static_cast<size_t>(tarvex::gsm7::CountSeptets(text)) : text.size();
    if (e.number() != tarvex::kInvalidArgument || need <= room) std::abort();
    if (!part && tarvex::FitsSingle(text)) std::abort();
    return 0;
  }
  if (!part && !tarvex::FitsSingle(text)) std::abort();

  std::string entry = " 9 \r\n" + pdu;
  tarvex::SMSDeliver d;
  d.Decode(entry);
  // International after "+" or "00", or with more than six digits and no
  // leading "0"; else the unknown type, without "+".  Encode wrote back the
  // digits it sent.
  const bool international = (mode & 1) || (number.size() > 2 && number.starts_with("00")) ||
                             (!number.starts_with("0") && number.size() > 6);
  const std::string expected_number = (international ? "+" : "") + submit.PhoneNumber;
  if (d.PhoneNumber() != expected_number || d.MessageText() != text || !d.IsSubmit() ||
      d.MessageID() != "9" || d.MultiPartSMS() != part) {
    std::abort();
  }
  if (part && (d.MultiPartSMSRef() != "00035C" || d.MultiPartSMSCount() != total ||
               d.MultiPartSMSNumber() != sequence)) {
    std::abort();
  }
  return 0;
}
