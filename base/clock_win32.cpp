// The system clock on Windows: the performance counter (monotonic, finer than the 15.6 ms of the
// tick count, so that a 1 ms wait stays about 1 ms) and the system's Sleep.
#include <windows.h>

#include "base/clock.h"

uint64_t SystemClock::NowMs() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f;
    ::QueryPerformanceFrequency(&f);  // never fails on Windows XP and later
    return f.QuadPart;
  }();
  LARGE_INTEGER now;
  ::QueryPerformanceCounter(&now);
  return static_cast<uint64_t>(now.QuadPart / frequency * 1000 +
                               now.QuadPart % frequency * 1000 / frequency);
}

void SystemClock::SleepMs(uint32_t ms) {
  ::Sleep(static_cast<DWORD>(ms));
}
