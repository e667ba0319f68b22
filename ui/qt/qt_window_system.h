// The Qt window system: the dialog's window-system seam on Qt Widgets.
//
// Every call may come from the dialog's (UI) thread or from the update thread. Calls from another
// thread are carried to the UI thread: those that answer nothing are posted in order
// (Qt::QueuedConnection) and the worker goes on at once; message boxes and the open-file dialog
// are shown by the UI thread on the worker's behalf while the worker waits for the answer
// (Qt::BlockingQueuedConnection, behind everything posted before).
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "update/window_system.h"

class QDialog;
class QSocketNotifier;
class QTimer;
class QWidget;
class CUpdateDlg;
class CUpdateWindow;

// Turns an open-file filter of the form "name|pattern|name|pattern||" (as ParseDialogFilter reads
// it) into a Qt name filter list "name (pattern);;name (pattern)". Patterns separated by ';' become
// blank-separated. The name keeps its text, so "File type(*.dat)|*.dat||" gives
// "File type(*.dat) (*.dat)".
QString QtFilterFromDialogFilter(const std::u16string& filter);

// Display text of the updater's texts: "\r\n" becomes "\n" (Qt breaks lines on "\n" alone).
QString DisplayText(const std::u16string& text);

class QtWindowSystem : public QObject, public IWindowSystem {
  Q_OBJECT

 public:
  // Lives on the thread that constructs it: that thread is the UI thread.
  QtWindowSystem();
  ~QtWindowSystem() override;

  // The window whose controls the calls address and the dialog that receives the notices.
  void Attach(CUpdateWindow* window, CUpdateDlg* dlg);
  void Detach();

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

  // Worker-end notices posted and not yet handled on the UI thread.
  int PendingWorkerEnds() const { return m_nPendingWorkerEnds.load(); }

 protected:
  // Shows a modal box on the UI thread and answers IDOK or IDCANCEL (Escape's answer when it is
  // closed without a button). fromWorker: shown on the update thread's behalf.
  virtual int ExecBox(const std::u16string& text, const std::u16string& caption, unsigned type,
                      bool fromWorker);
  // Shows the open-file dialog on the UI thread; answers true and the chosen path.
  virtual bool ExecFileDialog(const QString& qtFilter, const std::u16string& initialFolder,
                              std::u16string* path, bool fromWorker);
  // Hands one arrival or removal notice to the dialog.
  virtual void DeliverDeviceChange(int code);

 private:
  // Runs fn on the UI thread: directly when already there, else posted without waiting.
  template <class F>
  void PostToUiThread(F&& fn);
  // Runs fn on the UI thread: directly when already there, else queued and waited for.
  template <class F>
  void RunOnUiThread(F&& fn);
  QWidget* Control(int controlId) const;
  void DrainMonitor(IDeviceMonitor* monitor);
  void OnWorkerEndedNotice();

  QPointer<CUpdateWindow> m_pWindow;
  CUpdateDlg* m_pDlg = nullptr;
  std::map<IDeviceMonitor*, QSocketNotifier*> m_notifiers;  // monitors with a descriptor
  std::set<IDeviceMonitor*> m_wakingMonitors;               // monitors that wake us
  std::map<int, QTimer*> m_timers;
  std::vector<QPointer<QDialog>> m_workerDialogs;  // open on the worker's behalf
  bool m_bAborting = false;
  std::atomic<int> m_nPendingWorkerEnds{0};
};
