// CUpdateDlg: the updater's one dialog over one controller. It owns the link, the update worker,
// the stop flag, the controller's version word and the result of the last update, and runs the
// boot-loader session (boot/) or the running firmware's session (appmode/) over the link; it is
// their host (ISessionHost): the firmware selection, the boxes, the progress bar and the title.
// Plain C++: the window system is reached through IWindowSystem only.
//
//   update/update_dlg.cpp      construction, host operations, StopUpdate, RefreshUpdateButton, link
//                              owner, the worker
//   update/dialog.cpp          OnInitDialog, OnBnClickedUsbUpdate, OnDeviceChange, closing
//   update/status_messages.cpp ShowDeviceVersion, ReportUpdateSuccess/Failure
//   update/select_firmware.cpp SelectFirmwareFile
//   update/update_worker.cpp   QueryDeviceVersion, IdentifyBootDevice and the two update threads
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "appmode/app_session.h"
#include "base/local_text.h"
#include "boot/boot_session.h"
#include "device/hid.h"
#include "firmware/firmware_file.h"
#include "firmware/firmware_record.h"
#include "session/session_host.h"
#include "update/window_system.h"

// Who holds the conversation with the controller. Exactly one conversation at a time: the version
// query (dialog thread) and an update thread never use the link together.
constexpr int LINK_FREE = 0;
constexpr int LINK_VERSION_QUERY = 1;
constexpr int LINK_UPDATE = 2;
constexpr int LINK_READ_BACK = 3;  // BootVerifyImage

class CUpdateDlg;

// How an update ended, for a front end: the outcome and, unless done, its cause with context ("no
// answer to the erase at 0x08003400 (20 reads)").
enum class UpdateOutcome {
  kNone,         // no update has ended yet
  kDone,         // the success was reported
  kFailed,       // it could not be completed
  kRefused,      // the file holds no record the controller takes
  kStopped,      // the user stopped it (a confirmed close, Ctrl-C)
  kNothingDone,  // the user chose no file or did not confirm
};
struct UpdateResult {
  UpdateOutcome outcome = UpdateOutcome::kNone;
  std::string cause;
};
// "done", "failed", "refused", "stopped", "nothing done".
const char* UpdateOutcomeText(UpdateOutcome outcome);
// What a window program says of a dialog on stderr when its window has closed, with its name
// before: "tarvix-update: last update failed: no answer to the erase at 0x08003400 (20 reads)";
// empty when no update ran.
std::string LastUpdateLine(const char* program, const UpdateResult& result);

// Thread entries of the two updates; the parameter is the dialog (CUpdateDlg*) they run on.
void Boot_UpdateThread(void* parameter);
void Usb_UpdateThread(void* parameter);

class CUpdateDlg : public CUpdateTransfer, public ISessionHost {
 public:
  using ImageCheck = CBootSession::ImageCheck;

  // seams: the HID platform, the trace sink and the language this dialog runs on.
  explicit CUpdateDlg(const Seams& seams = {});
  virtual ~CUpdateDlg();
  CUpdateDlg(const CUpdateDlg&) = delete;
  CUpdateDlg& operator=(const CUpdateDlg&) = delete;

  // ---- The dialog (update/dialog.cpp) ----
  // Gives the dialog its window; called by the window system before OnInitDialog.
  void AttachWindow(IWindowSystem* window) { m_pWnd = window; }
  int OnInitDialog();
  // The update button. Does nothing while a close waits for the worker.
  void OnBnClickedUsbUpdate();
  int OnDeviceChange(uint32_t event, uintptr_t data);

  // ---- Closing: the front end reports, processes events, and is told when the window may go ----
  // The user asks to close the window. Answers 1 when the window may close now. While an update
  // runs it asks first (TXT_CONFIRM_STOP, OK and Cancel): Cancel answers 0 and the update goes on;
  // OK stops the worker (the stop flag, and the boxes it has open are closed) and answers 0 as
  // well: the dialog calls the window system's EndDialog once the worker has ended, or after
  // kCloseGraceMs when it is stuck in a system call. A request while one is being asked or while
  // a confirmed close waits answers 0 and asks nothing.
  int OnCloseRequested();
  // The close is confirmed: the box's OK, or a front end whose user has asked already (Ctrl-C on a
  // terminal). Answers 1 when no update runs; otherwise stops it as OK does and answers 0.
  int ConfirmClose();
  // The window system's timer (StartTimer).
  void OnTimer(int id);
  // Runs on the dialog's thread once the update thread has ended (the window system carries the
  // worker's end notice there): joins the thread and runs the device change held back meanwhile,
  // or ends the dialog when a close was waiting for it.
  void OnWorkerEnded();
  // For the window's last moments, when it closes whatever the update does: stops a running
  // update and answers 1 while its worker must still be waited for (the caller processes events
  // and asks again; the close timer keeps the events coming); answers 0 once the worker has ended
  // (joined) or was abandoned after kCloseGraceMs, and the dialog has let go of its window.
  int PrepareToClose();
  int IsUpdateRunning() const { return m_nLinkOwner.load() == LINK_UPDATE; }
  int IsClosePending() const { return m_bClosePending.load(); }
  // Answers 1 when a confirmed close gave up waiting for a worker stuck in a system call. That
  // worker still points to the dialog: the program must end without destroying it.
  int IsWorkerAbandoned() const { return m_bWorkerAbandoned.load(); }
  static constexpr uint64_t kCloseGraceMs = 3000;
  static constexpr int kCloseTimerId = 1;
  static constexpr unsigned kCloseTimerMs = 100;
  // The confirmed close is over: the window may go.
  void EndClose();
  // The handling of one device-change event code (7, 0x8000 or 0x8004) with the link free.
  void HandleDeviceChange(int code);

  // ---- The sessions' host (update/update_dlg.cpp) ----
  int StopRequested() const override { return m_bStop.load(); }
  // Lets go of the image (no later message may continue the transfer) and raises the stop flag.
  void StopUpdate() override;
  // Keeps why the update failed for a front end (m_failureCause); the first cause of an update
  // is the one kept.
  void SetFailureCause(const std::string& cause) override;
  void SetDeviceVersion(uint32_t version) override;
  uint32_t DeviceVersion() const override { return m_curDevVersion.load(); }
  // How the update that has just ended ended, from what it left in the dialog.
  UpdateResult ResultOfUpdate() const;
  // Re-detects the controller and enables the button exactly when it is found.
  void RefreshUpdateButton();
  // Shows m_bytesDone as a share of m_imageSize on the progress bar (ProgressPercent). Only a
  // position that differs from the last one this update showed goes out: at most 101 an update.
  void ShowProgress() override;
  void ResetProgress() override { m_nShownProgress = -1; }
  // Takes the link for owner when nobody holds it. Answers 1 on success.
  int AcquireLink(int owner);
  void ReleaseLink(int owner);
  // Starts the update thread (entry = Boot_UpdateThread or Usb_UpdateThread) with the link already
  // held for LINK_UPDATE; when the entry returns, the link is released and the window system is
  // told (NotifyWorkerEnded).
  void StartUpdateThread(void (*entry)(void*));

  // ---- Status and version messages (update/status_messages.cpp) ----
  void ShowDeviceVersion(uint32_t version);
  void ReportUpdateSuccess() override;
  void ReportUpdateFailure() override;
  // A box with the text of textIndex in the format "%s\n", OK only, also traced: the failure and
  // boot-mode messages.
  void ShowTextMessage(int textIndex) override;
  // A modal box owned by the dialog with caption TXT_TITLE; answers IDOK or IDCANCEL.
  int ShowMessageBox(const std::u16string& text, unsigned type);
  // The text of an index in this dialog's language.
  std::u16string LocalText(int index) const { return LoadLocalText(index, m_language); }

  // ---- The conversations (update/update_worker.cpp) ----
  // Asks the controller for its version (the boot loader's identification, or the running
  // firmware's version query) when the link is free.
  void QueryDeviceVersion();
  // The boot loader's identification; prepares the serial mask once the identity was read.
  void IdentifyBootDevice();
  // The boot-mode update on the update thread: the session's sequence, then the report.
  void BootUpdateFirmware();
  // The application-mode update on the update thread: the session's loop, then the button.
  void UsbUpdateLoop();
  // Reads the image back from the boot loader (CBootSession::BootVerifyImage).
  int BootVerifyImage(ImageCheck* check) { return m_boot.BootVerifyImage(check); }

  // ---- Firmware selection (update/select_firmware.cpp) ----
  // Asks for the file, finds and checks its record, asks to confirm the version and reads the
  // record's image into m_image. Answers 1 when the update may go on with it.
  int SelectFirmwareFile() override;
  // Reads the image of the record LoadFirmwareRecord found into m_image, after checking that the
  // file still holds that record. A file that another program holds for a moment (another update
  // reading it) is tried again for up to kHeldFileWaitMs. Answers 1, or 0 with m_failureCause.
  int LoadConfirmedImage();
  static constexpr uint64_t kHeldFileWaitMs = 1000;
  // Finds the record of m_strFirmwarePath for the connected controller (the boot loader's device
  // type; the first record for the running firmware), leaves its values in the dialog and checks
  // it. Answers kNone when the controller takes it, else why not. Asks nothing.
  RecordRefusal LoadFirmwareRecord();

  // ---- The framework's dialog part ----
  IWindowSystem* m_pWnd = nullptr;
  CControl m_btnUpdate{&m_pWnd, IDC_USB_UPDATE};
  CControl m_progress{&m_pWnd, IDC_PROGRESS};
  CControl m_doneLabel{&m_pWnd, IDC_DONE_LABEL};
  CControl m_hint{&m_pWnd, IDC_HINT};

  // ---- Data members, in declaration order ----
  CHid m_Hid;
  // The language of this dialog's texts: given with its seams, else the user's.
  uint16_t m_language = 0;
  // The two conversations the link may carry; the link's m_bBootMode says which one an update
  // runs.
  CBootSession m_boot{m_Hid, *this, *this};
  CAppSession m_app{m_Hid, *this, *this};
  int m_hIcon = 0;                                        // icon resource 152
  RecordRefusal m_recordRefusal = RecordRefusal::kNone;   // the last selection's, for a front end
  FileOpenResult m_fileOpenResult = FileOpenResult::kOk;  // why the file did not open (kCannotOpen)
  std::u16string m_strFirmwarePath;

  // ---- State of the dialog's thread and its update thread, this dialog's own ----
  std::atomic<int> m_bStop{0};               // 1 while no update is to go on
  std::atomic<uint32_t> m_curDevVersion{0};  // the controller's version word
  // 1 once OnInitDialog has set up the controls: the update's progress, label and button reach the
  // window only from then on.
  std::atomic<int> m_bControlsReady{0};

  // ---- Bookkeeping of this implementation ----
  std::atomic<int> m_nLinkOwner{LINK_FREE};
  std::thread m_worker;
  // A device-change event that arrived while an update held the link; handled when it ends.
  std::atomic<int> m_bDeviceChangePending{0};
  // The user confirmed closing while an update ran: the window closes once the worker has ended.
  std::atomic<int> m_bClosePending{0};
  int m_bAskingToClose = 0;         // the confirmation box of a close request is open
  uint64_t m_nCloseDeadlineMs = 0;  // clock-seam time after which a stuck worker is abandoned
  std::atomic<int> m_bWorkerAbandoned{0};
  // The progress position this update showed last; -1 before the first.
  int m_nShownProgress = -1;
  // Why the last update failed, with its context ("no answer to the erase at 0x08003400"), for a
  // front end that can say more than the failure box; empty when it did not fail.
  std::string m_failureCause;
  // The success of this update was reported.
  std::atomic<int> m_bSucceeded{0};
  // How the last update ended: written by its worker before the end notice, read once it ended.
  UpdateResult m_lastResult;
};
