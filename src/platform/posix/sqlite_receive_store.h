// The receiver's state in a small SQLite database of one user: by default
// receive.db in the state folder ($TARVEX_STATE_DIR, else
// ${XDG_STATE_HOME:-~/.local/state}/tarvex).
//
// The file is made 0600 (its folder 0700 when it has to be made): it holds
// the user's messages.  It runs with a rollback journal and full
// synchronisation, because a handover must be on disk before the message is
// deleted from the modem; writers take the lock up front (BEGIN IMMEDIATE)
// and wait for another process (the watcher of another slot) up to a busy
// timeout.  The schema's version is PRAGMA user_version.
//
// Ownership: the object owns its connection; one thread at a time.  Failures
// raise tarvex::Error (kReceiveStateError) whose message names the file and
// what to do: opening a file that is damaged, not ours, or from a newer
// version fails, and the file is never replaced or recreated behind the
// user's back; a write that fails changes nothing.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "receive/receive_store.h"

namespace tarvex::posix {

class SqliteReceiveStore : public ReceiveStore {
 public:
  // Opens (creating when missing) the database at `path`; raises on failure.
  explicit SqliteReceiveStore(std::string path);
  ~SqliteReceiveStore() override;
  SqliteReceiveStore(const SqliteReceiveStore&) = delete;
  SqliteReceiveStore& operator=(const SqliteReceiveStore&) = delete;

  // $TARVEX_STATE_DIR/receive.db, else ${XDG_STATE_HOME:-~/.local/state}/tarvex/receive.db.
  static std::string DefaultPath();
  const std::string& path() const { return path_; }

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

 private:
  class Stmt;
  class Txn;
  void Open();
  [[noreturn]] void Fail(const std::string& what) const;
  void Exec(const char* sql);
  void EmptyPlace(const EntryPlace& place);  // inside a transaction
  void InsertHandover(const HandoverRecord& record);

  std::string path_;
  sqlite3* db_ = nullptr;
};

}  // namespace tarvex::posix
