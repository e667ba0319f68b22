#include "ui/cli/controller_session.h"

#include <mutex>
#include <utility>
#include <vector>

#include "base/wide_string.h"
#include "ui/cli/cli.h"

namespace {

// What a worker left behind still uses.
struct Parts {
  Parts(std::unique_ptr<CUpdateRun> r, std::unique_ptr<TerminalView> v)
      : view(std::move(v)), run(std::move(r)) {}
  std::unique_ptr<TerminalView> view;
  std::unique_ptr<CUpdateRun> run;  // destroyed first: it points to the view
};

}  // namespace

ControllerSession::ControllerSession(const std::string& path, const TerminalOptions& options)
    : m_path(path),
      m_pStops(options.stops),
      m_pWindow(std::make_unique<TerminalView>(options, path)),
      m_pRun(std::make_unique<CUpdateRun>(options.seams, m_pWindow.get())) {
  m_pRun->m_Hid.m_PinnedPath = Utf8ToUtf16(path);
}

ControllerSession::~ControllerSession() {
  if (!m_bAbandoned) {
    m_pRun->JoinWorker();
    return;
  }
  // The update thread is stuck in a system call and still points to the run and its terminal:
  // both stay, and the thread goes on alone with them. The other sessions end in order meanwhile.
  m_pRun->AbandonWorker();
  m_pStops->KeepForLeftBehindWorker(
      std::make_shared<Parts>(std::move(m_pRun), std::move(m_pWindow)));
}

int ControllerSession::Open() {
  CUpdateRun& run = *m_pRun;
  run.m_bStop = 1;
  run.m_curDevVersion = VERSION_UNKNOWN;
  if (run.m_Hid.DetectDevice())
    run.QueryDeviceVersion();
  run.m_app.SwapMaskTables();
  run.m_app.m_nUpdateState = STATE_IDLE;
  // Found, but another program is talking to it: nothing of it can be told.
  if (!run.m_Hid.m_bDeviceFound || run.m_Hid.m_nLastOpenResult == HidOpenResult::kBusy)
    return 0;
  m_bBootLoader = run.m_Hid.m_bBootMode.load();
  m_version = run.m_curDevVersion.load();
  return 1;
}

UpdateResult ControllerSession::Update(const UpdateRequest& request, std::string* message) {
  CUpdateRun& run = *m_pRun;
  // A message of the start-up (the instructions) is not this update's; the running firmware's
  // update has no phases.
  m_pWindow->ClearLastMessage();
  m_pWindow->WatchPhases(m_bBootLoader != 0);
  if (!run.Start(request)) {
    *message = run.m_Hid.m_LastError;
    UpdateResult failed;
    failed.outcome = UpdateOutcome::kFailed;
    failed.why = UpdateCause::kNothingWritten;
    return failed;
  }
  m_bAbandoned = m_pWindow->RunUpdateEvents(run) ? 0 : 1;
  m_endedAtMs = m_pWindow->NowMs();
  m_pWindow->WatchPhases(false);
  m_pWindow->EndProgressLine();
  *message = OneLine(m_pWindow->LastMessage());
  if (m_bAbandoned) {
    const UpdateCause why = run.m_boot.m_imageCheck.outcome == CUpdateRun::ImageCheck::kStopped
                                ? UpdateCause::kReadBack
                            : run.m_bImageComplete ? UpdateCause::kFinishing
                            : run.m_bImageTouched  ? UpdateCause::kImageTouched
                                                   : UpdateCause::kNothingWritten;
    UpdateResult stopped;
    stopped.outcome = UpdateOutcome::kStopped;
    stopped.why = why;
    return stopped;
  }
  run.JoinWorker();
  return run.m_lastResult;
}

bool ControllerSession::Measure(uint64_t* elapsedMs, uint64_t* bytes) const {
  if (!m_pWindow->Confirmed())
    return false;
  const uint64_t confirmedAt = m_pWindow->ConfirmedAtMs();
  const CUpdateRun& run = *m_pRun;
  *elapsedMs = m_endedAtMs > confirmedAt ? m_endedAtMs - confirmedAt : 0;
  *bytes = run.m_bImageComplete || run.m_lastResult.outcome == UpdateOutcome::kDone
               ? run.m_imageSize
           : run.m_bImageTouched ? run.m_bytesDone
                                 : 0;
  return true;
}

int ControllerSession::ReadBack(const std::function<int()>& read) {
  CUpdateRun& run = *m_pRun;
  m_pWindow->SetPhase(Phase::kBackingUp);
  if (!run.AcquireLink(LINK_READ_BACK))
    return 0;
  int done = 0;
  if (run.m_Hid.OpenHid())
    done = read();
  else
    run.SetFailureCause("the controller cannot be opened: " + run.m_Hid.m_LastError);
  run.ReleaseLink(LINK_READ_BACK);
  m_pWindow->EndProgressLine();
  return done;
}

int ControllerSession::Verify(CUpdateRun::ImageCheck* check) {
  CUpdateRun& run = *m_pRun;
  m_pWindow->SetPhase(Phase::kVerifying);
  if (!run.AcquireLink(LINK_READ_BACK))
    return 0;
  int same = 0;
  if (run.m_Hid.OpenHid()) {
    same = run.BootVerifyImage(check);
  } else {
    check->outcome = CUpdateRun::ImageCheck::kNoAnswer;
    check->address = run.m_boot.m_nBootBaseAddress;
  }
  run.ReleaseLink(LINK_READ_BACK);
  m_pWindow->EndProgressLine();
  return same;
}
