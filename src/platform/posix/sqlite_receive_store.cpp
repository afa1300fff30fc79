// The receiver's state on SQLite.  Parts keep an AUTOINCREMENT id so that
// their order (the order they were first seen) survives deletions; handovers
// are keyed by place and PDU; a place that lost its entry is index -1.
#include "platform/posix/sqlite_receive_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/sqlite_statement.h"
#include "tarvex/error.h"

namespace tarvex::posix {
namespace {

constexpr int kBusyTimeoutMs = 10000;
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema =
    "CREATE TABLE parts("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  slot INTEGER NOT NULL, storage TEXT NOT NULL, idx INTEGER NOT NULL,"
    "  sender TEXT NOT NULL, reference TEXT NOT NULL,"
    "  count INTEGER NOT NULL, number INTEGER NOT NULL,"
    "  pdu TEXT NOT NULL, text TEXT NOT NULL, first_seen INTEGER NOT NULL);"
    "CREATE INDEX parts_place ON parts(slot, storage, idx);"
    "CREATE TABLE handovers("
    "  slot INTEGER NOT NULL, storage TEXT NOT NULL, idx INTEGER NOT NULL,"
    "  pdu TEXT NOT NULL, handed_at INTEGER NOT NULL,"
    "  PRIMARY KEY(slot, storage, idx, pdu));"
    "CREATE TABLE sends("
    "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
    "  slot INTEGER NOT NULL, mr INTEGER NOT NULL, recipient TEXT NOT NULL,"
    "  part INTEGER NOT NULL, sent_at INTEGER NOT NULL);"
    "CREATE INDEX sends_mr ON sends(slot, mr);"
    "PRAGMA user_version = 1;";

// Makes the missing folders of `dir`, private to the user: the state folder
// holds messages.  Existing folders keep their mode.
bool MakeDirs(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  const size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(dir.substr(0, slash))) return false;
  return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string DirName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Column(sqlite3_stmt* stmt, int i) {
  auto text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
  return std::string(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(stmt, i)));
}

}  // namespace

// A prepared statement that finalises itself and raises on every failure.
class SqliteReceiveStore::Stmt {
 public:
  Stmt(const SqliteReceiveStore& store, const char* sql) : store_(store), stmt_(store.db_, sql) {
    if (!stmt_.ok()) store.Fail("cannot prepare a query");
  }

  Stmt& Bind(int i, const std::string& text) {
    stmt_.Bind(i, text);
    return *this;
  }
  Stmt& Bind(int i, int64_t number) {
    stmt_.Bind(i, number);
    return *this;
  }
  Stmt& Bind(int i, const EntryPlace& place) {  // binds i, i+1, i+2
    return Bind(i, int64_t{place.slot})
        .Bind(i + 1, place.storage)
        .Bind(i + 2, int64_t{place.index});
  }
  // True for a row, false when done.
  bool Step() {
    const int rc = stmt_.Step();
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) store_.Fail("cannot read or write");
    return false;
  }
  void Run() {
    Step();
    stmt_.Reset();
  }
  int64_t Int(int i) { return sqlite3_column_int64(stmt_.get(), i); }
  std::string Text(int i) { return Column(stmt_.get(), i); }

 private:
  const SqliteReceiveStore& store_;
  SqliteStatement stmt_;
};

// A write transaction, begun as a writer (so two processes never deadlock
// upgrading a read lock) and rolled back unless committed.
class SqliteReceiveStore::Txn {
 public:
  explicit Txn(SqliteReceiveStore& store) : store_(store) { store.Exec("BEGIN IMMEDIATE"); }
  ~Txn() {
    if (!done_) sqlite3_exec(store_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
  }
  Txn(const Txn&) = delete;
  Txn& operator=(const Txn&) = delete;
  void Commit() {
    store_.Exec("COMMIT");
    done_ = true;
  }

 private:
  SqliteReceiveStore& store_;
  bool done_ = false;
};

SqliteReceiveStore::SqliteReceiveStore(std::string path) : path_(std::move(path)) {
  try {
    Open();
  } catch (...) {
    sqlite3_close_v2(db_);
    throw;
  }
}

SqliteReceiveStore::~SqliteReceiveStore() { sqlite3_close_v2(db_); }

std::string SqliteReceiveStore::DefaultPath() {
  const char* dir = std::getenv("TARVEX_STATE_DIR");
  if (dir && *dir) return std::string(dir) + "/receive.db";
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state) return std::string(state) + "/tarvex/receive.db";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/state/tarvex/receive.db";
}

void SqliteReceiveStore::Fail(const std::string& what) const {
  std::string message = "receive state " + path_ + ": " + what;
  const int code = db_ ? sqlite3_extended_errcode(db_) & 0xFF : SQLITE_OK;
  if (db_ && code != SQLITE_OK) message += std::string(" (") + sqlite3_errmsg(db_) + ")";
  if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
    message += "; another process held it for more than " + std::to_string(kBusyTimeoutMs / 1000) +
               " s: try again";
  } else if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB) {
    message +=
        "; the file is damaged and is left as it is: move it aside and start again (messages "
        "it recorded as handed over but still in the modem will then be handed over again)";
  } else if (code == SQLITE_FULL || code == SQLITE_IOERR || code == SQLITE_READONLY ||
             code == SQLITE_CANTOPEN || code == SQLITE_PERM) {
    message += "; check the disk space and the file's and folder's permissions";
  }
  throw Error(kReceiveStateError, message);
}

void SqliteReceiveStore::Exec(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail(std::string("cannot run ") + sql);
  }
}

void SqliteReceiveStore::Open() {
  if (!MakeDirs(DirName(path_))) {
    throw Error(kReceiveStateError, "receive state " + path_ + ": cannot make its folder (" +
                                        std::strerror(errno) + ")");
  }
  // Made here rather than by SQLite, so that it is the user's alone from its
  // first byte (SQLite gives its journal the same mode).
  const int fd = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    throw Error(kReceiveStateError, "receive state " + path_ + ": cannot open (" +
                                        std::strerror(errno) +
                                        "); check the file's and folder's permissions");
  }
  close(fd);
  if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    Fail("cannot open");
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  // The first statement reads the file's header: a file that is not a
  // database fails here.
  if (sqlite3_exec(db_, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    Fail("cannot read it as a database");
  }
  Exec("PRAGMA synchronous=FULL");
  {
    Stmt check(*this, "PRAGMA quick_check");
    if (!check.Step() || check.Text(0) != "ok") {
      throw Error(kReceiveStateError,
                  "receive state " + path_ +
                      ": the file is damaged and is left as it is: move it "
                      "aside and start again (messages it recorded as handed over but still in the "
                      "modem will then be handed over again)");
    }
  }
  Txn txn(*this);
  Stmt version(*this, "PRAGMA user_version");
  version.Step();
  const int64_t found = version.Int(0);
  if (found == kSchemaVersion) return;
  if (found > kSchemaVersion) {
    throw Error(kReceiveStateError, "receive state " + path_ +
                                        ": written by a newer tarvex "
                                        "(schema " +
                                        std::to_string(found) +
                                        "); use that version, or move the file aside");
  }
  Stmt tables(*this, "SELECT count(*) FROM sqlite_master");
  tables.Step();
  if (tables.Int(0) != 0) {
    throw Error(kReceiveStateError, "receive state " + path_ +
                                        ": not a tarvex state file (it holds other tables); "
                                        "move it aside or set TARVEX_STATE_DIR elsewhere");
  }
  Exec(kSchema);
  txn.Commit();
}

std::vector<StoredPart> SqliteReceiveStore::Parts(int16_t slot) {
  Stmt select(*this,
              "SELECT id, storage, idx, sender, reference, count, number, pdu, text, first_seen "
              "FROM parts WHERE slot = ?1 ORDER BY id");
  select.Bind(1, int64_t{slot});
  std::vector<StoredPart> parts;
  while (select.Step()) {
    StoredPart& p = parts.emplace_back();
    p.id = select.Int(0);
    p.place = {slot, select.Text(1), static_cast<int32_t>(select.Int(2))};
    p.sender = select.Text(3);
    p.reference = select.Text(4);
    p.count = static_cast<int>(select.Int(5));
    p.number = static_cast<int>(select.Int(6));
    p.pdu = select.Text(7);
    p.text = select.Text(8);
    p.first_seen = select.Int(9);
  }
  return parts;
}

bool SqliteReceiveStore::AddPart(StoredPart& part) {
  Txn txn(*this);
  Stmt known(*this,
             "SELECT 1 FROM parts WHERE slot = ?1 AND storage = ?2 AND idx = ?3 AND pdu = ?4");
  if (known.Bind(1, part.place).Bind(4, part.pdu).Step()) return false;
  Stmt detach(*this, "UPDATE parts SET idx = -1 WHERE slot = ?1 AND storage = ?2 AND idx = ?3");
  detach.Bind(1, part.place).Run();
  Stmt stale(*this,
             "DELETE FROM handovers WHERE slot = ?1 AND storage = ?2 AND idx = ?3 AND pdu <> ?4");
  stale.Bind(1, part.place).Bind(4, part.pdu).Run();
  Stmt insert(*this,
              "INSERT INTO parts(slot, storage, idx, sender, reference, count, number, pdu, text,"
              " first_seen) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
  insert.Bind(1, part.place)
      .Bind(4, part.sender)
      .Bind(5, part.reference)
      .Bind(6, int64_t{part.count})
      .Bind(7, int64_t{part.number})
      .Bind(8, part.pdu)
      .Bind(9, part.text)
      .Bind(10, part.first_seen)
      .Run();
  const int64_t id = sqlite3_last_insert_rowid(db_);
  txn.Commit();
  part.id = id;
  return true;
}

bool SqliteReceiveStore::WasHandedOver(const EntryPlace& place, const std::string& pdu) {
  Stmt select(*this,
              "SELECT 1 FROM handovers WHERE slot = ?1 AND storage = ?2 AND idx = ?3 AND pdu = ?4");
  return select.Bind(1, place).Bind(4, pdu).Step();
}

void SqliteReceiveStore::InsertHandover(const HandoverRecord& record) {
  if (record.place.index < 0) return;
  Stmt insert(*this,
              "INSERT OR IGNORE INTO handovers(slot, storage, idx, pdu, handed_at) "
              "VALUES(?1, ?2, ?3, ?4, ?5)");
  insert.Bind(1, record.place).Bind(4, record.pdu).Bind(5, record.handed_at).Run();
}

void SqliteReceiveStore::RecordHandover(const std::vector<HandoverRecord>& records,
                                        const std::vector<int64_t>& part_ids) {
  Txn txn(*this);
  for (const HandoverRecord& r : records) InsertHandover(r);
  Stmt remove(*this, "DELETE FROM parts WHERE id = ?1");
  for (int64_t id : part_ids) remove.Bind(1, id).Run();
  txn.Commit();
}

void SqliteReceiveStore::EmptyPlace(const EntryPlace& place) {
  Stmt forget(*this, "DELETE FROM handovers WHERE slot = ?1 AND storage = ?2 AND idx = ?3");
  forget.Bind(1, place).Run();
  Stmt detach(*this, "UPDATE parts SET idx = -1 WHERE slot = ?1 AND storage = ?2 AND idx = ?3");
  detach.Bind(1, place).Run();
}

void SqliteReceiveStore::PlaceEmptied(const EntryPlace& place) {
  Txn txn(*this);
  EmptyPlace(place);
  txn.Commit();
}

void SqliteReceiveStore::KeepOnly(int16_t slot, const std::string& storage,
                                  const std::vector<int32_t>& present) {
  Txn txn(*this);
  Stmt places(*this,
              "SELECT idx FROM parts WHERE slot = ?1 AND storage = ?2 AND idx >= 0 UNION "
              "SELECT idx FROM handovers WHERE slot = ?1 AND storage = ?2");
  places.Bind(1, int64_t{slot}).Bind(2, storage);
  std::vector<int32_t> gone;
  while (places.Step()) {
    const auto index = static_cast<int32_t>(places.Int(0));
    if (std::find(present.begin(), present.end(), index) == present.end()) gone.push_back(index);
  }
  for (int32_t index : gone) EmptyPlace({slot, storage, index});
  txn.Commit();
}

void SqliteReceiveStore::AddSend(PendingSend& send) {
  Txn txn(*this);
  Stmt insert(*this,
              "INSERT INTO sends(slot, mr, recipient, part, sent_at) VALUES(?1, ?2, ?3, ?4, ?5)");
  insert.Bind(1, int64_t{send.slot})
      .Bind(2, int64_t{send.message_reference})
      .Bind(3, send.recipient)
      .Bind(4, int64_t{send.part})
      .Bind(5, send.sent_at)
      .Run();
  const int64_t id = sqlite3_last_insert_rowid(db_);
  txn.Commit();
  send.id = id;
}

std::vector<PendingSend> SqliteReceiveStore::Sends(int16_t slot, int message_reference) {
  Stmt select(*this,
              "SELECT id, recipient, part, sent_at FROM sends WHERE slot = ?1 AND mr = ?2 "
              "ORDER BY id");
  select.Bind(1, int64_t{slot}).Bind(2, int64_t{message_reference});
  std::vector<PendingSend> sends;
  while (select.Step()) {
    sends.push_back({select.Int(0), slot, message_reference, select.Text(1),
                     static_cast<int>(select.Int(2)), select.Int(3)});
  }
  return sends;
}

void SqliteReceiveStore::RecordReport(const HandoverRecord& record, int64_t send_id) {
  Txn txn(*this);
  InsertHandover(record);
  Stmt remove(*this, "DELETE FROM sends WHERE id = ?1");
  remove.Bind(1, send_id).Run();
  txn.Commit();
}

void SqliteReceiveStore::DropSendsBefore(int64_t sent_before) {
  Txn txn(*this);
  Stmt remove(*this, "DELETE FROM sends WHERE sent_at < ?1");
  remove.Bind(1, sent_before).Run();
  txn.Commit();
}

}  // namespace tarvex::posix
