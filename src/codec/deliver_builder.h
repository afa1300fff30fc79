// Builds SMS-DELIVER PDUs (what a modem stores for a received message), with
// the service-centre field in front, as upper-case hex text.  Used by the modem
// simulator to fill its inbox and by tests to make real PDUs of every coding.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tarvex {

struct DeliverFields {
  std::string service_centre = "+31624000000";  // "" gives the length octet 00
  std::string sender = "+31612345678";          // "+digits", digits, or letters (alphanumeric)
  int year = 2026, month = 12, day = 6, hour = 9, minute = 30, second = 0;
  int zone_quarters = 4;  // +01:00
  std::u16string text;
  bool force_ucs2 = false;  // else UCS2 only when GSM 7-bit cannot carry it
  struct Concat {
    int reference = 0;  // 0..255, or 0..65535 with wide_reference
    int total = 1;
    int sequence = 1;
    bool wide_reference = false;  // element 08 instead of 00
  };
  std::optional<Concat> concat;
};

// Raises error 5 when the text does not fit one message (or part).
std::string BuildDeliverPdu(const DeliverFields& fields);

}  // namespace tarvex
