// CUpdateRun: one controller's conversation, whatever front end drives it. It owns the link, the
// boot-loader session (boot/) and the running firmware's session (appmode/), the transfer they
// share, the stop flag, the controller's version word and the result of the last update; it is
// the sessions' host (ISessionHost). What the user sees and answers goes to an observer
// (IUpdateObserver): the dialog's adapter (CUpdateDlg), the terminal of tarvix-flash, the page.
//
//   update/update_run.cpp      the host operations, the result, the link owner, the worker
//   update/select_firmware.cpp SelectFirmwareFile, the version guard
//   update/update_worker.cpp   QueryDeviceVersion, IdentifyBootDevice and the two updates
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "appmode/app_session.h"
#include "base/local_text.h"
#include "boot/boot_session.h"
#include "device/hid.h"
#include "firmware/firmware_file.h"
#include "firmware/firmware_record.h"
#include "session/session_host.h"

// Who holds the conversation with the controller. Exactly one conversation at a time: the version
// query (dialog thread) and an update thread never use the link together.
constexpr int LINK_FREE = 0;
constexpr int LINK_VERSION_QUERY = 1;
constexpr int LINK_UPDATE = 2;
constexpr int LINK_READ_BACK = 3;  // BootVerifyImage

// How an update ended.
enum class UpdateOutcome {
  kNone,         // no update has ended yet
  kDone,         // the success was reported
  kFailed,       // it could not be completed
  kRefused,      // the file holds no record the controller takes
  kStopped,      // the front end stopped it (a confirmed close, Ctrl-C)
  kNothingDone,  // no file was chosen, or the version was not confirmed
};
// Why, in the words a front end maps to its own (tarvix-flash's JSON causes, its exit codes).
enum class UpdateCause {
  kNone,            // done, or nothing to tell
  kDeclined,        // nothing done: the confirmation was answered no
  kOlder,           // nothing done: the version guard kept a newer version
  kSameVersion,     // nothing done: the version guard kept the same version
  kRecordRefused,   // refused: UpdateResult::refusal tells why
  kNoBackup,        // failed: the backup before the erase was not made; nothing was erased
  kNothingWritten,  // failed or stopped before anything of the image went out
  kImageTouched,    // failed or stopped with the controller's image no longer whole
  kReadBack,        // stopped during the read-back
  kFinishing,       // stopped with the image and version in place, before the finish
  kVerifyDiffers,   // failed: the image was written whole but reads back otherwise
  kVerifyNoAnswer,  // failed: a read of the read-back was not answered
  kVerifyStopped,   // failed: the read-back was stopped
  kFileUnreadable,  // failed: the firmware file could not be read for the read-back
};
// The one result of an update: its outcome, its cause and the cause's context ("no answer to the
// erase at 0x08003400 (20 reads)"), with the record refusal or the version guard's figures where
// the cause names them.
struct UpdateResult {
  UpdateOutcome outcome = UpdateOutcome::kNone;
  UpdateCause why = UpdateCause::kNone;
  std::string cause;  // the context, in English; empty when done
  RecordRefusal refusal = RecordRefusal::kNone;
  uint32_t deviceVersion = VERSION_UNKNOWN;  // the controller's version word at the confirmation
  FirmwareRecordHeader record;               // the record chosen, for kOlder and kSameVersion
};
// "done", "failed", "refused", "stopped", "nothing done".
const char* UpdateOutcomeText(UpdateOutcome outcome);
// What a window program says of a dialog on stderr when its window has closed, with its name
// before: "tarvix-update: last update failed: no answer to the erase at 0x08003400 (20 reads)";
// empty when no update ran.
std::string LastUpdateLine(const char* program, const UpdateResult& result);

// The confirmation of record against the controller's version word, in language:
// "<new firmware> 1.38[ beta2] <current is> 1.37[ beta1]\n", only the new version when the
// controller gave no version or an erased one.
std::u16string ConfirmationText(const FirmwareRecordHeader& header, uint32_t deviceVersion,
                                uint16_t language);

// Why the version guard kept a controller as it is.
enum class GuardRefusal { kNone, kOlder, kSame };
// Whether a record of version and beta may replace the controller's version word: an older one
// needs allowOlder, the same one allowReinstall; an unknown or erased word needs neither. A
// release ranks above every beta of its version, as the confirmation shows them.
GuardRefusal CheckVersionGuard(uint16_t version, uint16_t beta, uint32_t current, bool allowOlder,
                               bool allowReinstall);

// What an update is asked to do.
struct UpdateRequest {
  // The firmware file; empty: the observer is asked for one (ChooseFirmwareFile).
  std::u16string firmwarePath;
  // Read a boot loader's image back before it is told to finish.
  bool verify = false;
  // The version guard: a dialog asks its user, who may take any version.
  bool allowOlder = true;
  bool allowReinstall = true;
  // Called after the confirmation and before the erase (a backup of what the erase destroys);
  // answering 0 ends the update with nothing erased, its own cause kept (SetFailureCause).
  std::function<int(CBootSession&)> beforeErase;
};

// What a run tells the front end that drives it. Called on the thread the conversation runs on
// (the worker during an update); an implementation carries what it must to its own thread.
class IUpdateObserver {
 public:
  virtual ~IUpdateObserver() = default;
  // A boot-loader update entered a phase (only forward, once each).
  virtual void OnPhase(UpdatePhase /*phase*/) {}
  // The share of the image transferred or read back, 0..100, when it changes.
  virtual void OnProgress(int percent) = 0;
  // The firmware file when the request names none: false when none was chosen.
  virtual bool ChooseFirmwareFile(std::u16string* path) = 0;
  // The confirmation of the new version against the controller's: true goes on.
  virtual bool Confirm(const std::u16string& text) = 0;
  // A message the user acknowledges: success, failure, the boot-mode hint, the instructions.
  virtual void Notice(const std::u16string& text) = 0;
  // The controller told its version word.
  virtual void OnDeviceVersion(uint32_t version) = 0;
  // The success was told (after its notice).
  virtual void OnSucceeded() {}
  // Whether an update can be started now: the controller is there and no update runs.
  virtual void OnUpdatePossible(bool /*possible*/) {}
  // The update's worker has ended with result; its last call, from the worker.
  virtual void OnEnded(const UpdateResult& /*result*/) {}
};

class CUpdateRun : public CUpdateTransfer, public ISessionHost {
 public:
  using ImageCheck = CBootSession::ImageCheck;

  // seams: the HID platform, the trace sink and the language this run's texts take.
  explicit CUpdateRun(const Seams& seams = {}, IUpdateObserver* observer = nullptr);
  ~CUpdateRun() override;
  CUpdateRun(const CUpdateRun&) = delete;
  CUpdateRun& operator=(const CUpdateRun&) = delete;

  void SetObserver(IUpdateObserver* observer) { m_pObserver = observer; }

  // ---- The update ----
  // Takes the link for the update and opens it, and starts the worker with request. Answers 1
  // when the worker runs (its observer's OnEnded ends it), 0 when the link is held or does not
  // open (m_Hid.m_LastError says why).
  int Start(const UpdateRequest& request);
  // Starts the worker with request, the link already held for LINK_UPDATE and open.
  void Launch(const UpdateRequest& request);
  // The update on the calling thread, with the link already held for LINK_UPDATE and open: the
  // boot loader's sequence or the running firmware's loop, then the result.
  UpdateResult RunUpdate(const UpdateRequest& request);
  // A front end stops the update (a confirmed close, Ctrl-C): the result is kStopped.
  void RequestStop();
  int IsUpdateRunning() const { return m_nLinkOwner.load() == LINK_UPDATE; }
  // Joins a worker that has ended; detaches one left behind (it keeps this run).
  void JoinWorker();
  void AbandonWorker();
  int HasWorker() const { return m_worker.joinable(); }
  // Starts a worker on entry with the link already held for LINK_UPDATE; when it returns the
  // result is kept, the link released and the observer told (OnEnded).
  void StartUpdateThread(void (*entry)(void*));

  // ---- The sessions' host ----
  int StopRequested() const override { return m_bStop.load(); }
  void StopUpdate() override;
  void SetFailureCause(const std::string& cause) override;
  void SetDeviceVersion(uint32_t version) override;
  uint32_t DeviceVersion() const override { return m_curDevVersion.load(); }
  // Tells the observer m_bytesDone as a share of m_imageSize (ProgressPercent) when it differs
  // from the last share this update told: at most 101 an update.
  void ShowProgress() override;
  void ResetProgress() override { m_nShownProgress = -1; }
  void EnterPhase(UpdatePhase phase) override;
  void ReportUpdateSuccess() override;
  void ReportUpdateFailure() override;
  // The text of textIndex with "\n", traced and told as a notice.
  void ShowTextMessage(int textIndex) override;
  int SelectFirmwareFile() override;

  // How the update that has just ended ended, from what it left in the run.
  UpdateResult ResultOfUpdate() const;
  // Re-detects the controller and tells the observer whether an update can start.
  void RefreshUpdateButton();
  // Takes the link for owner when nobody holds it. Answers 1 on success.
  int AcquireLink(int owner);
  void ReleaseLink(int owner);
  std::u16string LocalText(int index) const { return LoadLocalText(index, m_language); }

  // ---- The conversations (update/update_worker.cpp) ----
  void QueryDeviceVersion();
  void IdentifyBootDevice();
  void BootUpdateFirmware();
  void UsbUpdateLoop();
  int BootVerifyImage(ImageCheck* check) { return m_boot.BootVerifyImage(check); }

  // ---- Firmware selection (update/select_firmware.cpp) ----
  // Reads the image of the record LoadFirmwareRecord found into m_image, after checking that the
  // file still holds that record. A file that another program holds for a moment is tried again
  // for up to kHeldFileWaitMs. Answers 1, or 0 with m_failureCause.
  int LoadConfirmedImage();
  static constexpr uint64_t kHeldFileWaitMs = 1000;
  // Finds the record of m_strFirmwarePath for the connected controller, leaves its values in the
  // transfer and checks it. Answers kNone when the controller takes it, else why not.
  RecordRefusal LoadFirmwareRecord();

  // ---- The run's parts: the link, its language, its sessions and what the last update left ----
  CHid m_Hid;
  uint16_t m_language = 0;
  CBootSession m_boot{m_Hid, *this, *this};
  CAppSession m_app{m_Hid, *this, *this};
  RecordRefusal m_recordRefusal = RecordRefusal::kNone;
  FileOpenResult m_fileOpenResult = FileOpenResult::kOk;
  std::u16string m_strFirmwarePath;
  std::atomic<int> m_bStop{0};               // 1 while no update is to go on
  std::atomic<uint32_t> m_curDevVersion{0};  // the controller's version word
  std::atomic<int> m_nLinkOwner{LINK_FREE};
  std::thread m_worker;
  int m_nShownProgress = -1;
  std::string m_failureCause;
  std::atomic<int> m_bSucceeded{0};
  // How the last update ended: written by its worker before OnEnded, read once it ended.
  UpdateResult m_lastResult;

 private:
  void BeginUpdate(const UpdateRequest& request);

  IUpdateObserver* m_pObserver = nullptr;
  UpdateRequest m_request;
  std::atomic<int> m_bStopRequested{0};
  int m_bBeforeEraseDone = 0;  // the request's beforeErase answered 1
  GuardRefusal m_guardRefusal = GuardRefusal::kNone;
  uint32_t m_versionAtConfirmation = VERSION_UNKNOWN;
  UpdatePhase m_phase = UpdatePhase::kNone;
};

// Thread entries of the two updates; the parameter is the run (CUpdateRun*).
void Boot_UpdateThread(void* parameter);
void Usb_UpdateThread(void* parameter);
