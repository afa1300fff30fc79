// The meanings of the extended error codes a modem reports after AT+CMEE=1:
// "+CMS ERROR: <n>" (message service, 3GPP TS 27.005 3.2.5, whose codes
// 0-127 come from TS 24.011 E.2 and 128-255 from TS 23.040 9.2.3.22) and
// "+CME ERROR: <n>" (mobile equipment, TS 27.007 9.2).  One data table each,
// kept in the engine so that every face words a refusal alike.  Pure.
#pragma once

#include <string>
#include <string_view>

#include "tarvex/reply.h"

namespace tarvex {

// The meaning of a code, "" when the tables do not hold it (makers' own codes).
std::string_view CmsErrorMeaning(int number);
std::string_view CmeErrorMeaning(int number);

// "+CMS ERROR 38: network out of order", "+CME ERROR 10: SIM not inserted",
// "+CMS ERROR 999" for a code the tables lack, the line as it came for an
// error in words, "ERROR" for a plain one.
std::string DescribeModemError(const FinalCode& code);

// The meaning alone ("network out of order"), "" when there is none.
std::string ModemErrorMeaning(const FinalCode& code);

}  // namespace tarvex
