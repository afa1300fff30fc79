// mdlConverter: numbers as hex text ("A5", two characters per octet, most
// significant digit first), the form a PDU's fields take on the wire.  The
// codec works on bytes inside; the tool prints octets with this.
#pragma once

#include <cstdint>
#include <string>

namespace tarvex::mdlConverter {

// Hex of n, upper case, at least two digits; negatives as 32-bit two's
// complement (-1 gives "FFFFFFFF"); 256 gives "100".
std::string ByteToHex(int32_t n);

}  // namespace tarvex::mdlConverter
