// The HID seam over the system's hidapi (hidraw backend) and a libudev monitor.
#pragma once

#include "device/hid_platform.h"

class HidapiPlatform : public IHidPlatform {
 public:
  HidapiPlatform();
  ~HidapiPlatform() override;

  std::vector<HidInterfaceInfo> Enumerate() override;
  HidHandle Open(const std::string& path, HidOpenResult* result) override;
  bool GetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) override;
  bool Write(HidHandle handle, const uint8_t* report, size_t length) override;
  HidReadResult Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) override;
  void Close(HidHandle handle) override;
  std::unique_ptr<IDeviceMonitor> CreateMonitor() override;
  // A flock on the controller's node itself (path, its links followed), held through a descriptor
  // of its own: one hold for the whole system, whoever runs the program. Null (busy) when it is
  // held, or when the path does not open as a node: an open that fails is never a hold.
  std::unique_ptr<IControllerLock> LockController(const std::string& path) override;
  // How many platforms use hidapi now: it is set up once for all of them, and torn down after
  // the last.
  static int LibraryUsers();
};
