// Conversions between numbers, hex text ("A5", two characters per octet, most
// significant digit first) and bit text ("10100101", most significant bit
// first).  The encoder and decoder work on bytes inside; these keep the exact
// results and errors that callers of the text forms rely on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex::mdlConverter {

// Hex of n, upper case, at least two digits; negatives as 32-bit two's
// complement (-1 gives "FFFFFFFF"); 256 gives "100".
std::string ByteToHex(int32_t n);
// Exactly 7 bit characters: the low seven bits of n.
std::string DecToBin7(int32_t n);
// The last 8 characters of the bit text (left-padded with "0") as 2 hex digits.
std::string BinToHex(std::string_view bits);
// 4 bit characters per hex digit.  Raises 6 (overflow) past 32767 characters.
std::string HexToBin(std::string_view hex);
// The first two characters as a number 0..255 (one character is padded with
// "0"); raises 13 (type mismatch) for an empty text or a non-hex character.
int32_t HexToByte(std::string_view hex);

}  // namespace tarvex::mdlConverter
