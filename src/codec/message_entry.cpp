#include "codec/message_entry.h"

#include <charconv>

namespace tarvex {
namespace {

constexpr std::string_view kSeparator = "\r\n";

std::string_view TrimBlanksAndTabs(std::string_view s) {
  const size_t begin = s.find_first_not_of(" \t");
  if (begin == std::string_view::npos) return {};
  return s.substr(begin, s.find_last_not_of(" \t") - begin + 1);
}

std::optional<int32_t> WholeNumber(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  int32_t value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

}  // namespace

std::string MakeEntry(std::string_view id, std::string_view pdu) {
  std::string entry;
  entry.reserve(id.size() + kSeparator.size() + pdu.size());
  entry.append(id).append(kSeparator).append(pdu);
  return entry;
}

std::string MakeEntry(int32_t index, std::string_view pdu) {
  return MakeEntry(std::to_string(index), pdu);
}

std::optional<ParsedEntry> ParseEntry(std::string_view entry) {
  const size_t separator = entry.find(kSeparator);
  if (separator == std::string_view::npos) return std::nullopt;
  ParsedEntry parsed;
  parsed.id = TrimBlanksAndTabs(entry.substr(0, separator));
  parsed.index = WholeNumber(parsed.id);
  parsed.pdu = entry.substr(separator + kSeparator.size());
  return parsed;
}

}  // namespace tarvex
