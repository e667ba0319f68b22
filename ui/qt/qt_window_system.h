// The Qt window system: the dialog's window-system seam on Qt Widgets.
//
// Every call may come from the dialog's (UI) thread or from the update thread. Calls from another
// thread are carried to the UI thread and the caller waits until they are done
// (Qt::BlockingQueuedConnection), so the worker sees their effect when the call returns. Message
// boxes and the open-file dialog are shown by the UI thread on the worker's behalf.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "update/window_system.h"

class QDialog;
class QSocketNotifier;
class QWidget;
class CUpdateDlg;
class CUpdateWindow;

// Turns an open-file filter of the form "name|pattern|name|pattern||" into a Qt name filter list
// "name (pattern);;name (pattern)". Patterns separated by ';' become blank-separated. The name
// keeps its text, so "File type(*.dat)|*.dat||" gives "File type(*.dat) (*.dat)".
QString QtFilterFromDialogFilter(const std::u16string& filter);

// Display text of the updater's texts: "\r\n" becomes "\n" (Qt breaks lines on "\n" alone).
QString DisplayText(const std::u16string& text);

// Answers boxes and file dialogs in place of the user (tests). Called on the UI thread.
class IAnswerProvider {
 public:
  virtual ~IAnswerProvider() = default;
  // IDOK or IDCANCEL answers the box without showing it; 0 shows the real box.
  virtual int AnswerBox(const std::u16string& text, const std::u16string& caption,
                        unsigned type) = 0;
  // 1: a file was chosen (*path holds it); 0: cancelled; -1: show the real dialog.
  virtual int AnswerFileDialog(const QString& qtFilter, const std::u16string& initialFolder,
                               std::u16string* path) = 0;
};

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
  int MessageBox(const std::u16string& text, const std::u16string& caption, unsigned type) override;
  bool OpenFileDialog(const std::u16string& filter, const std::u16string& initialFolder,
                      std::u16string* path) override;
  void WatchDeviceMonitor(IDeviceMonitor* monitor) override;
  void UnwatchDeviceMonitor(IDeviceMonitor* monitor) override;
  void NotifyWorkerEnded() override;

  // ---- Closing ----
  // Closes the boxes and the file dialog open on the worker's behalf (they answer IDCANCEL, or no
  // file) and answers every later one at once the same way, so that a worker told to stop is never
  // kept waiting for a user who is closing the window. UI thread only.
  void AbortWorkerDialogs();
  // Worker-end notices posted and not yet handled on the UI thread.
  int PendingWorkerEnds() const { return m_nPendingWorkerEnds.load(); }
  // Processes events on the UI thread until no update runs and every worker-end notice has been
  // handled. Used once the window has closed, so that the worker never waits for a UI thread
  // that has stopped looking at its events. UI thread only.
  void FinishWorker();

  // ---- Test hooks ----
  void SetAnswerProvider(IAnswerProvider* provider) { m_pAnswers = provider; }
  struct BoxRecord {
    std::u16string text;
    std::u16string caption;
    unsigned type;
    int answer;
    bool fromWorker;
  };
  struct FileDialogRecord {
    QString qtFilter;
    std::u16string initialFolder;
  };
  // Copies; UI thread only.
  std::vector<BoxRecord> Boxes() const { return m_boxes; }
  std::vector<FileDialogRecord> FileDialogs() const { return m_fileDialogs; }
  int IconId() const { return m_nIconId; }
  // Device-change codes delivered to the dialog from the monitor.
  std::vector<int> DeliveredEvents() const { return m_deliveredEvents; }

 private:
  // Runs fn on the UI thread: directly when already there, else queued and waited for.
  template <class F>
  void RunOnUiThread(F&& fn);
  QWidget* Control(int controlId) const;
  int ShowBox(const std::u16string& text, const std::u16string& caption, unsigned type,
              bool fromWorker);
  bool ShowFileDialog(const std::u16string& filter, const std::u16string& initialFolder,
                      std::u16string* path, bool fromWorker);
  void DrainMonitor(IDeviceMonitor* monitor);
  void OnWorkerEndedNotice();

  QPointer<CUpdateWindow> m_pWindow;
  CUpdateDlg* m_pDlg = nullptr;
  IAnswerProvider* m_pAnswers = nullptr;
  std::map<IDeviceMonitor*, QSocketNotifier*> m_notifiers;
  std::vector<QPointer<QDialog>> m_workerDialogs;  // open on the worker's behalf
  bool m_bAborting = false;
  std::atomic<int> m_nPendingWorkerEnds{0};
  std::vector<BoxRecord> m_boxes;
  std::vector<FileDialogRecord> m_fileDialogs;
  std::vector<int> m_deliveredEvents;
  int m_nIconId = 0;
};
