// The text of a USSD answer that a modem may have handed over as hex.
//
// Modems differ in what they put between the quotation marks of "+CUSD:": the
// text itself, or its octets as hex digits: packed GSM 7-bit (a Huawei E160
// under coding scheme 15), UCS2 (a Quectel M35 once AT+CSCS="UCS2"), 8-bit
// (others).  DecodeUssdText follows the coding scheme and the character set
// where they say how the answer is written; where they do not, it takes an
// answer made only of an even number of hex digits for hex when one coding
// reads it as text, and leaves it as it came otherwise.
//
// A pure function of its arguments: no state, safe on any thread.  The engine's
// own result stays what it always was; this is for showing an answer to people.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

struct UssdText {
  std::string text;    // UTF-8
  std::string coding;  // "gsm7", "ucs2", "8bit", or "text" when left as it came
  std::string raw;     // the answer as it came
};

// `raw` is the answer's text, `dcs` the coding scheme that came with it (cell
// broadcast coding, 3GPP TS 23.038 5), `charset` the modem's TE character set
// (AT+CSCS: "UCS2", "HEX", "GSM", "IRA"...), empty when unknown.
UssdText DecodeUssdText(std::string_view raw, std::optional<int> dcs,
                        std::string_view charset = {});

}  // namespace tarvex
