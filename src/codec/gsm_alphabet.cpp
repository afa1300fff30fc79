#include "codec/gsm_alphabet.h"

#include <array>

namespace tarvex::gsm7 {
namespace {

// TS 23.038 6.2.1, default alphabet by septet value.
constexpr std::array<char16_t, 128> kDefault = [] {
  std::array<char16_t, 128> t{};
  for (int i = 0x20; i < 0x80; ++i) t[i] = static_cast<char16_t>(i);
  constexpr char16_t kLow[32] = {
      u'@',      u'\u00A3', u'$',      u'\u00A5', u'\u00E8', u'\u00E9', u'\u00F9', u'\u00EC',
      u'\u00F2', u'\u00C7', u'\n',     u'\u00D8', u'\u00F8', u'\r',     u'\u00C5', u'\u00E5',
      u'\u0394', u'_',      u'\u03A6', u'\u0393', u'\u039B', u'\u03A9', u'\u03A0', u'\u03A8',
      u'\u03A3', u'\u0398', u'\u039E', kNoChar,   u'\u00C6', u'\u00E6', u'\u00DF', u'\u00C9'};
  for (int i = 0; i < 32; ++i) t[i] = kLow[i];
  t[0x24] = u'\u00A4';
  t[0x40] = u'\u00A1';
  t[0x5B] = u'\u00C4';
  t[0x5C] = u'\u00D6';
  t[0x5D] = u'\u00D1';
  t[0x5E] = u'\u00DC';
  t[0x5F] = u'\u00A7';
  t[0x60] = u'\u00BF';
  t[0x7B] = u'\u00E4';
  t[0x7C] = u'\u00F6';
  t[0x7D] = u'\u00F1';
  t[0x7E] = u'\u00FC';
  t[0x7F] = u'\u00E0';
  return t;
}();

// TS 23.038 6.2.1.1, the extension table: septet after the escape -> character.
struct ExtensionEntry {
  uint8_t septet;
  char16_t c;
};
constexpr ExtensionEntry kExtension[] = {
    {0x0A, u'\f'}, {0x14, u'^'}, {0x28, u'{'}, {0x29, u'}'}, {0x2F, u'\\'},
    {0x3C, u'['},  {0x3D, u'~'}, {0x3E, u']'}, {0x40, u'|'}, {0x65, u'\u20AC'}};

constexpr std::array<char16_t, 128> kExtensionByValue = [] {
  std::array<char16_t, 128> t{};
  for (auto& c : t) c = kNoChar;
  for (const auto& e : kExtension) t[e.septet] = e.c;
  return t;
}();

// Code units below 0x100 -> septet form: -1 none, 0..127 default table,
// 0x100 | v the escape pair 27, v.
constexpr int16_t kNone = -1;
constexpr int16_t kEscaped = 0x100;
constexpr std::array<int16_t, 256> kLatin = [] {
  std::array<int16_t, 256> t{};
  for (auto& v : t) v = kNone;
  for (int s = 0; s < 128; ++s) {
    if (kDefault[s] < 0x100) t[kDefault[s]] = static_cast<int16_t>(s);
  }
  for (const auto& e : kExtension) {
    if (e.c < 0x100) t[e.c] = static_cast<int16_t>(kEscaped | e.septet);
  }
  return t;
}();

int16_t LookupWide(char16_t c) {
  switch (c) {  // the Greek capitals of the default table, and the euro sign
    case u'\u0394':
      return 0x10;
    case u'\u03A6':
      return 0x12;
    case u'\u0393':
      return 0x13;
    case u'\u039B':
      return 0x14;
    case u'\u03A9':
      return 0x15;
    case u'\u03A0':
      return 0x16;
    case u'\u03A8':
      return 0x17;
    case u'\u03A3':
      return 0x18;
    case u'\u0398':
      return 0x19;
    case u'\u039E':
      return 0x1A;
    case u'\u20AC':
      return kEscaped | 0x65;
    default:
      return kNone;
  }
}

inline int16_t Lookup(char16_t c) { return c < 0x100 ? kLatin[c] : LookupWide(c); }

}  // namespace

int SeptetLength(char16_t c) {
  const int16_t v = Lookup(c);
  return v == kNone ? 0 : (v & kEscaped) ? 2 : 1;
}

bool CanEncode(std::u16string_view text) {
  for (char16_t c : text) {
    if (Lookup(c) == kNone) return false;
  }
  return true;
}

int CountSeptets(std::u16string_view text) {
  int n = 0;
  for (char16_t c : text) n += SeptetLength(c);
  return n;
}

// Code units below 0x100 in the default table -> their septet; 0xFF else.
constexpr std::array<uint8_t, 256> kDirect = [] {
  std::array<uint8_t, 256> t{};
  for (int c = 0; c < 256; ++c) {
    t[c] = kLatin[c] >= 0 && kLatin[c] < 0x80 ? static_cast<uint8_t>(kLatin[c]) : 0xFF;
  }
  return t;
}();

size_t EncodeInto(std::u16string_view text, uint8_t* out, size_t capacity) {
  // Most texts are plain default-table characters: a tight loop takes them
  // while they last, the general one below the rest.
  const size_t fast_end = text.size() < capacity ? text.size() : capacity;
  size_t n = 0;
  for (; n < fast_end; ++n) {
    const char16_t c = text[n];
    const uint8_t septet = c < 0x100 ? kDirect[c] : 0xFF;
    if (septet == 0xFF) break;
    out[n] = septet;
  }
  for (char16_t c : text.substr(n)) {
    const int16_t v = Lookup(c);
    if (v >= 0 && v < 0x80) {
      if (n < capacity) out[n] = static_cast<uint8_t>(v);
      ++n;
      continue;
    }
    if (v == kNone) return kNotGsm;
    if (n + 2 <= capacity) {  // an escape pair is written whole or not at all
      out[n] = kEscape;
      out[n + 1] = static_cast<uint8_t>(v & 0x7F);
    }
    n += 2;
  }
  return n;
}

size_t DecodeInto(const uint8_t* septets, size_t count, char16_t* out) {
  size_t n = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t s = septets[i] & 0x7F;
    if (s != kEscape) {
      out[n++] = kDefault[s];
      continue;
    }
    if (i + 1 == count) {
      out[n++] = u' ';
      break;
    }
    const uint8_t next = septets[++i] & 0x7F;
    const char16_t ext = kExtensionByValue[next];
    if (ext != kNoChar) {
      out[n++] = ext;
    } else {
      // Unknown extension: the default character, or a space for a second
      // escape (reserved for a further table this alphabet does not have).
      out[n++] = next == kEscape ? u' ' : kDefault[next];
    }
  }
  return n;
}

size_t PackDefault(std::u16string_view text, size_t bit_offset, uint8_t* out) {
  // As PackSeptets, with the table lookup folded in: eight units make 56
  // bits, which leave the accumulator as seven octets.
  size_t index = bit_offset / 8;
  const unsigned bits = static_cast<unsigned>(bit_offset % 8);
  uint64_t acc = out[index] & ((1u << bits) - 1);
  const size_t count = text.size();
  size_t i = 0;
  for (; i + 8 <= count; i += 8) {
    uint64_t group = 0;
    unsigned other = 0;
    for (unsigned k = 0; k < 8; ++k) {
      const char16_t c = text[i + k];
      const unsigned septet = kDirect[c & 0xFF] | static_cast<unsigned>(c > 0xFF) << 7;
      other |= septet;
      group |= static_cast<uint64_t>(septet & 0x7F) << (7 * k);
    }
    if (other & ~0x7Fu) return kNotGsm;
    acc |= group << bits;
    for (unsigned k = 0; k < 7; ++k) out[index + k] = static_cast<uint8_t>(acc >> (8 * k));
    index += 7;
    acc >>= 56;
  }
  unsigned pending = bits;
  for (; i < count; ++i) {
    const char16_t c = text[i];
    const unsigned septet = kDirect[c & 0xFF] | static_cast<unsigned>(c > 0xFF) << 7;
    if (septet & ~0x7Fu) return kNotGsm;
    acc |= static_cast<uint64_t>(septet) << pending;
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

const char16_t* DefaultTable() { return kDefault.data(); }
const char16_t* ExtensionTable() { return kExtensionByValue.data(); }

size_t EncodeInto(std::u16string_view text, ShiftTables tables, uint8_t* out, size_t capacity) {
  if (tables.IsDefault()) return EncodeInto(text, out, capacity);
  size_t n = 0;
  for (char16_t c : text) {
    const int v = SeptetForm(c, tables);
    if (v < 0) return kNotGsm;
    if (v < 0x80) {
      if (n < capacity) out[n] = static_cast<uint8_t>(v);
      ++n;
      continue;
    }
    if (n + 2 <= capacity) {  // an escape pair is written whole or not at all
      out[n] = kEscape;
      out[n + 1] = static_cast<uint8_t>(v & 0x7F);
    }
    n += 2;
  }
  return n;
}

size_t DecodeInto(const uint8_t* septets, size_t count, char16_t* out, ShiftTables tables) {
  if (tables.IsDefault()) return DecodeInto(septets, count, out);
  const char16_t* locking = LockingShiftTable(tables.locking);
  const char16_t* single = SingleShiftTable(tables.single);
  const auto shown = [](char16_t c) { return c == kNoChar ? u' ' : c; };
  size_t n = 0;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t s = septets[i] & 0x7F;
    if (s != kEscape) {
      out[n++] = shown(locking[s]);
    } else if (i + 1 == count) {
      out[n++] = u' ';
    } else {
      const uint8_t next = septets[++i] & 0x7F;
      out[n++] = single[next] != kNoChar ? single[next] : shown(locking[next]);
    }
  }
  return n;
}

std::u16string FromSeptets(const uint8_t* septets, size_t count) {
  std::u16string text(count, u'\0');
  text.resize(DecodeInto(septets, count, text.data()));
  return text;
}

}  // namespace tarvex::gsm7
