// One controller driven through the dialog's core (CUpdateDlg), as the dialog would drive it: the
// start-up's detection and version query, the update button's worker, the read-back, the close.
// Each session has a dialog and a terminal window system of its own; several run at once, each on
// its own thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ui/cli/terminal_window_system.h"
#include "update/update_dlg.h"

class PhaseWatch;

class ControllerSession {
 public:
  ControllerSession(const std::string& path, const TerminalOptions& options);
  // Lets the dialog go once its worker has ended. A worker stuck in a system call after a stop is
  // left behind with the dialog and window it uses (never destroyed), and g_nWorkersLeftBehind
  // tells the program, which must then end without destroying what that worker may still touch.
  ~ControllerSession();

  // Detects the controller at the path and queries its version (boot loader: its device type and
  // layout too), as the dialog's start-up does. Answers 1 when it was found and not busy with
  // another program; else the cause is in m_dlg.Run().m_Hid.m_nLastOpenResult and m_LastError.
  int Open();
  int IsBootLoader() const { return m_bBootLoader; }
  uint32_t Version() const { return m_version; }

  // The run's update with request: the worker runs while this thread answers its boxes and
  // watches for Ctrl-C. *message: the last message the update told (the user's language). A
  // worker left behind in a system call after a stop has not said how it ended: kStopped.
  UpdateResult Update(const UpdateRequest& request, std::string* message);
  // Reads the loaded record's image back (boot loader). Answers 1 when it is the file's.
  int Verify(CUpdateRun::ImageCheck* check);
  // Runs read (a backup) with the link open and held for a read-back, the bar labelled "backing
  // up". Answers what read answers (0 also when the link does not open).
  int ReadBack(const std::function<int()>& read);

  std::string m_path;

 private:
  std::unique_ptr<PhaseWatch> m_pWatch;
  std::unique_ptr<TerminalWindowSystem> m_pWindow;
  std::unique_ptr<CUpdateDlg> m_pDlg;

 public:
  TerminalWindowSystem& m_window;
  CUpdateDlg& m_dlg;

 private:
  int m_bBootLoader = 0;
  uint32_t m_version = VERSION_UNKNOWN;
};
