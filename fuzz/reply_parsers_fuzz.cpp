// Every reply parser of the engine on arbitrary modem output: none may crash,
// hang or read out of bounds; MessageList may only raise its three documented
// errors; and the final-result watch must reach the same verdict whether a
// reply arrives whole or in small reads (the first byte picks the read size).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "engine/message_list.h"
#include "engine/text_decode.h"
#include "tarvex/error.h"
#include "tarvex/reply.h"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace tarvex;
  if (size == 0) return 0;
  const size_t chunk = 1 + data[0] % 17;
  const std::string_view reply(reinterpret_cast<const char*>(data) + 1, size - 1);

  TextDecode::USSDResponse(reply);
  TextDecode::DeviceModel(reply);
  TextDecode::DeviceSerialNumber(reply);
  TextDecode::DeviceManufacture(reply);
  TextDecode::MessageStorage(reply);
  try {
    for (const std::string& entry : TextDecode::MessageList(reply)) {
      Check(entry.find("\r\n") != std::string::npos);
    }
  } catch (const Error& e) {
    Check(e.number() == kInvalidArgument || e.number() == kOverflow || e.number() == kTypeMismatch);
  }

  const std::string cleaned = RemoveUnsolicited(reply);
  Check(cleaned.size() <= reply.size());
  TextDecode::DeviceModel(cleaned);
  TextDecode::USSDResponse(cleaned);

  FinalCodeWatch whole;
  whole.Scan(reply);
  FinalCodeWatch pieces;
  std::string buffer;
  for (size_t i = 0; i < reply.size(); i += chunk) {
    buffer.append(reply.substr(i, chunk));
    pieces.Scan(buffer);
  }
  Check(whole.Complete() == pieces.Complete());
  Check(whole.ErrorSeen() == pieces.ErrorSeen());
  return 0;
}
