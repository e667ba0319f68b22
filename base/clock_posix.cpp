// The system clock on Linux: the monotonic clock of the C++ library.
#include <chrono>
#include <thread>

#include "base/clock.h"

uint64_t SystemClock::NowMs() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SystemClock::SleepMs(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
