#include "codec/mdl_converter.h"

#include "codec/pdu_octets.h"
#include "tarvex/error.h"

namespace tarvex::mdlConverter {

using codec_detail::kHexDigits;
using codec_detail::kHexValue;

std::string ByteToHex(int32_t n) {
  // Negative numbers print as their 32-bit two's complement.
  auto v = static_cast<uint32_t>(n);
  char buffer[8];
  int used = 0;
  do {
    buffer[7 - used++] = kHexDigits[v & 0x0F];
    v >>= 4;
  } while (v != 0);
  if (used == 1) buffer[7 - used++] = '0';
  return std::string(buffer + 8 - used, static_cast<size_t>(used));
}

std::string DecToBin7(int32_t n) {
  std::string bits(7, '0');
  const auto v = static_cast<uint32_t>(n);  // negatives keep their low seven bits too
  for (int i = 0; i < 7; ++i) {
    if (v & (1u << i)) bits[6 - static_cast<size_t>(i)] = '1';
  }
  return bits;
}

std::string BinToHex(std::string_view bits) {
  // The last eight characters count, as if "00000000" stood in front; any
  // character but '1' is a zero bit.
  const size_t take = bits.size() < 8 ? bits.size() : 8;
  const std::string_view tail = bits.substr(bits.size() - take);
  unsigned v = 0;
  for (char c : tail) v = (v << 1) | (c == '1' ? 1u : 0u);
  return std::string{kHexDigits[v >> 4], kHexDigits[v & 0x0F]};
}

std::string HexToBin(std::string_view hex) {
  // The character counter of the text form is a 16-bit integer.
  if (hex.size() > 32767) throw Error(kOverflow, "Overflow");
  std::string bits;
  bits.reserve(hex.size() * 4);
  for (char c : hex) {
    // Callers give hex digits; any other character reads as 0 (no error).
    const int v = kHexValue[static_cast<uint8_t>(c)];
    const unsigned nibble = v < 0 ? 0 : static_cast<unsigned>(v);
    for (int b = 3; b >= 0; --b) bits += (nibble >> b) & 1 ? '1' : '0';
  }
  return bits;
}

int32_t HexToByte(std::string_view hex) {
  if (hex.empty()) throw Error(kTypeMismatch, "Type mismatch");
  const char first = hex.size() == 1 ? '0' : hex[0];
  const char second = hex.size() == 1 ? hex[0] : hex[1];
  const int high = kHexValue[static_cast<uint8_t>(first)];
  const int low = kHexValue[static_cast<uint8_t>(second)];
  if (high < 0 || low < 0) throw Error(kTypeMismatch, "Type mismatch");
  return high * 16 + low;
}

}  // namespace tarvex::mdlConverter
