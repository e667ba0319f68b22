// How tarvix-flash stops in order: the signal that asked it to, the updates that a signal stops
// (rather than ending the program), the one question on the terminal at a time, and the workers
// left behind stuck in a system call. One object, owned by FlashMain; the signal handler reaches
// only the one flag it may touch.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

// What the workers left behind still use, kept for as long as the program runs (main's or a
// test's), and how many there are: the program must then end with _Exit, as destroying the HID
// platform or the streams could pull things from under them.
struct LeftBehindWorkers {
  std::mutex mutex;
  std::vector<std::shared_ptr<void>> kept;
  std::atomic<int> count{0};
};

class StopState {
 public:
  // A run of FlashMain starts with no signal seen.
  explicit StopState(LeftBehindWorkers* leftBehind);
  StopState(const StopState&) = delete;
  StopState& operator=(const StopState&) = delete;

  // The number of the signal that asked to stop (SIGINT for RequestInterrupt), 0 while none did.
  int Signal() const;
  // While at least one update (or a watch) runs, SIGINT, SIGTERM and SIGHUP stop it in order;
  // at any other moment nothing is being written and a signal ends the program as usual.
  void BeginStoppable();
  void EndStoppable();
  // Held while a question is asked on the terminal: controllers updated at once ask in turn.
  std::mutex& AskMutex() { return m_askMutex; }
  // Keeps what a worker stuck in a system call still uses, and counts it.
  void KeepForLeftBehindWorker(std::shared_ptr<void> kept);

 private:
  std::mutex m_mutex;
  int m_nStoppable = 0;
  std::mutex m_askMutex;
  LeftBehindWorkers* m_pLeftBehind;
};

// Asks to stop as Ctrl-C does, from any thread.
void RequestInterrupt();
// SIGINT, SIGTERM and SIGHUP stop a running update in order (StopState); SIGPIPE is ignored: a
// closed output (| head -1) makes the writes to it fail quietly instead of ending an update
// half-way.
void InstallStopSignals();
