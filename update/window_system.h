// The window-system seam: everything the dialog logic and the update threads need of the window
// system. The Qt window system (ui/qt/) and the Win32 one (ui/win32/) implement it; tests use a
// recording fake.
//
// Calls may come from the dialog's thread or from an update thread. An implementation carries
// calls from other threads to the dialog's thread. Those that answer nothing (title, texts,
// show/enable, progress, icon) are posted in order without waiting, so the worker never waits for
// a repaint; a message box or the file dialog waits for its answer, and everything posted before
// it has been applied when it shows.
#pragma once

#include <string>

#include "device/device_notify.h"

// Control ids of dialog template 102.
constexpr int IDD_UPDATE_DIALOG = 102;
constexpr int IDC_PROGRESS = 1003;
constexpr int IDC_USB_UPDATE = 1007;
constexpr int IDC_DONE_LABEL = -1;
constexpr int IDC_HINT = 1008;
constexpr int IDI_APP = 152;

// Message box types and answers: the values of the Windows API. A file that also includes
// <windows.h> gets the system's own names, with the same values.
#ifndef MB_OK
constexpr unsigned MB_OK = 0;
constexpr unsigned MB_OKCANCEL = 1;
#endif
#ifndef IDOK
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
#endif

class IWindowSystem : public IDeviceNotifySink {
 public:
  virtual ~IWindowSystem() = default;

  virtual void SetTitle(const std::u16string& title) = 0;
  virtual void SetControlText(int controlId, const std::u16string& text) = 0;
  virtual void ShowControl(int controlId, bool show) = 0;
  virtual void EnableControl(int controlId, bool enable) = 0;
  virtual void SetProgressRange(int minimum, int maximum) = 0;
  virtual void SetProgressPos(int position) = 0;
  // Sets the dialog's large and small icon from an icon resource id.
  virtual void SetIcon(int iconId) = 0;

  // A modal box owned by the dialog, no icon; type MB_OK or MB_OKCANCEL. Answers IDOK or IDCANCEL.
  // (Not named MessageBox: <windows.h> makes that name a macro.)
  virtual int ShowBox(const std::u16string& text, const std::u16string& caption, unsigned type) = 0;
  // The open-file dialog owned by the dialog. The filter is "name|pattern||". Answers true and the
  // full path when the user chose a file, false when the dialog was cancelled or closed.
  virtual bool OpenFileDialog(const std::u16string& filter, const std::u16string& initialFolder,
                              std::u16string* path) = 0;

  // WatchDeviceMonitor / UnwatchDeviceMonitor (the notification sink): start and stop delivering
  // the monitor's notices to the dialog's OnDeviceChange on the dialog's thread.

  // Called by the update thread as its last act: asks the dialog's thread to run the dialog's
  // OnWorkerEnded soon. Never blocks and never runs it on the calling thread.
  virtual void NotifyWorkerEnded() = 0;

  // ---- Closing (dialog's thread) ----
  // Closes the boxes and the file dialog open on the worker's behalf (a box answers as Escape
  // would, the file dialog chooses nothing) and answers every later one at once the same way, so
  // that a worker told to stop is never kept waiting for a user who is closing the window.
  virtual void CloseWorkerDialogs() = 0;
  // Starts or stops a timer that calls the dialog's OnTimer(id) every intervalMs on its thread.
  virtual void StartTimer(int id, unsigned intervalMs) = 0;
  virtual void StopTimer(int id) = 0;
  // The dialog may go now: close the window.
  virtual void EndDialog() = 0;
};

// A control of the dialog, reached by id: the references the update threads keep to the button,
// the progress bar and the success label.
class CControl {
 public:
  CControl(IWindowSystem** window, int id) : m_ppWindow(window), m_nId(id) {}

  void SetWindowText(const std::u16string& text) const;
  void ShowWindow(bool show) const;
  void EnableWindow(bool enable) const;
  void SetRange(int minimum, int maximum) const;  // progress bar
  void SetPos(int position) const;                // progress bar

  IWindowSystem** m_ppWindow;  // the dialog's window-system slot; null window: calls do nothing
  int m_nId;
};
