// The benchmarks' modem: the simulator's core served on a real
// pseudo-terminal by a thread of the benchmark process, and an engine whose
// slot 1 reaches it through the real termios port.  So a benchmark measures
// the engine as the tool runs it (poll(2) waits, real reads), while knowing
// exactly when the modem wrote its last byte.
//
// The serving thread owns the Modem; the benchmark thread owns the engine.
// They share only the pseudo-terminal and the time of the last write.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "modemsim/modem.h"
#include "platform/posix/posix_platform.h"
#include "tarvex/engine.h"
#include "testing/memory_registry.h"

namespace tarvex::bench {

using SteadyTime = std::chrono::steady_clock::time_point;

inline double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

inline double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

class PtyModem {
 public:
  explicit PtyModem(modemsim::ModemOptions options, std::vector<modemsim::StoredMessage> inbox = {})
      : modem_(std::move(options)) {
    for (auto& m : inbox) modem_.Preload("SM", std::move(m));
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
      throw std::runtime_error("no pseudo-terminal");
    }
    slave_path_ = ptsname(master_);
    // Kept open and raw so that the line discipline never echoes and the
    // engine's close does not hang up the master.
    slave_ = open(slave_path_.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(slave_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave_, TCSANOW, &raw);
    start_ = std::chrono::steady_clock::now();
    thread_ = std::thread([this] { Serve(); });
  }
  ~PtyModem() {
    stop_ = true;
    thread_.join();
    close(slave_);
    close(master_);
  }

  const std::string& slave_path() const { return slave_path_; }
  SteadyTime last_write() const {
    return SteadyTime(std::chrono::steady_clock::duration(last_write_.load()));
  }

 private:
  int64_t NowMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start_)
        .count();
  }

  void Serve() {
    std::string pending;
    while (!stop_) {
      const int64_t now = NowMs();
      modemsim::PollResult out = modem_.Poll(now);
      pending += out.bytes;
      while (!pending.empty()) {
        const ssize_t n = write(master_, pending.data(), pending.size());
        if (n <= 0) break;
        pending.erase(0, static_cast<size_t>(n));
        last_write_ = std::chrono::steady_clock::now().time_since_epoch().count();
      }
      int wait = 20;
      if (!pending.empty()) wait = 1;
      if (auto wake = modem_.NextWake())
        wait = static_cast<int>(std::clamp<int64_t>(*wake - now, 0, wait));
      pollfd fd{master_, POLLIN, 0};
      if (poll(&fd, 1, wait) > 0 && (fd.revents & POLLIN)) {
        char buffer[4096];
        const ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) modem_.Receive(std::string_view(buffer, static_cast<size_t>(n)), NowMs());
      }
    }
  }

  modemsim::Modem modem_;
  int master_ = -1;
  int slave_ = -1;
  std::string slave_path_;
  std::chrono::steady_clock::time_point start_;
  std::atomic<bool> stop_{false};
  std::atomic<SteadyTime::rep> last_write_{0};
  std::thread thread_;
};

// An engine with slot 1 on the modem's pseudo-terminal at 115200 baud, opened.
class EngineOnPty {
 public:
  explicit EngineOnPty(const PtyModem& modem) {
    registry_.PutString(kRegLocalMachine, posix::TermiosPort::kPortMapKey, modem.slave_path(),
                        "COM1");
    registry_.PutString(kRegLocalMachine, "SOFTWARE\\Clients\\Route", "dvp1", "1");
    registry_.PutString(kRegLocalMachine, "SOFTWARE\\Clients\\Route", "dvb1", "115200");
    Tarvex::Ports ports;
    for (auto& p : ports) p = std::make_unique<posix::TermiosPort>(registry_);
    engine_ = std::make_unique<Tarvex>(std::move(ports), clock_, registry_);
    if (!engine_->DeviceOpen(1)) throw std::runtime_error("the modem did not initialise");
  }
  ~EngineOnPty() { engine_->DeviceClose(1); }

  Tarvex& engine() { return *engine_; }

 private:
  testing::MemoryRegistry registry_;
  posix::SteadyClock clock_;
  std::unique_ptr<Tarvex> engine_;
};

}  // namespace tarvex::bench
