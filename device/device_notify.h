// The device-notification seam: arrival and removal notices of HID interfaces, and whoever
// receives them. The device link creates the monitor and hands it to its notification sink (the
// dialog's window system), which delivers the notices to the dialog on its own thread.
#pragma once

#include <cstdint>
#include <functional>

// Arrival and removal notices of HID interfaces. A monitor tells that a notice is pending in one of
// three ways, and the window system uses the first one the monitor offers:
//   - a descriptor that becomes readable (Descriptor(): the udev monitor's socket on Linux);
//   - a wake-up call from any thread (SetWakeUp: the virtual controller, on every system);
//   - the window system's own window notices (WatchWindow: RegisterDeviceNotification on Windows,
//     whose WM_DEVICECHANGE the window system hands to the dialog itself).
// No monitor is required to offer more than one, and none to offer a descriptor.
class IDeviceMonitor {
 public:
  static constexpr int kArrival = 0x8000;         // an interface arrived
  static constexpr int kRemoveComplete = 0x8004;  // an interface is gone
  static constexpr int kNone = 0;  // nothing (more) pending, or an event of no interest

  virtual ~IDeviceMonitor() = default;
  // A POSIX descriptor to watch for readability; -1 when the monitor has none.
  virtual int Descriptor() const { return -1; }
  // Asks the monitor to call wake, from any thread, each time a notice becomes pending; an empty
  // function stops the calls (once this returns, no call is running or will start). Answers false
  // when the monitor cannot wake anyone. wake must not call back into the monitor: it only asks
  // the window system's thread to drain it with ReceiveEvent.
  virtual bool SetWakeUp(std::function<void()> /*wake*/) { return false; }
  // Registers a native window (a Windows HWND) for the system's device notices; 0 unregisters.
  // Answers false when the monitor does not work through window notices.
  virtual bool WatchWindow(intptr_t /*window*/) { return false; }
  // Takes one pending notice and answers its event code (kArrival, kRemoveComplete), or kNone.
  // Never blocks.
  virtual int ReceiveEvent() = 0;
};

// What the device link needs to register for arrival and removal: a sink that starts and stops
// watching a monitor. The monitor stays the link's; the sink lets go of it before it is destroyed.
class IDeviceNotifySink {
 public:
  virtual ~IDeviceNotifySink() = default;
  virtual void WatchDeviceMonitor(IDeviceMonitor* monitor) = 0;
  virtual void UnwatchDeviceMonitor(IDeviceMonitor* monitor) = 0;
};
