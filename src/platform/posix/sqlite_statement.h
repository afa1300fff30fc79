// SqliteStatement: a prepared SQLite statement that finalises itself, with
// the binds both stores use.  What a failure means is the store's business:
// the settings store reads one as an empty value, the receiver's state
// raises, so this class only reports (ok(), Step()'s result code).
//
// Used on the thread of the connection it was prepared on.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace tarvex::posix {

class SqliteStatement {
 public:
  SqliteStatement(sqlite3* db, const char* sql) {
    sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  ~SqliteStatement() { sqlite3_finalize(stmt_); }
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  SqliteStatement& Bind(int i, const std::string& text) {
    sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
  }
  SqliteStatement& Bind(int i, int64_t number) {
    sqlite3_bind_int64(stmt_, i, number);
    return *this;
  }
  SqliteStatement& BindBlob(int i, const uint8_t* data, uint32_t size) {
    // A zero-length blob, not NULL, for a value of no bytes.
    sqlite3_bind_blob(stmt_, i, size ? data : reinterpret_cast<const uint8_t*>(""),
                      static_cast<int>(size), SQLITE_TRANSIENT);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error code (SQLITE_ERROR when never prepared).
  int Step() { return ok() ? sqlite3_step(stmt_) : SQLITE_ERROR; }
  void Reset() { sqlite3_reset(stmt_); }
  sqlite3_stmt* get() { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace tarvex::posix
