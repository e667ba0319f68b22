// A recording window system for tests: it remembers every call, answers message boxes and file
// dialogs from a script, and is safe to call from an update thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "update/window_system.h"

class FakeWindowSystem : public IWindowSystem {
 public:
  struct Box {
    std::u16string text;
    std::u16string caption;
    unsigned type;
    int answer;
  };
  struct FileDialog {
    std::u16string filter;
    std::u16string initialFolder;
  };

  // ---- Script ----
  // Answers for the next message boxes, in order; when none is queued a box answers IDOK.
  void QueueBoxAnswer(int answer);
  // Answers for the next file dialogs, in order: a path, or an empty string for Cancel. When none
  // is queued the dialog is cancelled.
  void QueueFilePath(const std::u16string& path);

  // ---- Record (take copies under the lock) ----
  std::vector<std::u16string> Titles();
  std::u16string Title();
  std::vector<Box> Boxes();
  std::vector<FileDialog> FileDialogs();
  std::vector<int> ProgressPositions();
  std::u16string ControlText(int id);
  bool IsEnabled(int id);
  bool IsVisible(int id);
  int ProgressPos();
  int IconId();
  void ClearRecords();
  // Waits until an update thread has said it ended (NotifyWorkerEnded), then forgets that it did.
  // Gives up after kWorkerEndLimit and answers false, so that a worker that never ends fails the
  // test (the caller asserts the answer) instead of hanging it.
  [[nodiscard]] bool WaitForWorkerEnd();
  static constexpr std::chrono::seconds kWorkerEndLimit{10};
  int WorkerEndNotices();
  std::vector<IDeviceMonitor*> WatchedMonitors();

  // ---- IWindowSystem ----
  void SetTitle(const std::u16string& title) override;
  void SetControlText(int controlId, const std::u16string& text) override;
  void ShowControl(int controlId, bool show) override;
  void EnableControl(int controlId, bool enable) override;
  void SetProgressRange(int minimum, int maximum) override;
  void SetProgressPos(int position) override;
  void SetIcon(int iconId) override;
  int ShowBox(const std::u16string& text, const std::u16string& caption, unsigned type) override;
  bool OpenFileDialog(const std::u16string& filter, const std::u16string& initialFolder,
                      std::u16string* path) override;
  void WatchDeviceMonitor(IDeviceMonitor* monitor) override;
  void UnwatchDeviceMonitor(IDeviceMonitor* monitor) override;
  void NotifyWorkerEnded() override;
  // Closing: the fake records what the dialog asked for; later boxes and file dialogs still answer
  // from the script.
  void CloseWorkerDialogs() override { ++m_nCloseWorkerDialogs; }
  void StartTimer(int id, unsigned intervalMs) override { m_timers[id] = intervalMs; }
  void StopTimer(int id) override { m_timers.erase(id); }
  void EndDialog() override { ++m_nEndDialogs; }
  int m_nCloseWorkerDialogs = 0;
  int m_nEndDialogs = 0;
  std::map<int, unsigned> m_timers;  // running timers, by id

  int m_progressMin = 0;
  int m_progressMax = 0;

 private:
  std::mutex m_mutex;
  std::condition_variable m_workerEnded;
  std::deque<int> m_boxAnswers;
  std::deque<std::u16string> m_filePaths;
  std::vector<std::u16string> m_titles;
  std::vector<Box> m_boxes;
  std::vector<FileDialog> m_fileDialogs;
  std::vector<int> m_progress;
  std::map<int, std::u16string> m_texts;
  std::map<int, bool> m_enabled;
  std::map<int, bool> m_visible;
  std::vector<IDeviceMonitor*> m_monitors;
  int m_iconId = 0;
  int m_pendingWorkerEnds = 0;
  int m_workerEndNotices = 0;
};
