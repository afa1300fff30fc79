// Octet-level pieces shared by the encoder, the decoder and the deliver
// builder.  Private to codec/: the public classes keep their text contracts,
// these work on bytes so that a PDU costs about what converting its hex costs.
//
// Stateless; every function is safe to call from any thread.  Buffers are the
// caller's: the functions never allocate except where they return a string.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "codec/gsm_03_40.h"
#include "tarvex/national_tables.h"
#include "tarvex/sms_deliver.h"

namespace tarvex::codec_detail {

// A user data length octet can claim up to 255 units, more than TP-UD holds,
// so decode buffers are sized for that.
inline constexpr size_t kMaxUserDataOctets = gsm0340::kMaxUserDataOctets;
inline constexpr size_t kMaxUnits = 255;

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

// Value of a hex digit (either case), -1 for any other character.
inline constexpr std::array<int8_t, 256> kHexValue = [] {
  std::array<int8_t, 256> t{};
  for (auto& v : t) v = -1;
  for (int i = 0; i < 10; ++i) t['0' + i] = static_cast<int8_t>(i);
  for (int i = 0; i < 6; ++i) {
    t['A' + i] = static_cast<int8_t>(10 + i);
    t['a' + i] = static_cast<int8_t>(10 + i);
  }
  return t;
}();

// Writes 2 * count upper-case hex digits at out.
inline void OctetsToHex(const uint8_t* octets, size_t count, char* out) {
  for (size_t i = 0; i < count; ++i) {
    out[2 * i] = kHexDigits[octets[i] >> 4];
    out[2 * i + 1] = kHexDigits[octets[i] & 0x0F];
  }
}

// Septet packing (3GPP TS 23.040 9.2.3.24, TS 23.038 6.1.2.1.1): septet k
// occupies stream bits bit_offset + 7k .. +6, least significant bit first,
// where stream bit b is bit (b % 8) of octet b / 8.  Worked example: "abc"
// (61 62 63) packs as 61 F1 18: octet 0 = 'a' | low bit of 'b' << 7.
// A header of h octets before 7-bit text gives bit_offset = 7 * ceil(8h / 7),
// i.e. the fill bits that bring the text to a septet boundary.
//
// `out` must hold (bit_offset + 7 * count + 7) / 8 octets, zero from
// bit_offset / 8 on.  Returns that octet count.
size_t PackSeptets(const uint8_t* septets, size_t count, size_t bit_offset, uint8_t* out);
// Reads `count` septets starting at bit_offset; all of them must lie inside
// the octets the caller holds.
void UnpackSeptets(const uint8_t* octets, size_t bit_offset, size_t count, uint8_t* out);

// Septets a header of `header_octets` (length octet included) covers with its
// fill bits: 6 octets -> 7 septets, 7 octets -> 8 septets.
inline constexpr size_t HeaderSeptets(size_t header_octets) { return (header_octets * 8 + 6) / 7; }

// An address's BCD digits (3GPP TS 24.008 10.5.4.7): low semi-octet first,
// 0-9 as digits, A-E as '*', '#', 'a', 'b', 'c'; the filler F is dropped.
std::string SemiOctetsToText(const uint8_t* octets, size_t digits);

// A service-centre time stamp (TS 23.040 9.2.3.11): seven swapped BCD pairs,
// the last the zone in quarter hours with its sign in bit 3.  A pair whose
// first written digit is not decimal reads 0, one whose second is not reads
// as the first alone.
MessageTimeValue TimeStampToDate(const uint8_t* stamp);
// Calendar fields with carry-over (month 13 is January of the next year, 60
// seconds one minute, day 0 the last day of the month before) and the DATE.
MessageTimeValue MakeMessageTime(int year, int month, int day, int hour, int minute, int second);

// How WriteUserData codes a text: kAuto takes the GSM 7-bit alphabet when it
// can carry the text, else UCS2.
enum class Coding { kAuto, kUcs2 };

// Writes TP-UDL and TP-UD at out (header: the user data header with its own
// length octet, or empty) and the text's TP-DCS at *dcs; returns the octets
// written at out.  Capacities: 160 septets, 140 octets, less the header (and
// its fill bits).  Raises error 5 when the text does not fit.  out must hold
// 1 + kMaxUserDataOctets octets.  National tables (the header names them)
// make kAuto write 7-bit through them; a unit they lack raises error 5.
size_t WriteUserData(std::u16string_view text, const uint8_t* header, size_t header_octets,
                     Coding coding, uint8_t* dcs, uint8_t* out, gsm7::ShiftTables tables = {});

// Appends the semi-octets of a digit text ("123" -> 21 F3 as octets) and
// returns the count written.  Digits only; the caller has checked them.
size_t DigitsToSemiOctets(std::string_view digits, uint8_t* out);

// An address field (TS 23.040 9.1.2.5): length octet (semi-octets, or for the
// service centre octets after it), type 91 with "+" or 81, the digits.  Raises
// error 5 unless the number is 1 to 20 digits after an optional "+".  out must
// hold 12 octets.  Returns the octets written.
size_t WriteNumber(const std::string& number, bool length_in_octets, uint8_t* out);

// A time stamp (TS 23.040 9.2.3.11): two-digit year, month, day, hour, minute,
// second as swapped BCD, then the zone in quarter hours with its sign in bit 3.
void WriteTimeStamp(int year, int month, int day, int hour, int minute, int second,
                    int zone_quarters, uint8_t* out);

}  // namespace tarvex::codec_detail
