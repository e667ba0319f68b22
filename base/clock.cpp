#include "base/clock.h"

void VirtualClock::AdvanceTo(uint64_t t) {
  uint64_t now = m_nowMs.load();
  while (now < t && !m_nowMs.compare_exchange_weak(now, t)) {
  }
}

IClock& TheSystemClock() {
  static SystemClock clock;  // no members: nothing in it can change
  return clock;
}
