#include "ui/cli/controller_session.h"

#include <mutex>
#include <utility>
#include <vector>

#include "base/wide_string.h"
#include "ui/cli/cli.h"

ControllerSession::ControllerSession(const std::string& path, const TerminalOptions& options)
    : m_path(path),
      m_pWindow(std::make_unique<TerminalWindowSystem>(options, path)),
      m_pDlg(std::make_unique<CUpdateDlg>(options.seams)),
      m_window(*m_pWindow),
      m_dlg(*m_pDlg) {
  m_dlg.m_Hid.m_PinnedPath = Utf8ToUtf16(path);
  m_dlg.AttachWindow(&m_window);
}

namespace {

// What the workers left behind still use, kept (and reachable) for the rest of the program: it is
// never destroyed, as a worker may touch it until the program ends.
void KeepForLeftBehindWorker(CUpdateDlg* dlg, TerminalWindowSystem* window) {
  static std::mutex mutex;
  static auto* kept = new std::vector<std::pair<CUpdateDlg*, TerminalWindowSystem*>>();
  std::lock_guard lock(mutex);
  kept->emplace_back(dlg, window);
  ++g_nWorkersLeftBehind;
}

}  // namespace

ControllerSession::~ControllerSession() {
  while (m_dlg.PrepareToClose())
    m_window.RunUpdateEvents(m_dlg);
  if (m_dlg.IsWorkerAbandoned()) {
    // The update thread is stuck in a system call and still points to the dialog and its window:
    // both stay, and the thread goes on alone. The other sessions end in order meanwhile.
    m_dlg.m_worker.detach();
    KeepForLeftBehindWorker(m_pDlg.release(), m_pWindow.release());
  }
}

int ControllerSession::Open() {
  m_dlg.OnInitDialog();
  // Found, but another program is talking to it: nothing of it can be told.
  if (!m_dlg.m_Hid.m_bDeviceFound || m_dlg.m_Hid.m_nLastOpenResult == HidOpenResult::kBusy)
    return 0;
  m_bBootLoader = m_dlg.m_Hid.m_bBootMode.load();
  m_version = m_dlg.m_curDevVersion.load();
  return 1;
}

ControllerSession::Result ControllerSession::Update(const std::u16string& firmwarePath,
                                                    std::string* message) {
  m_window.m_firmwarePath = firmwarePath;
  m_window.m_progressLabel = "writing";
  m_window.m_pVerifying = &m_dlg.m_boot.m_bVerifying;
  // A box of the start-up (the instructions) is not this update's message.
  m_window.ClearLastMessage();
  m_dlg.OnBnClickedUsbUpdate();
  if (!m_dlg.IsUpdateRunning()) {
    *message = m_dlg.m_Hid.m_LastError;
    return Result::kFailed;
  }
  m_window.RunUpdateEvents(m_dlg);
  m_window.EndProgressLine();
  *message = OneLine(m_window.LastMessage());
  // A worker still stuck in a system call after the stop has not said how it ended.
  if (m_dlg.IsWorkerAbandoned())
    return Result::kStopped;
  // The update says how it ended; a stop that came after its success changes nothing.
  switch (m_dlg.m_lastResult.outcome) {
    case UpdateOutcome::kDone:
      return Result::kUpgraded;
    case UpdateOutcome::kStopped:
      return Result::kStopped;
    case UpdateOutcome::kNothingDone:
      return Result::kCancelled;
    case UpdateOutcome::kRefused:
      return Result::kRefused;
    case UpdateOutcome::kNone:
    case UpdateOutcome::kFailed:
      break;
  }
  return Result::kFailed;
}

int ControllerSession::Verify(CUpdateDlg::ImageCheck* check) {
  m_window.m_progressLabel = "verifying";
  if (!m_dlg.AcquireLink(LINK_READ_BACK))
    return 0;
  int same = 0;
  if (m_dlg.m_Hid.OpenHid()) {
    same = m_dlg.BootVerifyImage(check);
  } else {
    check->outcome = CUpdateDlg::ImageCheck::kNoAnswer;
    check->address = m_dlg.m_boot.m_nBootBaseAddress;
  }
  m_dlg.ReleaseLink(LINK_READ_BACK);
  m_window.EndProgressLine();
  return same;
}
