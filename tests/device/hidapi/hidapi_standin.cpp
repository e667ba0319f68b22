#include "tests/device/hidapi/hidapi_standin.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "base/wide_string.h"

// The objects hidapi and udev leave opaque to their callers.
struct hid_device_ {
  HidHandle handle = kNoHidHandle;
  std::string path;
  hid_device_info info{};  // what hid_get_device_info answers
};

struct udev {};

struct udev_device {
  std::string sysname;
  std::unique_ptr<udev_device> usbParent;  // owned by the child, as udev's parents are
};

namespace {
std::mutex g_mutex;
VirtualHidPlatform* g_bus = nullptr;
std::set<const void*> g_live;
std::map<std::string, HidOpenResult> g_lastOpenFailure;  // by path
int g_misuses = 0;

VirtualHidPlatform* Bus() {
  std::lock_guard lock(g_mutex);
  return g_bus;
}

template <typename T>
T* HandOut(T* object) {
  std::lock_guard lock(g_mutex);
  g_live.insert(object);
  return object;
}

// Answers true when the object was handed out and not yet given back; counts a misuse otherwise.
bool TakeBack(const void* object) {
  std::lock_guard lock(g_mutex);
  if (g_live.erase(object) == 1)
    return true;
  ++g_misuses;
  return false;
}

// UTF-8 to the UTF-32 wide characters of hidapi on Linux, zero-terminated.
wchar_t* WideCopy(const std::string& text) {
  const std::u16string units = Utf8ToUtf16(text);
  wchar_t* wide = new wchar_t[units.size() + 1];
  size_t out = 0;
  for (size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
    wide[out++] = static_cast<wchar_t>(c);
  }
  wide[out] = L'\0';
  return wide;
}

hid_device_info* NewInfo(const HidInterfaceInfo& itf) {
  hid_device_info* info = new hid_device_info{};
  info->path = new char[itf.path.size() + 1];
  std::memcpy(info->path, itf.path.c_str(), itf.path.size() + 1);
  info->vendor_id = itf.vendorId;
  info->product_id = itf.productId;
  info->serial_number = WideCopy(itf.serial);
  info->bus_type = itf.portPath.empty() ? HID_API_BUS_BLUETOOTH : HID_API_BUS_USB;
  return info;
}

void DeleteInfo(hid_device_info* info) {
  delete[] info->path;
  delete[] info->serial_number;
  delete info;
}

std::string LastPart(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool DeniedForPermission(const std::string& path) {
  std::lock_guard lock(g_mutex);
  auto it = g_lastOpenFailure.find(path);
  return it != g_lastOpenFailure.end() && it->second == HidOpenResult::kAccessDenied;
}
}  // namespace

void InstallHidapiStandIn(VirtualHidPlatform* bus) {
  std::lock_guard lock(g_mutex);
  g_bus = bus;
  g_lastOpenFailure.clear();
}

HidapiStandInTally HidapiStandInTallyNow() {
  std::lock_guard lock(g_mutex);
  return {static_cast<int>(g_live.size()), g_misuses};
}

extern "C" {

int hid_init(void) {
  return 0;
}

int hid_exit(void) {
  return 0;
}

hid_device_info* hid_enumerate(unsigned short vendor_id, unsigned short product_id) {
  VirtualHidPlatform* bus = Bus();
  if (bus == nullptr)
    return nullptr;
  hid_device_info* first = nullptr;
  hid_device_info** next = &first;
  for (const HidInterfaceInfo& itf : bus->Enumerate()) {
    if ((vendor_id != 0 && vendor_id != itf.vendorId) ||
        (product_id != 0 && product_id != itf.productId))
      continue;
    *next = NewInfo(itf);
    next = &(*next)->next;
  }
  return first ? HandOut(first) : nullptr;
}

void hid_free_enumeration(hid_device_info* devs) {
  if (devs == nullptr || !TakeBack(devs))
    return;
  while (devs != nullptr) {
    hid_device_info* next = devs->next;
    DeleteInfo(devs);
    devs = next;
  }
}

hid_device* hid_open_path(const char* path) {
  VirtualHidPlatform* bus = Bus();
  if (bus == nullptr || path == nullptr)
    return nullptr;
  HidOpenResult result = HidOpenResult::kFailed;
  const HidHandle handle = bus->Open(path, &result);
  if (handle == kNoHidHandle) {
    std::lock_guard lock(g_mutex);
    g_lastOpenFailure[path] = result;
    errno = result == HidOpenResult::kAccessDenied ? EACCES : EIO;
    return nullptr;
  }
  {
    std::lock_guard lock(g_mutex);
    g_lastOpenFailure.erase(path);
  }
  hid_device* device = new hid_device{};
  device->handle = handle;
  device->path = path;
  return HandOut(device);
}

void hid_close(hid_device* dev) {
  VirtualHidPlatform* bus = Bus();
  if (dev == nullptr || !TakeBack(dev))
    return;
  if (bus != nullptr)
    bus->Close(dev->handle);
  delete dev;
}

hid_device_info* hid_get_device_info(hid_device* dev) {
  VirtualHidPlatform* bus = Bus();
  if (bus == nullptr || dev == nullptr ||
      !bus->GetAttributes(dev->handle, &dev->info.vendor_id, &dev->info.product_id))
    return nullptr;
  dev->info.path = dev->path.data();
  return &dev->info;
}

// hidraw takes the whole report, its id first, and answers the bytes written.
int hid_write(hid_device* dev, const unsigned char* data, size_t length) {
  VirtualHidPlatform* bus = Bus();
  if (bus == nullptr || dev == nullptr || length > INT_MAX ||
      !bus->Write(dev->handle, data, length))
    return -1;
  return static_cast<int>(length);
}

// An unnumbered input report comes without its id: the 64 payload bytes, cut to the buffer.
// A negative time-out waits without end.
int hid_read_timeout(hid_device* dev, unsigned char* data, size_t length, int milliseconds) {
  VirtualHidPlatform* bus = Bus();
  if (bus == nullptr || dev == nullptr)
    return -1;
  uint8_t payload[64] = {};
  const uint32_t timeout = milliseconds < 0 ? UINT32_MAX : static_cast<uint32_t>(milliseconds);
  switch (bus->Read(dev->handle, payload, timeout)) {
    case HidReadResult::kReport: {
      const size_t count = length < sizeof payload ? length : sizeof payload;
      std::memcpy(data, payload, count);
      return static_cast<int>(count);
    }
    case HidReadResult::kTimeout:
      return 0;
    case HidReadResult::kError:
    case HidReadResult::kNotOpen:
      break;
  }
  return -1;
}

udev* udev_new(void) {
  return HandOut(new udev);
}

udev* udev_unref(udev* context) {
  if (context != nullptr && TakeBack(context))
    delete context;
  return nullptr;
}

udev_device* udev_device_new_from_subsystem_sysname(udev* context, const char* subsystem,
                                                    const char* sysname) {
  VirtualHidPlatform* bus = Bus();
  if (bus == nullptr || context == nullptr || subsystem == nullptr || sysname == nullptr ||
      std::strcmp(subsystem, "hidraw") != 0)
    return nullptr;
  for (const HidInterfaceInfo& itf : bus->Enumerate()) {
    if (LastPart(itf.path) != sysname)
      continue;
    auto* device = new udev_device{sysname, nullptr};
    if (!itf.portPath.empty())
      device->usbParent.reset(new udev_device{itf.portPath, nullptr});
    return HandOut(device);
  }
  return nullptr;
}

udev_device* udev_device_get_parent_with_subsystem_devtype(udev_device* device,
                                                           const char* subsystem,
                                                           const char* devtype) {
  if (device == nullptr || subsystem == nullptr || std::strcmp(subsystem, "usb") != 0 ||
      (devtype != nullptr && std::strcmp(devtype, "usb_device") != 0))
    return nullptr;
  return device->usbParent.get();
}

const char* udev_device_get_sysname(udev_device* device) {
  return device ? device->sysname.c_str() : nullptr;
}

udev_device* udev_device_unref(udev_device* device) {
  if (device != nullptr && TakeBack(device))
    delete device;
  return nullptr;
}

udev_monitor* udev_monitor_new_from_netlink(udev* /*context*/, const char* /*name*/) {
  return nullptr;
}

// The node of an interface refused for permission is not the user's to read or write; the other
// interfaces' nodes are.
int access(const char* path, int mode) noexcept {
  if (DeniedForPermission(path)) {
    errno = EACCES;
    return -1;
  }
  VirtualHidPlatform* bus = Bus();
  if (bus != nullptr && bus->IsPlugged(path))
    return 0;
  return ::faccessat(AT_FDCWD, path, mode, 0);
}

}  // extern "C"
