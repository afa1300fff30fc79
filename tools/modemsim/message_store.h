// One message storage of the simulated modem ("SM" for the SIM, "ME" for the
// phone memory): numbered places 1..total, each empty or holding one PDU with
// its status (3GPP TS 27.005 3.1 <stat>).
//
// Owned by the Modem; no I/O, no locking (one thread).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarvex::modemsim {

enum MessageStat {
  kRecUnread = 0,
  kRecRead = 1,
  kStoUnsent = 2,
  kStoSent = 3,
  kStatAll = 4,  // only as a listing filter
};

struct StoredMessage {
  int stat = kRecUnread;
  std::string pdu;  // upper-case hex, service-centre field in front
};

// Octets of the PDU after the service-centre field: the <length> that
// +CMGL/+CMGR report and +CMGS expects.  -1 when the text is not whole octets
// of hex or the service-centre field runs past the end.
int TpduLength(const std::string& pdu);

class MessageStore {
 public:
  MessageStore(std::string name, int total) : name_(std::move(name)), total_(total) {}

  const std::string& name() const { return name_; }
  int used() const { return static_cast<int>(messages_.size()); }
  int total() const { return total_; }
  // Never below the places already taken.
  void SetTotal(int total);

  // Puts the message in the lowest free place; nullopt when the store is full.
  std::optional<int> Add(StoredMessage message);
  StoredMessage* Find(int index);
  bool InRange(int index) const { return index >= 1 && index <= total_; }
  void Erase(int index) { messages_.erase(index); }
  // AT+CMGD <delflag> 1..4: 1 read, 2 read and sent, 3 read, sent and
  // unsent, 4 all.
  void EraseByFlag(int flag);
  // Indices holding messages of this status (kStatAll: every one), ascending.
  std::vector<int> Indices(int stat) const;

 private:
  std::string name_;
  int total_;
  std::map<int, StoredMessage> messages_;
};

}  // namespace tarvex::modemsim
