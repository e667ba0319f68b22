#include "device/hidapi/udev_monitor.h"

#include <libudev.h>

#include <cstring>

std::unique_ptr<UdevMonitor> UdevMonitor::Create() {
  udev* context = udev_new();
  if (context == nullptr)
    return nullptr;
  udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
  if (monitor == nullptr) {
    udev_unref(context);
    return nullptr;
  }
  if (udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    udev_monitor_unref(monitor);
    udev_unref(context);
    return nullptr;
  }
  return std::unique_ptr<UdevMonitor>(new UdevMonitor(context, monitor));
}

UdevMonitor::~UdevMonitor() {
  udev_monitor_unref(m_pMonitor);
  udev_unref(m_pUdev);
}

int UdevMonitor::Descriptor() const {
  return udev_monitor_get_fd(m_pMonitor);
}

int UdevMonitor::ReceiveEvent() {
  // The monitor's socket is non-blocking: with nothing pending this answers null at once.
  udev_device* device = udev_monitor_receive_device(m_pMonitor);
  if (device == nullptr)
    return kNone;
  const char* action = udev_device_get_action(device);
  int event = kNone;
  if (action != nullptr && std::strcmp(action, "add") == 0)
    event = kArrival;
  if (action != nullptr && std::strcmp(action, "remove") == 0)
    event = kRemoveComplete;
  udev_device_unref(device);
  return event;
}
