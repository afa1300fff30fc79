#include "codec/mdl_decoder.h"

#include <algorithm>
#include <vector>

#include "codec/gsm_alphabet.h"
#include "codec/pdu_octets.h"
#include "tarvex/error.h"

namespace tarvex::mdlDecoder {

std::u16string DecodeSeptets(std::string_view user_data_hex, int32_t count) {
  // A trailing half octet is not part of the data.
  std::vector<uint8_t> octets(user_data_hex.size() / 2);
  for (size_t i = 0; i < octets.size(); ++i) {
    const int high = codec_detail::kHexValue[static_cast<uint8_t>(user_data_hex[2 * i])];
    const int low = codec_detail::kHexValue[static_cast<uint8_t>(user_data_hex[2 * i + 1])];
    if (high < 0 || low < 0) throw Error(kTypeMismatch, "Type mismatch");
    octets[i] = static_cast<uint8_t>(high << 4 | low);
  }
  // Only complete septets: a count past the data gives what is there.
  const size_t complete = octets.size() * 8 / 7;
  const size_t n = count <= 0 ? 0 : std::min(static_cast<size_t>(count), complete);
  std::vector<uint8_t> septets(n);
  codec_detail::UnpackSeptets(octets.data(), 0, n, septets.data());
  return gsm7::FromSeptets(septets.data(), n);
}

std::u16string SeptetToChar(int16_t value) {
  if (value < 0 || value > 127) throw Error(kInvalidArgument, "Invalid procedure call or argument");
  const auto septet = static_cast<uint8_t>(value);
  return gsm7::FromSeptets(&septet, 1);
}

}  // namespace tarvex::mdlDecoder
