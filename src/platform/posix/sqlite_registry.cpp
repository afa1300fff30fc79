// The registry on SQLite.  One table of keys and one of values per database;
// NOCASE columns give the registry's case-insensitive paths and names while
// keeping the case first written.  Writes take the write lock up front (BEGIN
// IMMEDIATE) so two processes never interleave inside one operation and a
// waiting writer is always one the busy timeout lets wait.  The rollback
// journal, not WAL, because a WAL reader must be able to create and write the
// -wal and -shm files, which an ordinary user cannot beside a root-owned store.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/posix/posix_platform.h"
#include "platform/posix/sqlite_statement.h"

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

// Directories it makes are 0755 whatever the umask: readers must reach the
// database through them.
bool MakeDirs(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st;
  if (stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  size_t slash = dir.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeDirs(dir.substr(0, slash))) return false;
  if (mkdir(dir.c_str(), 0755) != 0) return errno == EEXIST;
  return chmod(dir.c_str(), 0755) == 0;
}

std::string DirName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

using Stmt = SqliteStatement;

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

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

std::string Damaged(const std::string& path, const std::string& why) {
  return "the settings store " + path + " is damaged (" + why +
         "); nothing was read from it or written to it. Move it aside (mv " + path + " " + path +
         ".damaged) and set the slots again with 'tarvex slot set', or put back a copy you kept";
}

}  // namespace

SqliteRegistry::SqliteRegistry(std::string machine_db, std::string user_db) {
  machine_.path = std::move(machine_db);
  user_.path = std::move(user_db);
  user_.file_mode = 0600;  // the per-user copy is nobody else's business
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
  if (db.damaged) return false;
  if (db.conn) {
    // Opened for reading before; try again for writing (the file may have
    // become writable meanwhile).
    sqlite3_close_v2(db.conn);
    db.conn = nullptr;
  }
  const std::string cannot = for_write ? "cannot write" : "cannot read";
  struct stat st;
  if (stat(db.path.c_str(), &st) != 0) {
    const int err = errno;
    if (err != ENOENT) {
      db.read_problem = "cannot read the settings store " + db.path + ": " +
                        (err == EACCES ? "permission denied" : std::strerror(err));
      db.write_problem = cannot + " the settings store " + db.path + ": " + std::strerror(err);
      return false;
    }
    // Never create a database just to read it.
    if (!for_write) return false;
    if (!Create(db)) return false;
  } else if (access(db.path.c_str(), R_OK) != 0) {
    db.read_problem = "cannot read the settings store " + db.path + ": permission denied";
    db.write_problem = db.read_problem;
    return false;
  }
  // SQLite falls back to read-only by itself when the file is not writable.
  if (sqlite3_open_v2(db.path.c_str(), &db.conn, SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX,
                      nullptr) != SQLITE_OK) {
    db.read_problem = "cannot read the settings store " + db.path + ": " +
                      (db.conn ? sqlite3_errmsg(db.conn) : "out of memory");
    db.write_problem = db.read_problem;
    sqlite3_close_v2(db.conn);
    db.conn = nullptr;
    return false;
  }
  sqlite3_busy_timeout(db.conn, kBusyTimeoutMs);
  db.writable = sqlite3_db_readonly(db.conn, "main") == 0;
  if (!Validate(db)) {
    sqlite3_close_v2(db.conn);
    db.conn = nullptr;
    db.writable = false;
    return false;
  }
  db.read_problem.clear();
  // Stores made by earlier versions are in WAL mode; a writer turns them back
  // (it needs the only connection, so it may take a few runs when busy).
  if (db.writable) Exec(db.conn, "PRAGMA journal_mode=DELETE");
  if (for_write && !db.writable) {
    db.write_problem = "cannot write the settings store " + db.path + ": permission denied";
    return false;
  }
  return true;
}

// The whole database under a temporary name, then linked into place: a
// reader never meets a file without the tables, so a file without them is
// damaged, never "new".  link() does not replace a database another writer
// linked first.
bool SqliteRegistry::Create(Db& db) {
  auto failed = [&db](const std::string& why) {
    db.write_problem = "cannot create the settings store " + db.path + ": " + why;
    return false;
  };
  if (!MakeDirs(DirName(db.path))) {
    return failed("cannot make its directory: " + std::string(std::strerror(errno)));
  }
  std::string temp = db.path + ".new-XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) return failed(std::strerror(errno));
  close(fd);
  sqlite3* conn = nullptr;
  bool made = sqlite3_open_v2(temp.c_str(), &conn, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
              Exec(conn, "PRAGMA journal_mode=DELETE") && Exec(conn, kSchema);
  const std::string why = made ? "" : conn ? sqlite3_errmsg(conn) : "out of memory";
  sqlite3_close_v2(conn);
  if (made && chmod(temp.c_str(), db.file_mode) != 0) made = false;
  const int linked = made ? link(temp.c_str(), db.path.c_str()) : 0;
  const int err = errno;
  unlink(temp.c_str());
  if (!made) return failed(why.empty() ? std::strerror(err) : why);
  if (linked != 0 && err != EEXIST) return failed(std::strerror(err));
  return true;
}

// A file that is no database, fails SQLite's own check, or lacks the tables
// is damaged.  A hot journal that a reader may not roll back is not damage:
// the next writer undoes the half-made change.
bool SqliteRegistry::Validate(Db& db) {
  Stmt check(db.conn, "PRAGMA quick_check(1)");
  const int rc = check.Step();
  if (rc != SQLITE_ROW) {
    const int code = sqlite3_extended_errcode(db.conn);
    std::string why = sqlite3_errmsg(db.conn);
    if ((code & 0xFF) == SQLITE_CORRUPT || (code & 0xFF) == SQLITE_NOTADB) {
      db.damaged = true;
      db.read_problem = Damaged(db.path, why);
      db.write_problem = db.read_problem;
      return false;
    }
    constexpr const char* kAsWriter = "; run 'tarvex slots' once as a user who may write it (root)";
    if (code == SQLITE_READONLY_ROLLBACK) {
      why = "a change to it was cut off, and only a user who may write it can undo that";
      why += kAsWriter;
    } else if ((code & 0xFF) == SQLITE_READONLY) {
      // Earlier versions left the store in WAL mode, which readers must write.
      why = "it is still in the WAL mode of an earlier version, which its next writer changes";
      why += kAsWriter;
    } else if ((code & 0xFF) == SQLITE_BUSY) {
      why = "another program kept it locked";
    }
    db.read_problem = "cannot read the settings store " + db.path + ": " + why;
    db.write_problem = db.read_problem;
    return false;
  }
  const auto* verdict = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
  std::string why;
  if (!verdict || std::strcmp(verdict, "ok") != 0) {
    why = verdict ? verdict : "the check gave no answer";
  } else {
    Stmt tables(db.conn,
                "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                "name IN ('reg_keys', 'reg_values')");
    if (tables.Step() != SQLITE_ROW || sqlite3_column_int(tables.get(), 0) != 2) {
      why = "it holds no settings tables";
    }
  }
  if (why.empty()) return true;
  db.damaged = true;
  db.read_problem = Damaged(db.path, why);
  db.write_problem = db.read_problem;
  return false;
}

std::string SqliteRegistry::ReadProblem(RegHandle root) {
  Db* db = DbFor(root);
  if (!db) return "";
  Ready(*db, false);
  return db->read_problem;
}

std::string SqliteRegistry::WriteProblem(RegHandle root) const {
  const Db* db = root == kRegLocalMachine ? &machine_ : root == kRegCurrentUser ? &user_ : nullptr;
  return db ? db->write_problem : "";
}

void SqliteRegistry::WriteFailed(Db& db) {
  const int code = sqlite3_extended_errcode(db.conn) & 0xFF;
  if (code == SQLITE_BUSY) {
    db.write_problem = "cannot write the settings store " + db.path +
                       ": another program kept it locked for " +
                       std::to_string(kBusyTimeoutMs / 1000) + " s";
  } else if (code == SQLITE_READONLY || code == SQLITE_PERM || code == SQLITE_CANTOPEN) {
    db.write_problem = "cannot write the settings store " + db.path + ": permission denied";
  } else {
    db.write_problem =
        "cannot write the settings store " + db.path + ": " + std::string(sqlite3_errmsg(db.conn));
  }
}

bool SqliteRegistry::BeginWrite(Db& db) {
  if (db.in_group) return true;
  if (!Ready(db, true)) return false;
  if (Exec(db.conn, "BEGIN IMMEDIATE")) return true;
  WriteFailed(db);
  return false;
}

RegStatus SqliteRegistry::EndWrite(Db& db, bool ok) {
  if (db.in_group) {
    if (!ok) {
      group_failed_ = true;
      WriteFailed(db);
    }
    return ok ? kRegSuccess : kRegAccessDenied;
  }
  if (ok && Exec(db.conn, "COMMIT")) return kRegSuccess;
  WriteFailed(db);
  Exec(db.conn, "ROLLBACK");
  return kRegAccessDenied;
}

RegStatus SqliteRegistry::BeginWrites(RegHandle root) {
  Db* db = DbFor(root);
  if (!db) return kRegInvalidHandle;
  if (group_) return kRegAccessDenied;  // one group at a time
  db->write_problem.clear();            // WriteProblem() now speaks of this group
  if (!BeginWrite(*db)) return kRegAccessDenied;
  db->in_group = true;
  group_ = db;
  group_failed_ = false;
  return kRegSuccess;
}

RegStatus SqliteRegistry::EndWrites(bool commit) {
  if (!group_) return kRegInvalidHandle;
  Db& db = *group_;
  group_ = nullptr;
  db.in_group = false;
  if (!commit) {
    Exec(db.conn, "ROLLBACK");
    return kRegAccessDenied;
  }
  return EndWrite(db, !group_failed_);
}

bool SqliteRegistry::KeyExists(Db& db, const std::string& path) {
  if (path.empty()) return true;
  if (!Ready(db, false)) return false;
  Stmt select(db.conn, "SELECT 1 FROM reg_keys WHERE path = ?1");
  return select.Bind(1, path).Step() == SQLITE_ROW;
}

SqliteRegistry::Key* SqliteRegistry::Lookup(RegHandle handle) {
  auto it = handles_.find(handle);
  return it == handles_.end() ? nullptr : &it->second;
}

RegStatus SqliteRegistry::Resolve(RegHandle parent, const std::string& path, Key* out) {
  if (Db* db = DbFor(parent)) {
    *out = Key{db, Normalise(path), {}};
    return kRegSuccess;
  }
  const Key* key = Lookup(parent);
  if (!key) return kRegInvalidHandle;
  *out = Key{key->db, Join(key->path, Normalise(path)), {}};
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
  if (!BeginWrite(*key.db)) return kRegAccessDenied;
  if (EndWrite(*key.db, InsertKeyPath(key.db->conn, key.path)) != kRegSuccess) {
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
    root = Key{DbFor(handle), "", {}};
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
  if (!BeginWrite(*key.db)) return kRegAccessDenied;
  sqlite3* db = key.db->conn;
  if (!InsertKeyPath(db, key.path)) return EndWrite(*key.db, false);
  Stmt upsert(db,
              "INSERT INTO reg_values(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
              "ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data");
  upsert.Bind(1, key.path)
      .Bind(2, name)
      .Bind(3, static_cast<int64_t>(type))
      .BindBlob(4, data, size);
  return EndWrite(*key.db, upsert.Step() == SQLITE_DONE);
}

RegStatus SqliteRegistry::DeleteValue(RegHandle handle, const std::string& name) {
  Key key;
  if (RegStatus status = Resolve(handle, "", &key); status != kRegSuccess) return status;
  if (!BeginWrite(*key.db)) return kRegAccessDenied;
  sqlite3* db = key.db->conn;
  Stmt remove(db, "DELETE FROM reg_values WHERE key = ?1 AND name = ?2");
  const bool done = remove.Bind(1, key.path).Bind(2, name).Step() == SQLITE_DONE;
  const bool removed = done && sqlite3_changes(db) > 0;
  if (EndWrite(*key.db, done) != kRegSuccess) return kRegAccessDenied;
  return removed ? kRegSuccess : kRegFileNotFound;
}

RegStatus SqliteRegistry::CloseKey(RegHandle handle) {
  if (DbFor(handle)) return kRegSuccess;
  return handles_.erase(handle) ? kRegSuccess : kRegInvalidHandle;
}

RegStatus SqliteRegistry::EnumValue(RegHandle handle, uint32_t index, std::string* name,
                                    uint32_t* type, std::vector<uint8_t>* data) {
  Key root;
  Key* key = Lookup(handle);
  if (!key) {
    if (RegStatus status = Resolve(handle, "", &root); status != kRegSuccess) return status;
    key = &root;
  }
  // A root has no handle to keep the reading in; it is read afresh.
  if (index == 0 || key == &root) {
    key->listed.clear();
    if (Ready(*key->db, false)) {
      Stmt select(key->db->conn,
                  "SELECT name, type, data FROM reg_values WHERE key = ?1 "
                  "ORDER BY name COLLATE NOCASE");
      select.Bind(1, key->path);
      while (select.Step() == SQLITE_ROW) {
        auto text = reinterpret_cast<const char*>(sqlite3_column_text(select.get(), 0));
        auto bytes = static_cast<const uint8_t*>(sqlite3_column_blob(select.get(), 2));
        key->listed.push_back(
            {std::string(text ? text : "",
                         static_cast<size_t>(sqlite3_column_bytes(select.get(), 0))),
             static_cast<uint32_t>(sqlite3_column_int64(select.get(), 1)),
             std::vector<uint8_t>(bytes, bytes + sqlite3_column_bytes(select.get(), 2))});
      }
    }
  }
  if (index >= key->listed.size()) return kRegNoMoreItems;
  const Row& row = key->listed[index];
  if (name) *name = row.name;
  if (type) *type = row.type;
  if (data) *data = row.data;
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
