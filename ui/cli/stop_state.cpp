#include "ui/cli/stop_state.h"

#include <csignal>

namespace {

// The signal handler's one flag: kNotStoppable while no update runs (a signal then ends the
// program), kStoppable while one does, then the number of the signal that asked to stop.
constexpr std::sig_atomic_t kNotStoppable = 0;
constexpr std::sig_atomic_t kStoppable = -1;
std::atomic<std::sig_atomic_t> s_stopSignal{kNotStoppable};
static_assert(std::atomic<std::sig_atomic_t>::is_always_lock_free, "usable in a signal handler");

void OnStopSignal(int signal) {
  if (s_stopSignal.load() == kNotStoppable) {
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    return;
  }
  s_stopSignal = signal;
}

}  // namespace

StopState::StopState(LeftBehindWorkers* leftBehind) : m_pLeftBehind(leftBehind) {
  s_stopSignal = kNotStoppable;
}

int StopState::Signal() const {
  const std::sig_atomic_t signal = s_stopSignal.load();
  return signal > 0 ? signal : 0;
}

void StopState::BeginStoppable() {
  std::lock_guard lock(m_mutex);
  if (m_nStoppable++ == 0) {
    std::sig_atomic_t expected = kNotStoppable;
    s_stopSignal.compare_exchange_strong(expected, kStoppable);
  }
}

void StopState::EndStoppable() {
  std::lock_guard lock(m_mutex);
  if (--m_nStoppable == 0) {
    // A signal that came stays seen: the program is ending in order.
    std::sig_atomic_t expected = kStoppable;
    s_stopSignal.compare_exchange_strong(expected, kNotStoppable);
  }
}

void StopState::KeepForLeftBehindWorker(std::shared_ptr<void> kept) {
  if (!m_pLeftBehind) {
    // Nobody outlives the worker to keep it: it is never destroyed.
    new std::shared_ptr<void>(std::move(kept));
    return;
  }
  std::lock_guard lock(m_pLeftBehind->mutex);
  m_pLeftBehind->kept.push_back(std::move(kept));
  ++m_pLeftBehind->count;
}

void RequestInterrupt() {
  s_stopSignal = SIGINT;
}

void InstallStopSignals() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP})
    sigaction(signal, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}
