// The POSIX implementations of the platform seams: the settings store on
// SQLite (with the per-user settings over it, RegistryUserSettings, as on
// Windows), the termios serial port, the steady clock and the empty message
// pump.  The Linux tool, the simulator's tests and the end-to-end tests include
// exactly this header.
//
// Threads: each object is used by one thread at a time (the host's).  Several
// processes may share the same databases and compete for the same serial
// device; the store and the exclusive open are what make that safe.
// Failures: the registry reports Windows status codes and never throws; the
// port raises tarvex::Error with the serial control's numbers.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry_user_settings.h"
#include "platform/serial_port_core.h"
#include "tarvex/clock.h"
#include "tarvex/message_pump.h"
#include "tarvex/registry_backend.h"
#include "tarvex/user_settings.h"

namespace tarvex::posix {

// The registry in two SQLite databases: HKEY_LOCAL_MACHINE machine-wide,
// HKEY_CURRENT_USER per user.  Key paths and value names compare
// case-insensitively (ASCII, as SQLite's NOCASE does) and keep the case they
// were first written with.
//
// Every operation is one transaction, every group of writes (BeginWrites) one
// more.  The databases use the rollback journal (journal_mode DELETE), so a
// reader needs nothing but read access to the file and search access to its
// directory: as every user reads HKEY_LOCAL_MACHINE on Windows, every user
// reads the machine-wide slots.  Writers take the write lock before they read
// (BEGIN IMMEDIATE) and wait up to 10 s for it, so concurrent writers queue
// instead of failing.  The first writer creates the database whole (tables
// included) under a temporary name and links it into place: the machine
// database with mode 0644, the per-user one 0600, directories it makes 0755.
//
// A database that is missing reads as empty (not found) until the first write
// creates it.  One that cannot be read, or is damaged, is never replaced:
// reads find nothing, writes fail with access denied (5), and ReadProblem()
// and WriteProblem() say why, naming the file.
class SqliteRegistry : public RegistryBackend {
 public:
  SqliteRegistry(std::string machine_db, std::string user_db);
  ~SqliteRegistry() override;
  SqliteRegistry(const SqliteRegistry&) = delete;
  SqliteRegistry& operator=(const SqliteRegistry&) = delete;

  // The machine database: $TARVEX_STATE_DIR/registry.db, else
  // /var/lib/tarvex/registry.db.
  static std::string DefaultMachineDbPath();
  // The user database: $TARVEX_STATE_DIR/user.db, else
  // ${XDG_STATE_HOME:-~/.local/state}/tarvex/registry.db.
  static std::string DefaultUserDbPath();
  static std::unique_ptr<SqliteRegistry> OpenDefault();

  const std::string& machine_db() const { return machine_.path; }
  const std::string& user_db() const { return user_.path; }

  // Why the values under `root` cannot be read, as a sentence naming the file
  // and what to do; "" when they can (a database that does not exist yet
  // holds nothing and is no problem).
  std::string ReadProblem(RegHandle root);
  // Why the last write under `root` failed; "" when none did since the last
  // BeginWrites, so after a group it tells whether the group landed.
  std::string WriteProblem(RegHandle root) const;

  RegStatus OpenKey(RegHandle parent, const std::string& path, RegHandle* result) override;
  RegStatus CreateKey(RegHandle parent, const std::string& path, RegHandle* result) override;
  RegStatus QueryValue(RegHandle key, const std::string& name, uint32_t* type, uint8_t* data,
                       uint32_t* size) override;
  RegStatus SetValue(RegHandle key, const std::string& name, uint32_t type, const uint8_t* data,
                     uint32_t size) override;
  RegStatus DeleteValue(RegHandle key, const std::string& name) override;
  RegStatus CloseKey(RegHandle key) override;
  // In name order, case-insensitively.  Index 0 reads the key's values in one
  // statement and later indices come from that reading, so an enumeration
  // sees one committed state of the key, never half of a change.
  RegStatus EnumValue(RegHandle key, uint32_t index, std::string* name, uint32_t* type,
                      std::vector<uint8_t>* data) override;
  RegStatus BeginWrites(RegHandle root) override;
  RegStatus EndWrites(bool commit) override;

  // The REG_SZ / REG_EXPAND_SZ values of a key as (name, text up to the first
  // NUL), ordered by name case-insensitively; empty when the key is missing.
  std::vector<std::pair<std::string, std::string>> EnumStringValues(RegHandle root,
                                                                    const std::string& path);

 private:
  struct Db {
    std::string path;
    unsigned file_mode = 0644;
    sqlite3* conn = nullptr;
    bool writable = false;
    bool damaged = false;  // found damaged once: left alone for good
    bool in_group = false;
    std::string read_problem;
    std::string write_problem;
  };
  struct Row {
    std::string name;
    uint32_t type;
    std::vector<uint8_t> data;
  };
  struct Key {
    Db* db;
    std::string path;         // normalised, "" for the root
    std::vector<Row> listed;  // what EnumValue index 0 read
  };

  Db* DbFor(RegHandle root);
  // Opens the connection if needed; for_write creates the file and directory.
  bool Ready(Db& db, bool for_write);
  bool Create(Db& db);
  bool Validate(Db& db);
  bool KeyExists(Db& db, const std::string& path);
  Key* Lookup(RegHandle handle);
  RegStatus Resolve(RegHandle parent, const std::string& path, Key* out);
  RegHandle NewHandle(Key key);
  // One write: inside the open group, or a transaction of its own.
  bool BeginWrite(Db& db);
  RegStatus EndWrite(Db& db, bool ok);
  void WriteFailed(Db& db);

  Db machine_;
  Db user_;
  Db* group_ = nullptr;
  bool group_failed_ = false;
  std::map<RegHandle, Key> handles_;
  RegHandle next_handle_ = 0x1000;
};

// A serial device through termios.  Port n is the device that the machine's
// port map ("HARDWARE\DEVICEMAP\SERIALCOMM" of HKEY_LOCAL_MACHINE: value name =
// device path, data = "COMn") names, else /dev/ttyS{n-1}; the map is read at
// each open.  The open is exclusive (TIOCEXCL and flock), raw, non-blocking.
// A wait blocks in poll(2) on the device until a byte, a hang-up, a signal or
// the timeout: no timer of its own.
class TermiosPort : public SerialPortCore {
 public:
  static constexpr const char* kPortMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

  explicit TermiosPort(RegistryBackend& registry) : registry_(registry) {}
  ~TermiosPort() override;
  TermiosPort(const TermiosPort&) = delete;
  TermiosPort& operator=(const TermiosPort&) = delete;

  // The device path port `port` resolves to (no check that it exists).
  static std::string ResolveDevice(RegistryBackend& registry, int16_t port);

  bool PortOpen() const override { return fd_ >= 0; }
  // The device the open port is using ("" when closed).
  const std::string& device() const { return device_; }
  // Its descriptor (-1 when closed), for a caller that waits on more than the port.
  int fd() const { return fd_; }

 private:
  void OpenDevice() override;
  void CloseDevice() override;
  bool Configure(const LineSettings& line, int32_t handshaking, bool rts) override;
  bool TakesRate(uint32_t baud) const override;
  bool Drain(std::string& pending) override;
  void Write(std::string_view data) override;
  bool Wait(uint32_t timeout_ms) override;
  std::string DeviceLabel() const override;

  RegistryBackend& registry_;
  int fd_ = -1;
  std::string device_;
};

// A 32-bit millisecond tick from CLOCK_MONOTONIC (wraps after about 49.7 days)
// and a real sleep.
class SteadyClock : public Clock {
 public:
  uint32_t TickCount() override;
  void Sleep(uint32_t ms) override;
};

// For hosts without an event loop (the command-line tool).
class NullMessagePump : public MessagePump {
 public:
  void DoEvents() override {}
};

}  // namespace tarvex::posix
