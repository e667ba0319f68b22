// tarvix-update.exe: the updater for real controllers over USB HID (SetupAPI and hid.dll).
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>

#include "base/trace.h"
#include "device/win32/win32_hid_platform.h"
#include "ui/win32/update_window.h"
#include "update/update_dlg.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  ::InitCommonControlsEx(&controls);

  Win32HidPlatform platform;
  CUpdateDlg dlg({&platform, WindowProgramTraceSink("tarvix-update"), {}});
  bool ran = false;
  {
    Win32UpdateWindow window(&dlg);
    ran = window.Run();
  }
  if (dlg.IsWorkerAbandoned()) {
    // The update thread is stuck in a system call and still points to the dialog, so the dialog
    // must never be destroyed: the program ends here. The system releases the file and the device.
    std::fflush(nullptr);
    std::_Exit(0);
  }
  std::string line = LastUpdateLine("tarvix-update", dlg.Run().m_lastResult);
  if (!line.empty())
    std::fprintf(stderr, "%s\n", line.c_str());
  return ran ? 0 : 1;  // no window (traced): an error
}
