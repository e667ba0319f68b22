#include "device/win32/win32_hid_platform.h"

#include <dbt.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/wide_string.h"

namespace {

constexpr DWORD kShareBoth = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::wstring Wide(const std::string& utf8) {
  std::u16string text = Utf8ToUtf16(utf8);
  return std::wstring(text.begin(), text.end());
}

std::string Utf8(const wchar_t* wide) {
  std::u16string text;
  for (; *wide != L'\0'; ++wide)
    text.push_back(static_cast<char16_t>(*wide));
  return Utf16ToUtf8(text);
}

// The system's notices of HID interfaces for one window. The notices themselves reach the window
// as WM_DEVICECHANGE, which the window system hands to the dialog: nothing waits here.
class Win32DeviceMonitor : public IDeviceMonitor {
 public:
  Win32DeviceMonitor(const Win32HidApi& api, const GUID& hidClass)
      : m_api(api), m_hidClass(hidClass) {}
  ~Win32DeviceMonitor() override { WatchWindow(0); }

  bool WatchWindow(intptr_t window) override {
    if (m_registration != nullptr) {
      m_api.unregisterNotification(m_registration);
      m_registration = nullptr;
    }
    if (window == 0)
      return true;
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = m_hidClass;
    m_registration = m_api.registerNotification(reinterpret_cast<HANDLE>(window), &filter,
                                                DEVICE_NOTIFY_WINDOW_HANDLE);
    return m_registration != nullptr;
  }
  int ReceiveEvent() override { return kNone; }

 private:
  const Win32HidApi& m_api;
  GUID m_hidClass;
  HDEVNOTIFY m_registration = nullptr;
};

}  // namespace

Win32HidPlatform::~Win32HidPlatform() {
  for (const auto& [handle, device] : m_devices) {
    m_api.closeHandle(device.file);
    m_api.closeHandle(device.readEvent);
    m_api.closeHandle(device.writeEvent);
  }
}

std::vector<HidInterfaceInfo> Win32HidPlatform::Enumerate() {
  std::vector<HidInterfaceInfo> interfaces;
  GUID hidClass;
  m_api.getHidGuid(&hidClass);
  HDEVINFO set =
      m_api.getClassDevs(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE)
    return interfaces;
  SP_DEVICE_INTERFACE_DATA item = {};
  item.cbSize = sizeof item;
  for (DWORD index = 0; m_api.enumInterfaces(set, nullptr, &hidClass, index, &item); ++index) {
    // The first call tells the size of the detail (the path), the second fills it.
    DWORD required = 0;
    m_api.getInterfaceDetail(set, &item, nullptr, 0, &required, nullptr);
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
      continue;
    std::vector<uint8_t> storage(required + sizeof(wchar_t), 0);
    auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!m_api.getInterfaceDetail(set, &item, detail, required, nullptr, nullptr))
      continue;
    HidInterfaceInfo info;
    info.path = Utf8(detail->DevicePath);
    // Asking the identity needs no access rights: keyboards and mice, which the system keeps for
    // itself, tell theirs too.
    HANDLE query =
        m_api.createFile(detail->DevicePath, 0, kShareBoth, nullptr, OPEN_EXISTING, 0, nullptr);
    if (query != INVALID_HANDLE_VALUE) {
      HIDD_ATTRIBUTES attributes = {};
      attributes.Size = sizeof attributes;
      if (m_api.getAttributes(query, &attributes)) {
        info.vendorId = attributes.VendorID;
        info.productId = attributes.ProductID;
      }
      m_api.closeHandle(query);
    }
    interfaces.push_back(info);
  }
  m_api.destroyInfoList(set);
  return interfaces;
}

HidHandle Win32HidPlatform::Open(const std::string& path, HidOpenResult* result) {
  HANDLE file = m_api.createFile(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareBoth,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    bool denied = m_api.getLastError() == ERROR_ACCESS_DENIED;
    if (result)
      *result = denied ? HidOpenResult::kAccessDenied : HidOpenResult::kFailed;
    return kNoHidHandle;
  }
  // Manual-reset events: ReadFile and WriteFile reset them as each operation starts.
  Device device = {file, m_api.createEvent(nullptr, TRUE, FALSE, nullptr),
                   m_api.createEvent(nullptr, TRUE, FALSE, nullptr)};
  if (device.readEvent == nullptr || device.writeEvent == nullptr) {
    for (HANDLE h : {device.file, device.readEvent, device.writeEvent}) {
      if (h != nullptr)
        m_api.closeHandle(h);
    }
    if (result)
      *result = HidOpenResult::kFailed;
    return kNoHidHandle;
  }
  std::lock_guard<std::mutex> lock(m_mutex);
  HidHandle handle = m_nextHandle++;
  m_devices[handle] = device;
  if (result)
    *result = HidOpenResult::kOk;
  return handle;
}

bool Win32HidPlatform::Find(HidHandle handle, Device* device) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_devices.find(handle);
  if (it == m_devices.end())
    return false;
  *device = it->second;
  return true;
}

bool Win32HidPlatform::GetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) {
  Device device;
  if (!Find(handle, &device))
    return false;
  HIDD_ATTRIBUTES attributes = {};
  attributes.Size = sizeof attributes;
  if (!m_api.getAttributes(device.file, &attributes))
    return false;
  *vendorId = attributes.VendorID;
  *productId = attributes.ProductID;
  return true;
}

bool Win32HidPlatform::Write(HidHandle handle, const uint8_t* report, size_t length) {
  Device device;
  if (!Find(handle, &device) || length > kReportBytes)
    return false;
  OVERLAPPED overlapped = {};
  overlapped.hEvent = device.writeEvent;
  DWORD written = 0;
  if (!m_api.writeFile(device.file, report, static_cast<DWORD>(length), nullptr, &overlapped)) {
    if (m_api.getLastError() != ERROR_IO_PENDING)
      return false;  // unplugged, or the report was refused
    if (m_api.waitForSingleObject(device.writeEvent, kWriteTimeoutMs) != WAIT_OBJECT_0) {
      m_api.cancelIo(device.file);
      m_api.getOverlappedResult(device.file, &overlapped, &written, TRUE);
      return false;
    }
  }
  if (!m_api.getOverlappedResult(device.file, &overlapped, &written, FALSE))
    return false;
  return written == length;
}

HidReadResult Win32HidPlatform::Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) {
  Device device;
  if (!Find(handle, &device))
    return HidReadResult::kError;
  uint8_t buffer[kReportBytes] = {};
  OVERLAPPED overlapped = {};
  overlapped.hEvent = device.readEvent;
  DWORD got = 0;
  if (!m_api.readFile(device.file, buffer, kReportBytes, nullptr, &overlapped)) {
    if (m_api.getLastError() != ERROR_IO_PENDING)
      return HidReadResult::kError;  // the controller is gone
    DWORD wait = m_api.waitForSingleObject(device.readEvent, timeoutMs);
    if (wait == WAIT_TIMEOUT) {
      // Nothing came: take the read back. A report that arrived meanwhile is still a report.
      m_api.cancelIo(device.file);
      if (!m_api.getOverlappedResult(device.file, &overlapped, &got, TRUE))
        return HidReadResult::kTimeout;
    } else if (wait != WAIT_OBJECT_0) {
      m_api.cancelIo(device.file);
      m_api.getOverlappedResult(device.file, &overlapped, &got, TRUE);
      return HidReadResult::kError;
    }
  }
  if (!m_api.getOverlappedResult(device.file, &overlapped, &got, FALSE))
    return HidReadResult::kError;  // the read failed: unplugged while it waited
  std::memset(payload64, 0, kReportBytes - 1);
  if (got > 1)
    std::memcpy(payload64, buffer + 1, std::min<DWORD>(got, kReportBytes) - 1);
  return HidReadResult::kReport;
}

void Win32HidPlatform::Close(HidHandle handle) {
  Device device;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_devices.find(handle);
    if (it == m_devices.end())
      return;
    device = it->second;
    m_devices.erase(it);
  }
  m_api.closeHandle(device.file);
  m_api.closeHandle(device.readEvent);
  m_api.closeHandle(device.writeEvent);
}

std::unique_ptr<IDeviceMonitor> Win32HidPlatform::CreateMonitor() {
  GUID hidClass;
  m_api.getHidGuid(&hidClass);
  return std::make_unique<Win32DeviceMonitor>(m_api, hidClass);
}

namespace {

// A taken semaphore: given back (and its handle closed) when destroyed, from any thread.
class SemaphoreLock : public IControllerLock {
 public:
  explicit SemaphoreLock(HANDLE semaphore) : m_semaphore(semaphore) {}
  ~SemaphoreLock() override {
    if (m_semaphore == nullptr)
      return;
    ::ReleaseSemaphore(m_semaphore, 1, nullptr);
    ::CloseHandle(m_semaphore);
  }

 private:
  HANDLE m_semaphore;
};

}  // namespace

std::unique_ptr<IControllerLock> Win32HidPlatform::LockController(const std::string& path) {
  std::u16string name = Utf8ToUtf16("Local\\" + ControllerLockName(path));
  std::wstring wide(name.begin(), name.end());
  HANDLE semaphore = ::CreateSemaphoreW(nullptr, 1, 1, wide.c_str());
  if (semaphore == nullptr)
    return nullptr;  // no object, no hold: busy rather than two conversations at once
  if (::WaitForSingleObject(semaphore, 0) != WAIT_OBJECT_0) {
    ::CloseHandle(semaphore);
    return nullptr;
  }
  return std::make_unique<SemaphoreLock>(semaphore);
}
