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

uint64_t VersionRank(uint16_t version, uint16_t beta) {
  return uint64_t{version} << 17 | (beta ? beta : 0x10000u);
}

}  // namespace

GuardRefusal CheckVersionGuard(uint16_t version, uint16_t beta, uint32_t current, bool allowOlder,
                               bool allowReinstall) {
  if (current == VERSION_UNKNOWN || current == kErasedVersionWord)
    return GuardRefusal::kNone;
  const uint64_t now =
      VersionRank(static_cast<uint16_t>(current), static_cast<uint16_t>(current >> 16));
  const uint64_t next = VersionRank(version, beta);
  if (next < now && !allowOlder)
    return GuardRefusal::kOlder;
  if (next == now && !allowReinstall)
    return GuardRefusal::kSame;
  return GuardRefusal::kNone;
}

ControllerSession::ControllerSession(const std::string& path, const TerminalOptions& options)
    : m_path(path),
      m_pWatch(std::make_unique<PhaseWatch>(options.seams.platform)),
      m_pWindow(std::make_unique<TerminalWindowSystem>(OnWatch(options, m_pWatch.get()), path)),
      m_pDlg(std::make_unique<CUpdateDlg>(OnWatch(options, m_pWatch.get()).seams)),
      m_window(*m_pWindow),
      m_dlg(*m_pDlg) {
  m_dlg.m_Hid.m_PinnedPath = Utf8ToUtf16(path);
  m_dlg.AttachWindow(&m_window);
}

void ControllerSession::GuardVersion(bool allowOlder, bool allowReinstall) {
  // Asked on the dialog's thread while the worker waits for the answer: the record and the
  // version word stay as they are meanwhile.
  m_window.m_confirmGuard = [this, allowOlder, allowReinstall] {
    const FirmwareRecordHeader& record = m_dlg.m_recordHeader;
    m_guardRefusal = CheckVersionGuard(record.version, record.beta, m_dlg.m_curDevVersion.load(),
                                       allowOlder, allowReinstall);
    return m_guardRefusal == GuardRefusal::kNone;
  };
}

ControllerSession::~ControllerSession() {
  while (m_dlg.PrepareToClose())
    m_window.RunUpdateEvents(m_dlg);
  if (m_dlg.IsWorkerAbandoned()) {
    // The update thread is stuck in a system call and still points to the dialog and its window:
    // both stay, and the thread goes on alone. The other sessions end in order meanwhile.
    m_dlg.m_worker.detach();
    KeepForLeftBehindWorker(m_pDlg.release(), m_pWindow.release(), m_pWatch.release());
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
  // A box of the start-up (the instructions) is not this update's message.
  m_window.ClearLastMessage();
  m_pWatch->m_watcher = m_bBootLoader ? &m_window : nullptr;
  m_dlg.OnBnClickedUsbUpdate();
  if (!m_dlg.IsUpdateRunning()) {
    m_pWatch->m_watcher = nullptr;
    *message = m_dlg.m_Hid.m_LastError;
    return Result::kFailed;
  }
  m_window.RunUpdateEvents(m_dlg);
  m_pWatch->m_watcher = nullptr;
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

int ControllerSession::ReadBack(const std::function<int()>& read) {
  m_window.SetPhase(Phase::kBackingUp);
  if (!m_dlg.AcquireLink(LINK_READ_BACK))
    return 0;
  int done = 0;
  if (m_dlg.m_Hid.OpenHid())
    done = read();
  else
    m_dlg.SetFailureCause("the controller cannot be opened: " + m_dlg.m_Hid.m_LastError);
  m_dlg.ReleaseLink(LINK_READ_BACK);
  m_window.EndProgressLine();
  return done;
}

int ControllerSession::Verify(CUpdateDlg::ImageCheck* check) {
  m_window.SetPhase(Phase::kVerifying);
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
