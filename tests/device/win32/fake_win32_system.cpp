#include "tests/device/win32/fake_win32_system.h"

#include <dbt.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

FakeWin32System* g = nullptr;
const GUID kHidClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

BOOL Fail(DWORD error) {
  g->m_lastError = error;
  return FALSE;
}

FakeWin32System::File* Find(HANDLE handle) {
  auto it = g->m_files.find(handle);
  return it == g->m_files.end() ? nullptr : &it->second;
}

// Ends a waiting read with the next report, or with a failure once the controller is gone.
bool CompleteRead(FakeWin32System::File& file) {
  FakeHidInterface& itf = g->m_interfaces[file.itf];
  if (itf.plugged && itf.reports.empty())
    return false;
  file.pending = false;
  file.error = itf.plugged ? 0 : ERROR_DEVICE_NOT_CONNECTED;
  file.result = 0;
  if (itf.plugged) {
    file.result = std::min<DWORD>(file.size, static_cast<DWORD>(itf.reports.front().size()));
    std::memcpy(file.buffer, itf.reports.front().data(), file.result);
    itf.reports.pop_front();
  }
  return true;
}

const Win32HidApi kFakeApi = {
    [](const GUID*, PCWSTR, HWND, DWORD) { return reinterpret_cast<HDEVINFO>(0x77); },
    [](HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD index, PSP_DEVICE_INTERFACE_DATA data) {
      for (size_t i = 0; i < g->m_interfaces.size(); ++i) {
        if (g->m_interfaces[i].plugged && index-- == 0) {
          data->Reserved = i;
          return TRUE;
        }
      }
      return Fail(ERROR_NO_MORE_ITEMS);
    },
    [](HDEVINFO, PSP_DEVICE_INTERFACE_DATA data, PSP_DEVICE_INTERFACE_DETAIL_DATA_W detail,
       DWORD size, PDWORD required, PSP_DEVINFO_DATA) {
      const std::wstring& path = g->m_interfaces[data->Reserved].path;
      DWORD bytes = static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t));
      DWORD needed = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath) + bytes;
      if (required)
        *required = needed;
      if (detail == nullptr || size < needed)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
      std::memcpy(detail->DevicePath, path.c_str(), bytes);
      return TRUE;
    },
    [](HDEVINFO list) { return list == reinterpret_cast<HDEVINFO>(0x77) ? TRUE : FALSE; },
    [](LPGUID guid) { *guid = kHidClass; },
    [](HANDLE handle, PHIDD_ATTRIBUTES attributes) -> BOOLEAN {
      FakeWin32System::File* file = Find(handle);
      if (!file || attributes->Size != sizeof(HIDD_ATTRIBUTES))
        return FALSE;
      attributes->VendorID = g->m_interfaces[file->itf].vendorId;
      attributes->ProductID = g->m_interfaces[file->itf].productId;
      return g->m_interfaces[file->itf].plugged;
    },
    [](LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
      auto itf =
          std::find_if(g->m_interfaces.begin(), g->m_interfaces.end(),
                       [&](const FakeHidInterface& i) { return i.plugged && i.path == path; });
      bool readWrite = (access & (GENERIC_READ | GENERIC_WRITE)) != 0;
      if (itf == g->m_interfaces.end() || (readWrite && !itf->readWriteAllowed)) {
        Fail(itf == g->m_interfaces.end() ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
      }
      HANDLE handle = reinterpret_cast<HANDLE>(g->m_nextHandle++);
      g->m_files[handle] = {static_cast<size_t>(itf - g->m_interfaces.begin()), readWrite};
      ++g->m_openHandles;
      return handle;
    },
    [](HANDLE handle, LPVOID buffer, DWORD size, LPDWORD, LPOVERLAPPED overlapped) {
      FakeWin32System::File* file = Find(handle);
      if (!file || !file->readWrite || !g->m_interfaces[file->itf].plugged)
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
      *file = {file->itf, true, true, static_cast<uint8_t*>(buffer), size};
      g->m_readers[overlapped->hEvent] = handle;
      return Fail(ERROR_IO_PENDING);
    },
    [](HANDLE handle, LPCVOID data, DWORD size, LPDWORD, LPOVERLAPPED) {
      FakeWin32System::File* file = Find(handle);
      if (!file || !file->readWrite || !g->m_interfaces[file->itf].plugged)
        return Fail(ERROR_DEVICE_NOT_CONNECTED);
      const auto* bytes = static_cast<const uint8_t*>(data);
      g->m_writes.emplace_back(bytes, bytes + size);
      file->result = size;
      file->error = 0;
      return TRUE;
    },
    [](HANDLE handle, LPOVERLAPPED, LPDWORD transferred, BOOL) {
      FakeWin32System::File* file = Find(handle);
      if (!file || file->pending)
        return Fail(ERROR_IO_INCOMPLETE);
      *transferred = file->result;
      return file->error == 0 ? TRUE : Fail(file->error);
    },
    [](HANDLE handle) {
      ++g->m_cancels;
      if (FakeWin32System::File* file = Find(handle); file && file->pending)
        *file = {file->itf, true, false, nullptr, 0, 0, ERROR_OPERATION_ABORTED};
      return TRUE;
    },
    [](HANDLE event, DWORD timeoutMs) -> DWORD {
      auto reader = g->m_readers.find(event);
      if (reader == g->m_readers.end())
        return WAIT_OBJECT_0;  // a write: already complete
      g->m_waits.push_back(timeoutMs);
      FakeWin32System::File& file = g->m_files.at(reader->second);
      FakeHidInterface& itf = g->m_interfaces[file.itf];
      if (std::exchange(itf.unplugDuringRead, false))
        itf.plugged = false;
      return CompleteRead(file) ? WAIT_OBJECT_0 : WAIT_TIMEOUT;
    },
    [](LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR) {
      ++g->m_openHandles;
      return reinterpret_cast<HANDLE>(g->m_nextHandle++);
    },
    [](HANDLE handle) {
      --g->m_openHandles;
      g->m_files.erase(handle);
      g->m_readers.erase(handle);
      return TRUE;
    },
    []() { return g->m_lastError; },
    [](HANDLE window, LPVOID filter, DWORD flags) -> HDEVNOTIFY {
      auto* broadcast = static_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(filter);
      if (flags != DEVICE_NOTIFY_WINDOW_HANDLE ||
          broadcast->dbcc_devicetype != DBT_DEVTYP_DEVICEINTERFACE ||
          !IsEqualGUID(broadcast->dbcc_classguid, kHidClass))
        return nullptr;
      g->m_registeredWindows.push_back(window);
      return window;
    },
    [](HDEVNOTIFY registration) {
      std::erase(g->m_registeredWindows, static_cast<HANDLE>(registration));
      return TRUE;
    },
};

}  // namespace

FakeWin32System::FakeWin32System() : m_api(kFakeApi) {
  g = this;
}

FakeWin32System::~FakeWin32System() {
  g = nullptr;
}
