#include "codec/mdl_converter.h"

#include "codec/pdu_octets.h"

namespace tarvex::mdlConverter {

using codec_detail::kHexDigits;

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

}  // namespace tarvex::mdlConverter
