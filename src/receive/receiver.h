// Receiver: decides what a watcher hands over and what it may delete, so that
// no message is lost and none is handed over twice.  Pure logic over a
// ReceiveStore: it talks to no modem and reads no clock.  Times are passed in
// as seconds since 1970-01-01 UTC, because they must mean the same after a
// restart (the engine's Clock tick does not).
//
// The caller (one watcher per slot) drives it:
//   for each entry listed or read:  Observe(slot, storage, index, pdu, now)
//   after a full listing of a storage:  ListingDone(slot, storage, indexes)
//   for each message of Ready(slot, now):  hand it over (print it, run the
//     command); only when that succeeded: places = Handed(message, now);
//     delete each place from the modem; Deleted(place) for each one deleted
//   for an entry Observe calls kHandedOver:  delete it, then Deleted(place)
//   for kUndecodable and kOutgoing:  leave it on the modem;
//   for kStatusReport:  decode it as one, MatchReport, hand the report over,
//     ReportHanded, delete the place it returns, Deleted(place).
// A crash anywhere in this leaves the store consistent: before Handed the
// message comes again and is handed over (it was not yet); after Handed its
// entries come again as kHandedOver and are only deleted.  A part the modem
// lost or overwrote before its message was whole lives on in the store.
//
// Status reports go the same way (the caller decodes them): Sent() records a
// send that asked for one, MatchReport() finds that send, ReportHanded()
// records the report's handover and forgets the send once the service centre
// stopped trying.
//
// Ownership: the Receiver borrows the store, which must outlive it; several
// Receivers (one per process, one after another across restarts) may share a
// store.  One thread at a time.  Failures: the store's errors
// (kReceiveStateError) pass through unchanged; a call that raised changed
// nothing, and the caller must then delete nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "receive/receive_store.h"
#include "tarvex/sms_deliver.h"

namespace tarvex {

// What Observe made of one entry.
enum class EntryFate {
  kStored,        // a received message (or part of one) kept; Ready() says when it is whole
  kHandedOver,    // handed over before and not yet deleted: delete it, hand nothing over
  kUndecodable,   // not readable as a message: leave it on the modem
  kOutgoing,      // a stored SMS-SUBMIT (a draft or a sent copy): not ours, leave it
  kStatusReport,  // an SMS-STATUS-REPORT: decode it and go on with MatchReport
};

struct Observation {
  EntryFate fate = EntryFate::kStored;
  std::string error;         // kUndecodable: the decoder's message
  int32_t error_number = 0;  // kUndecodable: its error number (5 or 13)
};

// A message ready to be handed over: whole, or incomplete after the part
// timeout.  The fields map onto the object `tarvex list --join --json` prints:
// EntryJson(first), then for a concatenated message "MessageText" = text,
// "MultiPartSMSCount" = count, "MultiPartSMSNumber" = 0, "MessageIDs" =
// message_ids, and for every message "Parts" = parts, "MissingParts" =
// missing; the watcher adds "Storage" = storage.
struct ReceivedMessage {
  int16_t slot = 0;
  // The lowest part held, decoded; MessageID is its index, MessageText its
  // own text only.
  SMSDeliver first;
  std::u16string text;  // every part held, in part order
  bool concatenated = false;
  int count = 1;                         // parts the message says it has
  std::vector<int> parts;                // part numbers held, ascending; empty if not concatenated
  std::vector<int> missing;              // part numbers that never came; empty when whole
  std::vector<std::string> message_ids;  // the index of each part held, in part order
                                         // ("" for one whose place the modem lost)
  std::string storage;                   // where the parts were: "SM", or "SM,ME" when spread
  int64_t first_seen = 0;                // when its first part was seen
  std::vector<StoredPart> records;       // every stored part, duplicates included

  bool complete() const { return missing.empty(); }
};

// The fields of an SMS-STATUS-REPORT (TS 23.040 9.2.2.3) that matching needs.
struct ReportToMatch {
  int message_reference = 0;               // TP-MR of the send it reports on
  std::string recipient;                   // TP-RA, "+digits" or digits
  int status = 0;                          // TP-ST
  MessageTimeValue service_centre_time{};  // TP-SCTS
  MessageTimeValue discharge_time{};       // TP-DT
};

// TP-ST (TS 23.040 9.2.3.15): 0x00-0x1F the transaction completed (delivered,
// forwarded, replaced); 0x20-0x3F a temporary error, the centre still tries;
// anything else a failure after which it stops trying.
inline bool ReportDelivered(int status) { return status >= 0 && status < 0x20; }
inline bool ReportStillTrying(int status) { return status >= 0x20 && status < 0x40; }

struct ReportMatch {
  bool handed_over = false;         // handed over before: delete it, hand nothing over
  std::optional<PendingSend> send;  // the send it reports on, if this machine made it
  bool final = true;                // the centre stopped trying (ReportStillTrying is false)
};

class Receiver {
 public:
  static constexpr int64_t kDefaultPartTimeout = 3600;
  // Sends older than this are no longer waited for (Prune).
  static constexpr int64_t kSendRetention = 7 * 24 * 3600;

  // part_timeout: seconds after its first part was seen that an incomplete
  // message is handed over as it is.
  explicit Receiver(ReceiveStore& store, int64_t part_timeout = kDefaultPartTimeout)
      : store_(store), part_timeout_(part_timeout) {}

  // One entry as the modem listed it (index and PDU of "index CR LF PDU"),
  // decoded with SMSDeliver and kept until Handed.  Seeing an entry again
  // changes nothing.  A place that now holds another PDU than before makes
  // the part stored for it lose its place (it is never deleted by index).
  Observation Observe(int16_t slot, const std::string& storage, int32_t index,
                      const std::string& pdu, int64_t now);
  // After a listing of every message of one storage (all, read and unread)
  // that returned `present`: what the store knows at other indexes of that
  // storage is gone from the modem.  Not after a partial or failed listing.
  void ListingDone(int16_t slot, const std::string& storage, const std::vector<int32_t>& present);

  // The messages of `slot` to hand over now: every whole one, and every
  // incomplete one whose first part was seen part_timeout or longer ago; in
  // the order their first parts were seen.  Parts are joined by sender,
  // reference and part count; a part number that comes again with the same
  // text is a duplicate of that part, with another text it starts another
  // message (two sends that drew the same reference).
  std::vector<ReceivedMessage> Ready(int16_t slot, int64_t now);
  // When the next incomplete message of `slot` times out; nullopt when none waits.
  std::optional<int64_t> NextTimeout(int16_t slot);

  // Records that `message` was handed over (call it after the handover
  // succeeded and before deleting anything) and returns the places to delete.
  std::vector<EntryPlace> Handed(const ReceivedMessage& message, int64_t now);
  // The modem deleted the entry at `place` (or it is otherwise gone).
  void Deleted(const EntryPlace& place);

  // Records a part sent with a status report requested.
  void Sent(int16_t slot, int message_reference, const std::string& recipient, int part,
            int64_t now);
  // Matches a status report, stored at `place` with `pdu` (place index -1 for
  // one that came without being stored, +CDS), to the newest send of the same
  // slot, message reference and recipient.  Records nothing.
  ReportMatch MatchReport(const EntryPlace& place, const std::string& pdu,
                          const ReportToMatch& report);
  // Records that the report was handed over, forgetting its send when the
  // report is final; returns the place to delete, if it has one.
  std::optional<EntryPlace> ReportHanded(const EntryPlace& place, const std::string& pdu,
                                         const ReportMatch& match, int64_t now);
  // Forgets sends whose reports never came within kSendRetention.
  void Prune(int64_t now);

  // Whether two numbers name the same recipient: the same digits once "+",
  // an international "00" and national leading zeros are set aside, or one the
  // national tail of the other ("0612345678" and "+31612345678").
  static bool SameRecipient(const std::string& a, const std::string& b);

 private:
  struct Group;
  std::vector<Group> Groups(int16_t slot);
  ReceivedMessage Assemble(const Group& group) const;

  ReceiveStore& store_;
  int64_t part_timeout_;
};

}  // namespace tarvex
