// How an answer is judged to read as text: every character must be one that
// text holds (no control but CR and LF, no lone surrogate, no private-use or
// non-character), UCS2 letters outside ASCII must come from one script, and
// most characters must be letters, digits, blanks or common punctuation.  The
// last test is what tells packed 7-bit from bytes that merely unpack into GSM
// characters: such noise is full of Greek capitals, '@' and symbols.
#include "codec/ussd_text.h"

#include <algorithm>
#include <cctype>
#include <vector>

#include "codec/gsm_alphabet.h"
#include "codec/pdu_octets.h"
#include "common/text.h"

namespace tarvex {
namespace {

using codec_detail::kHexValue;

enum class Alphabet { kUnknown, kGsm7, kEightBit, kUcs2 };

// The alphabet a cell broadcast coding scheme names (TS 23.038 5).
Alphabet AlphabetOf(int dcs) {
  if (dcs < 0 || dcs > 0xFF) return Alphabet::kUnknown;
  if (dcs <= 0x10 || (dcs >= 0x12 && dcs <= 0x2F)) return Alphabet::kGsm7;
  if (dcs == 0x11) return Alphabet::kUcs2;
  const int bits = (dcs >> 2) & 3;
  if ((dcs & 0xC0) == 0x40 || (dcs & 0xF0) == 0x90) {
    return bits == 0   ? Alphabet::kGsm7
           : bits == 1 ? Alphabet::kEightBit
           : bits == 2 ? Alphabet::kUcs2
                       : Alphabet::kUnknown;
  }
  if ((dcs & 0xF0) == 0xF0) return (dcs & 0x04) ? Alphabet::kEightBit : Alphabet::kGsm7;
  return Alphabet::kUnknown;
}

std::vector<uint8_t> HexOctets(std::string_view hex) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(kHexValue[static_cast<uint8_t>(hex[i])] << 4 |
                                       kHexValue[static_cast<uint8_t>(hex[i + 1])]));
  }
  return out;
}

// Septets back to text; nullopt when an escape leads to no extension character.
std::optional<std::u16string> FromSeptets(const std::vector<uint8_t>& septets) {
  for (size_t i = 0; i < septets.size(); ++i) {
    if (septets[i] != gsm7::kEscape) continue;
    if (i + 1 == septets.size()) return std::nullopt;
    const std::u16string pair = gsm7::FromSeptets(&septets[i], 2);
    if (pair.size() != 1 || gsm7::SeptetLength(pair[0]) != 2) return std::nullopt;
    ++i;
  }
  return gsm7::FromSeptets(septets.data(), septets.size());
}

std::optional<std::u16string> Packed7(const std::vector<uint8_t>& octets) {
  std::vector<uint8_t> septets(octets.size() * 8 / 7);
  codec_detail::UnpackSeptets(octets.data(), 0, septets.size(), septets.data());
  // Seven spare bits at the end are padding: CR as TS 23.038 6.1.2.3.1 asks,
  // or zeros that would read as '@'.
  if (octets.size() % 7 == 0 && !septets.empty() && (septets.back() == 13 || septets.back() == 0)) {
    septets.pop_back();
  }
  return FromSeptets(septets);
}

// One septet per octet, as a modem writes GSM text under AT+CSCS="HEX".
std::optional<std::u16string> Unpacked7(const std::vector<uint8_t>& octets) {
  if (std::any_of(octets.begin(), octets.end(), [](uint8_t o) { return o > 0x7F; })) {
    return std::nullopt;
  }
  return FromSeptets(octets);
}

std::optional<std::u16string> Ucs2(const std::vector<uint8_t>& octets) {
  if (octets.size() % 2 != 0) return std::nullopt;
  std::u16string out;
  for (size_t i = 0; i < octets.size(); i += 2) {
    out += static_cast<char16_t>(octets[i] << 8 | octets[i + 1]);
  }
  return out;
}

std::u16string Latin1(const std::vector<uint8_t>& octets) {
  return std::u16string(octets.begin(), octets.end());
}

// A coarse script of a letter: blocks that share a script share a number;
// 0 for ASCII, digits, punctuation and symbols, which every script uses.
int ScriptOf(char16_t c) {
  if (c < 0xC0 || c == 0xD7 || c == 0xF7) return 0;
  if (c < 0x250 || (c >= 0x1E00 && c < 0x1F00)) return 1;  // Latin
  if (c >= 0x2000 && c < 0x2C00) return 0;                 // punctuation, symbols
  if (c >= 0x3000 && c < 0x3040) return 0;                 // CJK punctuation
  if (c >= 0xFF00 && c < 0xFF20) return 0;                 // full-width punctuation
  if ((c >= 0x3040 && c < 0x3100) || (c >= 0x3400 && c < 0xA000) || (c >= 0xFF20 && c < 0xFFF0)) {
    return 2;  // Han and kana, which Japanese mixes
  }
  if ((c >= 0x1100 && c < 0x1200) || (c >= 0xAC00 && c < 0xD7B0)) return 3;  // Hangul
  if ((c >= 0x600 && c < 0x700) || (c >= 0x750 && c < 0x780) || (c >= 0xFB50 && c < 0xFF00)) {
    return 4;  // Arabic
  }
  if (c >= 0x400 && c < 0x530) return 5;  // Cyrillic
  return 100 + (c >> 7);                  // any other block: a script of its own
}

bool Printable(char16_t c) {
  if (c == '\r' || c == '\n') return true;
  if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return false;
  if (c >= 0xE000 && c < 0xF900) return false;  // private use
  return c != 0xFFFE && c != 0xFFFF && c != 0xFFFD;
}

// The share of letters, digits, blanks and common punctuation; -1 when a
// character is one text never holds, or (one_script) letters of two scripts
// beyond ASCII appear.  Greek capitals and '@' count against 7-bit text,
// since noise unpacks into them.
double TextScore(const std::u16string& text, bool one_script, bool gsm) {
  if (text.empty()) return -1;
  int script = 0;
  size_t ordinary = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      ++i;  // a pair: a character beyond the first plane
      continue;
    }
    if (!Printable(c) || (c >= 0xD800 && c < 0xE000)) return -1;
    const int s = ScriptOf(c);
    if (one_script && s != 0) {
      if (script != 0 && s != script) return -1;
      script = s;
    }
    const bool greek_capital = c >= 0x391 && c <= 0x3A9;
    if (c < 0x80 ? (std::isalnum(c) ||
                    std::string_view(" \r\n.,:;!?'\"-()/%*#+=&$").find(static_cast<char>(c)) !=
                        std::string_view::npos)
                 : (s != 0 || c == 0xA3 || c == 0x20AC) && !(gsm && greek_capital)) {
      ++ordinary;
    }
  }
  return static_cast<double>(ordinary) / static_cast<double>(text.size());
}

constexpr double kReadsAsText = 0.8;
constexpr size_t kShortest = 4;  // characters

bool IsHex(std::string_view raw) {
  return !raw.empty() && raw.size() % 2 == 0 && std::all_of(raw.begin(), raw.end(), [](char c) {
    return kHexValue[static_cast<uint8_t>(c)] >= 0;
  });
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

UssdText DecodeUssdText(std::string_view raw, std::optional<int> dcs, std::string_view charset) {
  UssdText as_came{std::string(raw), "text", std::string(raw)};
  if (!IsHex(raw)) return as_came;
  const std::vector<uint8_t> octets = HexOctets(raw);
  const Alphabet said = dcs ? AlphabetOf(*dcs) : Alphabet::kUnknown;
  const std::string set = Upper(charset);

  struct Candidate {
    const char* coding;
    std::optional<std::u16string> text;
    bool one_script;
    bool gsm;
  };
  auto pick = [&](std::initializer_list<Candidate> candidates, double threshold) {
    const Candidate* best = nullptr;
    double best_score = threshold;
    for (const Candidate& c : candidates) {
      if (!c.text) continue;
      const double score = TextScore(*c.text, c.one_script, c.gsm);
      if (score >= best_score && (!best || score > best_score)) best = &c, best_score = score;
    }
    return best ? UssdText{Utf16ToUtf8(*best->text), best->coding, std::string(raw)} : as_came;
  };

  // What the modem says it did: the character set names the hex, the coding
  // scheme its alphabet.  Such an answer needs only to hold text characters.
  if (set == "UCS2" || said == Alphabet::kUcs2) {
    return pick({{"ucs2", Ucs2(octets), false, false}}, 0);
  }
  if (set == "HEX") {
    if (said == Alphabet::kEightBit) return pick({{"8bit", Latin1(octets), false, false}}, 0);
    return pick({{"gsm7", Unpacked7(octets), false, true}}, 0);
  }
  if (said == Alphabet::kEightBit) return pick({{"8bit", Latin1(octets), false, false}}, 0);
  // A number stays a number unless the modem said it wrote hex.
  if (std::all_of(raw.begin(), raw.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return as_came;
  }
  // Under a 7-bit scheme (or none) the hex must read as text, and as more
  // than a word's worth, since plain text such as "CAFE" is hex digits too.
  auto words = [](std::optional<std::u16string> text) {
    return text && text->size() >= kShortest ? text : std::nullopt;
  };
  return pick({{"ucs2", words(Ucs2(octets)), true, false},
               {"gsm7", words(Packed7(octets)), false, true},
               {"8bit", words(Latin1(octets)), false, false}},
              kReadsAsText);
}

}  // namespace tarvex
