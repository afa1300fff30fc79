#include "engine/text_decode.h"

#include <cstdint>
#include <optional>

#include "common/text.h"

namespace tarvex {
namespace text {
namespace {

char16_t UpperUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  if (c < 0x80) return c;
  // Latin-1: à..þ except ÷; ÿ goes to Ÿ.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  if (c == 0xFF) return 0x178;
  // Latin Extended-A: pairs of capital (even) and small (odd) letters, with
  // the run 0x139..0x148 and 0x179..0x17E the other way round; dotless ı is
  // the small of I, and ĸ has no capital.
  if (c == 0x131) return u'I';
  if ((c >= 0x100 && c <= 0x137) || (c >= 0x14A && c <= 0x177)) {
    return (c & 1) ? static_cast<char16_t>(c - 1) : c;
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
    return (c & 1) ? c : static_cast<char16_t>(c - 1);
  }
  // Greek: α..ω (ς becomes Σ), and the accented small letters.
  if (c >= 0x3B1 && c <= 0x3C9) return static_cast<char16_t>(c == 0x3C2 ? 0x3A3 : c - 32);
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 37);
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return static_cast<char16_t>(c - 63);
  // Cyrillic: а..я and ѐ..џ.
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 32);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 80);
  return c;
}

bool IsAscii(std::string_view s) {
  for (unsigned char c : s) {
    if (c >= 0x80) return false;
  }
  return true;
}

}  // namespace

std::string UpperCase(std::string_view utf8) {
  if (IsAscii(utf8)) {
    std::string out(utf8);
    for (char& c : out) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return out;
  }
  std::u16string wide = Utf8ToUtf16(utf8);
  if (Utf16ToUtf8(wide) != utf8) {
    // Not UTF-8 (a modem in a single-byte character set): letters of ASCII only.
    std::string out(utf8);
    for (char& c : out) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    }
    return out;
  }
  for (char16_t& c : wide) c = UpperUnit(c);
  return Utf16ToUtf8(wide);
}

std::string_view TrimBlanks(std::string_view s) {
  const size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

}  // namespace text

namespace {

constexpr auto npos = std::string_view::npos;

// Steps 1-3 of the identity parsers: no CR -> nothing; drop the opening CR LF;
// the line up to the first CR, upper-cased, or everything left unchanged
// when there is no further CR.
std::string FirstAnswerLine(std::string_view data) {
  if (data.find('\r') == npos) return "";
  std::string_view rest = data.size() >= 2 ? data.substr(2) : std::string_view();
  const size_t cr = rest.find('\r');
  if (cr == npos) return std::string(rest);
  return text::UpperCase(rest.substr(0, cr));
}

// "+CGMM: name" -> "name": the prefix is looked for anywhere but the first six
// characters are what goes, which is the prefix when the line starts with it.
std::string WithoutPrefix(std::string line, std::string_view prefix) {
  if (line.find(prefix) == npos) return line;
  const std::string_view rest = line.size() > 6 ? std::string_view(line).substr(6) : "";
  return std::string(text::TrimBlanks(rest));
}

std::optional<int> ParseDcs(std::string_view digits) {
  if (digits.empty() || digits.size() > 3) return std::nullopt;
  int value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

// The data coding schemes of TS 23.038 (USSD takes the cell broadcast ones)
// whose text is UCS2, which modems hand over as hex.
bool IsUcs2Scheme(int dcs) {
  if (dcs == 0x11) return true;                           // UCS2 with a language prefix
  if ((dcs & 0xC0) == 0x40) return (dcs & 0x0C) == 0x08;  // general coding, 01xx
  if ((dcs & 0xF0) == 0x90) return (dcs & 0x0C) == 0x08;  // message class coding
  return false;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Four hex digits per UTF-16 unit; nullopt when the text is not that.
std::optional<std::u16string> DecodeUcs2Hex(std::string_view hex) {
  if (hex.size() % 4 != 0) return std::nullopt;
  std::u16string out;
  out.reserve(hex.size() / 4);
  for (size_t i = 0; i < hex.size(); i += 4) {
    char16_t unit = 0;
    for (size_t j = 0; j < 4; ++j) {
      const int v = HexValue(hex[i + j]);
      if (v < 0) return std::nullopt;
      unit = static_cast<char16_t>(unit << 4 | v);
    }
    out += unit;
  }
  return out;
}

}  // namespace

std::string TextDecode::USSDResponse(std::string_view Data) {
  const size_t p = Data.find("+CUSD:");
  // An answer that ends before its text would begin (a status alone) has none.
  if (p == npos || Data.size() <= p + 10) return "";
  const std::string_view rest = Data.substr(p + 10);
  // The text ends at the first quotation mark followed by "," and a coding scheme.
  for (size_t q = rest.find("\","); q != npos; q = rest.find("\",", q + 1)) {
    size_t end = q + 2;
    while (end < rest.size() && rest[end] >= '0' && rest[end] <= '9') ++end;
    const std::optional<int> dcs = ParseDcs(rest.substr(q + 2, end - q - 2));
    if (!dcs) continue;
    const std::string_view body = rest.substr(0, q);
    if (IsUcs2Scheme(*dcs)) {
      if (auto wide = DecodeUcs2Hex(body)) return text::UpperCase(Utf16ToUtf8(*wide));
    }
    return text::UpperCase(body);
  }
  // No coding scheme: the rest of the answer line, without its closing quotation mark.
  std::string_view line = rest.substr(0, rest.find_first_of("\r\n"));
  if (line.ends_with('"')) line.remove_suffix(1);
  return text::UpperCase(line);
}

std::string TextDecode::DeviceSerialNumber(std::string_view Data) { return FirstAnswerLine(Data); }

std::string TextDecode::DeviceModel(std::string_view Data) {
  return WithoutPrefix(FirstAnswerLine(Data), "+CGMM:");
}

std::string TextDecode::DeviceManufacture(std::string_view Data) {
  return WithoutPrefix(FirstAnswerLine(Data), "+CGMI:");
}

std::string TextDecode::MessageStorage(std::string_view Data) {
  if (Data.find('\r') == npos) return "";
  std::string_view rest = Data.size() >= 2 ? Data.substr(2) : std::string_view();
  const size_t open = rest.find('"');
  if (open == npos) return std::string(rest);
  rest.remove_prefix(open + 1);
  const size_t close = rest.find('"');
  if (close == npos) return std::string(rest);
  return text::UpperCase(rest.substr(0, close));
}

}  // namespace tarvex
