// The HID seam: everything the device link needs of the operating system's HID stack.
// The real implementation sits on hidapi (device/hidapi/hidapi_platform.h); the virtual controller
// (emulator/) implements it for tests and the demo. The device link knows only this interface.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "device/controller_lock.h"
#include "device/device_notify.h"

// An open HID interface. Values are chosen by the platform; kNoHidHandle means "not open".
using HidHandle = intptr_t;
constexpr HidHandle kNoHidHandle = -1;

// One HID interface as the enumeration lists it.
struct HidInterfaceInfo {
  std::string path;       // platform path, e.g. "/dev/hidraw3"
  uint16_t vendorId = 0;  // as enumerated (used only to explain an access-denied open)
  uint16_t productId = 0;
  std::string serial;    // the USB serial number, when the device has one
  std::string portPath;  // where it is plugged: bus-port like "1-2.3"; empty when unknown
};

enum class HidOpenResult { kOk, kAccessDenied, kFailed, kBusy };

// What one read brought: a report, nothing within the time-out, or a failure (the controller is
// gone). kNotOpen is the device link's own answer when it has no read handle; a platform's Read
// never answers it.
enum class HidReadResult { kReport, kTimeout, kError, kNotOpen };

class IHidPlatform {
 public:
  virtual ~IHidPlatform() = default;

  // The present HID interfaces, in the platform's enumeration order.
  virtual std::vector<HidInterfaceInfo> Enumerate() = 0;
  // Opens an interface path for reading and writing. *result says why an open failed.
  virtual HidHandle Open(const std::string& path, HidOpenResult* result) = 0;
  // Reads vendor and product of an open interface; false when the attributes cannot be read.
  virtual bool GetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) = 0;
  // Writes one whole report (report id first). Answers true when the platform took all of it.
  virtual bool Write(HidHandle handle, const uint8_t* report, size_t length) = 0;
  // Waits up to timeoutMs for one input report and copies its payload (the bytes after the report
  // id, at most 64) to payload64. The payload's unused tail is zero. payload64 is written only
  // when the answer is kReport: the device link reads straight into its input report, which a
  // failed read must leave as it was.
  virtual HidReadResult Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) = 0;
  virtual void Close(HidHandle handle) = 0;
  // Starts watching HID arrival and removal; nullptr when the platform cannot.
  virtual std::unique_ptr<IDeviceMonitor> CreateMonitor() = 0;
  // Takes the advisory hold on the controller at path for one conversation, without waiting; null
  // while another conversation holds it. The default holds within this platform object only.
  virtual std::unique_ptr<IControllerLock> LockController(const std::string& path) {
    return m_locks.TryLock(path);
  }
  // The time of this platform's world: the read time-outs pass in it. The system's clock; the
  // virtual controller's may be a virtual one.
  virtual IClock& Clock() { return TheSystemClock(); }
  // A controller whose open answered kAccessDenied, and what the user can do about it (one line).
  virtual const char* AccessDeniedText() const {
    return "access denied; install the udev rule to use the controller without root";
  }

 private:
  ControllerLockTable m_locks;
};
