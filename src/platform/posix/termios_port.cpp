// The serial port on termios.  The kernel's termios2 interface is used
// throughout (not glibc's termios) because it takes any line speed through
// BOTHER: the dialog offers 14400, 28800, 128000 and 256000, which have no B
// constant.  That is why this file includes the kernel's headers and not
// <termios.h>; the two cannot meet in one translation unit.
//
// The port reads with O_NONBLOCK and VMIN = 1 (with VMIN = 0 an empty read
// returns 0 instead of EAGAIN), so a read of 0 bytes or EIO can only mean the
// device hung up (a pty whose master closed, a USB modem pulled): the port
// then closes itself and raises 8012, as a vanished COM port does.
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

#include "common/text.h"
#include "platform/posix/posix_platform.h"
#include "tarvex/error.h"

namespace tarvex::posix {
namespace {

// A write that makes no progress for this long (flow control held off by a
// device that never raises CTS or sends XON) gives up instead of hanging the host.
constexpr int kWriteStallMs = 30000;

// The speeds with a B constant; every other rate in kOtherRates goes by BOTHER.
constexpr std::pair<uint32_t, unsigned> kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};
// The classic serial control's own rates that Linux has no constant for.
constexpr uint32_t kOtherRates[] = {14400, 28800, 56000, 128000, 256000};

bool RateFlag(uint32_t baud, unsigned* flag) {
  for (const auto& [rate, constant] : kStandardRates) {
    if (rate == baud) {
      *flag = constant;
      return true;
    }
  }
  if (std::find(std::begin(kOtherRates), std::end(kOtherRates), baud) != std::end(kOtherRates)) {
    *flag = BOTHER;
    return true;
  }
  return false;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

int64_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

}  // namespace

TermiosPort::~TermiosPort() { CloseDevice(); }

std::string TermiosPort::ResolveDevice(RegistryBackend& registry, int16_t port) {
  const std::string wanted = "COM" + std::to_string(port);
  std::string found;
  RegHandle key = 0;
  if (registry.OpenKey(kRegLocalMachine, kPortMapKey, &key) == kRegSuccess) {
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
    for (uint32_t i = 0; registry.EnumValue(key, i, &name, &type, &data) == kRegSuccess; ++i) {
      if (type != kRegSz || name.empty()) continue;
      const char* text = reinterpret_cast<const char*>(data.data());
      if (EqualsNoCase(std::string(TrimBlanks(std::string_view(text, strnlen(text, data.size())))),
                       wanted)) {
        found = name;
        break;
      }
    }
  }
  registry.CloseKey(key);
  if (!found.empty()) return found;
  return "/dev/ttyS" + std::to_string(port - 1);
}

bool TermiosPort::TakesRate(uint32_t baud) const {
  unsigned flag = 0;
  return RateFlag(baud, &flag);
}

std::string TermiosPort::DeviceLabel() const {
  return device_.empty() ? SerialPortCore::DeviceLabel() : device_;
}

bool TermiosPort::Configure(const LineSettings& line, int32_t handshaking, bool rts) {
  termios2 t{};
  if (ioctl(fd_, TCGETS2, &t) != 0) return false;
  unsigned flag = 0;
  RateFlag(line.baud, &flag);  // TakesRate passed it when it was set

  // Raw: no line editing, no echo, no character translation, no signals.
  t.c_iflag = 0;
  t.c_oflag = 0;
  t.c_lflag = 0;
  if (handshaking == 1 || handshaking == 3) t.c_iflag |= IXON | IXOFF;
  if (line.parity != 'n') t.c_iflag |= INPCK;

  t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT) | CSIZE | CSTOPB | PARENB | PARODD | CMSPAR | CRTSCTS);
  t.c_cflag |= CREAD | CLOCAL | flag;
  t.c_ispeed = line.baud;
  t.c_ospeed = line.baud;
  constexpr unsigned kSizes[] = {CS5, CS6, CS7, CS8};
  t.c_cflag |= kSizes[line.data_bits - 5];
  if (line.stop_bits == 2) t.c_cflag |= CSTOPB;
  switch (line.parity) {
    case 'e':
      t.c_cflag |= PARENB;
      break;
    case 'o':
      t.c_cflag |= PARENB | PARODD;
      break;
    case 'm':
      t.c_cflag |= PARENB | CMSPAR | PARODD;
      break;
    case 's':
      t.c_cflag |= PARENB | CMSPAR;
      break;
    default:
      break;
  }
  if (handshaking >= 2) t.c_cflag |= CRTSCTS;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  if (ioctl(fd_, TCSETS2, &t) != 0) return false;
  if (handshaking < 2) {
    // Ptys have no modem lines; a device that refuses keeps its RTS.
    int bits = TIOCM_RTS;
    ioctl(fd_, rts ? TIOCMBIS : TIOCMBIC, &bits);
  }
  return true;
}

void TermiosPort::CloseDevice() {
  if (fd_ >= 0) {
    ioctl(fd_, TIOCNXCL);
    close(fd_);  // also drops the flock
    fd_ = -1;
  }
  device_.clear();
}

void TermiosPort::OpenDevice() {
  const std::string device = ResolveDevice(registry_, CommPort());
  const std::string what = "COM" + std::to_string(CommPort()) + " (" + device + ")";
  int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int err = errno;
    if (err == EBUSY) throw Error(kPortAlreadyOpen, "Port already open: " + what + " is in use");
    throw Error(kInvalidPortNumber, "Invalid port number: " + what + ": " + std::strerror(err));
  }
  // flock catches a second opener that TIOCEXCL lets through (root, or this
  // very process); TIOCEXCL catches openers that do not lock.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    throw Error(kPortAlreadyOpen, "Port already open: " + what + " is in use");
  }
  termios2 probe{};
  if (ioctl(fd, TCGETS2, &probe) != 0) {
    close(fd);
    throw Error(kInvalidPortNumber, "Invalid port number: " + what + " is not a serial device");
  }
  ioctl(fd, TIOCEXCL);
  fd_ = fd;
  device_ = device;
  if (!Configure(line(), handshaking(), rts())) {
    const int err = errno;
    CloseDevice();
    throw Error(kInvalidPropertyValue, "Invalid property value: " + what + " does not take \"" +
                                           Settings() + "\": " + std::strerror(err));
  }
  // Whatever the device sent before we opened it belongs to nobody.
  ioctl(fd_, TCFLSH, TCIOFLUSH);
}

void TermiosPort::Write(std::string_view data) {
  int64_t last_progress = NowMs();
  while (!data.empty()) {
    ssize_t n = ::write(fd_, data.data(), data.size());
    if (n > 0) {
      data.remove_prefix(static_cast<size_t>(n));
      last_progress = NowMs();
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      const int64_t left = kWriteStallMs - (NowMs() - last_progress);
      if (left <= 0) TakesNoOutput();
      pollfd p{fd_, POLLOUT, 0};
      if (poll(&p, 1, static_cast<int>(left)) > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
        Vanished();
      }
      continue;
    }
    Vanished();  // EIO and friends: the device is gone
  }
}

bool TermiosPort::Drain(std::string& pending) {
  char chunk[4096];
  for (;;) {
    ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n > 0) {
      pending.append(chunk, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    return false;  // 0 (hung up) or EIO
  }
}

bool TermiosPort::Wait(uint32_t timeout_ms) {
  pollfd p{fd_, POLLIN, 0};
  const int r = poll(&p, 1, static_cast<int>(std::min<uint32_t>(timeout_ms, 1u << 30)));
  if (r > 0) return true;  // data, or a hang-up that the next Input() reports
  // A signal (Ctrl-C in the tool) ends the wait early so the caller can look
  // at what its handler set; the caller polls again if nothing did.
  return r < 0 && errno != EINTR;
}

}  // namespace tarvex::posix
