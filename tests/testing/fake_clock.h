// FakeClock: the engine's 32-bit millisecond tick under the test's control.
//
// Time moves only when a test calls Advance, when the engine calls Sleep, or
// when a ScriptedPort waits for input on its behalf; nothing ever sleeps for
// real.  Start it just below 2^32 to run a transaction across the wrap of the
// tick counter.  One test, one thread.
#pragma once

#include <cstdint>

#include "tarvex/clock.h"

namespace tarvex::testing {

class FakeClock : public Clock {
 public:
  explicit FakeClock(uint32_t start = 0) : now_(start) {}

  uint32_t TickCount() override { return now_; }
  void Sleep(uint32_t ms) override {
    now_ += ms;
    ++sleeps_;
  }

  void Advance(uint32_t ms) { now_ += ms; }  // wraps like GetTickCount
  void Set(uint32_t now) { now_ = now; }

  // How often the engine slept (the 10 ms pauses after a command and a PDU).
  int Sleeps() const { return sleeps_; }

 private:
  uint32_t now_;
  int sleeps_ = 0;
};

}  // namespace tarvex::testing
