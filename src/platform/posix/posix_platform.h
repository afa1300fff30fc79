// The POSIX implementations of the platform seams: the settings store on
// SQLite, the termios serial port, the steady
// clock and the empty message pump.  The Linux tool, the simulator's tests and
// the end-to-end tests include exactly this header.
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

#include "config/registry_user_settings.h"
#include "tarvex/clock.h"
#include "tarvex/message_pump.h"
#include "tarvex/registry_backend.h"
#include "tarvex/serial_port.h"
#include "tarvex/user_settings.h"

namespace tarvex::posix {

// The registry in two SQLite databases: HKEY_LOCAL_MACHINE machine-wide,
// HKEY_CURRENT_USER per user.  Key paths and value names compare
// case-insensitively (ASCII, as SQLite's NOCASE does) and keep the case they
// were first written with.  Every operation is one transaction; the databases
// run in WAL mode with a busy timeout, so concurrent processes lose nothing and
// a reader sees a value whole or not at all.  A database that is missing reads
// as empty (not found) until the first write creates it and its directory; one
// that cannot be written makes writes fail with access denied (5).
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

  RegStatus OpenKey(RegHandle parent, const std::string& path, RegHandle* result) override;
  RegStatus CreateKey(RegHandle parent, const std::string& path, RegHandle* result) override;
  RegStatus QueryValue(RegHandle key, const std::string& name, uint32_t* type, uint8_t* data,
                       uint32_t* size) override;
  RegStatus SetValue(RegHandle key, const std::string& name, uint32_t type, const uint8_t* data,
                     uint32_t size) override;
  RegStatus DeleteValue(RegHandle key, const std::string& name) override;
  RegStatus CloseKey(RegHandle key) override;
  // In name order, case-insensitively.
  RegStatus EnumValue(RegHandle key, uint32_t index, std::string* name, uint32_t* type,
                      std::vector<uint8_t>* data) override;

  // The REG_SZ / REG_EXPAND_SZ values of a key as (name, text up to the first
  // NUL), ordered by name case-insensitively; empty when the key is missing.
  std::vector<std::pair<std::string, std::string>> EnumStringValues(RegHandle root,
                                                                    const std::string& path);

 private:
  struct Db {
    std::string path;
    sqlite3* conn = nullptr;
    bool writable = false;
  };
  struct Key {
    Db* db;
    std::string path;  // normalised, "" for the root
  };

  Db* DbFor(RegHandle root);
  // Opens the connection if needed; for_write creates the file and directory.
  bool Ready(Db& db, bool for_write);
  bool KeyExists(Db& db, const std::string& path);
  const Key* Lookup(RegHandle handle) const;
  RegStatus Resolve(RegHandle parent, const std::string& path, Key* out);
  RegHandle NewHandle(Key key);

  Db machine_;
  Db user_;
  std::map<RegHandle, Key> handles_;
  RegHandle next_handle_ = 0x1000;
};

// A serial device through termios.  Port n is the device that the machine's
// port map ("HARDWARE\DEVICEMAP\SERIALCOMM" of HKEY_LOCAL_MACHINE: value name =
// device path, data = "COMn") names, else /dev/ttyS{n-1}; the map is read at
// each open.  The open is exclusive (TIOCEXCL and flock), raw, non-blocking.
class TermiosPort : public SerialPort {
 public:
  static constexpr const char* kPortMapKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

  explicit TermiosPort(RegistryBackend& registry) : registry_(registry) {}
  ~TermiosPort() override;
  TermiosPort(const TermiosPort&) = delete;
  TermiosPort& operator=(const TermiosPort&) = delete;

  // The device path port `port` resolves to (no check that it exists).
  static std::string ResolveDevice(RegistryBackend& registry, int16_t port);

  void SetCommPort(int16_t port) override;
  int16_t CommPort() const override { return port_; }
  void SetSettings(const std::string& settings) override;
  std::string Settings() const override { return settings_; }
  void SetHandshaking(int32_t mode) override;
  void SetRThreshold(int16_t threshold) override { rthreshold_ = threshold; }
  void SetSThreshold(int16_t threshold) override { sthreshold_ = threshold; }
  void SetRTSEnable(bool enable) override;
  void SetPortOpen(bool open) override;
  bool PortOpen() const override { return fd_ >= 0; }
  void SetInputLen(int16_t length) override;
  void Output(std::string_view data) override;
  std::string Input() override;
  bool WaitForInput(uint32_t timeout_ms) override;

  // The device the open port is using ("" when closed).
  const std::string& device() const { return device_; }

  struct LineSettings {
    uint32_t baud = 9600;
    char parity = 'n';  // n e o m s
    int data_bits = 8;  // 7 or 8
    int stop_bits = 1;  // 1 or 2
  };
  // Parses "<baud>,<parity>,<data>,<stop>"; raises 380 for anything else.
  static LineSettings ParseSettings(const std::string& text);

 private:
  void Apply();  // pushes the line settings, handshaking and RTS to the open device
  void CheckOpen() const;
  // Reads everything waiting into pending_; false when the device hung up.
  bool Drain();
  [[noreturn]] void Vanished();  // closes after the device went away; raises 8012

  RegistryBackend& registry_;
  int16_t port_ = 1;
  std::string settings_ = "9600,n,8,1";
  LineSettings line_;
  int32_t handshaking_ = 0;
  int16_t rthreshold_ = 0;
  int16_t sthreshold_ = 0;
  int16_t input_len_ = 0;
  bool rts_ = false;
  int fd_ = -1;
  std::string device_;
  std::string pending_;  // read but not yet handed out (InputLen > 0)
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
