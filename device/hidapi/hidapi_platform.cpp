#include "device/hidapi/hidapi_platform.h"

#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "device/hidapi/udev_monitor.h"

namespace {
hid_device* Device(HidHandle handle) {
  return reinterpret_cast<hid_device*>(handle);
}

// A held lock file; closing the descriptor releases the flock.
class FileLock : public IControllerLock {
 public:
  explicit FileLock(int fd) : m_fd(fd) {}
  ~FileLock() override {
    if (m_fd >= 0)
      ::close(m_fd);
  }

 private:
  int m_fd;
};

std::string RuntimeFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime && runtime[0] == '/' ? runtime : "/tmp";
}
}  // namespace

HidapiPlatform::HidapiPlatform() {
  hid_init();
}

HidapiPlatform::~HidapiPlatform() {
  hid_exit();
}

std::vector<HidInterfaceInfo> HidapiPlatform::Enumerate() {
  std::vector<HidInterfaceInfo> interfaces;
  std::lock_guard lock(m_globalCallsMutex);
  hid_device_info* list = hid_enumerate(0, 0);
  for (hid_device_info* info = list; info != nullptr; info = info->next) {
    if (info->path == nullptr)
      continue;
    interfaces.push_back({info->path, info->vendor_id, info->product_id});
  }
  hid_free_enumeration(list);
  return interfaces;
}

HidHandle HidapiPlatform::Open(const std::string& path, HidOpenResult* result) {
  std::lock_guard lock(m_globalCallsMutex);
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
  std::string file = RuntimeFolder() + "/" + ControllerLockName(path) + ".lock";
  int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0)
    return std::make_unique<FileLock>(-1);  // advisory only: no lock file, no hold
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    bool held = errno == EWOULDBLOCK;
    ::close(fd);
    return held ? nullptr : std::make_unique<FileLock>(-1);
  }
  return std::make_unique<FileLock>(fd);
}
