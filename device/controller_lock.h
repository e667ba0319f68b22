// The advisory hold on one controller: while a conversation holds it, no other program of ours
// (nor another link of this one) talks to that controller, so that a `list` never sends queries
// into a running update. A platform keeps the holds: across processes on a real system, inside
// one platform object for the virtual controllers.
#pragma once

#include <memory>
#include <mutex>
#include <set>
#include <string>

// Released when destroyed.
class IControllerLock {
 public:
  virtual ~IControllerLock() = default;
};

// The holds of one platform object: a set of paths under a mutex.
class ControllerLockTable {
 public:
  // Takes the hold on path without waiting; null while it is held.
  std::unique_ptr<IControllerLock> TryLock(const std::string& path);

 private:
  class Hold;
  std::shared_ptr<std::mutex> m_mutex = std::make_shared<std::mutex>();
  std::shared_ptr<std::set<std::string>> m_held = std::make_shared<std::set<std::string>>();
};

// The name of a controller's hold, usable as one file name or one object name: the path with
// every character outside [A-Za-z0-9.-] replaced by '_', after "tarvix-update-".
std::string ControllerLockName(const std::string& path);
