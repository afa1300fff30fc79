#include "receive/receiver.h"

#include <algorithm>

#include "common/text.h"
#include "tarvex/error.h"

namespace tarvex {
namespace {

// A national tail shorter than this is too little to take two numbers for one.
constexpr size_t kMinTailDigits = 6;

std::string Digits(const std::string& number) {
  std::string digits;
  for (char c : number) {
    if (c >= '0' && c <= '9') digits += c;
  }
  const size_t first = digits.find_first_not_of('0');
  return first == std::string::npos ? "" : digits.substr(first);
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool Decode(const std::string& index, const std::string& pdu, SMSDeliver& out) {
  std::string entry = index + "\r\n" + pdu;
  try {
    out.Decode(entry);
    return true;
  } catch (const Error&) {
    return false;
  }
}

// TP-MTI (TS 23.040 9.2.3.1) of a PDU with the service-centre field in
// front, or -1 when the PDU is too short or not hex there.
int MessageTypeIndicator(const std::string& pdu) {
  auto octet = [&](size_t at) {
    if (pdu.size() < 2 * at + 2) return -1;
    const std::string hex = pdu.substr(2 * at, 2);
    if (hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return -1;
    return std::stoi(hex, nullptr, 16);
  };
  const int sca_length = octet(0);
  const int first = sca_length < 0 ? -1 : octet(1 + static_cast<size_t>(sca_length));
  return first < 0 ? -1 : first & 0x03;
}

}  // namespace

// One message being put together: every stored record that belongs to it
// (duplicates of a part included) and, by part number, the one that counts.
struct Receiver::Group {
  std::vector<StoredPart> records;  // the first one opened it
  std::vector<int> by_number;       // index into records per part number - 1, -1 while missing
  int64_t first_seen = 0;

  const StoredPart& key() const { return records.front(); }
  bool whole() const {
    return std::find(by_number.begin(), by_number.end(), -1) == by_number.end();
  }
};

Observation Receiver::Observe(int16_t slot, const std::string& storage, int32_t index,
                              const std::string& pdu, int64_t now) {
  const EntryPlace place{slot, storage, index};
  if (MessageTypeIndicator(pdu) == 2) return {EntryFate::kStatusReport, "", 0};
  SMSDeliver message;
  std::string entry = std::to_string(index) + "\r\n" + pdu;
  try {
    message.Decode(entry);
  } catch (const Error& e) {
    // Whatever was stored for this place before, the modem holds something
    // else there now.
    store_.PlaceEmptied(place);
    return {EntryFate::kUndecodable, e.what(), e.number()};
  }
  if (message.IsSubmit()) return {EntryFate::kOutgoing, "", 0};
  if (store_.WasHandedOver(place, pdu)) return {EntryFate::kHandedOver, "", 0};

  StoredPart part;
  part.place = place;
  part.sender = message.PhoneNumber();
  if (message.MultiPartSMS()) {
    part.reference = message.MultiPartSMSRef();
    part.count = message.MultiPartSMSCount();
    part.number = message.MultiPartSMSNumber();
  }
  part.pdu = pdu;
  part.text = Utf16ToUtf8(message.MessageText());
  part.first_seen = now;
  store_.AddPart(part);
  return {EntryFate::kStored, "", 0};
}

void Receiver::ListingDone(int16_t slot, const std::string& storage,
                           const std::vector<int32_t>& present) {
  store_.KeepOnly(slot, storage, present);
}

std::vector<Receiver::Group> Receiver::Groups(int16_t slot) {
  std::vector<Group> groups;
  for (StoredPart& part : store_.Parts(slot)) {
    // A part whose numbers make no sense (only a damaged store holds one) is
    // a message of its own rather than an index out of range.
    const bool joinable = !part.reference.empty() && part.number >= 1 && part.number <= part.count;
    Group* home = nullptr;
    bool duplicate = false;
    for (Group& g : groups) {
      if (!joinable) break;
      const StoredPart& k = g.key();
      if (k.reference != part.reference || k.sender != part.sender || k.count != part.count ||
          g.by_number.size() != static_cast<size_t>(part.count)) {
        continue;
      }
      const int held = g.by_number[static_cast<size_t>(part.number - 1)];
      if (held < 0 || g.records[static_cast<size_t>(held)].text == part.text) {
        home = &g;
        duplicate = held >= 0;
        break;
      }
    }
    if (!home) {
      home = &groups.emplace_back();
      home->by_number.assign(joinable ? static_cast<size_t>(part.count) : 1, -1);
      home->first_seen = part.first_seen;
    }
    if (!duplicate) {
      home->by_number[joinable ? static_cast<size_t>(part.number - 1) : 0] =
          static_cast<int>(home->records.size());
    }
    home->first_seen = std::min(home->first_seen, part.first_seen);
    home->records.push_back(std::move(part));
  }
  return groups;
}

ReceivedMessage Receiver::Assemble(const Group& g) const {
  ReceivedMessage m;
  const StoredPart& key = g.key();
  m.slot = key.place.slot;
  m.concatenated = g.by_number.size() > 1 || !key.reference.empty();
  m.count = static_cast<int>(g.by_number.size());
  m.first_seen = g.first_seen;
  m.records = g.records;
  std::vector<std::string> storages;
  const StoredPart* lowest = nullptr;
  for (size_t i = 0; i < g.by_number.size(); ++i) {
    const int number = static_cast<int>(i) + 1;
    if (g.by_number[i] < 0) {
      m.missing.push_back(number);
      continue;
    }
    const StoredPart& p = g.records[static_cast<size_t>(g.by_number[i])];
    if (!lowest) lowest = &p;
    if (m.concatenated) m.parts.push_back(number);
    m.text += Utf8ToUtf16(p.text);
    m.message_ids.push_back(p.place.index >= 0 ? std::to_string(p.place.index) : "");
    if (std::find(storages.begin(), storages.end(), p.place.storage) == storages.end()) {
      storages.push_back(p.place.storage);
    }
  }
  for (const std::string& s : storages) m.storage += (m.storage.empty() ? "" : ",") + s;
  // A group always holds the part that opened it, so `lowest` is set.
  const std::string id = lowest->place.index >= 0 ? std::to_string(lowest->place.index) : "";
  if (!Decode(id, lowest->pdu, m.first)) {
    // It decoded when it was seen; should the store hand back something else,
    // the message is still told as it was recorded.
    m.first.SetMessageID(id);
    m.first.SetPhoneNumber(lowest->sender);
    m.first.SetMessageText(Utf8ToUtf16(lowest->text));
  }
  return m;
}

std::vector<ReceivedMessage> Receiver::Ready(int16_t slot, int64_t now) {
  std::vector<ReceivedMessage> ready;
  for (const Group& g : Groups(slot)) {
    if (g.whole() || now - g.first_seen >= part_timeout_) ready.push_back(Assemble(g));
  }
  return ready;
}

std::optional<int64_t> Receiver::NextTimeout(int16_t slot) {
  std::optional<int64_t> next;
  for (const Group& g : Groups(slot)) {
    if (g.whole()) continue;
    const int64_t due = g.first_seen + part_timeout_;
    if (!next || due < *next) next = due;
  }
  return next;
}

std::vector<EntryPlace> Receiver::Handed(const ReceivedMessage& message, int64_t now) {
  std::vector<HandoverRecord> records;
  std::vector<int64_t> ids;
  std::vector<EntryPlace> places;
  for (const StoredPart& part : message.records) {
    records.push_back({part.place, part.pdu, now});
    ids.push_back(part.id);
    if (part.place.index >= 0 &&
        std::find(places.begin(), places.end(), part.place) == places.end()) {
      places.push_back(part.place);
    }
  }
  store_.RecordHandover(records, ids);
  return places;
}

void Receiver::Deleted(const EntryPlace& place) { store_.PlaceEmptied(place); }

void Receiver::Sent(int16_t slot, int message_reference, const std::string& recipient, int part,
                    int64_t now) {
  PendingSend send{0, slot, message_reference, recipient, part, now};
  store_.AddSend(send);
}

ReportMatch Receiver::MatchReport(const EntryPlace& place, const std::string& pdu,
                                  const ReportToMatch& report) {
  ReportMatch match;
  match.final = !ReportStillTrying(report.status);
  if (place.index >= 0 && store_.WasHandedOver(place, pdu)) {
    match.handed_over = true;
    return match;
  }
  // Newest first: references repeat every 256 sends, and the older one's
  // report has most likely come long ago.
  std::vector<PendingSend> sends = store_.Sends(place.slot, report.message_reference);
  for (auto it = sends.rbegin(); it != sends.rend(); ++it) {
    if (SameRecipient(it->recipient, report.recipient)) {
      match.send = *it;
      break;
    }
  }
  return match;
}

std::optional<EntryPlace> Receiver::ReportHanded(const EntryPlace& place, const std::string& pdu,
                                                 const ReportMatch& match, int64_t now) {
  const int64_t send_id = match.send && match.final ? match.send->id : 0;
  store_.RecordReport({place, pdu, now}, send_id);
  if (place.index < 0) return std::nullopt;
  return place;
}

void Receiver::Prune(int64_t now) { store_.DropSendsBefore(now - kSendRetention); }

bool Receiver::SameRecipient(const std::string& a, const std::string& b) {
  const std::string da = Digits(a);
  const std::string db = Digits(b);
  if (da.empty() || db.empty()) return a == b;  // alphanumeric, or no number at all
  if (da == db) return true;
  const std::string& shorter = da.size() < db.size() ? da : db;
  const std::string& longer = da.size() < db.size() ? db : da;
  return shorter.size() >= kMinTailDigits && EndsWith(longer, shorter);
}

}  // namespace tarvex
