#include "device/notice_board.h"

#include <utility>

namespace {

class BoardMonitor : public IDeviceMonitor {
 public:
  explicit BoardMonitor(std::shared_ptr<NoticeBoard::Channel> channel)
      : m_channel(std::move(channel)) {}
  ~BoardMonitor() override { SetWakeUp({}); }
  bool SetWakeUp(std::function<void()> wake) override {
    std::lock_guard<std::mutex> lock(m_channel->mutex);
    m_channel->wake = std::move(wake);
    return true;
  }
  int ReceiveEvent() override {
    std::lock_guard<std::mutex> lock(m_channel->mutex);
    if (m_channel->notices.empty())
      return kNone;
    int notice = m_channel->notices.front();
    m_channel->notices.pop_front();
    return notice;
  }

 private:
  std::shared_ptr<NoticeBoard::Channel> m_channel;
};

}  // namespace

std::unique_ptr<IDeviceMonitor> NoticeBoard::CreateMonitor() {
  auto channel = std::make_shared<Channel>();
  std::lock_guard<std::mutex> lock(m_mutex);
  m_channels.push_back(channel);
  return std::make_unique<BoardMonitor>(channel);
}

void NoticeBoard::Post(int notice) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::erase_if(m_channels, [](const std::weak_ptr<Channel>& weak) { return weak.expired(); });
  for (const std::weak_ptr<Channel>& weak : m_channels) {
    if (std::shared_ptr<Channel> channel = weak.lock()) {
      std::lock_guard<std::mutex> channelLock(channel->mutex);
      if (channel->notices.size() < kMaxPending)
        channel->notices.push_back(notice);
      if (channel->wake)
        channel->wake();
    }
  }
}
