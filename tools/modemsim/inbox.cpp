#include "modemsim/inbox.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <stdexcept>

#include "codec/deliver_builder.h"
#include "common/text.h"
#include "modemsim/at_command.h"

namespace tarvex::modemsim {
namespace {

std::string Trim(std::string_view s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return std::string(s.substr(b, e - b));
}

StoredMessage Unread(const DeliverFields& message) {
  return StoredMessage{kRecUnread, BuildDeliverPdu(message)};
}

// The long demo text: 7-bit only (no extension-table characters), so it cuts
// into parts of exactly 153 characters.
constexpr std::string_view kLongDemoText =
    "This is a long message that does not fit into one SMS, so the sender's phone cut it "
    "into three parts. Each part carries a small header with the same reference number, "
    "the number of parts and its own place in the row, so that the receiving side can put "
    "them together again in the right order, even when the network delivers them out of "
    "order. Tarvex hands the parts to the host, which joins them by reference, count "
    "and number. End of the demo message.";

}  // namespace

std::vector<StoredMessage> ParseInbox(std::string_view text) {
  std::vector<StoredMessage> out;
  int line_number = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    ++line_number;
    if (line.empty() || line[0] == '#') continue;
    auto fail = [line_number](const std::string& why) {
      throw std::runtime_error("inbox line " + std::to_string(line_number) + ": " + why);
    };
    StoredMessage message;
    size_t comma = line.find(',');
    if (comma != std::string::npos) {
      std::string stat = Trim(line.substr(0, comma));
      if (stat.size() != 1 || stat[0] < '0' || stat[0] > '3') fail("status must be 0 to 3");
      message.stat = stat[0] - '0';
      line = Trim(line.substr(comma + 1));
    }
    message.pdu = ToUpper(line);
    if (TpduLength(message.pdu) < 0) {
      fail("not a PDU (hex, whole octets, service-centre field included)");
    }
    out.push_back(std::move(message));
  }
  return out;
}

std::vector<StoredMessage> GenerateInbox(int count) {
  static constexpr std::array<std::string_view, 5> kSenders = {
      "+31612345678", "+4915112345678", "+447700900123", "0612345678", "+33612345678"};
  static constexpr std::array<std::string_view, 6> kOpenings = {
      "Meeting moved to", "Your parcel arrives at", "Call me back at",
      "Dinner is at",     "Reminder: dentist at",   "The train leaves at"};
  static constexpr std::array<std::string_view, 4> kEndings = {
      ".", ", see you there!", " - please confirm.", ". Thanks @ all (ref #"};
  std::vector<StoredMessage> out;
  out.reserve(count > 0 ? count : 0);
  // A fixed linear congruential sequence: varied, yet the same on every run.
  uint32_t state = 20261206;
  auto next = [&state](uint32_t range) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % range;
  };
  for (int i = 0; i < count; ++i) {
    DeliverFields message;
    message.sender = std::string(kSenders[next(kSenders.size())]);
    int hour = 8 + static_cast<int>(next(12));
    int minute = static_cast<int>(next(4)) * 15;
    std::string text = std::string(kOpenings[next(kOpenings.size())]) + " " + std::to_string(hour) +
                       ":" + (minute < 10 ? "0" : "") + std::to_string(minute);
    std::string_view ending = kEndings[next(kEndings.size())];
    text += ending;
    if (ending.back() == '#') text += std::to_string(i + 1) + ")";
    text += " [" + std::to_string(i + 1) + "/" + std::to_string(count) + "]";
    message.text = Utf8ToUtf16(text);
    message.day = 1 + (i / (24 * 60)) % 28;
    message.hour = (i / 60) % 24;
    message.minute = i % 60;
    message.second = static_cast<int>(next(60));
    out.push_back(Unread(message));
  }
  return out;
}

std::vector<StoredMessage> DemoInbox() {
  std::vector<StoredMessage> out;
  DeliverFields plain;
  plain.sender = "+31612345678";
  plain.text = u"Hello from the Tarvex demo modem! Reply STOP to stop.";
  out.push_back(Unread(plain));

  DeliverFields wide;
  wide.sender = "+4915112345678";
  wide.minute = 42;
  wide.text =
      u"Gr\u00fc\u00dfe aus K\u00f6ln \u2014 \u041f\u0440\u0438\u0432\u0435\u0442! "
      u"\u4f60\u597d \u263a";
  wide.force_ucs2 = true;
  out.push_back(Unread(wide));

  constexpr size_t kPart = 153;
  const int total = static_cast<int>((kLongDemoText.size() + kPart - 1) / kPart);
  for (int part = 1; part <= total; ++part) {
    DeliverFields message;
    message.sender = "+447700900123";
    message.hour = 10;
    message.minute = 5;
    message.second = part;
    message.text = Utf8ToUtf16(kLongDemoText.substr((part - 1) * kPart, kPart));
    message.concat = DeliverFields::Concat{42, total, part, false};
    out.push_back(Unread(message));
  }
  return out;
}

}  // namespace tarvex::modemsim
