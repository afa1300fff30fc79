#include "codec/pdu_octets.h"

#include <bit>
#include <cstring>

#include "codec/gsm_alphabet.h"
#include "tarvex/error.h"

namespace tarvex::codec_detail {
namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (month 1..12, any day).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(yoe + era * 400 + (month <= 2));
}

// 1899-12-30, the automation DATE's day zero, counted from 1970-01-01.
constexpr int64_t kDateEpochDays = -25569;

int SwappedPair(uint8_t octet) {
  const int first = octet & 0x0F;
  const int second = octet >> 4;
  if (first > 9) return 0;
  if (second > 9) return first;
  return first * 10 + second;
}

}  // namespace

size_t PackSeptets(const uint8_t* septets, size_t count, size_t bit_offset, uint8_t* out) {
  // Whole octets leave the accumulator as soon as they are complete; eight
  // septets at a time make exactly seven octets, which is the fast path.
  size_t index = bit_offset / 8;
  const unsigned bits = static_cast<unsigned>(bit_offset % 8);
  uint64_t acc = out[index] & ((1u << bits) - 1);
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t group = 0;
    if constexpr (std::endian::native == std::endian::little) {
      // Squeeze the eight 8-bit lanes to 7 bits each: pairs into 14-bit
      // lanes, then 28-bit lanes, then one 56-bit run.
      std::memcpy(&group, septets + i, 8);
      group &= 0x7F7F7F7F7F7F7F7Full;
      group = (group & 0x007F007F007F007Full) | ((group & 0x7F007F007F007F00ull) >> 1);
      group = (group & 0x00003FFF00003FFFull) | ((group & 0x3FFF00003FFF0000ull) >> 2);
      group = (group & 0x000000000FFFFFFFull) | ((group & 0x0FFFFFFF00000000ull) >> 4);
    } else {
      for (unsigned k = 0; k < 8; ++k) {
        group |= static_cast<uint64_t>(septets[i + k] & 0x7F) << (7 * k);
      }
    }
    acc |= group << bits;  // 56 + 7 bits fit
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(out + index, &acc, 7);
    } else {
      for (unsigned k = 0; k < 7; ++k) out[index + k] = static_cast<uint8_t>(acc >> (8 * k));
    }
    index += 7;
    acc >>= 56;
  }
  unsigned pending = bits;
  for (; i < count; ++i) {
    acc |= static_cast<uint64_t>(septets[i] & 0x7F) << pending;
    pending += 7;
    if (pending >= 8) {
      out[index++] = static_cast<uint8_t>(acc);
      acc >>= 8;
      pending -= 8;
    }
  }
  if (pending > 0) out[index++] = static_cast<uint8_t>(acc);
  return index;
}

void UnpackSeptets(const uint8_t* octets, size_t bit_offset, size_t count, uint8_t* out) {
  size_t bit = bit_offset;
  for (size_t i = 0; i < count; ++i, bit += 7) {
    const size_t index = bit / 8;
    const unsigned shift = static_cast<unsigned>(bit % 8);
    unsigned v = octets[index] >> shift;
    if (shift > 1) v |= static_cast<unsigned>(octets[index + 1]) << (8 - shift);
    out[i] = static_cast<uint8_t>(v & 0x7F);
  }
}

std::string SemiOctetsToText(const uint8_t* octets, size_t digits) {
  static constexpr char kBcd[] = "0123456789*#abc";
  std::string text;
  text.reserve(digits);
  for (size_t i = 0; i < digits; ++i) {
    const unsigned nibble = (i % 2 == 0) ? (octets[i / 2] & 0x0F) : (octets[i / 2] >> 4);
    if (nibble != 0x0F) text += kBcd[nibble];
  }
  return text;
}

MessageTimeValue TimeStampToDate(const uint8_t* stamp) {
  int year = SwappedPair(stamp[0]);
  year += year < 30 ? 2000 : 1900;
  MessageTimeValue t =
      MakeMessageTime(year, SwappedPair(stamp[1]), SwappedPair(stamp[2]), SwappedPair(stamp[3]),
                      SwappedPair(stamp[4]), SwappedPair(stamp[5]));
  const uint8_t zone = stamp[6];
  const int tens = zone & 0x07;
  const int units = zone >> 4;
  const int quarters = tens * 10 + (units > 9 ? 0 : units);
  t.zone_quarters = (zone & 0x08) ? -quarters : quarters;
  return t;
}

MessageTimeValue MakeMessageTime(int year, int month, int day, int hour, int minute, int second) {
  // Month first (it moves the year), then everything else as a count of
  // seconds from the first of that month, as DateSerial + TimeSerial would.
  int64_t m0 = static_cast<int64_t>(month) - 1;
  int64_t y = year + (m0 >= 0 ? m0 / 12 : -((11 - m0) / 12));
  m0 -= (y - year) * 12;
  const int64_t month_days = DaysFromCivil(y, m0 + 1, 1);
  int64_t seconds =
      (month_days + day - 1) * 86400 + int64_t{hour} * 3600 + int64_t{minute} * 60 + second;
  int64_t days = seconds >= 0 ? seconds / 86400 : -((86399 - seconds) / 86400);
  const int64_t in_day = seconds - days * 86400;

  MessageTimeValue t;
  CivilFromDays(days, t.year, t.month, t.day);
  t.hour = static_cast<int>(in_day / 3600);
  t.minute = static_cast<int>(in_day / 60 % 60);
  t.second = static_cast<int>(in_day % 60);
  // DATE before day zero keeps the time of day positive after the sign
  // (-1.25 is 29 Dec 1899 06:00); the years a stamp can name never need it.
  const int64_t date_days = days - kDateEpochDays;
  const double fraction = static_cast<double>(in_day) / 86400.0;
  t.date = date_days >= 0 ? static_cast<double>(date_days) + fraction
                          : static_cast<double>(date_days) - fraction;
  return t;
}

size_t WriteNumber(const std::string& number, bool length_in_octets, uint8_t* out) {
  const bool international = !number.empty() && number[0] == '+';
  const std::string_view digits = std::string_view(number).substr(international ? 1 : 0);
  bool all_digits = !digits.empty() && digits.size() <= 20;
  for (char c : digits) all_digits = all_digits && c >= '0' && c <= '9';
  if (!all_digits) {
    throw Error(kInvalidArgument, "not a number of 1 to 20 digits: \"" + number + "\"");
  }
  const size_t octets = (digits.size() + 1) / 2;
  out[0] = static_cast<uint8_t>(length_in_octets ? octets + 1 : digits.size());
  out[1] = international ? gsm0340::kTypeInternational : gsm0340::kTypeUnknown;
  DigitsToSemiOctets(digits, out + 2);
  return 2 + octets;
}

void WriteTimeStamp(int year, int month, int day, int hour, int minute, int second,
                    int zone_quarters, uint8_t* out) {
  auto bcd = [](int value) {
    const int v = (value < 0 ? -value : value) % 100;
    return static_cast<uint8_t>((v % 10) << 4 | (v / 10));
  };
  const int fields[6] = {year, month, day, hour, minute, second};
  for (int i = 0; i < 6; ++i) out[i] = bcd(fields[i]);
  out[6] = static_cast<uint8_t>(bcd(zone_quarters) | (zone_quarters < 0 ? 0x08 : 0x00));
}

size_t DigitsToSemiOctets(std::string_view digits, uint8_t* out) {
  const size_t octets = (digits.size() + 1) / 2;
  for (size_t i = 0; i < octets; ++i) {
    const unsigned low = static_cast<unsigned>(digits[2 * i] - '0');
    const unsigned high =
        2 * i + 1 < digits.size() ? static_cast<unsigned>(digits[2 * i + 1] - '0') : 0x0F;
    out[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return octets;
}

}  // namespace tarvex::codec_detail

namespace tarvex::codec_detail {

size_t WriteUserData(std::u16string_view text, const uint8_t* header, size_t header_octets,
                     Coding coding, uint8_t* dcs, uint8_t* out, gsm7::ShiftTables tables) {
  if (coding == Coding::kAuto) {
    const size_t skip = header_octets == 0 ? 0 : HeaderSeptets(header_octets);
    const size_t capacity = 160 - skip;
    if (text.size() <= capacity && tables.IsDefault()) {
      const size_t octets = (7 * (skip + text.size()) + 7) / 8;
      std::memset(out + 1, 0, octets);
      if (header_octets != 0) std::memcpy(out + 1, header, header_octets);
      if (gsm7::PackDefault(text, 7 * skip, out + 1) != gsm7::kNotGsm) {
        out[0] = static_cast<uint8_t>(skip + text.size());
        *dcs = 0x00;
        return 1 + octets;
      }
    }
    uint8_t septets[160];
    const size_t n = gsm7::EncodeInto(text, tables, septets, capacity);
    if (n == gsm7::kNotGsm && !tables.IsDefault()) {
      throw Error(kInvalidArgument, "the text has a character the chosen national tables lack");
    }
    if (n != gsm7::kNotGsm) {
      if (n > capacity) {
        throw Error(kInvalidArgument, "text too long: " + std::to_string(n) + " septets, at most " +
                                          std::to_string(capacity));
      }
      const size_t octets = (7 * (skip + n) + 7) / 8;
      std::memset(out + 1, 0, octets);
      if (header_octets != 0) std::memcpy(out + 1, header, header_octets);
      PackSeptets(septets, n, 7 * skip, out + 1);
      out[0] = static_cast<uint8_t>(skip + n);
      *dcs = 0x00;
      return 1 + octets;
    }
  }
  // UCS2: asked for, or the text needs it.
  const size_t capacity = (kMaxUserDataOctets - header_octets) / 2;
  if (text.size() > capacity) {
    throw Error(kInvalidArgument, "text too long: " + std::to_string(text.size()) +
                                      " UTF-16 units, at most " + std::to_string(capacity));
  }
  if (header_octets != 0) std::memcpy(out + 1, header, header_octets);
  uint8_t* p = out + 1 + header_octets;
  for (char16_t c : text) {
    *p++ = static_cast<uint8_t>(c >> 8);
    *p++ = static_cast<uint8_t>(c & 0xFF);
  }
  const auto octets = static_cast<size_t>(p - (out + 1));
  out[0] = static_cast<uint8_t>(octets);
  *dcs = 0x08;
  return 1 + octets;
}

}  // namespace tarvex::codec_detail
