// The parsers of the modem-state answers (TS 27.007 +CPIN, +CPINR, +CSQ,
// +CREG, +COPS; TS 27.005 +CSCA, +CPMS, +CNMI) and of the makers' forms of
// the PIN tries.  The engine's queries (modem_status.cpp, report_routing.cpp)
// run the commands; these read the reply text, with notices already taken
// out.  Pure functions; each returns false and leaves `out` untouched when
// the text holds no answer of the expected shape.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "tarvex/engine.h"

namespace tarvex {

bool ParsePinState(std::string_view text, PinState& out);
// +CPINR, ^CPIN, +QPINC, +CPINC or +SPIC lines; true when one told a count.
bool ParsePinTries(std::string_view text, PinTries& out);
bool ParseSignal(std::string_view text, SignalQuality& out);
// The read form "+CREG: <n>,<stat>[,<lac>,<ci>[,<AcT>]]"; an unsolicited
// "+CREG: <stat>,..." that came along is not taken for it.
bool ParseRegistration(std::string_view text, Registration& out);
bool ParseOperator(std::string_view text, OperatorName& out);
// A number a modem in UCS2 character set gives as hex ("002B0033...") comes
// back as digits.
bool ParseServiceCentre(std::string_view text, ServiceCentre& out);
bool ParseStorageUse(std::string_view text, StorageUse& out);

// "+CNMI: 2,1,0,0,0" -> {2,1,0,0,0}.
std::optional<std::vector<int>> ParseCnmiValues(std::string_view text);
// "+CNMI: (0-3),(0,1),(0),(0-2),(0,1)" -> the values offered per parameter.
std::optional<std::vector<std::set<int>>> ParseCnmiOffers(std::string_view text);
// The AT+CNMI arguments that route status reports to the terminal, the
// modem's other values kept: <ds> 1 (+CDS) when offered, else 2 (+CDSI),
// and a <mode> that shows indications when the modem's is 0.  `found` empty
// or `offers` empty mean unknown.  nullopt when the offers leave no way.
struct ReportRoutingChoice {
  std::string arguments;  // "2,1,0,1,0" or "2,,,1"
  int ds = -1;
};
std::optional<ReportRoutingChoice> ChooseReportRouting(const std::vector<int>& found,
                                                       const std::vector<std::set<int>>& offers,
                                                       int prefer_ds);

// A status-report notice: "+CDS: <length>" CR LF "<pdu>" or
// "+CDSI: <mem>,<index>".
struct ReportNotice {
  std::string pdu;      // +CDS
  std::string storage;  // +CDSI
  int index = -1;
};
std::optional<ReportNotice> ParseReportNotice(std::string_view notice);

// What a trace may show of bytes written to or read from a modem: the
// arguments of the commands that carry a PIN, PUK or password (+CPIN,
// +CPIN2, +CPWD, +CLCK, ^CPIN) become "****".  Kept apart so that whatever
// prints the AT dialogue can run it.
std::string MaskSecrets(std::string_view bytes);

}  // namespace tarvex
