#include "testing/memory_receive_store.h"

#include <algorithm>

#include "common/error.h"

namespace tarvex::testing {

void MemoryReceiveStore::CheckWritable() const {
  if (fail_writes_) throw Error(kReceiveStateError, "memory store: writes fail (test)");
}

std::vector<StoredPart> MemoryReceiveStore::Parts(int16_t slot) {
  std::vector<StoredPart> out;
  for (const StoredPart& p : parts_) {
    if (p.place.slot == slot) out.push_back(p);
  }
  return out;
}

bool MemoryReceiveStore::AddPart(StoredPart& part) {
  CheckWritable();
  for (const StoredPart& p : parts_) {
    if (p.place == part.place && p.pdu == part.pdu) return false;
  }
  for (StoredPart& p : parts_) {
    if (p.place == part.place) p.place.index = -1;
  }
  std::erase_if(handovers_, [&](const HandoverRecord& h) {
    return h.place == part.place && h.pdu != part.pdu;
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
  CheckWritable();
  for (const HandoverRecord& r : records) {
    if (r.place.index >= 0 && !WasHandedOver(r.place, r.pdu)) handovers_.push_back(r);
  }
  std::erase_if(parts_, [&](const StoredPart& p) {
    return std::find(part_ids.begin(), part_ids.end(), p.id) != part_ids.end();
  });
}

void MemoryReceiveStore::PlaceEmptied(const EntryPlace& place) {
  CheckWritable();
  std::erase_if(handovers_, [&](const HandoverRecord& h) { return h.place == place; });
  for (StoredPart& p : parts_) {
    if (p.place == place) p.place.index = -1;
  }
}

void MemoryReceiveStore::KeepOnly(int16_t slot, const std::string& storage,
                                  const std::vector<int32_t>& present) {
  CheckWritable();
  auto gone = [&](const EntryPlace& place) {
    return place.slot == slot && place.storage == storage && place.index >= 0 &&
           std::find(present.begin(), present.end(), place.index) == present.end();
  };
  std::erase_if(handovers_, [&](const HandoverRecord& h) { return gone(h.place); });
  for (StoredPart& p : parts_) {
    if (gone(p.place)) p.place.index = -1;
  }
}

void MemoryReceiveStore::AddSend(PendingSend& send) {
  CheckWritable();
  send.id = next_id_++;
  sends_.push_back(send);
}

std::vector<PendingSend> MemoryReceiveStore::Sends(int16_t slot, int message_reference) {
  std::vector<PendingSend> out;
  for (const PendingSend& s : sends_) {
    if (s.slot == slot && s.message_reference == message_reference) out.push_back(s);
  }
  return out;
}

void MemoryReceiveStore::RecordReport(const HandoverRecord& record, int64_t send_id) {
  CheckWritable();
  if (record.place.index >= 0 && !WasHandedOver(record.place, record.pdu)) {
    handovers_.push_back(record);
  }
  std::erase_if(sends_, [&](const PendingSend& s) { return s.id == send_id; });
}

void MemoryReceiveStore::DropSendsBefore(int64_t sent_before) {
  CheckWritable();
  std::erase_if(sends_, [&](const PendingSend& s) { return s.sent_at < sent_before; });
}

}  // namespace tarvex::testing
