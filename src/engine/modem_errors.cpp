#include "engine/modem_errors.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tarvex {
namespace {

using Entry = std::pair<int, std::string_view>;

// TS 27.005 3.2.5: 0-127 are the RP causes of TS 24.011 E.2, 128-255 the
// TP-FCS values of TS 23.040 9.2.3.22, 300 on the modem's own.  Sorted.
constexpr auto kCms = std::to_array<Entry>({
    {1, "unassigned (unallocated) number"},
    {8, "operator determined barring"},
    {10, "call barred"},
    {17, "network failure"},
    {21, "short message transfer rejected"},
    {22, "memory capacity exceeded"},
    {27, "destination out of service"},
    {28, "unidentified subscriber"},
    {29, "facility rejected"},
    {30, "unknown subscriber"},
    {38, "network out of order"},
    {41, "temporary failure"},
    {42, "congestion"},
    {47, "resources unavailable, unspecified"},
    {50, "requested facility not subscribed"},
    {69, "requested facility not implemented"},
    {81, "invalid short message transfer reference value"},
    {95, "invalid message, unspecified"},
    {96, "invalid mandatory information"},
    {97, "message type non-existent or not implemented"},
    {98, "message not compatible with short message protocol state"},
    {99, "information element non-existent or not implemented"},
    {111, "protocol error, unspecified"},
    {127, "interworking, unspecified"},
    {128, "telematic interworking not supported"},
    {129, "short message type 0 not supported"},
    {130, "cannot replace short message"},
    {143, "unspecified TP-PID error"},
    {144, "data coding scheme (alphabet) not supported"},
    {145, "message class not supported"},
    {159, "unspecified TP-DCS error"},
    {160, "command cannot be actioned"},
    {161, "command unsupported"},
    {175, "unspecified TP-Command error"},
    {176, "TPDU not supported"},
    {192, "SC busy"},
    {193, "no SC subscription"},
    {194, "SC system failure"},
    {195, "invalid SME address"},
    {196, "destination SME barred"},
    {197, "SM rejected, duplicate SM"},
    {198, "TP-VPF not supported"},
    {199, "TP-VP not supported"},
    {208, "SIM SMS storage full"},
    {209, "no SMS storage capability in SIM"},
    {210, "error in MS"},
    {211, "memory capacity exceeded"},
    {212, "SIM application toolkit busy"},
    {213, "SIM data download error"},
    {255, "unspecified error cause"},
    {300, "ME failure"},
    {301, "SMS service of ME reserved"},
    {302, "operation not allowed"},
    {303, "operation not supported"},
    {304, "invalid PDU mode parameter"},
    {305, "invalid text mode parameter"},
    {310, "SIM not inserted"},
    {311, "SIM PIN required"},
    {312, "PH-SIM PIN required"},
    {313, "SIM failure"},
    {314, "SIM busy"},
    {315, "SIM wrong"},
    {316, "SIM PUK required"},
    {317, "SIM PIN2 required"},
    {318, "SIM PUK2 required"},
    {320, "memory failure"},
    {321, "invalid memory index"},
    {322, "memory full"},
    {330, "SMSC address unknown"},
    {331, "no network service"},
    {332, "network timeout"},
    {340, "no +CNMA acknowledgement expected"},
    {500, "unknown error"},
});

// TS 27.007 9.2 (general errors and the GPRS ones).  Sorted.
constexpr auto kCme = std::to_array<Entry>({
    {0, "phone failure"},
    {1, "no connection to phone"},
    {2, "phone-adaptor link reserved"},
    {3, "operation not allowed"},
    {4, "operation not supported"},
    {5, "PH-SIM PIN required"},
    {6, "PH-FSIM PIN required"},
    {7, "PH-FSIM PUK required"},
    {10, "SIM not inserted"},
    {11, "SIM PIN required"},
    {12, "SIM PUK required"},
    {13, "SIM failure"},
    {14, "SIM busy"},
    {15, "SIM wrong"},
    {16, "incorrect password"},
    {17, "SIM PIN2 required"},
    {18, "SIM PUK2 required"},
    {20, "memory full"},
    {21, "invalid index"},
    {22, "not found"},
    {23, "memory failure"},
    {24, "text string too long"},
    {25, "invalid characters in text string"},
    {26, "dial string too long"},
    {27, "invalid characters in dial string"},
    {30, "no network service"},
    {31, "network timeout"},
    {32, "network not allowed - emergency calls only"},
    {40, "network personalisation PIN required"},
    {41, "network personalisation PUK required"},
    {42, "network subset personalisation PIN required"},
    {43, "network subset personalisation PUK required"},
    {44, "service provider personalisation PIN required"},
    {45, "service provider personalisation PUK required"},
    {46, "corporate personalisation PIN required"},
    {47, "corporate personalisation PUK required"},
    {48, "hidden key required"},
    {49, "EAP method not supported"},
    {50, "incorrect parameters"},
    {100, "unknown"},
    {103, "illegal MS"},
    {106, "illegal ME"},
    {107, "GPRS services not allowed"},
    {111, "PLMN not allowed"},
    {112, "location area not allowed"},
    {113, "roaming not allowed in this location area"},
    {132, "service option not supported"},
    {133, "requested service option not subscribed"},
    {134, "service option temporarily out of order"},
    {148, "unspecified GPRS error"},
    {149, "PDP authentication failure"},
    {150, "invalid mobile class"},
});

template <size_t N>
std::string_view Find(const std::array<Entry, N>& table, int number) {
  const auto it = std::lower_bound(table.begin(), table.end(), number,
                                   [](const Entry& e, int n) { return e.first < n; });
  return it != table.end() && it->first == number ? it->second : std::string_view();
}

}  // namespace

std::string_view CmsErrorMeaning(int number) { return Find(kCms, number); }
std::string_view CmeErrorMeaning(int number) { return Find(kCme, number); }

std::string ModemErrorMeaning(const FinalCode& code) {
  if (code.number < 0) return "";
  if (code.kind == FinalCode::kCmsError) return std::string(CmsErrorMeaning(code.number));
  if (code.kind == FinalCode::kCmeError) return std::string(CmeErrorMeaning(code.number));
  return "";
}

std::string DescribeModemError(const FinalCode& code) {
  if (code.kind != FinalCode::kCmsError && code.kind != FinalCode::kCmeError) {
    return code.line.empty() ? "ERROR" : code.line;
  }
  if (code.number < 0) return code.line;  // an error in words (AT+CMEE=2)
  std::string text = code.kind == FinalCode::kCmsError ? "+CMS ERROR " : "+CME ERROR ";
  text += std::to_string(code.number);
  const std::string meaning = ModemErrorMeaning(code);
  if (!meaning.empty()) text += ": " + meaning;
  return text;
}

}  // namespace tarvex
