// MemoryReceiveStore: a ReceiveStore in memory with the SQLite store's
// semantics, so the receiver can be tested without a file.  A "restart" is a
// new Receiver over the same object.  Not thread-safe: one test, one thread.
#pragma once

#include <vector>

#include "receive/receive_store.h"

namespace tarvex::testing {

class MemoryReceiveStore : public ReceiveStore {
 public:
  std::vector<StoredPart> Parts(int16_t slot) override;
  bool AddPart(StoredPart& part) override;
  bool WasHandedOver(const EntryPlace& place, const std::string& pdu) override;
  void RecordHandover(const std::vector<HandoverRecord>& records,
                      const std::vector<int64_t>& part_ids) override;
  void PlaceEmptied(const EntryPlace& place) override;
  void KeepOnly(int16_t slot, const std::string& storage,
                const std::vector<int32_t>& present) override;
  void AddSend(PendingSend& send) override;
  std::vector<PendingSend> Sends(int16_t slot, int message_reference) override;
  void RecordReport(const HandoverRecord& record, int64_t send_id) override;
  void DropSendsBefore(int64_t sent_before) override;

  const std::vector<PendingSend>& sends() const { return sends_; }

 private:
  template <typename Gone>
  void Empty(Gone gone);  // what was at the places `gone` names is no more

  std::vector<StoredPart> parts_;
  std::vector<HandoverRecord> handovers_;
  std::vector<PendingSend> sends_;
  int64_t next_id_ = 1;
};

}  // namespace tarvex::testing
