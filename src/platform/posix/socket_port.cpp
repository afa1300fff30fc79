#include "platform/posix/socket_port.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/sqlite_receive_store.h"
#include "tarvex/error.h"

namespace tarvex::posix {

std::string SocketPort::WatcherPath(int16_t slot) {
  const std::string db = SqliteReceiveStore::DefaultPath();
  return db.substr(0, db.rfind('/') + 1) + "watch-slot" + std::to_string(slot) + ".sock";
}

std::unique_ptr<SocketPort> SocketPort::ConnectWatcher(int16_t slot) {
  auto port = std::make_unique<SocketPort>(WatcherPath(slot));
  if (!port->Connect()) return nullptr;
  return port;
}

SocketPort::~SocketPort() {
  if (fd_ >= 0) close(fd_);
}

bool SocketPort::Connect() {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.size() >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return false;
  }
  // The watcher finishes its own command first.
  pollfd p{fd, POLLIN, 0};
  const int ready = poll(&p, 1, kGrantWaitMs);
  char grant = 0;
  if (ready < 0 && errno == EINTR) {
    close(fd);
    throw Error(kInterrupted, "interrupted");
  }
  if (ready <= 0 || read(fd, &grant, 1) != 1 || grant != kGrant) {
    close(fd);
    throw Error(kPortAlreadyOpen, "The port is in use by `tarvex watch` (" + path_ +
                                      "), which did not hand it over within " +
                                      std::to_string(kGrantWaitMs / 1000) + " s");
  }
  fd_ = fd;
  return true;
}

void SocketPort::SetPortOpen(bool open) {
  if (!open) {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    return;
  }
  if (fd_ < 0 && !Connect()) {
    throw Error(kPortAlreadyOpen, "The watcher at " + path_ + " is gone");
  }
}

void SocketPort::Gone() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  throw Error(kPortNotOpen, "Operation valid only while the port is open (the watcher at " + path_ +
                                " closed the connection)");
}

void SocketPort::Output(std::string_view data) {
  if (fd_ < 0) throw Error(kPortNotOpen, "Operation valid only while the port is open");
  while (!data.empty()) {
    const ssize_t n = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Gone();
    data.remove_prefix(static_cast<size_t>(n));
  }
}

std::string SocketPort::Input() {
  if (fd_ < 0) throw Error(kPortNotOpen, "Operation valid only while the port is open");
  std::string out;
  char buffer[4096];
  for (;;) {
    const ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      out.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return out;
    if (n < 0 && errno == EINTR) continue;
    if (!out.empty()) return out;  // the rest of the story at the next call
    Gone();
  }
}

bool SocketPort::WaitForInput(uint32_t timeout_ms) {
  if (fd_ < 0) throw Error(kPortNotOpen, "Operation valid only while the port is open");
  pollfd p{fd_, POLLIN, 0};
  return poll(&p, 1, static_cast<int>(timeout_ms)) > 0;
}

}  // namespace tarvex::posix
