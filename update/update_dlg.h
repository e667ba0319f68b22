// CUpdateDlg: the updater's one dialog. It owns the device link and every piece of update state;
// the update threads reach it, its controls and the update flags through the globals below.
// Plain C++: the window system is reached through IWindowSystem only.
//
// The operations are defined in the folder of the subsystem they belong to:
//   update/update_dlg.cpp      construction, shared state, StopUpdate, RefreshUpdateButton, link
//   owner update/dialog.cpp          OnInitDialog, OnBnClickedUsbUpdate, OnDeviceChange, closing
//   update/status_messages.cpp ShowDeviceVersion, IdentifyBootDevice, ReportUpdateSuccess/Failure
//   boot/boot_protocol.cpp boot-loader packet and commands
//   boot/boot_update.cpp   BootUpdateFirmware, Boot_UpdateThread
//   appmode/app_messages.cpp  messages to and from the running firmware, serial masking
//   appmode/app_update.cpp    QueryDeviceVersion, Usb_UpdateThread, DispatchReport,
//   OnFirmwareMessage firmware/select_firmware.cpp  SelectFirmwareFile
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "appmode/serial_mask.h"
#include "device/hid.h"
#include "firmware/firmware_file.h"
#include "firmware/firmware_record.h"
#include "update/window_system.h"

constexpr uint32_t VERSION_UNKNOWN = 0x5A5A5A5A;
// The version word of a controller whose version area is erased.
constexpr uint32_t kErasedVersionWord = 0xFFFFFFFF;

// Transfer states of the application-mode data requests.
constexpr int STATE_FILE_CHOSEN = 1;
constexpr int STATE_SENDING = 2;
constexpr int STATE_IDLE = 3;

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

class CUpdateDlg {
 public:
  CUpdateDlg();
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

  // ---- Shared update state (update/update_dlg.cpp) ----
  // Lets go of the image (no later message may continue the transfer) and raises the stop flag.
  void StopUpdate();
  // Lets go of the image and the memory it takes.
  void ReleaseImage();
  // Keeps why the update failed for a front end (m_failureCause); the first cause of an update
  // is the one kept.
  void SetFailureCause(const std::string& cause);
  // How the update that has just ended ended, from what it left in the dialog.
  UpdateResult ResultOfUpdate() const;
  // Re-detects the controller and enables the button exactly when it is found.
  void RefreshUpdateButton();
  // Shows m_bytesDone as a share of m_imageSize on the progress bar (ProgressPercent). Only a
  // position that differs from the last one this update showed goes out: at most 101 an update.
  void ShowProgress();
  // Takes the link for owner when nobody holds it. Answers 1 on success.
  int AcquireLink(int owner);
  void ReleaseLink(int owner);
  // Starts the update thread (entry = Boot_UpdateThread or Usb_UpdateThread) with the link already
  // held for LINK_UPDATE; when the entry returns, the link is released and the window system is
  // told (NotifyWorkerEnded).
  void StartUpdateThread(void (*entry)(void*));

  // ---- Status and version messages (update/status_messages.cpp) ----
  void ShowDeviceVersion(uint32_t version);
  void IdentifyBootDevice();
  void ReportUpdateSuccess();
  void ReportUpdateFailure();
  // A box with the text of textIndex in the format "%s\n", OK only, also traced: the failure and
  // boot-mode messages.
  void ShowTextMessage(int textIndex);
  // A modal box owned by the dialog with caption TXT_TITLE; answers IDOK or IDCANCEL.
  int ShowMessageBox(const std::u16string& text, unsigned type);

  // ---- Boot-loader packet and commands (boot/boot_protocol.cpp) ----
  int SendBootPacket(const uint8_t* data, uint32_t length, uint32_t address, uint32_t size,
                     uint16_t command, int withCrc);
  int BootReadMemory(uint8_t* destination, uint32_t length, uint32_t address);
  int BootReadDeviceId(uint8_t* destination, uint32_t length);
  int BootErase(uint32_t address, uint32_t length);
  int BootWrite(const uint8_t* data, uint32_t address, uint32_t length, uint32_t size, int image);
  int BootFinish();
  int BootWriteVersion();

  // ---- Boot-mode update sequence (boot/boot_update.cpp) ----
  void BootUpdateFirmware();

  // ---- Application-mode messages (appmode/app_messages.cpp) ----
  int SendCommand(uint8_t type, uint8_t argument);
  // Both answer 1 when every piece of the packet was written, 0 otherwise.
  int SendFirmwarePacket(uint8_t command, const uint8_t* payload, int length);
  int SendFirmwareData(const uint8_t* chunk, uint32_t count);
  void SendFileInfo();
  void SendAppSerial();
  // body: the identity body, at least 40 readable bytes.
  void ParseDeviceId(const uint8_t* body);
  void PrepareSerialMask();

  // ---- Application-mode update service (appmode/app_update.cpp) ----
  void QueryDeviceVersion();
  // message: the link's m_InReport from byte 1 (63 readable bytes).
  void DispatchReport(const uint8_t* message);
  // body: a type-22 body (message + 4, 59 readable bytes).
  void OnFirmwareMessage(const uint8_t* body);
  void UsbUpdateLoop();  // the body of Usb_UpdateThread
  // Answers 1 from the accepted file selection until the request after the last chunk.
  int IsTransferUnderWay() const;

  // ---- Firmware selection (update/select_firmware.cpp) ----
  // Asks for the file, finds and checks its record, asks to confirm the version and reads the
  // record's image into m_image. Answers 1 when the update may go on with it.
  int SelectFirmwareFile();
  // Reads the image of the record LoadFirmwareRecord found into m_image, after checking that the
  // file still holds that record. A file that another program holds for a moment (another update
  // reading it) is tried again for up to kHeldFileWaitMs. Answers 1, or 0 with m_failureCause.
  int LoadConfirmedImage();
  static constexpr uint64_t kHeldFileWaitMs = 1000;
  // Finds the record of m_strFirmwarePath for the connected controller (the boot loader's device
  // type; the first record for the running firmware), leaves its values in the dialog and checks
  // it. Answers kNone when the controller takes it, else why not. Asks nothing.
  RecordRefusal LoadFirmwareRecord();

  // ---- Read-back of the boot loader's image (boot/boot_verify.cpp) ----
  // What BootVerifyImage found.
  struct ImageCheck {
    enum Outcome { kSame, kDiffers, kNoAnswer, kStopped, kFileUnreadable } outcome = kSame;
    uint32_t address = 0;  // kDiffers, kNoAnswer: the first address that differs or went unread
    uint8_t expected = 0;  // kDiffers: the file's byte
    uint8_t found = 0;     // kDiffers: the controller's byte
  };
  // Reads the image back from the boot loader at m_nBootBaseAddress, up to kBootChunkSize bytes a
  // request (BootReadMemory), and compares it with m_image, moving the progress bar as it goes;
  // where the version area lies inside the image, its word is compared with the record's version
  // word. Needs the link open. Answers 1 when every byte is as written; stops (kStopped) when the
  // update it belongs to is asked to stop.
  int BootVerifyImage(ImageCheck* check);

  // ---- The framework's dialog part ----
  IWindowSystem* m_pWnd = nullptr;
  CControl m_btnUpdate{&m_pWnd, IDC_USB_UPDATE};
  CControl m_progress{&m_pWnd, IDC_PROGRESS};
  CControl m_doneLabel{&m_pWnd, IDC_DONE_LABEL};
  CControl m_hint{&m_pWnd, IDC_HINT};

  // ---- Data members, in declaration order ----
  CHid m_Hid;
  int m_hIcon = 0;  // icon resource 152
  uint8_t m_DataBuf[128] = {};
  // The confirmed record's image, read whole from the file at the confirmation: every transfer
  // works from it, so the file may change or be held by another program meanwhile. Empty when no
  // transfer may use it.
  std::vector<uint8_t> m_image;
  uint32_t m_appSerial[3] = {};
  uint32_t m_serial[3] = {};
  uint32_t m_desVersion = 0;
  uint32_t m_imageSize = 0;
  uint32_t m_targetAddress = 0;
  uint32_t m_bytesDone = 0;
  int32_t m_recordOffset = 0;
  FirmwareRecordHeader m_recordHeader;
  RecordRefusal m_recordRefusal = RecordRefusal::kNone;   // the last selection's, for a front end
  FileOpenResult m_fileOpenResult = FileOpenResult::kOk;  // why the file did not open (kCannotOpen)
  std::u16string m_strFirmwarePath;
  // The serial mask table and the spare table of the same form, from the stored words; the two
  // references name them (swapped by OnInitDialog).
  uint32_t m_SerialMaskTable[kMaskTableWords] = {};
  uint32_t m_SpareMaskTable[kMaskTableWords] = {};
  uint32_t* m_pFirstMaskTable = nullptr;   // sixteen words
  uint32_t* m_pSecondMaskTable = nullptr;  // sixteen words
  // The firmware type of the last identity message (0..255); 1 and 200 are updated here.
  std::atomic<uint32_t> m_nFirmwareType{0};
  uint32_t m_nBootBaseAddress = 0;
  uint32_t m_nBootVersionAddress = 0;
  uint32_t m_nBootIdAddress = 0;
  uint16_t m_productId = 0;
  uint8_t m_productVariant = 0;
  uint32_t m_deviceType = 0;

  // ---- State of the dialog's thread and its update thread, this dialog's own ----
  std::atomic<int> m_bStop{0};               // 1 while no update is to go on
  std::atomic<uint32_t> m_curDevVersion{0};  // the controller's version word
  std::atomic<int> m_nUpdateState{0};        // STATE_FILE_CHOSEN / SENDING / IDLE
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
  // Application mode: this update's transfer has completed (the last chunk went out).
  int m_bTransferComplete = 0;
  // The controller's image may no longer be whole: the erase was sent (boot mode) or a data chunk
  // went out (application mode). A failure from then on tells the user.
  std::atomic<int> m_bImageTouched{0};
  // The image and the version word are whole in the controller: the boot loader acknowledged the
  // version word, or the running firmware was sent the last chunk.
  std::atomic<int> m_bImageComplete{0};
  // Boot mode: read the image back before the finishing command (m_imageCheck tells what it
  // found); m_bVerifying is 1 while it reads.
  int m_bVerifyAfterWrite = 0;
  std::atomic<int> m_bVerifying{0};
  ImageCheck m_imageCheck;
  // Why the last update failed, with its context ("no answer to the erase at 0x08003400"), for a
  // front end that can say more than the failure box; empty when it did not fail.
  std::string m_failureCause;
  // The success of this update was reported.
  std::atomic<int> m_bSucceeded{0};
  // How the last update ended: written by its worker before the end notice, read once it ended.
  UpdateResult m_lastResult;
  // Boot mode: 1 while BootUpdateFirmware runs. The boot-loader commands give up when the stop flag
  // rises only then: the flag is 1 whenever no update runs (the identification, for one).
  std::atomic<int> m_bBootUpdateRunning{0};
};

// The line that tells what a read-back found, e.g. "first difference at 0x08003412 (file 0x5a,
// controller 0x5b)".
std::string ImageCheckText(const CUpdateDlg::ImageCheck& check);
