// UTF-8 <-> UTF-16 at the edges.
//
// Message texts inside the engine are UTF-16 (std::u16string), as COM strings
// are, so that a "character" counts the way the host counts it.  Conversion
// happens only where text enters or leaves: the command-line tool, JSON output,
// the settings store.  Ill-formed input never throws: each bad sequence becomes
// U+FFFD, so a stray byte from a modem cannot abort a listing.
#pragma once

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

}  // namespace tarvex
