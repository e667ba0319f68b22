#include "ui/cli/controller_session.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "base/wide_string.h"
#include "boot/boot_packet.h"
#include "ui/cli/cli.h"

// The link's platform as one session sees it: every call goes to the platform the command runs
// on. While the session watches, each boot-loader request that goes out tells the window the
// phase of the update: the erase, the image, the version word, the read-back, the finish.
class PhaseWatch : public IHidPlatform {
 public:
  explicit PhaseWatch(IHidPlatform* platform) : m_platform(platform) {}
  std::atomic<TerminalWindowSystem*> m_watcher{nullptr};

  std::vector<HidInterfaceInfo> Enumerate() override {
    return m_platform ? m_platform->Enumerate() : std::vector<HidInterfaceInfo>{};
  }
  HidHandle Open(const std::string& path, HidOpenResult* result) override {
    if (m_platform)
      return m_platform->Open(path, result);
    *result = HidOpenResult::kFailed;
    return kNoHidHandle;
  }
  bool GetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) override {
    return m_platform->GetAttributes(handle, vendorId, productId);
  }
  bool Write(HidHandle handle, const uint8_t* report, size_t length) override {
    TerminalWindowSystem* watcher = m_watcher.load();
    if (watcher && length >= 4 && report[1] == kBootPacketType) {
      // The phases only go forward: a read after the finish is not a read-back.
      const Phase phase =
          PhaseOf(static_cast<uint16_t>(report[2] | report[3] << 8), m_phase.load());
      if (phase > m_phase.exchange(std::max(phase, m_phase.load())))
        watcher->SetPhase(phase);
    }
    return m_platform->Write(handle, report, length);
  }
  HidReadResult Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) override {
    return m_platform->Read(handle, payload64, timeoutMs);
  }
  void Close(HidHandle handle) override { m_platform->Close(handle); }
  std::unique_ptr<IDeviceMonitor> CreateMonitor() override {
    return m_platform ? m_platform->CreateMonitor() : nullptr;
  }
  std::unique_ptr<IControllerLock> LockController(const std::string& path) override {
    return m_platform ? m_platform->LockController(path) : IHidPlatform::LockController(path);
  }
  IClock& Clock() override { return m_platform ? m_platform->Clock() : TheSystemClock(); }
  const char* AccessDeniedText() const override {
    return m_platform ? m_platform->AccessDeniedText() : IHidPlatform::AccessDeniedText();
  }

 private:
  static constexpr uint8_t kBootPacketType = 5;  // the first byte of every boot-loader request
  // A read before the erase is the backup of what it will destroy; after it, the read-back.
  static Phase PhaseOf(uint16_t command, Phase now) {
    switch (command) {
      case BOOT_CMD_ERASE:
        return Phase::kErasing;
      case BOOT_CMD_WRITE:
        return Phase::kVersion;
      case BOOT_CMD_READ:
        return now < Phase::kErasing ? Phase::kBackingUp : Phase::kVerifying;
      case BOOT_CMD_FINISH:
        return Phase::kFinishing;
      case BOOT_CMD_WRITE_IMAGE:
        return Phase::kWriting;
    }
    return Phase::kNone;
  }
  IHidPlatform* m_platform;
  std::atomic<Phase> m_phase{Phase::kNone};  // written by the update's worker only
};

namespace {

TerminalOptions OnWatch(TerminalOptions options, PhaseWatch* watch) {
  options.seams.platform = watch;
  return options;
}

// What the workers left behind still use, kept (and reachable) for the rest of the program: it is
// never destroyed, as a worker may touch it until the program ends.
void KeepForLeftBehindWorker(CUpdateDlg* dlg, TerminalWindowSystem* window, PhaseWatch* watch) {
  struct Kept {
    CUpdateDlg* dlg;
    TerminalWindowSystem* window;
    PhaseWatch* watch;
  };
  static std::mutex mutex;
  static auto* kept = new std::vector<Kept>();
  std::lock_guard lock(mutex);
  kept->push_back({dlg, window, watch});
  ++g_nWorkersLeftBehind;
}

}  // namespace

ControllerSession::ControllerSession(const std::string& path, const TerminalOptions& options)
    : m_path(path),
      m_pWatch(std::make_unique<PhaseWatch>(options.seams.platform)),
      m_pWindow(std::make_unique<TerminalWindowSystem>(OnWatch(options, m_pWatch.get()), path)),
      m_pDlg(std::make_unique<CUpdateDlg>(OnWatch(options, m_pWatch.get()).seams)),
      m_window(*m_pWindow),
      m_dlg(*m_pDlg) {
  m_dlg.Run().m_Hid.m_PinnedPath = Utf8ToUtf16(path);
  m_dlg.AttachWindow(&m_window);
}

ControllerSession::~ControllerSession() {
  while (m_dlg.PrepareToClose())
    m_window.RunUpdateEvents(m_dlg);
  if (m_dlg.IsWorkerAbandoned()) {
    // The update thread is stuck in a system call and still points to the dialog and its window:
    // both stay, and the thread goes on alone. The other sessions end in order meanwhile.
    m_dlg.Run().m_worker.detach();
    KeepForLeftBehindWorker(m_pDlg.release(), m_pWindow.release(), m_pWatch.release());
  }
}

int ControllerSession::Open() {
  m_dlg.OnInitDialog();
  // Found, but another program is talking to it: nothing of it can be told.
  if (!m_dlg.Run().m_Hid.m_bDeviceFound ||
      m_dlg.Run().m_Hid.m_nLastOpenResult == HidOpenResult::kBusy)
    return 0;
  m_bBootLoader = m_dlg.Run().m_Hid.m_bBootMode.load();
  m_version = m_dlg.Run().m_curDevVersion.load();
  return 1;
}

UpdateResult ControllerSession::Update(const UpdateRequest& request, std::string* message) {
  CUpdateRun& run = m_dlg.Run();
  // A box of the start-up (the instructions) is not this update's message.
  m_window.ClearLastMessage();
  m_pWatch->m_watcher = m_bBootLoader ? &m_window : nullptr;
  if (!run.Start(request)) {
    m_pWatch->m_watcher = nullptr;
    *message = run.m_Hid.m_LastError;
    UpdateResult failed;
    failed.outcome = UpdateOutcome::kFailed;
    failed.why = UpdateCause::kNothingWritten;
    return failed;
  }
  m_window.RunUpdateEvents(m_dlg);
  m_pWatch->m_watcher = nullptr;
  m_window.EndProgressLine();
  *message = OneLine(m_window.LastMessage());
  if (m_dlg.IsWorkerAbandoned()) {
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
  return run.m_lastResult;
}

int ControllerSession::ReadBack(const std::function<int()>& read) {
  m_window.SetPhase(Phase::kBackingUp);
  if (!m_dlg.Run().AcquireLink(LINK_READ_BACK))
    return 0;
  int done = 0;
  if (m_dlg.Run().m_Hid.OpenHid())
    done = read();
  else
    m_dlg.Run().SetFailureCause("the controller cannot be opened: " +
                                m_dlg.Run().m_Hid.m_LastError);
  m_dlg.Run().ReleaseLink(LINK_READ_BACK);
  m_window.EndProgressLine();
  return done;
}

int ControllerSession::Verify(CUpdateRun::ImageCheck* check) {
  m_window.SetPhase(Phase::kVerifying);
  if (!m_dlg.Run().AcquireLink(LINK_READ_BACK))
    return 0;
  int same = 0;
  if (m_dlg.Run().m_Hid.OpenHid()) {
    same = m_dlg.Run().BootVerifyImage(check);
  } else {
    check->outcome = CUpdateRun::ImageCheck::kNoAnswer;
    check->address = m_dlg.Run().m_boot.m_nBootBaseAddress;
  }
  m_dlg.Run().ReleaseLink(LINK_READ_BACK);
  m_window.EndProgressLine();
  return same;
}
