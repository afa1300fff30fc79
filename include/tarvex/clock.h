// Time for the engine: a 32-bit millisecond tick that wraps (differences are
// taken as unsigned 32-bit values) and a sleep.  Tests use a fake that they
// advance, so no test ever sleeps for real.
#pragma once

#include <cstdint>

namespace tarvex {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t TickCount() = 0;
  virtual void Sleep(uint32_t ms) = 0;
};

}  // namespace tarvex
