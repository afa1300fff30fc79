// The septet decoder shared by the decode paths: septet values to characters
// through the one GSM 7-bit table (with escape pairs).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex::mdlDecoder {

// The first `count` septets of the user data (hex text, octets first to last,
// each read from its least significant bit) as text.
std::u16string DecodeSeptets(std::string_view user_data_hex, int32_t count);
// One septet value (0..127) of the default table as a character.
std::u16string SeptetToChar(int16_t value);

}  // namespace tarvex::mdlDecoder
