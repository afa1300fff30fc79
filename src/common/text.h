// The text helpers every area shares: UTF-8 <-> UTF-16 at the edges, the one
// blank-trim and the one whole-number reader.
//
// Message texts inside the engine are UTF-16 (std::u16string), as COM strings
// are, so that a "character" counts the way the host counts it.  Conversion
// happens only where text enters or leaves: the command-line tool, JSON output,
// the settings store.  Ill-formed input never throws: each bad sequence becomes
// U+FFFD, so a stray byte from a modem cannot abort a listing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);
// ASCII letters folded to lower case, as registry paths and names compare;
// other bytes (UTF-8 included) stay as they are.
std::string AsciiLower(std::string text);
// One code point (not a surrogate, at most U+10FFFF) as UTF-8.
std::string EncodeUtf8(char32_t code_point);

// Space and tab: the blanks a setting, a number or a field of a modem's line
// may carry around it.
inline constexpr std::string_view kBlanks = " \t";
// `text` without the characters of `blanks` at either end; a view into it.
// VB's Trim, which the host's own conversions follow, is TrimBlanks(text, " ").
std::string_view TrimBlanks(std::string_view text, std::string_view blanks = kBlanks);

// A whole number in decimal: an optional sign and at least one digit, nothing
// else (blanks are the caller's to trim).  The shape is checked before the
// range, so "40000x" is no number whatever the range.  Callers raise 13 (type
// mismatch) for kNotANumber and 6 (overflow) for kOutOfRange, as the host's
// conversions do.
struct WholeNumber {
  enum Status { kOk, kNotANumber, kOutOfRange };
  Status status = kNotANumber;
  int64_t value = 0;  // set only with kOk
};
WholeNumber ParseWholeNumber(std::string_view text, int64_t min, int64_t max);

}  // namespace tarvex
