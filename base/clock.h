// The clock seam: every pause and every read time-out of the updater goes through one replaceable
// clock, so that tests run in virtual time and a 1000 ms erase wait costs them nothing.
#pragma once

#include <atomic>
#include <cstdint>

class IClock {
 public:
  virtual ~IClock() = default;
  // Milliseconds since an arbitrary start; never goes backwards.
  virtual uint64_t NowMs() = 0;
  // Blocks the calling thread for ms milliseconds of this clock's time.
  virtual void SleepMs(uint32_t ms) = 0;
};

// The system's own clock: on Linux std::chrono::steady_clock and std::this_thread::sleep_for, on
// Windows GetTickCount64 and Sleep (base/clock_posix.cpp, base/clock_win32.cpp).
class SystemClock : public IClock {
 public:
  uint64_t NowMs() override;
  void SleepMs(uint32_t ms) override;
};

// Virtual time: SleepMs advances the clock at once and never blocks. Safe to share between threads.
class VirtualClock : public IClock {
 public:
  uint64_t NowMs() override { return m_nowMs.load(); }
  void SleepMs(uint32_t ms) override { m_nowMs.fetch_add(ms); }
  // Moves the clock forward to at least t (used by models that wait for a scheduled event).
  void AdvanceTo(uint64_t t);

  std::atomic<uint64_t> m_nowMs{0};
};

// The system's clock. It keeps no state of its own: every user may share this one.
IClock& TheSystemClock();
