#include "base/clock.h"

#include <chrono>
#include <thread>

namespace {
SystemClock g_systemClock;
std::atomic<IClock*> g_pClock{&g_systemClock};
}  // namespace

uint64_t SystemClock::NowMs() {
  auto since = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

void SystemClock::SleepMs(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

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
