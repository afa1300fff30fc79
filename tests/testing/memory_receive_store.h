// MemoryReceiveStore: a ReceiveStore in memory with the SQLite store's
// semantics (each call all or nothing), so the receiver can be tested without
// a file.  A "restart" is a new Receiver over the same object.  Writes can be
// made to fail (as a full disk would) to check that a failed write changes
// nothing.  Not thread-safe: one test, one thread.
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

  // Every later write raises kReceiveStateError and changes nothing.
  void SetFailWrites(bool fail) { fail_writes_ = fail; }
  const std::vector<HandoverRecord>& handovers() const { return handovers_; }
  const std::vector<PendingSend>& sends() const { return sends_; }

 private:
  void CheckWritable() const;

  std::vector<StoredPart> parts_;
  std::vector<HandoverRecord> handovers_;
  std::vector<PendingSend> sends_;
  int64_t next_id_ = 1;
  bool fail_writes_ = false;
};

}  // namespace tarvex::testing
