// The Win32 window system: the dialog's window-system seam on the Windows API.
//
// Every call may come from the dialog's (UI) thread or from the update thread. Calls from another
// thread are posted, in order, to a message-only window of the UI thread: those that answer
// nothing return at once; message boxes and the open-file dialog are shown by the UI thread on the
// worker's behalf while the worker waits for the answer. A posted message is dispatched by any
// message loop of the thread, a message box's own included, and a waited call is posted behind
// everything posted before it, so nothing posted before a box lands after it.
#pragma once

#include "base/trace.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <set>
#include <string>

#include "update/window_system.h"

class CUpdateDlg;

// "name|pattern|name|pattern||" (as ParseDialogFilter reads it) as GetOpenFileNameW wants it:
// "name\0pattern;pattern\0...\0\0". A name without patterns is left out.
std::wstring Win32FilterFromDialogFilter(const std::u16string& filter);

class Win32WindowSystem : public IWindowSystem {
 public:
  // Lives on the thread that constructs it: that thread is the UI thread.
  Win32WindowSystem();
  ~Win32WindowSystem() override;
  Win32WindowSystem(const Win32WindowSystem&) = delete;
  Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

  // The dialog window whose controls the calls address, the dialog that receives the notices, and
  // what EndDialog does (the window closes). A null window: control calls do nothing.
  void Attach(HWND dialog, CUpdateDlg* dlg, std::function<void()> endDialog);
  // Lets go of the monitors and the dialog; posted calls still waiting do nothing.
  void Detach();
  HWND Dialog() const { return m_hDialog; }
  // Runs every call and notice already posted (the last moments of the window).
  void RunPosted();

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

 private:
  // Runs fn on the UI thread: directly when already there, else posted. Answers false when it
  // could not be posted (the message window is gone).
  bool PostToUiThread(std::function<void()> fn);
  // Runs fn on the UI thread and waits for it. Answers false when it never ran.
  bool RunOnUiThread(const std::function<void()>& fn);
  bool OnUiThread() const { return ::GetCurrentThreadId() == m_nUiThread; }
  int ExecBox(const std::u16string& text, const std::u16string& caption, unsigned type,
              bool fromWorker);
  bool ExecFileDialog(const std::u16string& filter, const std::u16string& initialFolder,
                      std::u16string* path, bool fromWorker);
  void DrainMonitor(IDeviceMonitor* monitor);
  static LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);

  DWORD m_nUiThread;
  HWND m_hMessages = nullptr;  // message-only window: posted calls, notices, worker end, timers
  HWND m_hDialog = nullptr;
  CUpdateDlg* m_pDlg = nullptr;
  // The trace of the attached dialog's link (stderr before one is attached).
  TraceSink DialogTraceSink() const;
  std::function<void()> m_endDialog;
  std::set<IDeviceMonitor*> m_wakingMonitors;  // monitors that wake us from their thread
  std::set<IDeviceMonitor*> m_windowMonitors;  // monitors registered for the dialog's notices
  int m_nWorkerDialogs = 0;                    // boxes or file dialogs open for the worker
  bool m_bAborting = false;                    // CloseWorkerDialogs was called
  HICON m_hBigIcon = nullptr;
  HICON m_hSmallIcon = nullptr;
};
