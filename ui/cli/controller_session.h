// One controller driven through an update run (CUpdateRun): the detection and version query, the
// update on the run's worker, the read-back. The terminal renders what the run tells it. Each
// session has a run and a terminal of its own; several run at once, each on its own thread.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ui/cli/terminal_view.h"
#include "update/update_run.h"

class ControllerSession {
 public:
  ControllerSession(const std::string& path, const TerminalOptions& options);
  // Lets the run go once its worker has ended. A worker stuck in a system call after a stop is
  // left behind with the run and terminal it uses (kept by the StopState), which tells the program
  // that it must then end without destroying what that worker may still touch.
  ~ControllerSession();

  // Detects the controller at the path and queries its version (boot loader: its device type and
  // layout too). Answers 1 when it was found and not busy with another program; else the cause is
  // in Run().m_Hid.m_nLastOpenResult and m_LastError.
  int Open();
  int IsBootLoader() const { return m_bBootLoader; }
  uint32_t Version() const { return m_version; }

  // The run's update with request: the worker runs while this thread answers its questions and
  // watches for Ctrl-C. *message: the last message the update told (the user's language). A
  // worker left behind in a system call after a stop has not said how it ended: kStopped.
  UpdateResult Update(const UpdateRequest& request, std::string* message);
  // Reads the loaded record's image back (boot loader). Answers 1 when it is the file's.
  int Verify(CUpdateRun::ImageCheck* check);
  // Runs read (a backup) with the link open and held for a read-back, the bar labelled "backing
  // up". Answers what read answers (0 also when the link does not open).
  int ReadBack(const std::function<int()>& read);

  CUpdateRun& Run() { return *m_pRun; }
  // Of the last update, once it was confirmed: how long it ran from the confirmation to its end,
  // and the image bytes it wrote (the whole image once written whole). False when it was never
  // confirmed (refused, declined, kept by the version guard).
  bool Measure(uint64_t* elapsedMs, uint64_t* bytes) const;

 private:
  std::string m_path;
  StopState* m_pStops;
  std::unique_ptr<TerminalView> m_pWindow;
  std::unique_ptr<CUpdateRun> m_pRun;
  int m_bBootLoader = 0;
  uint32_t m_version = VERSION_UNKNOWN;
  int m_bAbandoned = 0;
  uint64_t m_endedAtMs = 0;  // when the last update's events ended, on the platform's clock
};
