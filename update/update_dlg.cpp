#include "update/update_dlg.h"

#include "update/progress.h"

#include "base/local_text.h"
#include "base/trace.h"

CUpdateDlg::CUpdateDlg(const Seams& seams)
    : m_Hid(seams), m_language(seams.language.value_or(UiLanguage())) {
  m_hIcon = IDI_APP;
}

CUpdateDlg::~CUpdateDlg() {
  // The window closes only after the update thread has ended; this is the last safety net.
  if (m_worker.joinable()) {
    m_bStop = 1;
    m_worker.join();
  }
}

void CUpdateDlg::StopUpdate() {
  ReleaseImage();
  m_bStop = 1;
}

void CUpdateDlg::SetDeviceVersion(uint32_t version) {
  m_curDevVersion = version;
  ShowDeviceVersion(version);
}

const char* UpdateOutcomeText(UpdateOutcome outcome) {
  switch (outcome) {
    case UpdateOutcome::kNone:
      return "none";
    case UpdateOutcome::kDone:
      return "done";
    case UpdateOutcome::kFailed:
      return "failed";
    case UpdateOutcome::kRefused:
      return "refused";
    case UpdateOutcome::kStopped:
      return "stopped";
    case UpdateOutcome::kNothingDone:
      break;
  }
  return "nothing done";
}

std::string LastUpdateLine(const char* program, const UpdateResult& result) {
  if (result.outcome == UpdateOutcome::kNone)
    return "";
  return std::string(program) + ": last update " + UpdateOutcomeText(result.outcome) +
         (result.cause.empty() ? "" : ": " + result.cause);
}

UpdateResult CUpdateDlg::ResultOfUpdate() const {
  if (m_bSucceeded)
    return {UpdateOutcome::kDone, ""};
  if (m_bClosePending)
    return {UpdateOutcome::kStopped, m_failureCause};
  if (m_recordRefusal != RecordRefusal::kNone && m_recordRefusal != RecordRefusal::kCannotOpen)
    return {UpdateOutcome::kRefused, RecordRefusalText(m_recordRefusal)};
  if (!m_failureCause.empty())
    return {UpdateOutcome::kFailed, m_failureCause};
  if (m_bImageTouched)
    return {UpdateOutcome::kFailed, "the update did not complete"};
  return {UpdateOutcome::kNothingDone, ""};
}

void CUpdateDlg::SetFailureCause(const std::string& cause) {
  if (m_failureCause.empty())
    m_failureCause = cause;
}

void CUpdateDlg::ShowProgress() {
  int position = ProgressPercent(m_bytesDone, m_imageSize);
  if (position == m_nShownProgress)
    return;
  m_nShownProgress = position;
  if (m_bControlsReady)
    m_progress.SetPos(position);
}

void CUpdateDlg::RefreshUpdateButton() {
  int found = m_Hid.DetectDevice();
  if (m_bControlsReady)
    m_btnUpdate.EnableWindow(found != 0);
}

int CUpdateDlg::AcquireLink(int owner) {
  int expected = LINK_FREE;
  return m_nLinkOwner.compare_exchange_strong(expected, owner) ? 1 : 0;
}

void CUpdateDlg::ReleaseLink(int owner) {
  // The hold on the controller goes first, while nobody else may take the link.
  if (m_nLinkOwner.load() == owner)
    m_Hid.EndConversation();
  int expected = owner;
  m_nLinkOwner.compare_exchange_strong(expected, LINK_FREE);
}

void CUpdateDlg::StartUpdateThread(void (*entry)(void*)) {
  if (m_worker.joinable())
    m_worker.join();  // an earlier worker that has already ended
  m_worker = std::thread([this, entry] {
    entry(this);
    m_lastResult = ResultOfUpdate();
    ReleaseLink(LINK_UPDATE);
    if (m_pWnd)
      m_pWnd->NotifyWorkerEnded();
  });
}

int CUpdateDlg::ShowMessageBox(const std::u16string& text, unsigned type) {
  if (!m_pWnd)
    return IDCANCEL;
  return m_pWnd->ShowBox(text, LocalText(TXT_TITLE), type);
}
