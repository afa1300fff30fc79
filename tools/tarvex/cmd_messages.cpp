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
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "delivery_reports.h"
#include "entry_json.h"
#include "modem_actions.h"
#include "tarvex/error.h"
#include "tarvex/sms_deliver.h"

namespace tarvex::cli {
namespace {

using Json = nlohmann::ordered_json;

// ---------------------------------------------------------------------------
// Listing

// A whole message as --join shows it: a single message, a failed entry, or
// the parts of a concatenated message found so far, ordered by part number.
struct Group {
  std::vector<const DecodedEntry*> parts;
  bool concatenated = false;
  int count = 0;  // parts the message says it has

  const DecodedEntry& first() const { return *parts.front(); }
  bool failed() const { return !first().message; }
  std::vector<int> held() const {
    std::vector<int> numbers;
    for (const DecodedEntry* p : parts) numbers.push_back(p->message->MultiPartSMSNumber());
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

std::vector<Group> JoinParts(const std::vector<DecodedEntry>& items) {
  std::vector<Group> groups;
  for (const DecodedEntry& item : items) {
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
    std::stable_sort(g.parts.begin(), g.parts.end(),
                     [](const DecodedEntry* a, const DecodedEntry* b) {
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

void PrintFailed(const DecodedEntry& item, bool json) {
  if (json) {
    Json j = {{"MessageID", item.id}};
    j.update(EntryErrorJson(item.error, item.error_number));
    j["PDU"] = item.pdu;
    std::cout << JsonLine(j) << "\n";
    return;
  }
  std::cout << "Message " << item.id << ": could not decode: " << item.error << " (error "
            << item.error_number << ")\n"
            << "  PDU " << item.pdu << "\n\n";
}

void PrintSingle(const DecodedEntry& item, bool json) {
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
  for (const DecodedEntry* p : g.parts) {
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
int DeleteShown(Tarvex& engine, int16_t slot, const std::vector<const DecodedEntry*>& parts) {
  std::cout.flush();  // printed means written out before anything is removed
  InterruptGuard::Check();
  if (!std::cout)
    throw CommandFailure(kExitError, "the output could not be written; nothing deleted");
  int status = kExitOk;
  for (const DecodedEntry* p : parts) {
    if (!p->message || !p->index) continue;
    const int32_t index = *p->index;
    const Answer deleted = engine.DeleteStored(slot, index);
    if (!deleted.done()) {
      std::cerr << "tarvex: could not delete message " << index << ": " << Why(deleted) << "\n";
      status = std::max(status, StatusFor(deleted.outcome));
    }
  }
  return status;
}

}  // namespace

int ListMessages(ModemSession& session, int16_t slot, const ListOptions& options) {
  Tarvex& engine = session.engine();
  const Listing listing = engine.ListStored(slot, options.inbox);
  if (!listing.done()) {
    // Never "No messages": a refused or unanswered listing says nothing of
    // what the modem holds.
    std::cerr << "tarvex: the modem "
              << (listing.outcome == Answer::kRefused
                      ? "refused the listing (AT+CMGL=" + std::to_string(options.inbox) +
                            "): " + Why(listing)
                      : std::string("did not answer the listing "
                                    "in time"))
              << "\n";
    return StatusFor(listing.outcome);
  }
  const Collection<std::string>& entries = listing.entries;
  std::vector<DecodedEntry> items;
  items.reserve(static_cast<size_t>(entries.Count()));
  for (const std::string& entry : entries) items.push_back(DecodeEntry(entry));

  int status = kExitOk;
  int undecoded = 0;
  for (const DecodedEntry& item : items) undecoded += item.message ? 0 : 1;
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
    for (const DecodedEntry& item : items) {
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

namespace {

// "1-3", "1", "" for the parts that went out before a failure.
std::string PartRange(int sent) {
  if (sent <= 0) return "";
  return sent == 1 ? "1" : "1-" + std::to_string(sent);
}

Json PartsJson(const SendReport& report) {
  Json list = Json::array();
  for (const PartReport& p : report.parts) {
    Json part = {{"PartNumber", p.part},
                 {"MessageCount", report.total},
                 {"MessageText", Utf16ToUtf8(p.text)}};
    Answer a;
    a.outcome = p.outcome;
    a.error = p.error;
    part["Result"] = p.outcome == Answer::kDone ? "OK" : a.Result();
    part["Reference"] = p.reference >= 0 ? Json(p.reference) : Json(nullptr);
    if (p.outcome != Answer::kDone) part["Error"] = ModemErrorJson(a);
    list.push_back(part);
  }
  return list;
}

// What went out and where it stopped, for the failure message.
std::string FailureSummary(const SendReport& report, const std::string& why_last) {
  const int total = report.total;
  const int sent = static_cast<int>(report.parts.size()) - 1;
  if (total <= 1) return why_last;
  std::string text = sent > 0
                         ? "parts " + PartRange(sent) + " of " + std::to_string(total) + " sent; "
                         : "no part of " + std::to_string(total) + " sent; ";
  return text + "part " + std::to_string(sent + 1) + " " + why_last;
}

}  // namespace

int SendText(ModemSession& session, int16_t slot, const std::string& number,
             const std::string& text_utf8, const SendOptions& options) {
  Tarvex& engine = session.engine();
  ProgressBar bar(options.progress && !options.json);
  engine.OnSendProgress([&](int16_t, int16_t count, int16_t part, const std::u16string&) {
    if (count > 1) bar.Show(part, count, "sending to " + number);
  });
  const std::u16string original = Utf8ToUtf16(text_utf8);
  SendReport report;
  auto json_for = [&](const std::string& result) {
    Json j = {{"Result", result}, {"PhoneNumber", number}};
    j["MessageText"] = Utf16ToUtf8(report.text.empty() ? original : report.text);
    j["Cut"] = options.single && !report.text.empty() && report.text != original;
    j["Parts"] = PartsJson(report);
    return j;
  };
  // Routing for the reports is set up before the first part goes out, and
  // put back whatever happens.
  std::optional<DeliveryReports> reports;
  try {
    if (options.wait_report_s >= 0) reports.emplace(engine, slot);
  } catch (const CommandFailure& e) {
    if (options.json) {
      Json j = json_for("FAILED");
      j["Error"] = {{"Kind", "FAILURE"}, {"Code", e.status()}, {"Text", e.what()}};
      std::cout << JsonLine(j) << "\n";
    }
    throw;
  }
  try {
    engine.SendText(slot, number, original, options.single, report,
                    options.report || options.wait_report_s >= 0);
  } catch (const Error& e) {
    engine.OnSendProgress(nullptr);
    bar.Finish("stopped");
    if (options.json) {
      Json j = json_for("FAILED");
      j["Error"] = {{"Kind", "EXCEPTION"}, {"Code", e.number()}, {"Text", e.what()}};
      std::cout << JsonLine(j) << "\n";
    }
    if (!report.parts.empty() && report.total > 1) {
      std::cerr << "tarvex: " << FailureSummary(report, "stopped") << "\n";
    }
    throw;
  }
  engine.OnSendProgress(nullptr);
  const std::string result = report.Result();
  const PartReport& last = report.parts.back();
  const int status = StatusFor(last.outcome);
  if (status == kExitOk) bar.Finish("sent " + std::to_string(report.total) + " parts");
  const bool cut = options.single && report.text != original;

  if (options.json) {
    std::cout << JsonLine(json_for(result)) << "\n";
  } else if (status == kExitOk) {
    std::cout << "Sent to " << number;
    if (report.total > 1) std::cout << " as " << report.total << " parts";
    std::cout << ": OK";
    if (report.total == 1) {
      if (last.reference >= 0) std::cout << " (reference " << last.reference << ")";
      std::cout << "\n";
    } else {
      std::cout << "\n";
      for (const PartReport& p : report.parts) {
        std::cout << "  part " << p.part << " of " << report.total << ": OK";
        if (p.reference >= 0) std::cout << " (reference " << p.reference << ")";
        std::cout << "\n";
      }
    }
  }
  if (cut) {
    std::cerr << "tarvex: the text was cut to fit one message: " << report.text.size() << " of "
              << original.size() << " characters went out (use it without --single to send all)\n";
  }
  if (status != kExitOk) {
    Answer a;
    a.outcome = last.outcome;
    a.error = last.error;
    const std::string why =
        last.outcome == Answer::kRefused ? "refused: " + Why(a) : "not answered in time (TIMEOUT)";
    std::cerr << "tarvex: the message to " << number
              << " was not sent: " << FailureSummary(report, why) << "\n";
  }
  if (reports && status == kExitOk) {
    return reports->Await(report, number, options.wait_report_s, options.json);
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

// The text as given, refused (exit 2) when it is not UTF-8 unless `lossy`
// asks for each bad sequence to go out as U+FFFD.
std::string CheckedText(std::string text, bool lossy, const char* where) {
  const std::string round_trip = Utf16ToUtf8(Utf8ToUtf16(text));
  if (round_trip == text || lossy) return text;
  size_t at = 0;
  while (at < text.size() && at < round_trip.size() && text[at] == round_trip[at]) ++at;
  char byte[8];
  std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(text[at]));
  throw CommandFailure(kExitUsage, std::string("the text ") + where + " is not UTF-8 (byte " +
                                       std::to_string(at + 1) + " is " + byte +
                                       "); convert it first (iconv -f LATIN1 -t UTF-8, say) "
                                       "or pass --lossy to send U+FFFD for each bad byte");
}

// The one JSON object a send prints when it fails before sending.
void PrintSendFailure(const std::string& number, const std::exception& e) {
  Json error = {{"Kind", "EXCEPTION"}, {"Code", nullptr}, {"Text", e.what()}};
  if (const auto* failure = dynamic_cast<const CommandFailure*>(&e)) {
    error["Kind"] = "FAILURE";
    error["Code"] = failure->status();
  } else if (const auto* engine_error = dynamic_cast<const Error*>(&e)) {
    error["Code"] = engine_error->number();
  }
  std::cout << JsonLine(Json{{"Result", "FAILED"},
                             {"PhoneNumber", number},
                             {"Parts", Json::array()},
                             {"Error", error}})
            << "\n";
}

}  // namespace

void DefineSend(CLI::App& send, int& status) {
  struct Args {
    int slot = 1;
    bool trace = false;
    std::string number;
    std::string text;
    bool lossy = false;
    SendOptions send;
    std::string national = "off";
  };
  auto args = std::make_shared<Args>();
  AddSlotOption(&send, args->slot);
  send.add_option("NUMBER", args->number, "Destination, e.g. +31612345678")->required();
  send.add_option("TEXT", args->text, "The text (UTF-8); - reads it from stdin")->required();
  CLI::Option* single = send.add_flag(
      "--single", args->send.single,
      "Send one message only, cutting the text to fit (160 GSM / 70 other characters)");
  send.add_option("--national", args->national,
                  "National language tables for 7-bit text, as in 'tarvex pdu encode': a "
                  "language code or auto (fewest parts); off by default")
      ->type_name("LANG")
      ->default_str("off")
      ->excludes(single);
  send.add_flag("--json", args->send.json,
                "Print one JSON object: the result, each part's result and reference, the error");
  send.add_flag("--lossy", args->lossy,
                "Send text that is not UTF-8 anyway, each bad byte as U+FFFD (else exit 2)");
  send.add_flag("--report", args->send.report,
                "Ask the network for a delivery report of each part (TP-SRR)");
  send.add_option("--wait-report", args->send.wait_report_s,
                  "Wait up to SECONDS (default 120) for the reports; exit 0 only when every "
                  "part was delivered (1 one failed, 4 the wait ran out)")
      ->expected(0, 1)
      ->default_str("120")
      ->check(CLI::Range(0, 86400));
  AddTraceOption(&send, args->trace);
  send.footer(
      "Numbers: +CC... or 00CC... international; 0... national and up to 6 digits (short\n"
      "codes) as dialled; other digits are taken as international without the +.\n"
      "Examples: tarvex send -m 1 +31612345678 'See you at 8'\n"
      "          fortune | tarvex send -m 1 +31612345678 -\n"
      "          tarvex send -m 1 +31612345678 'Arrived?' --wait-report=60");
  send.callback([args, &status] {
    std::string text;
    SlotHooks hooks;
    hooks.check = [&] {
      text = args->text == "-" ? CheckedText(ReadAllStdin(), args->lossy, "on stdin")
                               : CheckedText(args->text, args->lossy, "argument");
    };
    hooks.configure = [&](ModemSession& session) {
      session.engine().SetNationalTables(gsm7::ParseNationalChoice(args->national));
    };
    hooks.failed = [&](const std::exception& e) {
      if (args->send.json) PrintSendFailure(args->number, e);
    };
    status = RunOnSlot(
        args->slot, {.trace = args->trace}, ModemSession::SimNeed::kUnlocked,
        [&](ModemSession& session, int16_t slot) {
          return SendText(session, slot, args->number, text, args->send);
        },
        hooks);
  });
}

void DefineList(CLI::App& list, int& status) {
  struct Args {
    int slot = 1;
    bool trace = false;
    bool old = false;
    bool all = false;
    ListOptions list;
  };
  auto args = std::make_shared<Args>();
  AddSlotOption(&list, args->slot);
  list.add_flag("--old", args->old, "Messages already read (default: unread ones)");
  list.add_flag("--all", args->all, "Read and unread messages");
  list.add_flag("--json", args->list.json, "One JSON object per message and line");
  list.add_flag("--join", args->list.join, "Put the parts of long messages together");
  list.add_flag("--delete", args->list.remove,
                "Delete each message from the modem after it was shown (not one that failed "
                "to decode, nor an incomplete long message)");
  AddTraceOption(&list, args->trace);
  list.footer(
      "Listing unread messages marks them read in the modem; see them again with --old.\n"
      "Examples: tarvex list -m 1 --join\n"
      "          tarvex list -m 1 --all --json --delete");
  list.callback([args, &status] {
    args->list.inbox = args->all ? 4 : args->old ? ibxOldMessage : ibxNewMessage;
    status = RunOnSlot(args->slot, {.trace = args->trace}, ModemSession::SimNeed::kUnlocked,
                       [&](ModemSession& session, int16_t slot) {
                         return ListMessages(session, slot, args->list);
                       });
  });
}

}  // namespace tarvex::cli
