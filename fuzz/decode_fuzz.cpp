// SMSDeliver::Decode on arbitrary bytes: it may refuse them with 5 or 13 but
// must never crash, read outside its input or raise anything else.  The input
// goes in as a heap copy of exactly its size, so ASan sees any overrun.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tarvex/error.h"
#include "tarvex/sms_deliver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Most inputs get an index line so that the PDU itself is exercised.
  const bool with_index = size > 0 && (data[0] & 1);
  std::string entry = with_index ? "1\r\n" : "";
  entry.append(reinterpret_cast<const char*>(data) + (with_index ? 1 : 0),
               size - (with_index ? 1 : 0));
  entry.shrink_to_fit();
  tarvex::SMSDeliver d;
  try {
    d.Decode(entry);
  } catch (const tarvex::Error& e) {
    if (e.number() != tarvex::kInvalidArgument && e.number() != tarvex::kTypeMismatch) std::abort();
  }
  return 0;
}
