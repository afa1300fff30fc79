#include "testing/fake_clock.h"

namespace tarvex::testing {

void FakeClock::Sleep(uint32_t ms) {
  now_ += ms;
  slept_ms_ += ms;
  ++sleeps_;
}

}  // namespace tarvex::testing
