// `tarvex send` and `tarvex list`: sending through SendLongMessage (or
// SendMessage with --single) with a progress bar fed by SendProgress, and
// listing through ReadMessage with every entry decoded by SMSDeliver.
//
// Listing never loses a message: an entry is deleted (--delete) only after it
// was printed and only when it decoded; a joined message only when all its
// parts are there.  An entry that does not decode is shown with its error and
// raw PDU and the listing goes on; the command then exits 1.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "entry_json.h"
#include "modem_actions.h"
#include "tarvex/error.h"
#include "tarvex/sms_deliver.h"

namespace tarvex::cli {
namespace {

using Json = nlohmann::ordered_json;

int SendStatus(const std::string& result) {
  if (result == "OK") return kExitOk;
  return result == "TIMEOUT" ? kExitTimeout : kExitFailure;
}

// ---------------------------------------------------------------------------
// Listing

// One listed entry, decoded or not.
struct Listed {
  std::string index;  // the text before the entry's CR LF
  std::string pdu;
  std::optional<SMSDeliver> message;
  std::string error;
  int error_number = 0;
};

Listed DecodeEntry(const std::string& entry) {
  Listed item;
  const size_t crlf = entry.find("\r\n");
  item.index = entry.substr(0, crlf);
  item.pdu = crlf == std::string::npos ? "" : entry.substr(crlf + 2);
  SMSDeliver message;
  std::string argument = entry;
  try {
    message.Decode(argument);
    item.message = std::move(message);
  } catch (const Error& e) {
    item.error = e.what();
    item.error_number = e.number();
  }
  return item;
}

// A whole message as --join shows it: a single message, a failed entry, or
// the parts of a concatenated message found so far, ordered by part number.
struct Group {
  std::vector<const Listed*> parts;
  bool concatenated = false;
  int count = 0;  // parts the message says it has

  const Listed& first() const { return *parts.front(); }
  bool failed() const { return !first().message; }
  std::vector<int> held() const {
    std::vector<int> numbers;
    for (const Listed* p : parts) numbers.push_back(p->message->MultiPartSMSNumber());
    return numbers;
  }
  std::vector<int> missing() const {
    std::vector<int> numbers;
    const std::vector<int> have = held();
    for (int n = 1; n <= count; ++n) {
      if (std::find(have.begin(), have.end(), n) == have.end()) numbers.push_back(n);
    }
    return numbers;
  }
  bool complete() const { return !concatenated || missing().empty(); }
};

std::vector<Group> JoinParts(const std::vector<Listed>& items) {
  std::vector<Group> groups;
  for (const Listed& item : items) {
    if (!item.message || !item.message->MultiPartSMS()) {
      groups.push_back(Group{{&item}, false, 0});
      continue;
    }
    const SMSDeliver& m = *item.message;
    // Same sender and reference; a part number seen twice starts another
    // message, so two sends that drew the same reference are not mixed.
    auto same = std::find_if(groups.begin(), groups.end(), [&](const Group& g) {
      if (!g.concatenated) return false;
      const SMSDeliver& f = *g.first().message;
      if (f.PhoneNumber() != m.PhoneNumber() || f.MultiPartSMSRef() != m.MultiPartSMSRef()) {
        return false;
      }
      const std::vector<int> have = g.held();
      return std::find(have.begin(), have.end(), m.MultiPartSMSNumber()) == have.end();
    });
    if (same == groups.end()) {
      groups.push_back(Group{{&item}, true, m.MultiPartSMSCount()});
    } else {
      same->parts.push_back(&item);
      same->count = std::max<int>(same->count, m.MultiPartSMSCount());
    }
  }
  for (Group& g : groups) {
    std::stable_sort(g.parts.begin(), g.parts.end(), [](const Listed* a, const Listed* b) {
      return a->message->MultiPartSMSNumber() < b->message->MultiPartSMSNumber();
    });
  }
  return groups;
}

std::string JoinNumbers(const std::vector<int>& numbers, const char* separator) {
  std::string text;
  for (size_t i = 0; i < numbers.size(); ++i) {
    if (i) text += separator;
    text += std::to_string(numbers[i]);
  }
  return text;
}

std::string ReadableTime(const MessageTimeValue& t) {
  std::string text = FormatMessageTime(t);
  text[10] = ' ';
  return text + " " + FormatTimeZone(t.zone_quarters);
}

size_t Columns(const std::string& utf8) {
  return static_cast<size_t>(
      std::count_if(utf8.begin(), utf8.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

// The text indented by two and wrapped at word boundaries to fit 78 columns.
void PrintIndented(const std::u16string& text) {
  constexpr size_t kWidth = 76;
  std::istringstream lines(Utf16ToUtf8(text));
  std::string line;
  bool any = false;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    any = true;
    std::string row;
    size_t width = 0;
    std::istringstream words(line);
    for (std::string word; words >> word;) {
      const size_t w = Columns(word);
      if (width > 0 && width + 1 + w > kWidth) {
        std::cout << "  " << row << "\n";
        row.clear();
        width = 0;
      }
      if (width > 0) row += ' ', ++width;
      row += word;
      width += w;
    }
    std::cout << "  " << row << "\n";
  }
  if (!any) std::cout << "  (no text)\n";
}

void PrintFailed(const Listed& item, bool json) {
  if (json) {
    Json j = {{"MessageID", item.index}};
    j.update(EntryErrorJson(item.error, item.error_number));
    j["PDU"] = item.pdu;
    std::cout << JsonLine(j) << "\n";
    return;
  }
  std::cout << "Message " << item.index << ": could not decode: " << item.error << " (error "
            << item.error_number << ")\n"
            << "  PDU " << item.pdu << "\n\n";
}

void PrintSingle(const Listed& item, bool json) {
  const SMSDeliver& m = *item.message;
  if (json) {
    std::cout << JsonLine(EntryJson(m)) << "\n";
    return;
  }
  std::cout << "Message " << m.MessageID() << " from " << m.PhoneNumber() << ", "
            << ReadableTime(m.MessageTime());
  if (m.MultiPartSMS()) {
    std::cout << " (part " << m.MultiPartSMSNumber() << " of " << m.MultiPartSMSCount() << ", ref "
              << m.MultiPartSMSRef() << ")";
  }
  std::cout << "\n";
  PrintIndented(m.MessageText());
  std::cout << "\n";
}

void PrintGroup(const Group& g, bool json) {
  if (g.failed()) return PrintFailed(g.first(), json);
  if (!g.concatenated) {
    if (!json) return PrintSingle(g.first(), false);
    Json j = EntryJson(*g.first().message);
    j["Parts"] = Json::array();
    j["MissingParts"] = Json::array();
    std::cout << JsonLine(j) << "\n";
    return;
  }
  std::u16string text;
  std::vector<std::string> ids;
  for (const Listed* p : g.parts) {
    text += p->message->MessageText();
    ids.push_back(p->message->MessageID());
  }
  const SMSDeliver& first = *g.first().message;
  const std::vector<int> missing = g.missing();
  if (json) {
    Json j = EntryJson(first);
    j["MessageText"] = Utf16ToUtf8(text);
    j["MultiPartSMSCount"] = g.count;
    j["MultiPartSMSNumber"] = 0;
    j["MessageIDs"] = ids;
    j["Parts"] = g.held();
    j["MissingParts"] = missing;
    std::cout << JsonLine(j) << "\n";
    return;
  }
  std::cout << "Message ";
  for (size_t i = 0; i < ids.size(); ++i) std::cout << (i ? "+" : "") << ids[i];
  std::cout << " from " << first.PhoneNumber() << ", " << ReadableTime(first.MessageTime());
  if (missing.empty()) {
    std::cout << " (" << g.count << " parts)\n";
  } else {
    std::cout << " (incomplete: parts " << JoinNumbers(g.held(), ", ") << " of " << g.count
              << "; missing " << JoinNumbers(missing, ", ") << ")\n";
  }
  PrintIndented(text);
  std::cout << "\n";
}

// Deletes the decoded entries of what was just printed; returns the status.
int DeleteShown(Tarvex& engine, int16_t slot, const std::vector<const Listed*>& parts) {
  std::cout.flush();  // printed means written out before anything is removed
  InterruptGuard::Check();
  if (!std::cout)
    throw CommandFailure(kExitError, "the output could not be written; nothing deleted");
  int status = kExitOk;
  for (const Listed* p : parts) {
    if (!p->message) continue;
    int32_t index = 0;
    try {
      index = std::stoi(p->message->MessageID());
    } catch (const std::exception&) {
      continue;
    }
    const std::string result = engine.RemoveMessage(slot, index);
    if (result != "OK") {
      std::cerr << "tarvex: could not delete message " << index << " (" << result << ")\n";
      status = std::max(status, result == "TIMEOUT" ? int{kExitTimeout} : int{kExitFailure});
    }
  }
  return status;
}

}  // namespace

int ListMessages(ModemSession& session, int16_t slot, const ListOptions& options) {
  Tarvex& engine = session.engine();
  const Collection<std::string> entries = engine.ReadMessage(slot, options.inbox);
  std::vector<Listed> items;
  items.reserve(static_cast<size_t>(entries.Count()));
  for (const std::string& entry : entries) items.push_back(DecodeEntry(entry));

  int status = kExitOk;
  int undecoded = 0;
  for (const Listed& item : items) undecoded += item.message ? 0 : 1;
  if (undecoded) status = kExitFailure;

  if (items.empty() && !options.json) {
    std::cout << "No "
              << (options.inbox == 0   ? "unread "
                  : options.inbox == 1 ? "read "
                                       : "")
              << "messages.\n";
    return status;
  }
  int kept_incomplete = 0;
  if (!options.join) {
    for (const Listed& item : items) {
      if (!item.message) {
        PrintFailed(item, options.json);
        continue;
      }
      PrintSingle(item, options.json);
      if (options.remove) status = std::max(status, DeleteShown(engine, slot, {&item}));
    }
  } else {
    for (const Group& g : JoinParts(items)) {
      PrintGroup(g, options.json);
      if (!options.remove || g.failed()) continue;
      // Deleting half a message would lose it for good: its other parts may
      // still arrive, and only together do they make sense.
      if (!g.complete()) {
        ++kept_incomplete;
        continue;
      }
      status = std::max(status, DeleteShown(engine, slot, g.parts));
    }
  }
  if (!options.json) {
    std::cout << items.size() << (items.size() == 1 ? " entry" : " entries");
    if (undecoded) std::cout << ", " << undecoded << " not decoded";
    std::cout << "\n";
  }
  if (undecoded) {
    std::cerr << "tarvex: " << undecoded << (undecoded == 1 ? " entry" : " entries")
              << " could not be decoded\n";
  }
  if (kept_incomplete) {
    std::cerr << "tarvex: kept " << kept_incomplete
              << " incomplete message(s) in the modem; they are deleted once all parts are in\n";
  }
  return status;
}

int SendText(ModemSession& session, int16_t slot, const std::string& number,
             const std::string& text_utf8, const SendOptions& options) {
  Tarvex& engine = session.engine();
  struct Part {
    int number;
    int count;
    std::u16string text;
  };
  std::vector<Part> parts;
  ProgressBar bar(options.progress && !options.json);
  engine.OnSendProgress([&](int16_t&, int16_t& count, int16_t& part, std::u16string& text) {
    parts.push_back({part, count, text});
    if (count > 1) bar.Show(part, count, "sending to " + number);
  });

  std::u16string text = Utf8ToUtf16(text_utf8);
  const std::u16string original = text;
  std::string result;
  try {
    result = options.single ? engine.SendMessage(slot, number, text)
                            : engine.SendLongMessage(slot, number, text);
  } catch (...) {
    engine.OnSendProgress(nullptr);
    throw;
  }
  engine.OnSendProgress(nullptr);
  const int status = SendStatus(result);
  const int total = parts.empty() ? 0 : parts.back().count;
  if (status == kExitOk) {
    bar.Finish("sent " + std::to_string(total) + " parts");
  }
  const bool cut = options.single && text != original;

  if (options.json) {
    Json j = {{"Result", result}, {"PhoneNumber", number}};
    j["MessageText"] = Utf16ToUtf8(options.single ? text : original);
    j["Cut"] = cut;
    Json list = Json::array();
    for (const Part& p : parts) {
      list.push_back({{"PartNumber", p.number},
                      {"MessageCount", p.count},
                      {"MessageText", Utf16ToUtf8(p.text)}});
    }
    j["Parts"] = list;
    std::cout << JsonLine(j) << "\n";
  } else if (status == kExitOk) {
    std::cout << "Sent to " << number;
    if (total > 1) std::cout << " as " << total << " parts";
    std::cout << ": OK\n";
  }
  if (cut) {
    std::cerr << "tarvex: the text was cut to fit one message: " << text.size() << " of "
              << original.size() << " characters went out (use it without --single to send all)\n";
  }
  if (status != kExitOk) {
    std::cerr << "tarvex: the message to " << number << " was not sent (" << result << ")";
    if (total > 1 && !parts.empty()) {
      std::cerr << ": part " << parts.back().number << " of " << total << " failed";
      if (parts.back().number > 1) std::cerr << "; parts before it went out";
    }
    std::cerr << "\n";
  }
  return status;
}

namespace {

std::string ReadAllStdin() {
  std::string text{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
  // `echo text | tarvex send ... -` adds a line end the user did not mean to send.
  if (!text.empty() && text.back() == '\n') text.pop_back();
  if (!text.empty() && text.back() == '\r') text.pop_back();
  return text;
}

}  // namespace

void AddMessageCommands(CLI::App& app, int& status) {
  struct Args {
    int slot = 1;
    bool trace = false;
    std::string number;
    std::string text;
    SendOptions send;
    bool old = false;
    bool all = false;
    ListOptions list;
  };
  auto args = std::make_shared<Args>();

  CLI::App* send = app.add_subcommand("send", "Send a text message (long texts go in parts)");
  AddSlotOption(send, args->slot);
  send->add_option("NUMBER", args->number, "Destination, e.g. +31612345678")->required();
  send->add_option("TEXT", args->text, "The text (UTF-8); - reads it from stdin")->required();
  send->add_flag("--single", args->send.single,
                 "Send one message only, cutting the text to fit (160 GSM / 70 other characters)");
  send->add_flag("--json", args->send.json, "Print the result and the parts as JSON");
  AddTraceOption(send, args->trace);
  send->footer(
      "Examples: tarvex send -m 1 +31612345678 'See you at 8'\n"
      "          fortune | tarvex send -m 1 +31612345678 -");
  send->callback([args, &status] {
    status = RunModemCommand([&] {
      const std::string text = args->text == "-" ? ReadAllStdin() : args->text;
      ModemSession session(SessionOptions{.trace = args->trace});
      const auto slot = static_cast<int16_t>(args->slot);
      session.Open(slot);
      const int result = SendText(session, slot, args->number, text, args->send);
      session.Close();
      return result;
    });
  });

  CLI::App* list = app.add_subcommand("list", "List (and decode) the messages stored in the modem");
  AddSlotOption(list, args->slot);
  list->add_flag("--old", args->old, "Messages already read (default: unread ones)");
  list->add_flag("--all", args->all, "Read and unread messages");
  list->add_flag("--json", args->list.json, "One JSON object per message and line");
  list->add_flag("--join", args->list.join, "Put the parts of long messages together");
  list->add_flag("--delete", args->list.remove,
                 "Delete each message from the modem after it was shown (not one that failed "
                 "to decode, nor an incomplete long message)");
  AddTraceOption(list, args->trace);
  list->footer(
      "Listing unread messages marks them read in the modem; see them again with --old.\n"
      "Examples: tarvex list -m 1 --join\n"
      "          tarvex list -m 1 --all --json --delete");
  list->callback([args, &status] {
    args->list.inbox = args->all ? 4 : args->old ? ibxOldMessage : ibxNewMessage;
    status = RunModemCommand([&] {
      ModemSession session(SessionOptions{.trace = args->trace});
      const auto slot = static_cast<int16_t>(args->slot);
      session.Open(slot);
      const int result = ListMessages(session, slot, args->list);
      session.Close();
      return result;
    });
  });
}

}  // namespace tarvex::cli
