// The device link: finds the controller among the HID interfaces, opens it, watches for arrival and
// removal, and moves single 65-byte reports with a read time-out. Each dialog has its own, m_Hid,
// on the seams it was given.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <optional>
#include <span>

#include "base/trace.h"
#include "device/device_notify.h"
#include "device/hid_platform.h"

// What one dialog and its link run on: the HID platform (and through it the clock), where the
// protocol trace goes and the language of the texts. Each dialog has its own; nothing of it is
// shared by the process. The caller keeps the platform alive while the dialog lives.
struct Seams {
  IHidPlatform* platform = nullptr;  // null: no controller is ever found
  TraceSink trace;                   // empty: stderr and the debugger
  std::optional<uint16_t> language;  // unset: the user's language (UiLanguage)
};

// A file that also includes <windows.h> gets the system's own name for the handle value, with the
// same value.
#ifndef INVALID_HANDLE_VALUE
constexpr HidHandle INVALID_HANDLE_VALUE = kNoHidHandle;
#endif

constexpr int kReportLength = 65;  // report id + 64 payload bytes, both directions
constexpr int kPayloadLength = 64;

// The payload of an output report (positions 1..64), where the protocols build their requests.
using ReportPayload = std::span<uint8_t, kPayloadLength>;

// The code the protocol trace shows for a read that brought nothing: 0x102 for a time-out, 0x80
// without a read handle, 0xffffffff for a failed read (0 for a report).
uint32_t ReadTraceCode(HidReadResult result);

// Controller identities, tested in this order.
struct ControllerIdentity {
  uint16_t vendorId;
  uint16_t productId;
  int bootMode;  // the value discovery gives the link's m_bBootMode
};
constexpr ControllerIdentity kControllerIdentities[] = {
    {0x0483, 0x5750, 0}, {0x7A3D, 0x5750, 0}, {0x7A3D, 0x3208, 1},  // the boot loader
};

// One controller among the HID interfaces, as ListControllers finds it.
struct ControllerInterface {
  std::string path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  int bootMode = 0;
  HidOpenResult openResult = HidOpenResult::kOk;  // why it could not be opened, or kOk
  std::string serial;                             // HidInterfaceInfo::serial
  std::string portPath;                           // HidInterfaceInfo::portPath
};

// Every controller among the HID interfaces, in enumeration order: those that open, and those
// whose enumerated identity is a controller's but that could not be opened (openResult tells
// why). Leaves nothing open.
std::vector<ControllerInterface> ListControllers(IHidPlatform& platform);

// The text of an open result for a message: "" for kOk. What the user can do about a denied
// access depends on the system: the platform says, when there is one.
const char* OpenResultText(HidOpenResult result, const IHidPlatform* platform);

class CHid {
 public:
  explicit CHid(const Seams& seams = {});
  virtual ~CHid();
  CHid(const CHid&) = delete;
  CHid& operator=(const CHid&) = delete;

  // Searches the HID interfaces for the first controller in enumeration order (only the interface
  // at m_PinnedPath when that is set). Answers 1 and leaves an open handle to it in *handle (the
  // caller closes it), or 0 with the cause in m_nLastOpenResult and m_LastError.
  int FindDevice(HidHandle* handle);
  // Refreshes m_DevicePath, m_bBootMode and m_bDeviceFound; registers for notices on first call.
  // Never leaves the device open. Answers 1 when a controller was found.
  int DetectDevice();
  // Starts the arrival and removal notices for m_hNotifyWnd. Answers 1 when a monitor came back.
  int RegisterDeviceNotify();
  // Takes the controller's hold (kBusy while another conversation has it), opens the write and the
  // read handle on m_DevicePath (closing earlier ones first) and sets the read time-out to 200 ms.
  // Answers 1 on success, else 0 with the cause in m_nLastOpenResult and m_LastError.
  int OpenHid();
  void SetReadTimeout(uint32_t milliseconds);

  // Builds the report in m_OutReport (id 0, then count payload bytes) and writes all 65 bytes.
  // Answers nonzero when the platform took the report, 0 otherwise (also without a write handle).
  int WriteHid(const uint8_t* source, uint8_t count);
  // The payload of m_OutReport, for a request built in place: a builder writes the bytes it sends
  // and no others, so that the positions after them keep what the previous report left there.
  ReportPayload OutPayload() { return ReportPayload(m_OutReport + 1, kPayloadLength); }
  // Writes m_OutReport as it stands, with report id 0, to the controller: a request built in
  // place. Answers as WriteHid.
  int WriteOutReport();
  // Waits up to m_nReadTimeout ms for one report and copies its positions 1..count to the
  // destination. Answers kReport with a report, else kTimeout, kNotOpen (no read handle, at once)
  // or kError (the read failed), leaving the destination untouched. A read of all 64 bytes lands
  // straight in the destination.
  HidReadResult ReadHid(uint8_t* destination, uint8_t count);
  // A protocol's read: the whole payload, straight into m_InReport.
  HidReadResult ReadHid() { return ReadHid(m_InReport, kPayloadLength); }

  // The output report of both protocols, this link's own. Never cleared: a write of n payload
  // bytes replaces positions 0..n only, later positions go out again with what the previous report
  // of this link left there (zero before its first report).
  uint8_t m_OutReport[kReportLength] = {};
  // The payload of the last input report a protocol read on this link: byte i is input report
  // position i + 1.
  uint8_t m_InReport[kPayloadLength] = {};
  // 1 when the last successful discovery found the boot loader, 0 for the running firmware.
  std::atomic<int> m_bBootMode{0};
  IDeviceNotifySink* m_hNotifyWnd = nullptr;  // receives the arrival and removal notices
  std::atomic<int> m_bDeviceFound{0};
  HidHandle m_hWriteHandle = kNoHidHandle;
  HidHandle m_hReadHandle = kNoHidHandle;
  std::u16string m_DevicePath;
  std::atomic<uint32_t> m_nReadTimeout{10};
  int m_bNotifyRegistered = 0;
  std::unique_ptr<IDeviceMonitor> m_hDevNotify;
  // When set, discovery looks at this interface only: a front end that was told which controller
  // to use. Empty (the dialog): the first controller in enumeration order.
  std::u16string m_PinnedPath;
  // Why the last discovery found nothing or the last open failed, as hidapi's hid_error tells it:
  // kOk and "" after a success.
  HidOpenResult m_nLastOpenResult = HidOpenResult::kOk;
  std::string m_LastError;
  // Ends the conversation OpenHid began: lets go of the controller's hold (the handles stay).
  void EndConversation() { m_lock.reset(); }
  // The platform this link runs on (null: none) and the time of its world.
  IHidPlatform* Platform() const { return m_pPlatform; }
  IClock& Clock() const { return m_pPlatform ? m_pPlatform->Clock() : TheSystemClock(); }
  // A line of this link's protocol trace (TraceTo its sink).
  void Trace(const char* format, ...) const __attribute__((format(printf, 2, 3)));
  const TraceSink& TraceSinkOf() const { return m_traceSink; }

 private:
  // The hold on the controller for the conversation under way (OpenHid to EndConversation).
  std::unique_ptr<IControllerLock> m_lock;
  IHidPlatform* m_pPlatform = nullptr;
  TraceSink m_traceSink;
  void SetLastError(HidOpenResult result, const char* text);
  void CloseHandles();
};
