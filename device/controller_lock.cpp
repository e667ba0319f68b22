#include "device/controller_lock.h"

class ControllerLockTable::Hold : public IControllerLock {
 public:
  Hold(std::shared_ptr<std::mutex> mutex, std::shared_ptr<std::set<std::string>> held,
       std::string path)
      : m_mutex(std::move(mutex)), m_held(std::move(held)), m_path(std::move(path)) {}
  ~Hold() override {
    std::lock_guard lock(*m_mutex);
    m_held->erase(m_path);
  }

 private:
  std::shared_ptr<std::mutex> m_mutex;  // shared: a hold may outlive its table
  std::shared_ptr<std::set<std::string>> m_held;
  std::string m_path;
};

std::unique_ptr<IControllerLock> ControllerLockTable::TryLock(const std::string& path) {
  std::lock_guard lock(*m_mutex);
  if (!m_held->insert(path).second)
    return nullptr;
  return std::make_unique<Hold>(m_mutex, m_held, path);
}

std::string ControllerLockName(const std::string& path) {
  std::string name = "tarvix-update-";
  for (char c : path) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                 c == '.' || c == '-';
    name += plain ? c : '_';
  }
  return name;
}
