// A simulated modem driven without a terminal: the test writes bytes at a
// chosen millisecond and collects what the modem sends, moving the clock to
// each moment the modem has something due.  Nothing sleeps.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "modemsim/modem.h"
#include "tarvex/sms_deliver.h"

namespace tarvex::modemsim {

struct Emission {
  int64_t at;
  std::string bytes;
  bool operator==(const Emission&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Emission& e) {
  return os << e.at << ":" << ::testing::PrintToString(e.bytes);
}

inline SMSDeliver Decoded(const StoredMessage& m) {
  SMSDeliver d;
  std::string entry = "1\r\n" + m.pdu;
  d.Decode(entry);
  return d;
}

class SimTest : public ::testing::Test {
 protected:
  void Start(ModemOptions options = {}) { modem_ = std::make_unique<Modem>(std::move(options)); }
  Modem& modem() {
    if (!modem_) Start();
    return *modem_;
  }

  // Writes `bytes` now and returns all the modem sends until nothing more is
  // due (at most a minute of simulated time).
  std::string Write(std::string_view bytes) {
    modem().Receive(bytes, now_);
    std::string out;
    const int64_t limit = now_ + 60000;
    while (std::optional<int64_t> next = modem().NextWake()) {
      if (*next > limit) break;
      now_ = std::max(now_, *next);
      PollResult r = modem().Poll(now_);
      if (!r.bytes.empty()) emissions_.push_back({now_, r.bytes});
      out += r.bytes;
      if (r.hang_up) {
        hung_up_at_ = now_;
        break;
      }
    }
    return out;
  }
  std::string Command(const std::string& line) { return Write(line + "\r"); }
  void EchoOff() { ASSERT_EQ(Command("ATE0"), "ATE0\r\r\nOK\r\n"); }

  std::unique_ptr<Modem> modem_;
  int64_t now_ = 1000;
  std::vector<Emission> emissions_;
  std::optional<int64_t> hung_up_at_;
};

}  // namespace tarvex::modemsim
