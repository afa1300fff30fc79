// The national language tables of the GSM 7-bit alphabet (3GPP TS 23.038
// 6.2.1.2.4 and annex A): a locking-shift table replaces the default alphabet
// for a whole message, a single-shift table replaces the extension table behind
// the escape septet.  A message names them in its user data header (TS 23.040
// 9.2.3.24.15 single shift, .16 locking shift) by language identifier.
//
// The tables are constant data, read from any thread.  Identifier 0, an
// identifier the standard does not define, and Spanish's locking shift (the
// standard has none) all give the default tables.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex::gsm7 {

// TS 23.038 6.2.1.2.4: 1 Turkish, 2 Spanish, 3 Portuguese, 4 Bengali,
// 5 Gujarati, 6 Hindi, 7 Kannada, 8 Malayalam, 9 Oriya, 10 Punjabi, 11 Tamil,
// 12 Telugu, 13 Urdu.
inline constexpr int kLanguageCount = 14;

// The pair of tables a 7-bit text is read or written through, as language
// identifiers; {0, 0} is the default alphabet with its extension table.
struct ShiftTables {
  int locking = 0;
  int single = 0;
  bool IsDefault() const { return locking == 0 && single == 0; }
  bool operator==(const ShiftTables&) const = default;
};

// 128 characters by septet value, kNoChar (0xFFFF) where the table has none
// (the escape position included).
const char16_t* LockingShiftTable(int language);
const char16_t* SingleShiftTable(int language);
// Whether the standard defines the table (else the functions above give the
// default one).
bool HasLockingShift(int language);
bool HasSingleShift(int language);

// "tr", "es", "pt", "bn", "gu", "hi", "kn", "ml", "or", "pa", "ta", "te", "ur";
// "default" for 0 and any identifier without tables.
std::string_view LanguageCode(int language);
// The identifier of a code above, or -1.
int LanguageFromCode(std::string_view code);

// The septet form of one UTF-16 unit through the tables: the septet (0..127),
// 0x100 | septet for an escape pair, or -1 when neither table has the unit.
// A character both tables hold goes through the locking table (one septet).
int SeptetForm(char16_t c, ShiftTables tables);

// What a sender asked for: no national tables (the default alphabet or UCS2,
// as always), one language's tables where the text needs them, or whichever
// tables give the fewest parts.
struct NationalChoice {
  enum Mode { kOff, kLanguage, kAuto } mode = kOff;
  int language = 0;
};
// "off", "auto" or a language code; anything else raises error 5.
NationalChoice ParseNationalChoice(std::string_view text);

}  // namespace tarvex::gsm7
