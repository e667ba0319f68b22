// Arrival and removal notices that a platform raises on its own threads (the virtual controller's
// plug and unplug, the page's WebHID events), handed to every monitor the platform made. Each
// monitor keeps its notices until the window system takes them and wakes it on each one.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "device/device_notify.h"

class NoticeBoard {
 public:
  // A monitor that receives every notice posted from now on, woken through SetWakeUp.
  std::unique_ptr<IDeviceMonitor> CreateMonitor();
  // Hands notice to every monitor still alive. Never calls back into the caller: a wake-up only
  // asks the window system's thread to drain its monitor.
  void Post(int notice);

  // Notices a monitor keeps unread at most; later ones are dropped (the window system re-detects
  // on any notice, so one left is as good as many).
  static constexpr size_t kMaxPending = 4096;

  // One monitor's notices and whom to wake; shared by the monitor and the board, it lives as long
  // as either holds it.
  struct Channel {
    std::mutex mutex;  // taken after the board's lock, never before it
    std::deque<int> notices;
    std::function<void()> wake;
  };

 private:
  std::mutex m_mutex;
  std::vector<std::weak_ptr<Channel>> m_channels;
};
