// ReceiveStore: what the receiver keeps on disk so that a message is never
// lost and never handed over twice, whatever happens to the process.
//
// Three kinds of record, each belonging to one modem slot:
// - parts seen and not yet handed over (a single message is a part of one),
//   with their PDU and decoded text, so they survive restarts and can still be
//   joined after the modem lost or reused their place;
// - handovers: the place (storage, index) and PDU of every entry handed over,
//   written before that entry is deleted from the modem, so an entry that is
//   listed again after a crash is recognised and only deleted;
// - sends waiting for a status report, matched later by message reference and
//   recipient.
//
// The receiver decides, the store only keeps: every method is one transaction
// (each compound write is all or nothing).  Implementations: SQLite (POSIX, a
// file in the user's state folder, shared by the watchers of several slots),
// memory (tests).  An object is used by one thread at a time.  Failures (disk
// full, a database that another process holds too long, a damaged file) raise
// tarvex::Error with kReceiveStateError and a message naming the file and what
// to do; nothing is half-written, and a caller must not delete anything from
// the modem when the write that should precede the deletion raised.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tarvex {

// The error number of a store that cannot be read or written.
inline constexpr int32_t kReceiveStateError = 8110;

// An entry's place in a modem: slot, storage ("SM", "ME", "SR"...) and the
// index the modem lists it under.  index -1: a part whose place is no longer
// known (deleted or overwritten by someone else); its record is all that is left.
struct EntryPlace {
  int16_t slot = 0;
  std::string storage;
  int32_t index = -1;
  bool operator==(const EntryPlace&) const = default;
};

// One part of a received message as first seen.  A message that is not
// concatenated is a part 1 of 1 with an empty reference.
struct StoredPart {
  int64_t id = 0;  // given by the store, rising in the order parts were added
  EntryPlace place;
  std::string sender;      // SMSDeliver::PhoneNumber
  std::string reference;   // SMSDeliver::MultiPartSMSRef ("" for a single message)
  int count = 1;           // parts the message says it has
  int number = 1;          // this part's number, 1-based
  std::string pdu;         // as listed, upper-case hex
  std::string text;        // decoded, UTF-8
  int64_t first_seen = 0;  // seconds since 1970-01-01 UTC
};

// A handover: the entry at `place` holding `pdu` was handed over at
// `handed_at`.  It stays recorded until its place is known to be empty.
struct HandoverRecord {
  EntryPlace place;
  std::string pdu;
  int64_t handed_at = 0;
};

// One part sent with a status report requested.
struct PendingSend {
  int64_t id = 0;  // given by the store
  int16_t slot = 0;
  int message_reference = 0;  // TP-MR the modem answered (+CMGS: <mr>), 0..255
  std::string recipient;      // as sent
  int part = 1;               // the part's number, 1 for a single message
  int64_t sent_at = 0;        // seconds since 1970-01-01 UTC
};

class ReceiveStore {
 public:
  virtual ~ReceiveStore() = default;

  // The parts of `slot` not yet handed over, in the order they were added.
  virtual std::vector<StoredPart> Parts(int16_t slot) = 0;
  // Adds `part` (setting part.id) unless a part with the same place and PDU
  // is stored; returns whether it added.  In the same transaction, any other
  // part stored at that place loses its place (index -1): the modem now holds
  // something else there, and deleting that place must not hit it.
  virtual bool AddPart(StoredPart& part) = 0;

  // Whether the entry at `place` holding `pdu` was handed over and its place
  // not yet seen empty.
  virtual bool WasHandedOver(const EntryPlace& place, const std::string& pdu) = 0;
  // One transaction: records every handover and removes the parts `part_ids`.
  // Records of a place index -1 are not kept (no such entry can come again).
  virtual void RecordHandover(const std::vector<HandoverRecord>& records,
                              const std::vector<int64_t>& part_ids) = 0;
  // The place is empty now (deleted, or absent from a full listing): its
  // handover records go and its parts lose their place.
  virtual void PlaceEmptied(const EntryPlace& place) = 0;
  // One transaction: PlaceEmptied for every place of (slot, storage) that
  // holds a part or a handover record and whose index is not in `present`.
  virtual void KeepOnly(int16_t slot, const std::string& storage,
                        const std::vector<int32_t>& present) = 0;

  // Records a send (setting send.id).
  virtual void AddSend(PendingSend& send) = 0;
  // The sends of `slot` with this message reference, oldest first.
  virtual std::vector<PendingSend> Sends(int16_t slot, int message_reference) = 0;
  // One transaction: records the handover (unless its place index is -1) and
  // removes send `send_id` (0: none), for a status report handed over.
  virtual void RecordReport(const HandoverRecord& record, int64_t send_id) = 0;
  // Removes the sends recorded before `sent_before`.
  virtual void DropSendsBefore(int64_t sent_before) = 0;
};

}  // namespace tarvex
