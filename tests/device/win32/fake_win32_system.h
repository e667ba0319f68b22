// A fake of the system calls the Windows HID backend makes (Win32HidApi): interfaces with an
// identity, access rights and queued input reports, and a record of what the backend did. No time
// passes: a wait answers at once what the state says. One fake at a time.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "device/win32/win32_hid_api.h"

struct FakeHidInterface {
  std::wstring path;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  bool readWriteAllowed = true;  // false: a read-write open fails with ERROR_ACCESS_DENIED
  bool plugged = true;
  std::deque<std::vector<uint8_t>> reports = {};  // input reports, report id first
  bool unplugDuringRead = false;             // the next read that waits sees the controller go
};

struct FakeWin32System {
  FakeWin32System();
  ~FakeWin32System();

  std::vector<FakeHidInterface> m_interfaces;
  // What the backend did.
  std::vector<std::vector<uint8_t>> m_writes;
  std::vector<DWORD> m_waits;  // the time-out of every wait for a read
  int m_cancels = 0;
  int m_openHandles = 0;  // files and events open now
  std::vector<HANDLE> m_registeredWindows;

  // The state behind the calls: open files by handle, and the file whose read waits on an event.
  struct File {
    size_t itf;
    bool readWrite;
    bool pending = false;
    uint8_t* buffer = nullptr;
    DWORD size = 0, result = 0, error = 0;  // of the last operation
  };
  std::map<HANDLE, File> m_files;
  std::map<HANDLE, HANDLE> m_readers;
  uintptr_t m_nextHandle = 0x100;
  DWORD m_lastError = 0;
  Win32HidApi m_api;
};
