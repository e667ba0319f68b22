// The few SetupAPI, hid.dll and kernel calls the Windows HID backend makes, as a table of function
// pointers: the backend calls only these, so tests can put a fake system under it (no virtual HID
// device can be shown to Wine). Win32HidApi::System() answers the system's own.
#pragma once

#include <windows.h>
// The order matters: setupapi.h and hidsdi.h need windows.h's types first. MinGW's hidsdi.h
// declares hid.dll's functions without C linkage.
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

struct Win32HidApi {
  // SetupAPI: the present interfaces of a class, one by one, with their paths.
  HDEVINFO(WINAPI* getClassDevs)(const GUID*, PCWSTR, HWND, DWORD);
  BOOL(WINAPI* enumInterfaces)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                               PSP_DEVICE_INTERFACE_DATA);
  BOOL(WINAPI* getInterfaceDetail)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                   PSP_DEVICE_INTERFACE_DETAIL_DATA_W, DWORD, PDWORD,
                                   PSP_DEVINFO_DATA);
  BOOL(WINAPI* destroyInfoList)(HDEVINFO);
  // hid.dll
  void(WINAPI* getHidGuid)(LPGUID);
  BOOLEAN(WINAPI* getAttributes)(HANDLE, PHIDD_ATTRIBUTES);
  // Files, overlapped reads and writes, events.
  HANDLE(WINAPI* createFile)(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE);
  BOOL(WINAPI* readFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* writeFile)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);
  BOOL(WINAPI* getOverlappedResult)(HANDLE, LPOVERLAPPED, LPDWORD, BOOL);
  BOOL(WINAPI* cancelIo)(HANDLE);
  DWORD(WINAPI* waitForSingleObject)(HANDLE, DWORD);
  HANDLE(WINAPI* createEvent)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR);
  BOOL(WINAPI* closeHandle)(HANDLE);
  DWORD(WINAPI* getLastError)();
  // Arrival and removal notices for a window.
  HDEVNOTIFY(WINAPI* registerNotification)(HANDLE, LPVOID, DWORD);
  BOOL(WINAPI* unregisterNotification)(HDEVNOTIFY);

  static const Win32HidApi& System();
};
