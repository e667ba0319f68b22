#include "device/win32/win32_hid_api.h"

const Win32HidApi& Win32HidApi::System() {
  static const Win32HidApi api = {
      ::SetupDiGetClassDevsW,
      ::SetupDiEnumDeviceInterfaces,
      ::SetupDiGetDeviceInterfaceDetailW,
      ::SetupDiDestroyDeviceInfoList,
      ::HidD_GetHidGuid,
      ::HidD_GetAttributes,
      ::CreateFileW,
      ::ReadFile,
      ::WriteFile,
      ::GetOverlappedResult,
      ::CancelIo,
      ::WaitForSingleObject,
      ::CreateEventW,
      ::CloseHandle,
      ::GetLastError,
      ::RegisterDeviceNotificationW,
      ::UnregisterDeviceNotification,
  };
  return api;
}
