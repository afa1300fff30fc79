// The GSM 7-bit default alphabet and its extension table (3GPP TS 23.038
// 6.2.1), one table for the encoder and both decode paths.
//
// A character of the extension table travels as the escape septet 27 followed
// by its own septet, so it costs two septets.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tarvex/national_tables.h"

namespace tarvex::gsm7 {

inline constexpr uint8_t kEscape = 27;
// Marks a table position without a character (the escape position of a
// locking-shift table, the gaps of a single-shift table).
inline constexpr char16_t kNoChar = 0xFFFF;

// The default alphabet and its extension table, 128 positions each, as the
// national tables are laid out (see tarvex/national_tables.h).
const char16_t* DefaultTable();
const char16_t* ExtensionTable();

// Septets one UTF-16 unit costs: 1 (default table), 2 (extension table), or 0
// when the alphabet cannot carry it (the text must then go as UCS2).
int SeptetLength(char16_t c);
// True when every unit of the text has a septet form.
bool CanEncode(std::u16string_view text);
// Septets of the whole text (escape pairs count two); only for CanEncode texts.
int CountSeptets(std::u16string_view text);
// Septet values back to text.  An escape followed by a value the extension
// table lacks gives that value's default character (TS 23.038 says so); a
// trailing lone escape gives a space.
std::u16string FromSeptets(const uint8_t* septets, size_t count);

// The allocation-free forms the codec uses inside.
//
// Writes the septets of the text to out (at most `capacity`, counting on past
// it) and returns the text's full septet count, or kNotGsm when a unit has no
// septet form.  A result above capacity means the text does not fit.
inline constexpr size_t kNotGsm = static_cast<size_t>(-1);
size_t EncodeInto(std::u16string_view text, uint8_t* out, size_t capacity);
// Writes the text of `count` septets to out (room for `count` units) and
// returns the units written; escape pairs make it fewer than `count`.
size_t DecodeInto(const uint8_t* septets, size_t count, char16_t* out);
// The encoder's fast path: packs a text made only of default-table characters
// straight into octets, from stream bit bit_offset on (see PackSeptets in
// codec/pdu_octets.h for the layout and what out must hold), and returns the
// octets used.  Returns kNotGsm, with out half-written, as soon as a unit
// needs the extension table or is not in the alphabet.
size_t PackDefault(std::u16string_view text, size_t bit_offset, uint8_t* out);

// The same through a pair of national tables (the default pair takes the
// forms above).  Decoding follows TS 23.038 6.2.1.1: an escape before a
// position the single-shift table leaves empty gives the locking table's
// character there, a second escape or an empty locking position a space.
size_t EncodeInto(std::u16string_view text, ShiftTables tables, uint8_t* out, size_t capacity);
size_t DecodeInto(const uint8_t* septets, size_t count, char16_t* out, ShiftTables tables);

}  // namespace tarvex::gsm7
