// CUpdateDlg: the updater's one dialog over one controller, the adapter between the window system
// and one update run (CUpdateRun, which owns the link, the sessions, the transfer, the stop flag
// and the result). It turns the window's events into the run's conversations and the run's
// observer calls into window-system calls: the title, the button, the progress bar, the boxes
// and the open-file dialog. It keeps the close handshake. Plain C++: the window system is reached
// through IWindowSystem only.
//
//   update/dialog.cpp          OnInitDialog, OnBnClickedUsbUpdate, OnDeviceChange, closing
//   update/status_messages.cpp ShowDeviceVersion and the observer calls
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "update/update_run.h"
#include "update/window_system.h"

// Lets the tests reach the dialog's own flags (tests/support/update_dlg_probe.h).
struct UpdateDlgProbe;

class CUpdateDlg : public IUpdateObserver {
 public:
  using ImageCheck = CBootSession::ImageCheck;

  // seams: the HID platform, the trace sink and the language this dialog runs on.
  explicit CUpdateDlg(const Seams& seams = {});
  ~CUpdateDlg() override;
  CUpdateDlg(const CUpdateDlg&) = delete;
  CUpdateDlg& operator=(const CUpdateDlg&) = delete;

  // The run this dialog drives: its link, sessions and result.
  CUpdateRun& Run() { return m_run; }
  const CUpdateRun& Run() const { return m_run; }

  // ---- The dialog (update/dialog.cpp) ----
  // Gives the dialog its window; called by the window system before OnInitDialog.
  void AttachWindow(IWindowSystem* window) { m_pWnd = window; }
  int OnInitDialog();
  // The update button. Does nothing while a close waits for the worker.
  void OnBnClickedUsbUpdate();
  int OnDeviceChange(uint32_t event, uintptr_t data);

  // ---- Closing: the front end reports, processes events, and is told when the window may go ----
  // The user asks to close the window. Answers 1 when the window may close now. While an update
  // runs it asks first (TXT_CONFIRM_STOP, OK and Cancel): Cancel answers 0 and the update goes on;
  // OK stops the worker (the stop flag, and the boxes it has open are closed) and answers 0 as
  // well: the dialog calls the window system's EndDialog once the worker has ended, or after
  // kCloseGraceMs when it is stuck in a system call. A request while one is being asked or while
  // a confirmed close waits answers 0 and asks nothing.
  int OnCloseRequested();
  // The close is confirmed: the box's OK, or a front end whose user has asked already. Answers 1
  // when no update runs; otherwise stops it as OK does and answers 0.
  int ConfirmClose();
  // The window system's timer (StartTimer).
  void OnTimer(int id);
  // Runs on the dialog's thread once the update thread has ended (the window system carries the
  // worker's end notice there): joins the thread and runs the device change held back meanwhile,
  // or ends the dialog when a close was waiting for it.
  void OnWorkerEnded();
  // For the window's last moments, when it closes whatever the update does: stops a running
  // update and answers 1 while its worker must still be waited for (the caller processes events
  // and asks again; the close timer keeps the events coming); answers 0 once the worker has ended
  // (joined) or was abandoned after kCloseGraceMs, and the dialog has let go of its window.
  int PrepareToClose();
  int IsUpdateRunning() const { return m_run.IsUpdateRunning(); }
  int IsClosePending() const { return m_bClosePending.load(); }
  // Answers 1 when a confirmed close gave up waiting for a worker stuck in a system call. That
  // worker still points to the dialog: the program must end without destroying it.
  int IsWorkerAbandoned() const { return m_bWorkerAbandoned.load(); }
  static constexpr uint64_t kCloseGraceMs = 3000;
  static constexpr int kCloseTimerId = 1;
  static constexpr unsigned kCloseTimerMs = 100;
  // The confirmed close is over: the window may go.
  void EndClose();
  // The handling of one device-change event code (7, 0x8000 or 0x8004) with the link free.
  void HandleDeviceChange(int code);

  // ---- What the user sees (update/status_messages.cpp) ----
  // The controller's version in the title, or the instructions for an erased version area.
  void ShowDeviceVersion(uint32_t version);
  // A modal box owned by the dialog with caption TXT_TITLE; answers IDOK or IDCANCEL.
  int ShowMessageBox(const std::u16string& text, unsigned type);
  std::u16string LocalText(int index) const { return m_run.LocalText(index); }

  // ---- The run's observer: its calls become window-system calls ----
  void OnProgress(int percent) override;
  bool ChooseFirmwareFile(std::u16string* path) override;
  bool Confirm(const std::u16string& text) override;
  void Notice(const std::u16string& text) override;
  void OnDeviceVersion(uint32_t version) override { ShowDeviceVersion(version); }
  void OnSucceeded() override;
  void OnUpdatePossible(bool possible) override;
  void OnEnded(const UpdateResult& result) override;

 private:
  friend struct UpdateDlgProbe;

  CUpdateRun m_run;
  IWindowSystem* m_pWnd = nullptr;
  CControl m_btnUpdate{&m_pWnd, IDC_USB_UPDATE};
  CControl m_progress{&m_pWnd, IDC_PROGRESS};
  CControl m_doneLabel{&m_pWnd, IDC_DONE_LABEL};
  CControl m_hint{&m_pWnd, IDC_HINT};
  int m_iconId = IDI_APP;  // icon resource 152
  // 1 once OnInitDialog has set up the controls: the update's progress, label and button reach the
  // window only from then on.
  std::atomic<int> m_bControlsReady{0};
  // A device-change event that arrived while an update held the link; handled when it ends.
  std::atomic<int> m_bDeviceChangePending{0};
  // The user confirmed closing while an update ran: the window closes once the worker has ended.
  std::atomic<int> m_bClosePending{0};
  int m_bAskingToClose = 0;         // the confirmation box of a close request is open
  uint64_t m_nCloseDeadlineMs = 0;  // clock-seam time after which a stuck worker is abandoned
  std::atomic<int> m_bWorkerAbandoned{0};
};
