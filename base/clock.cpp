#include "base/clock.h"

namespace {
SystemClock g_systemClock;
std::atomic<IClock*> g_pClock{&g_systemClock};
}  // namespace

void VirtualClock::AdvanceTo(uint64_t t) {
  uint64_t now = m_nowMs.load();
  while (now < t && !m_nowMs.compare_exchange_weak(now, t)) {
  }
}

IClock& GetClock() {
  return *g_pClock.load();
}

void SetClock(IClock* clock) {
  g_pClock.store(clock ? clock : &g_systemClock);
}

void Sleep(uint32_t ms) {
  GetClock().SleepMs(ms);
}
