// The HID seam on Windows: SetupAPI lists the HID interfaces, hid.dll tells their identity, and
// the reports move through overlapped ReadFile and WriteFile on the interface's path. Arrival and
// removal come to the dialog's window as WM_DEVICECHANGE after RegisterDeviceNotification.
#pragma once

#include <map>
#include <mutex>

#include "device/hid_platform.h"
#include "device/win32/win32_hid_api.h"

class Win32HidPlatform : public IHidPlatform {
 public:
  explicit Win32HidPlatform(const Win32HidApi& api = Win32HidApi::System()) : m_api(api) {}
  ~Win32HidPlatform() override;

  // Every present HID interface, with the vendor and product hid.dll tells for it (0 when it cannot
  // be asked). Under Wine the list always holds a virtual mouse and keyboard (vendor 0x845E).
  std::vector<HidInterfaceInfo> Enumerate() override;
  // ERROR_ACCESS_DENIED (an interface the system keeps for itself, or one another program holds)
  // is kAccessDenied, as for Linux.
  HidHandle Open(const std::string& path, HidOpenResult* result) override;
  bool GetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) override;
  // Writes the whole report and waits for it to go out, at most kWriteTimeoutMs.
  bool Write(HidHandle handle, const uint8_t* report, size_t length) override;
  // One overlapped read of up to 65 bytes, waited for timeoutMs; a time-out cancels it. The bytes
  // after the report id become the payload; a short report leaves the tail zero.
  HidReadResult Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) override;
  void Close(HidHandle handle) override;
  // A monitor that registers the dialog's window for the HID class (IDeviceMonitor::WatchWindow).
  std::unique_ptr<IDeviceMonitor> CreateMonitor() override;
  // A named semaphore per controller in the session's namespace ("Local\\tarvix-update-..."):
  // every program of ours in the session sees it. Where none can be made the conversation goes on
  // without one.
  std::unique_ptr<IControllerLock> LockController(const std::string& path) override;
  // Windows lets every user open a HID device: a refusal means it is someone else's.
  const char* AccessDeniedText() const override {
    return "access denied; another program has the controller open; close it and plug the "
           "controller in again";
  }

  static constexpr DWORD kWriteTimeoutMs = 1000;
  static constexpr DWORD kReportBytes = 65;  // report id and 64 bytes

 private:
  struct Device {
    HANDLE file;
    HANDLE readEvent;
    HANDLE writeEvent;
  };
  // Answers false when the handle is not open.
  bool Find(HidHandle handle, Device* device);

  const Win32HidApi& m_api;
  std::mutex m_mutex;
  std::map<HidHandle, Device> m_devices;
  HidHandle m_nextHandle = 1;
};
