// Receiving: the operations a watcher runs on a port it keeps open (listing,
// reading and deleting in a named storage, asking for notices, waiting for
// them on an idle port), and the pure readers of the answers they get.
//
// The storage a watcher reads is selected for the one command only: a modem
// has a single read selection, which the user's own `tarvex list` and other
// programs rely on, so it is put back as it was found.
#include "engine/receiving.h"

#include <algorithm>
#include <string>
#include <vector>

#include "engine/tarvex_impl.h"
#include "engine/message_list.h"
#include "engine/text_decode.h"
#include "tarvex/error.h"

namespace tarvex {
namespace {

// The text after "+NAME:" on the answer's line, "" when absent.
std::string_view AnswerLine(std::string_view answer, std::string_view prefix) {
  const size_t at = answer.find(prefix);
  if (at == std::string_view::npos) return {};
  std::string_view rest = answer.substr(at + prefix.size());
  return text::TrimBlanks(rest.substr(0, rest.find_first_of("\r\n")));
}

std::string Unquote(std::string_view item) {
  item = text::TrimBlanks(item);
  if (item.size() >= 2 && item.front() == '"' && item.back() == '"') {
    item = item.substr(1, item.size() - 2);
  }
  return std::string(item);
}

std::vector<std::string_view> SplitCommas(std::string_view list) {
  std::vector<std::string_view> items;
  for (;;) {
    const size_t comma = list.find(',');
    items.push_back(list.substr(0, comma));
    if (comma == std::string_view::npos) return items;
    list.remove_prefix(comma + 1);
  }
}

bool Digits(std::string_view s) {
  return !s.empty() && s.size() <= 4 &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "0-3" or "2" of a test answer's group.
void AddValues(std::string_view item, std::set<int>& values) {
  item = text::TrimBlanks(item);
  const size_t dash = item.find('-');
  const std::string_view low = item.substr(0, dash);
  const std::string_view high = dash == std::string_view::npos ? low : item.substr(dash + 1);
  if (!Digits(low) || !Digits(high)) return;
  for (int v = std::stoi(std::string(low)); v <= std::stoi(std::string(high)); ++v)
    values.insert(v);
}

// A SIM still starting up refuses everything for a while: no reason to try
// lesser modes, the caller waits and asks again.
bool SimBusy(const FinalCode& code) {
  return (code.kind == FinalCode::kCmsError && (code.number == 314 || code.number == 515)) ||
         (code.kind == FinalCode::kCmeError && (code.number == 14 || code.number == 515));
}

}  // namespace

std::string ReadStorageOf(std::string_view answer) {
  const std::string_view line = AnswerLine(answer, "+CPMS:");
  return line.empty() ? "" : Unquote(line.substr(0, line.find(',')));
}

std::vector<std::string> ReadStoragesOffered(std::string_view answer) {
  std::string_view line = AnswerLine(answer, "+CPMS:");
  if (line.starts_with('(')) {
    line = line.substr(1, line.find(')') - 1);
  }
  std::vector<std::string> names;
  for (const std::string_view item : SplitCommas(line)) {
    std::string name = Unquote(item);
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) {
      names.push_back(std::move(name));
    }
  }
  return names;
}

std::vector<std::set<int>> OfferedValues(std::string_view answer) {
  std::string_view line = AnswerLine(answer, "+CNMI:");
  std::vector<std::set<int>> groups;
  while (!line.empty()) {
    const size_t open = line.find('(');
    const size_t close = line.find(')', open);
    if (open == std::string_view::npos || close == std::string_view::npos) break;
    std::set<int> values;
    for (const std::string_view item : SplitCommas(line.substr(open + 1, close - open - 1))) {
      AddValues(item, values);
    }
    groups.push_back(std::move(values));
    line.remove_prefix(close + 1);
  }
  return groups;
}

std::vector<std::string> IndicationModes(const std::vector<std::set<int>>& offered) {
  // <mode>,<mt>,<bm>,<ds>,<bfr>.  mode 2 buffers notices while a command runs
  // and hands them over after; mode 1 drops them then (the polls catch up).
  static constexpr int kModes[][5] = {
      {2, 1, 0, 2, 0}, {2, 1, 0, 1, 0}, {1, 1, 0, 2, 0}, {1, 1, 0, 1, 0},
      {2, 1, 0, 0, 0}, {1, 1, 0, 0, 0}, {3, 1, 0, 2, 0}, {3, 1, 0, 0, 0},
  };
  std::vector<std::string> lists;
  for (const auto& mode : kModes) {
    size_t used = offered.empty() ? 5 : std::min<size_t>(5, offered.size());
    bool fits = true;
    for (size_t i = 0; i < 5 && fits; ++i) {
      if (i < used) {
        fits = offered.empty() || offered[i].count(mode[i]) > 0;
      } else {
        fits = mode[i] == 0;  // a parameter the modem does not have stays at its default
      }
    }
    if (!fits) continue;
    std::string list;
    for (size_t i = 0; i < used; ++i) list += (i ? "," : "") + std::to_string(mode[i]);
    if (std::find(lists.begin(), lists.end(), list) == lists.end()) lists.push_back(list);
  }
  return lists;
}

size_t WholeNotices(std::string_view input) {
  const size_t last_lf = input.find_last_of('\n');
  if (last_lf == std::string_view::npos) return 0;
  size_t end = last_lf + 1;
  // The last non-empty whole line: a header whose PDU line has not come yet
  // stays behind with it.
  size_t line_end = end;
  while (line_end > 0 && (input[line_end - 1] == '\n' || input[line_end - 1] == '\r')) --line_end;
  const size_t line_start = input.find_last_of("\r\n", line_end == 0 ? 0 : line_end - 1);
  const size_t from = line_start == std::string_view::npos || line_end == 0 ? 0 : line_start + 1;
  const std::string_view line = input.substr(from, line_end - from);
  if (line.starts_with("+CMT:") || line.starts_with("+CDS:")) return from;
  return end;
}

// ---------------------------------------------------------------------------

Tarvex::Impl::Reply Tarvex::Impl::ExchangeInStorage(SlotUse& use, const std::string& storage,
                                                    const std::string& command) {
  const Reply current = ExchangeCommand(use, "AT+CPMS?", command_timeout_ms);
  if (!current.complete()) return current;
  // A modem that will not tell keeps whatever the selection becomes.
  const std::string before = current.code.ok() ? ReadStorageOf(current.text) : "";
  if (before != storage) {
    const Reply select = ExchangeCommand(use, "AT+CPMS=\"" + storage + "\"", command_timeout_ms);
    if (!select.complete() || select.code.refused()) return select;
  }
  Reply reply = ExchangeCommand(use, command, command_timeout_ms);
  if (!before.empty() && before != storage && reply.complete()) {
    try {
      CheckCommandArgument(before, "the storage the modem had selected");
      ExchangeCommand(use, "AT+CPMS=\"" + before + "\"", command_timeout_ms);
    } catch (const Error&) {
      // A name no command line can carry is not put back.
    }
  }
  return reply;
}

Listing Tarvex::ListStorage(int16_t ModemID, const std::string& storage) {
  CheckCommandArgument(storage, "the storage name");
  Impl::SlotUse use(*impl_, ModemID);
  const Impl::Reply r = impl_->ExchangeInStorage(use, storage, "AT+CMGL=4");
  Listing listing;
  static_cast<Answer&>(listing) = r.Outcome([](const std::string&) { return ""; });
  if (listing.done()) listing.entries = TextDecode::MessageList(r.text);
  return listing;
}

Answer Tarvex::ReadStored(int16_t ModemID, const std::string& storage, int32_t Index) {
  CheckCommandArgument(storage, "the storage name");
  Impl::SlotUse use(*impl_, ModemID);
  return impl_->ExchangeInStorage(use, storage, "AT+CMGR=" + std::to_string(Index))
      .Outcome([](const std::string& text) {
        const size_t header = text.find("+CMGR:");
        if (header == std::string::npos) return std::string();
        size_t pdu = text.find('\n', header);
        if (pdu == std::string::npos) return std::string();
        pdu = text.find_first_not_of("\r\n", pdu);
        if (pdu == std::string::npos) return std::string();
        const size_t end = text.find_first_of("\r\n", pdu);
        const std::string line = text.substr(pdu, end == std::string::npos ? end : end - pdu);
        return line == "OK" ? std::string() : line;
      });
}

Answer Tarvex::DeleteStoredIn(int16_t ModemID, const std::string& storage, int32_t Index) {
  CheckCommandArgument(storage, "the storage name");
  Impl::SlotUse use(*impl_, ModemID);
  return impl_->ExchangeInStorage(use, storage, "AT+CMGD=" + std::to_string(Index))
      .Outcome([](const std::string&) { return "OK"; });
}

Answer Tarvex::ReadableStorages(int16_t ModemID) {
  Impl::SlotUse use(*impl_, ModemID);
  return impl_->ExchangeCommand(use, "AT+CPMS=?", impl_->command_timeout_ms)
      .Outcome([](const std::string& text) {
        std::string names;
        for (const std::string& name : ReadStoragesOffered(text)) {
          names += (names.empty() ? "" : ",") + name;
        }
        return names;
      });
}

Answer Tarvex::EnableIndications(int16_t ModemID) {
  Impl::SlotUse use(*impl_, ModemID);
  const Impl::Reply test = impl_->ExchangeCommand(use, "AT+CNMI=?", impl_->command_timeout_ms);
  if (!test.complete()) return {};
  const auto offered = test.code.ok() ? OfferedValues(test.text) : std::vector<std::set<int>>{};
  std::vector<std::string> lists = IndicationModes(offered);
  if (lists.empty()) lists = IndicationModes({});  // an answer that offers nothing we know
  Answer last;
  for (const std::string& modes : lists) {
    last = impl_->ExchangeCommand(use, "AT+CNMI=" + modes, impl_->command_timeout_ms)
               .Outcome([&](const std::string&) { return modes; });
    if (last.outcome != Answer::kRefused || SimBusy(last.error)) return last;
  }
  return last;
}

bool Tarvex::WaitForIndication(int16_t ModemID, uint32_t timeout_ms) {
  Impl::SlotUse use(*impl_, ModemID);
  std::string& held = impl_->idle_input[static_cast<size_t>(ModemID)];
  if (use.port().WaitForInput(timeout_ms)) held += use.port().Input();
  // A modem that streams without line ends is not held onto forever.
  const size_t whole = held.size() > (1 << 16) ? held.size() : WholeNotices(held);
  if (whole > 0) {
    impl_->Filter(ModemID, std::string_view(held).substr(0, whole), "");
    held.erase(0, whole);
  }
  return !impl_->indications.empty();
}

}  // namespace tarvex
