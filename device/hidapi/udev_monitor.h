// Arrival and removal notices of hidraw interfaces, from a libudev monitor.
#pragma once

#include <memory>

#include "device/hid_platform.h"

struct udev;
struct udev_monitor;

class UdevMonitor : public IDeviceMonitor {
 public:
  // A monitor on subsystem "hidraw", or nullptr when udev cannot give one.
  static std::unique_ptr<UdevMonitor> Create();
  ~UdevMonitor() override;

  int Descriptor() const override;
  // "add" is an arrival, "remove" a removal; other actions answer kNone.
  int ReceiveEvent() override;

 private:
  UdevMonitor(udev* context, udev_monitor* monitor) : m_pUdev(context), m_pMonitor(monitor) {}
  udev* m_pUdev;
  udev_monitor* m_pMonitor;
};
