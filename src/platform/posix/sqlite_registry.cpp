// The registry on SQLite.  One table of keys and one of values per database;
// NOCASE columns give the registry's case-insensitive paths and names while
// keeping the case first written.  Writes take the write lock up front (BEGIN
// IMMEDIATE) so two processes never interleave inside one operation, and WAL
// lets readers go on reading the last committed value meanwhile.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_platform.h"

namespace tarvex::posix {
namespace {

constexpr int kBusyTimeoutMs = 10000;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS reg_keys("
    "  path TEXT NOT NULL PRIMARY KEY COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS reg_values("
    "  key TEXT NOT NULL COLLATE NOCASE,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY(key, name));";

// The non-empty parts of a "\"-separated path joined by single "\": the
// registry ignores neither leading nor doubled separators, but nothing good
// comes of storing them.
std::string Normalise(const std::string& path) {
  std::string out;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('\\', start);
    if (end == std::string::npos) end = path.size();
    if (end > start) {
      if (!out.empty()) out += '\\';
      out.append(path, start, end - start);
    }
    start = end + 1;
  }
  return out;
}

std::string Join(const std::string& base, const std::string& sub) {
  if (base.empty()) return sub;
  if (sub.empty()) return base;
  return base + "\\" + sub;
}

bool MakeDirs(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(dir.substr(0, slash))) return false;
  return mkdir(dir.c_str(), 0755) == 0 || errno == EEXIST;
}

std::string DirName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A prepared statement that finalises itself.
class Stmt {
 public:
  Stmt(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
  ~Stmt() { sqlite3_finalize(stmt_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  bool ok() const { return stmt_ != nullptr; }
  Stmt& Bind(int i, const std::string& text) {
    sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Stmt& Bind(int i, int64_t number) {
    sqlite3_bind_int64(stmt_, i, number);
    return *this;
  }
  Stmt& BindBlob(int i, const uint8_t* data, uint32_t size) {
    // A zero-length blob, not NULL, for a value of no bytes.
    sqlite3_bind_blob(stmt_, i, size ? data : reinterpret_cast<const uint8_t*>(""),
                      static_cast<int>(size), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return ok() ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  sqlite3_stmt* get() { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// One write transaction: rolled back unless committed.
class WriteTxn {
 public:
  explicit WriteTxn(sqlite3* db) : db_(db), begun_(Exec(db, "BEGIN IMMEDIATE")) {}
  ~WriteTxn() {
    if (begun_ && !done_) Exec(db_, "ROLLBACK");
  }
  WriteTxn(const WriteTxn&) = delete;
  WriteTxn& operator=(const WriteTxn&) = delete;
  bool begun() const { return begun_; }
  bool Commit() {
    done_ = Exec(db_, "COMMIT");
    return done_;
  }

 private:
  sqlite3* db_;
  bool begun_;
  bool done_ = false;
};

// Inserts the key and every ancestor (the root "" is implicit).
bool InsertKeyPath(sqlite3* db, const std::string& path) {
  if (path.empty()) return true;
  Stmt insert(db, "INSERT OR IGNORE INTO reg_keys(path) VALUES(?1)");
  for (size_t pos = 0;; ++pos) {
    pos = path.find('\\', pos);
    std::string prefix = path.substr(0, pos);
    insert.Bind(1, prefix);
    if (insert.Step() != SQLITE_DONE) return false;
    sqlite3_reset(insert.get());
    if (pos == std::string::npos) return true;
  }
}

}  // namespace

SqliteRegistry::SqliteRegistry(std::string machine_db, std::string user_db) {
  machine_.path = std::move(machine_db);
  user_.path = std::move(user_db);
}

SqliteRegistry::~SqliteRegistry() {
  sqlite3_close_v2(machine_.conn);
  sqlite3_close_v2(user_.conn);
}

std::string SqliteRegistry::DefaultMachineDbPath() {
  const char* dir = std::getenv("TARVEX_STATE_DIR");
  if (dir && *dir) return std::string(dir) + "/registry.db";
  return "/var/lib/tarvex/registry.db";
}

std::string SqliteRegistry::DefaultUserDbPath() {
  const char* dir = std::getenv("TARVEX_STATE_DIR");
  if (dir && *dir) return std::string(dir) + "/user.db";
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && *state) return std::string(state) + "/tarvex/registry.db";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : ".") + "/.local/state/tarvex/registry.db";
}

std::unique_ptr<SqliteRegistry> SqliteRegistry::OpenDefault() {
  return std::make_unique<SqliteRegistry>(DefaultMachineDbPath(), DefaultUserDbPath());
}

SqliteRegistry::Db* SqliteRegistry::DbFor(RegHandle root) {
  if (root == kRegLocalMachine) return &machine_;
  if (root == kRegCurrentUser) return &user_;
  return nullptr;
}

bool SqliteRegistry::Ready(Db& db, bool for_write) {
  if (db.conn && (db.writable || !for_write)) return true;
  if (db.conn) {
    // Opened for reading before; try again for writing (the file may have
    // become writable, or been created by another process).
    sqlite3_close_v2(db.conn);
    db.conn = nullptr;
  }
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX;
  if (for_write) {
    if (!MakeDirs(DirName(db.path))) return false;
    flags |= SQLITE_OPEN_CREATE;
  } else if (access(db.path.c_str(), F_OK) != 0) {
    return false;  // never create a database just to read it
  }
  if (sqlite3_open_v2(db.path.c_str(), &db.conn, flags, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(db.conn);
    db.conn = nullptr;
    if (for_write) return false;
    if (sqlite3_open_v2(db.path.c_str(), &db.conn, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
      sqlite3_close_v2(db.conn);
      db.conn = nullptr;
      return false;
    }
  }
  sqlite3_busy_timeout(db.conn, kBusyTimeoutMs);
  db.writable = sqlite3_db_readonly(db.conn, "main") == 0;
  if (db.writable) {
    // WAL is a property of the file: set once, every later connection uses it.
    Exec(db.conn, "PRAGMA journal_mode=WAL");
    Exec(db.conn, "PRAGMA synchronous=NORMAL");
    if (!Exec(db.conn, kSchema)) db.writable = false;
  }
  return !for_write || db.writable;
}

bool SqliteRegistry::KeyExists(Db& db, const std::string& path) {
  if (path.empty()) return true;
  if (!Ready(db, false)) return false;
  Stmt select(db.conn, "SELECT 1 FROM reg_keys WHERE path = ?1");
  return select.Bind(1, path).Step() == SQLITE_ROW;
}

const SqliteRegistry::Key* SqliteRegistry::Lookup(RegHandle handle) const {
  auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : &it->second;
}

RegStatus SqliteRegistry::Resolve(RegHandle parent, const std::string& path, Key* out) {
  if (Db* db = DbFor(parent)) {
    *out = Key{db, Normalise(path)};
    return kRegSuccess;
  }
  const Key* key = Lookup(parent);
  if (!key) return kRegInvalidHandle;
  *out = Key{key->db, Join(key->path, Normalise(path))};
  return kRegSuccess;
}

RegHandle SqliteRegistry::NewHandle(Key key) {
  RegHandle handle = next_handle_++;
  handles_.emplace(handle, std::move(key));
  return handle;
}

RegStatus SqliteRegistry::OpenKey(RegHandle parent, const std::string& path, RegHandle* result) {
  *result = 0;
  Key key;
  if (RegStatus status = Resolve(parent, path, &key); status != kRegSuccess) return status;
  if (!KeyExists(*key.db, key.path)) return kRegFileNotFound;
  *result = NewHandle(std::move(key));
  return kRegSuccess;
}

RegStatus SqliteRegistry::CreateKey(RegHandle parent, const std::string& path, RegHandle* result) {
  *result = 0;
  Key key;
  if (RegStatus status = Resolve(parent, path, &key); status != kRegSuccess) return status;
  if (!Ready(*key.db, true)) return kRegAccessDenied;
  WriteTxn txn(key.db->conn);
  if (!txn.begun() || !InsertKeyPath(key.db->conn, key.path) || !txn.Commit()) {
    return kRegAccessDenied;
  }
  *result = NewHandle(std::move(key));
  return kRegSuccess;
}

RegStatus SqliteRegistry::QueryValue(RegHandle handle, const std::string& name, uint32_t* type,
                                     uint8_t* data, uint32_t* size) {
  const Key* key = Lookup(handle);
  Key root;
  if (!key && DbFor(handle)) {
    root = Key{DbFor(handle), ""};
    key = &root;
  }
  if (!key) return kRegInvalidHandle;
  if (data && !size) return kRegInvalidHandle;
  if (!Ready(*key->db, false)) return kRegFileNotFound;
  // One statement is one read transaction: type and bytes come from the same
  // committed version of the value.
  Stmt select(key->db->conn, "SELECT type, data FROM reg_values WHERE key = ?1 AND name = ?2");
  if (select.Bind(1, key->path).Bind(2, name).Step() != SQLITE_ROW) return kRegFileNotFound;
  auto bytes = static_cast<const uint8_t*>(sqlite3_column_blob(select.get(), 1));
  auto needed = static_cast<uint32_t>(sqlite3_column_bytes(select.get(), 1));
  if (type) *type = static_cast<uint32_t>(sqlite3_column_int64(select.get(), 0));
  if (!data) {
    if (size) *size = needed;
    return kRegSuccess;
  }
  if (*size < needed) {
    *size = needed;
    return kRegMoreData;
  }
  if (needed) std::memcpy(data, bytes, needed);
  *size = needed;
  return kRegSuccess;
}

RegStatus SqliteRegistry::SetValue(RegHandle handle, const std::string& name, uint32_t type,
                                   const uint8_t* data, uint32_t size) {
  Key key;
  if (RegStatus status = Resolve(handle, "", &key); status != kRegSuccess) return status;
  if (!data && size) return kRegInvalidHandle;
  if (!Ready(*key.db, true)) return kRegAccessDenied;
  sqlite3* db = key.db->conn;
  WriteTxn txn(db);
  if (!txn.begun() || !InsertKeyPath(db, key.path)) return kRegAccessDenied;
  Stmt upsert(db,
              "INSERT INTO reg_values(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
              "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
  upsert.Bind(1, key.path)
      .Bind(2, name)
      .Bind(3, static_cast<int64_t>(type))
      .BindBlob(4, data, size);
  if (upsert.Step() != SQLITE_DONE || !txn.Commit()) return kRegAccessDenied;
  return kRegSuccess;
}

RegStatus SqliteRegistry::DeleteValue(RegHandle handle, const std::string& name) {
  Key key;
  if (RegStatus status = Resolve(handle, "", &key); status != kRegSuccess) return status;
  if (!Ready(*key.db, true)) return kRegAccessDenied;
  sqlite3* db = key.db->conn;
  WriteTxn txn(db);
  if (!txn.begun()) return kRegAccessDenied;
  Stmt remove(db, "DELETE FROM reg_values WHERE key = ?1 AND name = ?2");
  if (remove.Bind(1, key.path).Bind(2, name).Step() != SQLITE_DONE) return kRegAccessDenied;
  const bool removed = sqlite3_changes(db) > 0;
  if (!txn.Commit()) return kRegAccessDenied;
  return removed ? kRegSuccess : kRegFileNotFound;
}

RegStatus SqliteRegistry::CloseKey(RegHandle handle) {
  if (DbFor(handle)) return kRegSuccess;
  return handles_.erase(handle) ? kRegSuccess : kRegInvalidHandle;
}

RegStatus SqliteRegistry::EnumValue(RegHandle handle, uint32_t index, std::string* name,
                                    uint32_t* type, std::vector<uint8_t>* data) {
  Key key;
  if (RegStatus status = Resolve(handle, "", &key); status != kRegSuccess) return status;
  if (!Ready(*key.db, false)) return kRegNoMoreItems;
  Stmt select(key.db->conn,
              "SELECT name, type, data FROM reg_values WHERE key = ?1 "
              "ORDER BY name COLLATE NOCASE LIMIT 1 OFFSET ?2");
  if (select.Bind(1, key.path).Bind(2, static_cast<int64_t>(index)).Step() != SQLITE_ROW) {
    return kRegNoMoreItems;
  }
  if (name) {
    auto text = reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0));
    name->assign(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(select.get(), 0)));
  }
  if (type) *type = static_cast<uint32_t>(sqlite3_column_int64(select.get(), 1));
  if (data) {
    auto bytes = static_cast<const uint8_t*>(sqlite3_column_blob(select.get(), 2));
    data->assign(bytes, bytes + sqlite3_column_bytes(select.get(), 2));
  }
  return kRegSuccess;
}

std::vector<std::pair<std::string, std::string>> SqliteRegistry::EnumStringValues(
    RegHandle root, const std::string& path) {
  std::vector<std::pair<std::string, std::string>> out;
  RegHandle key = 0;
  if (OpenKey(root, path, &key) != kRegSuccess) return out;
  std::string name;
  uint32_t type = 0;
  std::vector<uint8_t> data;
  for (uint32_t i = 0; EnumValue(key, i, &name, &type, &data) == kRegSuccess; ++i) {
    if (type != kRegSz && type != kRegExpandSz) continue;
    const char* text = reinterpret_cast<const char*>(data.data());
    out.emplace_back(name, std::string(text, strnlen(text, data.size())));
  }
  CloseKey(key);
  return out;
}

}  // namespace tarvex::posix
