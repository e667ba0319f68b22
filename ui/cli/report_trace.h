// -vv: one line per report between the host and a controller, decoded for a technician: the
// direction, the command, its address and length, the reply code, and the first bytes in hex.
// It sits on the HID seam, around whatever platform the program talks through, and changes nothing
// of what passes.
#pragma once

#include <map>
#include <mutex>

#include "base/trace.h"
#include "device/hid_platform.h"

// The line of one report: toController for an output report (report id first), else an input
// report's payload. bootMode says which protocol the controller speaks.
std::string DescribeReport(bool toController, bool bootMode, const uint8_t* bytes, size_t length);

class ReportTracePlatform : public IHidPlatform {
 public:
  ReportTracePlatform(IHidPlatform& inner, TraceSink sink) : m_inner(inner), m_sink(sink) {}
  std::vector<HidInterfaceInfo> Enumerate() override { return m_inner.Enumerate(); }
  HidHandle Open(const std::string& path, HidOpenResult* result) override;
  bool GetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) override {
    return m_inner.GetAttributes(handle, vendorId, productId);
  }
  bool Write(HidHandle handle, const uint8_t* report, size_t length) override;
  HidReadResult Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) override;
  void Close(HidHandle handle) override;
  std::unique_ptr<IDeviceMonitor> CreateMonitor() override { return m_inner.CreateMonitor(); }
  std::unique_ptr<IControllerLock> LockController(const std::string& path) override {
    return m_inner.LockController(path);
  }
  IClock& Clock() override { return m_inner.Clock(); }
  const char* AccessDeniedText() const override { return m_inner.AccessDeniedText(); }

 private:
  bool IsBoot(HidHandle handle);
  IHidPlatform& m_inner;
  TraceSink m_sink;
  std::mutex m_mutex;
  std::map<HidHandle, bool> m_bootMode;  // by open handle: the boot loader's identity
};
