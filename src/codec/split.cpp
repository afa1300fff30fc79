#include "codec/split.h"

#include <algorithm>

#include "codec/gsm_03_40.h"
#include "codec/gsm_alphabet.h"
#include "codec/sms_submit.h"
#include "common/error.h"

namespace tarvex {
namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

bool FitsSingle(std::u16string_view text) {
  if (gsm7::CanEncode(text)) return gsm7::CountSeptets(text) <= SMSSubmit::kMaxSeptets;
  return text.size() <= static_cast<size_t>(SMSSubmit::kMaxUcs2Units);
}

std::vector<std::u16string> SplitForParts(std::u16string_view text) {
  if (FitsSingle(text)) return {std::u16string(text)};
  std::vector<std::u16string> parts;
  const bool septets = gsm7::CanEncode(text);
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = begin;
    if (septets) {
      int used = 0;
      while (end < text.size() &&
             used + gsm7::SeptetLength(text[end]) <= SMSSubmit::kMaxPartSeptets) {
        used += gsm7::SeptetLength(text[end]);
        ++end;
      }
    } else {
      end = std::min(text.size(), begin + SMSSubmit::kMaxPartUcs2Units);
      if (end < text.size() && IsHighSurrogate(text[end - 1]) && IsLowSurrogate(text[end])) --end;
    }
    parts.emplace_back(text.substr(begin, end - begin));
    begin = end;
  }
  if (parts.size() > static_cast<size_t>(gsm0340::kMaxConcatenatedParts)) {
    throw Error(kInvalidArgument, "text too long: " + std::to_string(parts.size()) +
                                      " parts, a concatenated message has at most 255");
  }
  return parts;
}

}  // namespace tarvex
