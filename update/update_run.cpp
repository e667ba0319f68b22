#include "update/update_run.h"

#include "update/progress.h"

#include "base/local_text.h"
#include "base/trace.h"

CUpdateRun::CUpdateRun(const Seams& seams, IUpdateObserver* observer)
    : m_Hid(seams), m_language(seams.language.value_or(UiLanguage())), m_pObserver(observer) {}

CUpdateRun::~CUpdateRun() {
  // The front end lets the run go only after its worker has ended; this is the last safety net.
  if (m_worker.joinable()) {
    m_bStop = 1;
    m_worker.join();
  }
}

void CUpdateRun::StopUpdate() {
  ReleaseImage();
  m_bStop = 1;
}

void CUpdateRun::RequestStop() {
  m_bStopRequested = 1;
  m_bStop = 1;
}

void CUpdateRun::SetDeviceVersion(uint32_t version) {
  m_curDevVersion = version;
  if (m_pObserver)
    m_pObserver->OnDeviceVersion(version);
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

UpdateResult CUpdateRun::ResultOfUpdate() const {
  UpdateResult result;
  result.refusal = m_recordRefusal;
  result.deviceVersion = m_versionAtConfirmation;
  result.record = m_recordHeader;
  const UpdateCause touched =
      m_bImageTouched ? UpdateCause::kImageTouched : UpdateCause::kNothingWritten;
  const ImageCheck& check = m_boot.m_imageCheck;
  auto set = [&result](UpdateOutcome outcome, UpdateCause why, std::string cause) {
    result.outcome = outcome;
    result.why = why;
    result.cause = std::move(cause);
    return result;
  };
  if (m_bSucceeded)
    return set(UpdateOutcome::kDone, UpdateCause::kNone, "");
  if (m_bStopRequested) {
    const UpdateCause why = check.outcome == ImageCheck::kStopped ? UpdateCause::kReadBack
                            : m_bImageComplete                    ? UpdateCause::kFinishing
                                                                  : touched;
    return set(UpdateOutcome::kStopped, why, m_failureCause);
  }
  if (m_recordRefusal != RecordRefusal::kNone && m_recordRefusal != RecordRefusal::kCannotOpen)
    return set(UpdateOutcome::kRefused, UpdateCause::kRecordRefused,
               RecordRefusalText(m_recordRefusal));
  if (!m_failureCause.empty() || m_bImageTouched) {
    UpdateCause why = touched;
    if (m_bImageComplete && check.outcome != ImageCheck::kSame) {
      constexpr UpdateCause kByCheck[] = {UpdateCause::kNone, UpdateCause::kVerifyDiffers,
                                          UpdateCause::kVerifyNoAnswer, UpdateCause::kVerifyStopped,
                                          UpdateCause::kFileUnreadable};
      why = kByCheck[check.outcome];
    } else if (m_request.beforeErase && !m_bBeforeEraseDone && !m_bImageTouched) {
      why = UpdateCause::kNoBackup;
    }
    return set(UpdateOutcome::kFailed, why,
               m_failureCause.empty() ? "the update did not complete" : m_failureCause);
  }
  const UpdateCause why = m_guardRefusal == GuardRefusal::kOlder  ? UpdateCause::kOlder
                          : m_guardRefusal == GuardRefusal::kSame ? UpdateCause::kSameVersion
                                                                  : UpdateCause::kDeclined;
  return set(UpdateOutcome::kNothingDone, why, "");
}

void CUpdateRun::SetFailureCause(const std::string& cause) {
  if (m_failureCause.empty())
    m_failureCause = cause;
}

void CUpdateRun::ShowProgress() {
  int position = ProgressPercent(m_bytesDone, m_imageSize);
  if (position == m_nShownProgress)
    return;
  m_nShownProgress = position;
  if (m_pObserver)
    m_pObserver->OnProgress(position);
}

void CUpdateRun::EnterPhase(UpdatePhase phase) {
  // The phases only go forward: the version area's own erase is part of writing the version.
  if (phase <= m_phase)
    return;
  m_phase = phase;
  if (m_pObserver)
    m_pObserver->OnPhase(phase);
}

void CUpdateRun::RefreshUpdateButton() {
  int found = m_Hid.DetectDevice();
  if (m_pObserver)
    m_pObserver->OnUpdatePossible(found != 0);
}

int CUpdateRun::AcquireLink(int owner) {
  int expected = LINK_FREE;
  return m_nLinkOwner.compare_exchange_strong(expected, owner) ? 1 : 0;
}

void CUpdateRun::ReleaseLink(int owner) {
  // The hold on the controller goes first, while nobody else may take the link.
  if (m_nLinkOwner.load() == owner)
    m_Hid.EndConversation();
  int expected = owner;
  m_nLinkOwner.compare_exchange_strong(expected, LINK_FREE);
}

void CUpdateRun::BeginUpdate(const UpdateRequest& request) {
  m_request = request;
  m_bStop = 0;
  m_bStopRequested = 0;
  m_bImageTouched = 0;
  m_bImageComplete = 0;
  m_app.m_bTransferComplete = 0;
  m_boot.m_imageCheck = ImageCheck{};
  m_boot.m_bVerifyAfterWrite = request.verify ? 1 : 0;
  m_bBeforeEraseDone = 0;
  m_boot.m_beforeErase = nullptr;
  if (request.beforeErase) {
    m_boot.m_beforeErase = [this](CBootSession& session) {
      m_bBeforeEraseDone = m_request.beforeErase(session);
      return m_bBeforeEraseDone;
    };
  }
  m_failureCause.clear();
  m_bSucceeded = 0;
  m_recordRefusal = RecordRefusal::kNone;
  m_guardRefusal = GuardRefusal::kNone;
  m_versionAtConfirmation = m_curDevVersion.load();
  m_phase = UpdatePhase::kNone;
  m_lastResult = UpdateResult{};
}

int CUpdateRun::Start(const UpdateRequest& request) {
  if (!AcquireLink(LINK_UPDATE))
    return 0;
  if (!m_Hid.OpenHid()) {
    ReleaseLink(LINK_UPDATE);
    return 0;
  }
  Launch(request);
  return 1;
}

void CUpdateRun::Launch(const UpdateRequest& request) {
  BeginUpdate(request);
  StartUpdateThread(m_Hid.m_bBootMode ? Boot_UpdateThread : Usb_UpdateThread);
}

UpdateResult CUpdateRun::RunUpdate(const UpdateRequest& request) {
  BeginUpdate(request);
  if (m_Hid.m_bBootMode)
    BootUpdateFirmware();
  else
    UsbUpdateLoop();
  m_lastResult = ResultOfUpdate();
  return m_lastResult;
}

void CUpdateRun::StartUpdateThread(void (*entry)(void*)) {
  if (m_worker.joinable())
    m_worker.join();  // an earlier worker that has already ended
  m_worker = std::thread([this, entry] {
    entry(this);
    m_lastResult = ResultOfUpdate();
    ReleaseLink(LINK_UPDATE);
    if (m_pObserver)
      m_pObserver->OnEnded(m_lastResult);
  });
}

void CUpdateRun::JoinWorker() {
  if (m_worker.joinable())
    m_worker.join();
}

void CUpdateRun::AbandonWorker() {
  if (m_worker.joinable())
    m_worker.detach();
}
