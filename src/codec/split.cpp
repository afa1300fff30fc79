#include "codec/split.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "codec/gsm_03_40.h"
#include "codec/gsm_alphabet.h"
#include "codec/pdu_octets.h"
#include "tarvex/error.h"
#include "tarvex/sms_submit.h"

namespace tarvex {
namespace {

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

constexpr size_t kMaxParts = 255;

[[noreturn]] void TooManyParts(size_t parts) {
  throw Error(kInvalidArgument, "text too long: " + std::to_string(parts) +
                                    " parts, a concatenated message has at most 255");
}

// Where each part of a UCS2 text ends.
std::vector<size_t> Ucs2Ends(std::u16string_view text) {
  if (text.size() <= static_cast<size_t>(SMSSubmit::kMaxUcs2Units)) return {text.size()};
  std::vector<size_t> ends;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = std::min(text.size(), begin + SMSSubmit::kMaxPartUcs2Units);
    if (end < text.size() && IsHighSurrogate(text[end - 1]) && IsLowSurrogate(text[end])) --end;
    ends.push_back(end);
    begin = end;
  }
  return ends;
}

// The text as indices into its distinct units, so that each pair of tables
// is costed once per distinct unit rather than once per unit.
struct DistinctUnits {
  std::vector<char16_t> units;
  std::vector<uint16_t> index;
  explicit DistinctUnits(std::u16string_view text) : units(text.begin(), text.end()) {
    std::sort(units.begin(), units.end());
    units.erase(std::unique(units.begin(), units.end()), units.end());
    index.reserve(text.size());
    for (char16_t c : text) {
      index.push_back(
          static_cast<uint16_t>(std::lower_bound(units.begin(), units.end(), c) - units.begin()));
    }
  }
};

// Where each part ends through the tables (an escape pair stays in one part),
// or nothing when they cannot carry the text.
std::optional<std::vector<size_t>> SeptetEnds(const DistinctUnits& text, gsm7::ShiftTables tables) {
  std::vector<uint8_t> cost(text.units.size());
  for (size_t u = 0; u < cost.size(); ++u) {
    const int form = gsm7::SeptetForm(text.units[u], tables);
    if (form < 0) return std::nullopt;
    cost[u] = form < 0x80 ? 1 : 2;
  }
  size_t total = 0;
  for (uint16_t u : text.index) total += cost[u];
  if (total <= static_cast<size_t>(SeptetCapacity(tables, false))) return {{text.index.size()}};
  const auto capacity = static_cast<size_t>(SeptetCapacity(tables, true));
  std::vector<size_t> ends;
  size_t used = 0;
  for (size_t i = 0; i < text.index.size(); ++i) {
    const size_t c = cost[text.index[i]];
    if (used + c > capacity) {
      ends.push_back(i);
      used = 0;
    }
    used += c;
  }
  ends.push_back(text.index.size());
  return ends;
}

}  // namespace

int SeptetCapacity(gsm7::ShiftTables tables, bool part) {
  const size_t elements = (gsm7::HasLockingShift(tables.locking) ? 1 : 0) +
                          (gsm7::HasSingleShift(tables.single) ? 1 : 0);
  const size_t header = (part ? 6 : 1) + 3 * elements;  // with its length octet
  if (header == 1) return SMSSubmit::kMaxSeptets;
  return static_cast<int>(SMSSubmit::kMaxSeptets - codec_detail::HeaderSeptets(header));
}

MessagePlan PlanMessage(std::u16string_view text, gsm7::NationalChoice choice) {
  MessagePlan plan;
  if (choice.mode == gsm7::NationalChoice::kOff) {
    plan.ucs2 = !gsm7::CanEncode(text);
    plan.parts = SplitForParts(text);
    return plan;
  }
  // Candidates in order of preference; a later one wins only with fewer parts.
  // UCS2 is the element without tables.
  std::vector<std::optional<gsm7::ShiftTables>> candidates = {gsm7::ShiftTables{}};
  if (choice.mode == gsm7::NationalChoice::kAuto) {
    candidates.push_back(std::nullopt);
    for (int l = 1; l < gsm7::kLanguageCount; ++l) {
      if (gsm7::HasSingleShift(l)) candidates.push_back(gsm7::ShiftTables{0, l});
      if (gsm7::HasLockingShift(l)) candidates.push_back(gsm7::ShiftTables{l, 0});
    }
    for (int l = 1; l < gsm7::kLanguageCount; ++l) {
      for (int s = 1; s < gsm7::kLanguageCount; ++s) {
        if (gsm7::HasLockingShift(l) && gsm7::HasSingleShift(s)) {
          candidates.push_back(gsm7::ShiftTables{l, s});
        }
      }
    }
  } else {
    const int l = choice.language;
    if (gsm7::HasSingleShift(l)) candidates.push_back(gsm7::ShiftTables{0, l});
    if (gsm7::HasLockingShift(l)) candidates.push_back(gsm7::ShiftTables{l, 0});
    if (gsm7::HasLockingShift(l) && gsm7::HasSingleShift(l)) {
      candidates.push_back(gsm7::ShiftTables{l, l});
    }
  }
  const DistinctUnits units(text);
  std::optional<std::vector<size_t>> best;
  for (const auto& candidate : candidates) {
    std::optional<std::vector<size_t>> ends =
        candidate ? SeptetEnds(units, *candidate) : Ucs2Ends(text);
    if (ends && (!best || ends->size() < best->size())) {
      best = std::move(ends);
      plan.ucs2 = !candidate;
      plan.tables = candidate.value_or(gsm7::ShiftTables{});
    }
  }
  if (!best) {  // only a language's tables were tried, and they cannot carry the text
    best = Ucs2Ends(text);
    plan.ucs2 = true;
  }
  if (best->size() > kMaxParts) TooManyParts(best->size());
  size_t begin = 0;
  for (size_t end : *best) {
    plan.parts.emplace_back(text.substr(begin, end - begin));
    begin = end;
  }
  return plan;
}

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
  if (parts.size() > kMaxParts) TooManyParts(parts.size());
  return parts;
}

}  // namespace tarvex
