// A serial port that is a running `tarvex watch`: while a watcher holds a
// slot's device, every other command of the tool reaches the modem through
// the watcher's local socket instead of the device (which is opened
// exclusively and could not be shared without stealing each other's bytes).
//
// The watcher listens on watch-slot<N>.sock in the state folder (made 0700,
// the socket 0600: it is a way into the user's modem).  A client connects and
// waits for the grant byte, which the watcher sends once it has finished its
// own command; from then on the watcher relays bytes both ways between this
// socket and the device until the client closes.  The line settings are the
// watcher's; this port only records what the engine sets.
//
// Ownership: the object owns its socket.  One thread.  Failures: 8012 when the
// watcher went away, 8005 when it did not grant the port in time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tarvex/serial_port.h"

namespace tarvex::posix {

class SocketPort : public SerialPort {
 public:
  // The byte a watcher sends when the client may talk to the modem.
  static constexpr char kGrant = '\x06';
  // How long a client waits for it: the watcher may be in a long listing.
  static constexpr int kGrantWaitMs = 120000;

  // $STATE/watch-slot<N>.sock, beside the receiver's database.
  static std::string WatcherPath(int16_t slot);
  // A port through the watcher of `slot`, already granted; nullptr when no
  // watcher listens there (no socket, or one a dead watcher left behind).
  static std::unique_ptr<SocketPort> ConnectWatcher(int16_t slot);

  explicit SocketPort(std::string path) : path_(std::move(path)) {}
  ~SocketPort() override;
  SocketPort(const SocketPort&) = delete;
  SocketPort& operator=(const SocketPort&) = delete;

  const std::string& path() const { return path_; }

  void SetCommPort(int16_t port) override { port_ = port; }
  int16_t CommPort() const override { return port_; }
  void SetSettings(const std::string& settings) override { settings_ = settings; }
  std::string Settings() const override { return settings_; }
  void SetHandshaking(int32_t) override {}
  void SetRThreshold(int16_t) override {}
  void SetSThreshold(int16_t) override {}
  void SetRTSEnable(bool) override {}
  // True connects (and waits for the grant) unless connected; False closes.
  void SetPortOpen(bool open) override;
  bool PortOpen() const override { return fd_ >= 0; }
  void SetInputLen(int16_t) override {}
  void Output(std::string_view data) override;
  std::string Input() override;
  bool WaitForInput(uint32_t timeout_ms) override;

 private:
  // false when nobody listens; raises when the watcher does not grant.
  bool Connect();
  [[noreturn]] void Gone();

  std::string path_;
  int fd_ = -1;
  int16_t port_ = 1;
  std::string settings_ = "9600,n,8,1";
};

}  // namespace tarvex::posix
