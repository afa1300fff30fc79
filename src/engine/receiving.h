// The pure readers behind the engine's receiving operations (receiving.cpp):
// what a modem's storage and indication answers mean, and where the bytes of
// an idle port end in whole notices.  Stateless; any thread.  Text they do not
// understand gives an empty result, never an error: the caller then falls
// back to what every modem takes.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex {

// The read storage of an "AT+CPMS?" answer (`+CPMS: "SM",3,30,...` -> "SM").
std::string ReadStorageOf(std::string_view answer);

// The read storages of an "AT+CPMS=?" answer, its first group
// (`+CPMS: ("SM","ME","SR"),("SM","ME"),...` -> SM, ME, SR).
std::vector<std::string> ReadStoragesOffered(std::string_view answer);

// The values of each parameter of a test answer: `+CNMI: (0-3),(0,1),(0)`
// -> {0,1,2,3}, {0,1}, {0}.  Empty when the answer has no groups.
std::vector<std::set<int>> OfferedValues(std::string_view answer);

// The AT+CNMI argument lists to try, best first: stored delivery with +CMTI
// (mt=1, never the direct delivery of mt=2/3), status reports as +CDSI, else
// as +CDS, else none; buffered in the modem while the line is busy where it
// can.  Filtered by `offered` when the modem told (OfferedValues); trailing
// parameters the modem does not list are left out.
std::vector<std::string> IndicationModes(const std::vector<std::set<int>>& offered);

// How much of `input` (bytes read from an idle port) makes whole lines that
// can be filed: up to the last line end, less a last line that announces a
// PDU line still to come (+CMT:, +CDS:).
size_t WholeNotices(std::string_view input);

}  // namespace tarvex
