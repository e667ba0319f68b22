// The window system of the page: the dialog's window-system seam in a browser.
//
// The program runs on worker threads (PROXY_TO_PTHREAD): the dialog's thread is the one that runs
// main() and Run(), and the page (page.js) draws the window. Calls that answer nothing are posted
// to the page in order and the caller goes on; a box or the file chooser is a page modal that the
// caller waits for, behind everything it posted before. The page's events (the button, device
// notices through the HID platform's monitor) and the worker's end notice are queued for the
// dialog's thread, which hands them to the dialog one at a time, as a window's message loop does.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "update/window_system.h"

class CUpdateDlg;

class WebWindowSystem : public IWindowSystem {
 public:
  // The constructing thread is the dialog's thread. The page holds this window system from its
  // construction to its destruction (attach, detach) and hands it back with each of its events.
  explicit WebWindowSystem(CUpdateDlg* dlg);
  ~WebWindowSystem() override;
  WebWindowSystem(const WebWindowSystem&) = delete;
  WebWindowSystem& operator=(const WebWindowSystem&) = delete;

  // Shows the window (the dialog is initialised) and runs the dialog's events until EndDialog.
  void Run();
  // Queues an event for the dialog's thread (from any thread, the page's too).
  void Post(std::function<void()> event);
  // The page's update button.
  void OnButtonClicked();

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
  void CloseWorkerDialogs() override;
  void StartTimer(int id, unsigned intervalMs) override;
  void StopTimer(int id) override;
  void EndDialog() override;

  // Where a chosen file is kept for the dialog to open by path: the folder of the page's uploads.
  static constexpr char kUploadFolder[] = "/upload";

 private:
  bool FromWorker() const { return std::this_thread::get_id() != m_dialogThread; }
  void DrainMonitor(IDeviceMonitor* monitor);
  // Tells the page whether an update runs (it asks before the tab closes), when that changed.
  void TellBusy();
  // Runs the timers that are due; answers when the next one is due (0: none).
  uint64_t RunDueTimers();
  // Removes the file the last choice kept, and its folder.
  void RemoveUpload();

  CUpdateDlg* m_pDlg;
  std::thread::id m_dialogThread;
  std::mutex m_mutex;  // guards the events, the timers, the monitors and m_bEnded
  std::condition_variable m_wake;
  std::deque<std::function<void()>> m_events;
  struct Timer {
    unsigned intervalMs;
    uint64_t dueMs;
  };
  std::map<int, Timer> m_timers;
  std::set<IDeviceMonitor*> m_monitors;
  bool m_bEnded = false;
  std::atomic<bool> m_bAborting{false};
  int m_nBusyShown = -1;
  unsigned m_nUploads = 0;
  std::string m_upload;  // the file the last choice kept
};

// The page's file chooser for an open-file filter ("name|pattern||", as ParseDialogFilter reads
// it): the first name, and every pattern as the chooser's accept list, without the leading "*"
// ("*.dat;*.bin" gives ".dat,.bin").
struct PageFileFilter {
  std::string name;
  std::string accept;
};
PageFileFilter PageFileFilterOf(const std::u16string& filter);

// The file name part of a name the page gives (no folders, no "." or ".."): what is kept of it
// under the upload folder. Empty when nothing is left.
std::string UploadName(const std::string& name);

// Called by the page's scripts (exported), with the window system the page was handed.
extern "C" void tarvix_click(WebWindowSystem* window);
