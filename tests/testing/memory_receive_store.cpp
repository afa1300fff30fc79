#include "testing/memory_receive_store.h"

#include <algorithm>
#include <iterator>

namespace tarvex::testing {

template <typename Gone>
void MemoryReceiveStore::Empty(Gone gone) {
  std::erase_if(handovers_, [&](const HandoverRecord& h) { return gone(h.place, h.pdu); });
  for (StoredPart& p : parts_) {
    if (p.place.index >= 0 && gone(p.place, p.pdu)) p.place.index = -1;
  }
}

std::vector<StoredPart> MemoryReceiveStore::Parts(int16_t slot) {
  std::vector<StoredPart> out;
  std::copy_if(parts_.begin(), parts_.end(), std::back_inserter(out),
               [&](const StoredPart& p) { return p.place.slot == slot; });
  return out;
}

bool MemoryReceiveStore::AddPart(StoredPart& part) {
  for (const StoredPart& p : parts_) {
    if (p.place == part.place && p.pdu == part.pdu) return false;
  }
  Empty([&](const EntryPlace& place, const std::string& pdu) {
    return place == part.place && pdu != part.pdu;
  });
  part.id = next_id_++;
  parts_.push_back(part);
  return true;
}

bool MemoryReceiveStore::WasHandedOver(const EntryPlace& place, const std::string& pdu) {
  return std::any_of(handovers_.begin(), handovers_.end(),
                     [&](const HandoverRecord& h) { return h.place == place && h.pdu == pdu; });
}

void MemoryReceiveStore::RecordHandover(const std::vector<HandoverRecord>& records,
                                        const std::vector<int64_t>& part_ids) {
  for (const HandoverRecord& r : records) {
    if (r.place.index >= 0 && !WasHandedOver(r.place, r.pdu)) handovers_.push_back(r);
  }
  std::erase_if(parts_, [&](const StoredPart& p) {
    return std::find(part_ids.begin(), part_ids.end(), p.id) != part_ids.end();
  });
}

void MemoryReceiveStore::PlaceEmptied(const EntryPlace& place) {
  Empty([&](const EntryPlace& p, const std::string&) { return p == place; });
}

void MemoryReceiveStore::KeepOnly(int16_t slot, const std::string& storage,
                                  const std::vector<int32_t>& present) {
  Empty([&](const EntryPlace& p, const std::string&) {
    return p.slot == slot && p.storage == storage &&
           std::find(present.begin(), present.end(), p.index) == present.end();
  });
}

void MemoryReceiveStore::AddSend(PendingSend& send) {
  send.id = next_id_++;
  sends_.push_back(send);
}

std::vector<PendingSend> MemoryReceiveStore::Sends(int16_t slot, int message_reference) {
  std::vector<PendingSend> out;
  std::copy_if(sends_.begin(), sends_.end(), std::back_inserter(out), [&](const PendingSend& s) {
    return s.slot == slot && s.message_reference == message_reference;
  });
  return out;
}

void MemoryReceiveStore::RecordReport(const HandoverRecord& record, int64_t send_id) {
  RecordHandover({record}, {});
  std::erase_if(sends_, [&](const PendingSend& s) { return s.id == send_id; });
}

void MemoryReceiveStore::DropSendsBefore(int64_t sent_before) {
  std::erase_if(sends_, [&](const PendingSend& s) { return s.sent_at < sent_before; });
}

}  // namespace tarvex::testing
