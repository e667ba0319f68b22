// A fake of the system calls of the Windows HID backend: interfaces, their input reports, and what
// the backend did. No time passes: a wait answers at once what the state says. One at a time.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "device/win32/win32_hid_api.h"

struct FakeHidInterface {
  std::wstring path;
  uint16_t vendorId = 0, productId = 0;
  bool readWriteAllowed = true;  // false: a read-write open fails with ERROR_ACCESS_DENIED
  bool plugged = true;
  std::deque<std::vector<uint8_t>> reports = {};  // input reports, report id first
  bool unplugDuringRead = false;                  // the next read that waits sees it go
};

struct FakeWin32System {
  FakeWin32System();
  ~FakeWin32System();

  std::vector<FakeHidInterface> m_interfaces;
  std::vector<std::vector<uint8_t>> m_writes;
  std::vector<DWORD> m_waits;  // the time-out of every wait for a read
  int m_cancels = 0;
  int m_openHandles = 0;  // files and events
  std::vector<HANDLE> m_registeredWindows;
  // Open files (their interface, and the read under way) and the file whose read an event ends.
  struct File {
    size_t itf;
    bool readWrite, pending = false;
    uint8_t* buffer = nullptr;
    DWORD size = 0, result = 0, error = 0;
  };
  std::map<HANDLE, File> m_files;
  std::map<HANDLE, HANDLE> m_readers;
  uintptr_t m_nextHandle = 0x100;
  DWORD m_lastError = 0;
  Win32HidApi m_api;
};
