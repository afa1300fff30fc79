// What the simulated modem will send, and when.
//
// Each piece of output (an echo, a reply, an unsolicited line, the hang-up) is
// queued with the millisecond at which it is due; pieces due at the same time
// leave in the order they were queued.  A piece that has started to leave is
// finished before the next one starts, so a late unsolicited line never lands
// inside a reply that is being cut into chunks.  Chunking is applied here: a
// piece leaves `chunk` bytes at a time, `gap_ms` apart.
//
// No clock of its own: callers pass "now" and ask for the next due time, which
// is what lets the tests run the modem without sleeping.  One thread.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace tarvex::modemsim {

struct PollResult {
  std::string bytes;     // to write now, in order
  bool hang_up = false;  // close the line now (after writing `bytes`)
  // With hang_up: the device comes back this much later (-1: it stays gone).
  int64_t reopen_after_ms = -1;
};

class OutputQueue {
 public:
  // chunk 0 sends each piece whole.
  void SetChunking(size_t chunk, int64_t gap_ms) {
    chunk_ = chunk;
    gap_ms_ = gap_ms;
  }

  void Push(int64_t due_ms, std::string bytes);
  void PushHangUp(int64_t due_ms);

  // Everything due at or before now.  After a hang-up nothing more comes.
  PollResult Poll(int64_t now_ms);
  // When Poll next has something; nullopt when nothing is pending.
  std::optional<int64_t> NextDue() const;
  bool empty() const { return pending_.empty() && !current_; }

 private:
  struct Piece {
    std::string bytes;
    bool hang_up = false;
  };
  struct Current {
    std::string bytes;
    size_t offset = 0;
    int64_t next_ms = 0;
  };

  size_t chunk_ = 0;
  int64_t gap_ms_ = 2;
  std::multimap<int64_t, Piece> pending_;
  std::optional<Current> current_;
  int64_t free_at_ms_ = INT64_MIN;  // no piece starts before this
  bool hung_up_ = false;
};

}  // namespace tarvex::modemsim
