// DecodeStatusReport on arbitrary bytes in each service-centre reading: it may
// refuse them with 5 or 13 but must never crash, read outside its input or
// raise anything else.  A report it accepts must describe its TP-ST.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "codec/status_report.h"
#include "tarvex/error.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto field = static_cast<tarvex::ServiceCentreField>(data[0] % 3);
  std::string pdu(reinterpret_cast<const char*>(data) + 1, size - 1);
  pdu.shrink_to_fit();
  try {
    const tarvex::StatusReport r = tarvex::DecodeStatusReport(pdu, field);
    if (r.meaning.reason.empty()) std::abort();
  } catch (const tarvex::Error& e) {
    if (e.number() != tarvex::kInvalidArgument && e.number() != tarvex::kTypeMismatch) std::abort();
  }
  return 0;
}
