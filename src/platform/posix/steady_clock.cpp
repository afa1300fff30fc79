// The engine's tick and sleep on CLOCK_MONOTONIC: unaffected by changes of the
// wall clock, so a deadline never jumps.
#include <time.h>

#include <cerrno>

#include "platform/posix/posix_platform.h"

namespace tarvex::posix {

uint32_t SteadyClock::TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Truncation to 32 bits is the wrap the engine expects.
  const uint64_t ms =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

void SteadyClock::Sleep(uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace tarvex::posix
