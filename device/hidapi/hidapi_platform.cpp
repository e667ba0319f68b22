#include "device/hidapi/hidapi_platform.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <libudev.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/wide_string.h"
#include "device/hidapi/udev_monitor.h"

namespace {
hid_device* Device(HidHandle handle) {
  return reinterpret_cast<hid_device*>(handle);
}

// A held lock file; closing the descriptor releases the flock.
class FileLock : public IControllerLock {
 public:
  explicit FileLock(int fd) : m_fd(fd) {}
  ~FileLock() override { ::close(m_fd); }

 private:
  int m_fd;
};

// The USB port path ("1-2.3": bus 1, port 2, then port 3 of the hub there) of the USB device a
// hidraw node belongs to, as udev names it; empty when udev does not know the node or it is not on
// USB.
std::string UsbPortPath(udev* context, const std::string& hidrawPath) {
  const size_t slash = hidrawPath.rfind('/');
  const std::string node = slash == std::string::npos ? hidrawPath : hidrawPath.substr(slash + 1);
  udev_device* device = udev_device_new_from_subsystem_sysname(context, "hidraw", node.c_str());
  if (device == nullptr)
    return {};
  std::string portPath;
  // The parent is owned by device and goes with it.
  if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device"))
    if (const char* name = udev_device_get_sysname(usb))
      portPath = name;
  udev_device_unref(device);
  return portPath;
}

// A serial number as hidapi gives it (UTF-32 wide characters on Linux), in UTF-8. A value that is
// no character becomes U+FFFD; the length is bounded like a USB string descriptor's.
std::string SerialText(const wchar_t* serial) {
  std::u16string text;
  for (int n = 0; serial != nullptr && serial[n] != L'\0' && n < 127; ++n) {
    const uint32_t c = static_cast<uint32_t>(serial[n]);
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      text += u'\uFFFD';
    } else if (c > 0xFFFF) {
      text += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      text += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      text += static_cast<char16_t>(c);
    }
  }
  return Utf16ToUtf8(text);
}

// hidapi is one library per process: it is set up for the first platform and torn down after the
// last one, so that two platforms (tarvix-flash's and a test's) never pull it from under each
// other. Its enumeration and open keep their last error in one string of the library's: those
// calls go one at a time, whichever platform makes them.
struct HidapiLibrary {
  std::mutex mutex;
  int users = 0;
};

HidapiLibrary& Library() {
  static HidapiLibrary library;
  return library;
}

}  // namespace

HidapiPlatform::HidapiPlatform() {
  std::lock_guard lock(Library().mutex);
  if (Library().users++ == 0)
    hid_init();
}

HidapiPlatform::~HidapiPlatform() {
  std::lock_guard lock(Library().mutex);
  if (--Library().users == 0)
    hid_exit();
}

int HidapiPlatform::LibraryUsers() {
  std::lock_guard lock(Library().mutex);
  return Library().users;
}

std::vector<HidInterfaceInfo> HidapiPlatform::Enumerate() {
  std::vector<HidInterfaceInfo> interfaces;
  std::lock_guard lock(Library().mutex);
  hid_device_info* list = hid_enumerate(0, 0);
  udev* context = udev_new();
  for (hid_device_info* info = list; info != nullptr; info = info->next) {
    if (info->path == nullptr)
      continue;
    interfaces.push_back({info->path, info->vendor_id, info->product_id,
                          SerialText(info->serial_number),
                          context ? UsbPortPath(context, info->path) : std::string()});
  }
  if (context)
    udev_unref(context);
  hid_free_enumeration(list);
  return interfaces;
}

HidHandle HidapiPlatform::Open(const std::string& path, HidOpenResult* result) {
  std::lock_guard lock(Library().mutex);
  hid_device* device = hid_open_path(path.c_str());
  if (device == nullptr) {
    bool denied = ::access(path.c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM);
    *result = denied ? HidOpenResult::kAccessDenied : HidOpenResult::kFailed;
    return kNoHidHandle;
  }
  *result = HidOpenResult::kOk;
  return reinterpret_cast<HidHandle>(device);
}

bool HidapiPlatform::GetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) {
  hid_device_info* info = hid_get_device_info(Device(handle));
  if (info == nullptr)
    return false;
  *vendorId = info->vendor_id;
  *productId = info->product_id;
  return true;
}

bool HidapiPlatform::Write(HidHandle handle, const uint8_t* report, size_t length) {
  int written = hid_write(Device(handle), report, length);
  return written >= 0 && static_cast<size_t>(written) == length;
}

HidReadResult HidapiPlatform::Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) {
  // An unnumbered report arrives without its id byte: its 64 bytes are report positions 1..64.
  unsigned char buffer[64] = {};
  int timeout = timeoutMs > static_cast<uint32_t>(INT_MAX) ? INT_MAX : static_cast<int>(timeoutMs);
  int got = hid_read_timeout(Device(handle), buffer, sizeof buffer, timeout);
  if (got < 0)
    return HidReadResult::kError;
  if (got == 0)
    return HidReadResult::kTimeout;
  std::memcpy(payload64, buffer, sizeof buffer);
  return HidReadResult::kReport;
}

void HidapiPlatform::Close(HidHandle handle) {
  hid_close(Device(handle));
}

std::unique_ptr<IDeviceMonitor> HidapiPlatform::CreateMonitor() {
  return UdevMonitor::Create();
}

std::unique_ptr<IControllerLock> HidapiPlatform::LockController(const std::string& path) {
  // The hold is a flock on the controller's own node, which every process on the system opens
  // (whoever runs it, in whichever session) and nobody can plant: a name of it that is a link
  // holds the node it leads to, as hidapi opens that one. Anything that does not open as a node
  // of its own is no hold: busy.
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) == nullptr)
    return nullptr;
  const int fd = ::open(resolved, O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK);
  if (fd < 0)
    return nullptr;
  struct stat node {};
  if (::fstat(fd, &node) != 0 || S_ISDIR(node.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<FileLock>(fd);
}
