// The device-notification seam: arrival and removal notices of HID interfaces, and whoever
// receives them. The device link creates the monitor and hands it to its notification sink (the
// dialog's window system), which delivers the notices to the dialog on its own thread.
#pragma once

// Arrival and removal notices of HID interfaces. The monitor owns a file descriptor that becomes
// readable when a notice is pending, so an event loop can watch it without polling.
class IDeviceMonitor {
 public:
  static constexpr int kArrival = 0x8000;         // an interface arrived
  static constexpr int kRemoveComplete = 0x8004;  // an interface is gone
  static constexpr int kNone = 0;  // nothing (more) pending, or an event of no interest

  virtual ~IDeviceMonitor() = default;
  // Descriptor to watch for readability; -1 when the monitor has none.
  virtual int Fd() const = 0;
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
