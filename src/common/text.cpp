#include "common/text.h"

#include <charconv>
#include <cstdint>
#include <limits>

namespace tarvex {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

}  // namespace

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

std::string EncodeUtf8(char32_t code_point) {
  std::string out;
  AppendUtf8(out, code_point);
  return out;
}

std::u16string Utf8ToUtf16(std::string_view in) {
  std::u16string out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    const auto b = static_cast<uint8_t>(in[i]);
    int extra = 0;
    char32_t c = 0;
    if (b < 0x80) {
      c = b;
    } else if (b >= 0xC2 && b <= 0xDF) {
      extra = 1, c = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      extra = 2, c = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      extra = 3, c = b & 0x07;
    } else {
      out += static_cast<char16_t>(kReplacement);
      ++i;
      continue;
    }
    size_t j = 1;
    for (; j <= static_cast<size_t>(extra); ++j) {
      if (i + j >= in.size()) break;
      const auto cont = static_cast<uint8_t>(in[i + j]);
      if ((cont & 0xC0) != 0x80) break;
      c = (c << 6) | (cont & 0x3F);
    }
    const bool complete = j == static_cast<size_t>(extra) + 1;
    const bool overlong = (extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000);
    const bool invalid = c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF);
    if (!complete || overlong || invalid) {
      out += static_cast<char16_t>(kReplacement);
      i += complete ? j : (j == 0 ? 1 : j);
      continue;
    }
    AppendUtf16(out, c);
    i += j;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view in) {
  std::string out;
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    char32_t c = in[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < in.size() && in[i + 1] >= 0xDC00 &&
        in[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (in[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;  // a lone surrogate has no UTF-8 form
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::string_view TrimBlanks(std::string_view text, std::string_view blanks) {
  const size_t first = text.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

WholeNumber ParseWholeNumber(std::string_view text, int64_t min, int64_t max) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
    return {};
  }
  uint64_t magnitude = 0;
  const std::errc error = std::from_chars(text.data(), text.data() + text.size(), magnitude).ec;
  if (error != std::errc() || magnitude > uint64_t{std::numeric_limits<int64_t>::max()}) {
    return {WholeNumber::kOutOfRange, 0};
  }
  const int64_t value =
      negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (value < min || value > max) return {WholeNumber::kOutOfRange, 0};
  return {WholeNumber::kOk, value};
}

}  // namespace tarvex
