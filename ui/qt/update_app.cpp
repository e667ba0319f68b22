#include "ui/qt/update_app.h"

#include <cstdio>
#include <cstdlib>

#include "base/trace.h"
#include "ui/qt/update_window.h"
#include "update/update_dlg.h"

int DoModal(CUpdateDlg& dlg, const std::function<void(CUpdateWindow&)>& prepare) {
  CUpdateWindow window(&dlg);
  if (prepare)
    prepare(window);
  window.Open();
  // Without the trace, the reason why the button stays grey is worth its one line.
  if (!TracesRequested() && dlg.Run().m_Hid.m_nLastOpenResult == HidOpenResult::kAccessDenied)
    std::fprintf(stderr, "a controller was found but may not be opened: %s\n",
                 dlg.Run().m_Hid.m_LastError.c_str());
  int result = window.exec();
  window.Shutdown();
  if (dlg.IsWorkerAbandoned()) {
    // The update thread is stuck in a system call and still points to the dialog, so the dialog
    // must never be destroyed: the program ends here. The thread holds nothing to save: the
    // firmware file is only read, and the system releases it and the device handles.
    std::fflush(nullptr);
    std::_Exit(0);
  }
  return result;
}

int CUpdateApp::InitInstance() {
  CUpdateDlg dlg(m_seams);
  DoModal(dlg);
  TellLastUpdate("tarvix-update", dlg);
  return 0;
}

bool HasDisplay(const char* program) {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && value[0] != '\0')
      return true;
  }
  std::fprintf(stderr,
               "%s: no display (DISPLAY and WAYLAND_DISPLAY are empty); start it from a desktop "
               "session\n",
               program);
  return false;
}

void TellLastUpdate(const char* program, const CUpdateDlg& dlg) {
  std::string line = LastUpdateLine(program, dlg.Run().m_lastResult);
  if (!line.empty())
    std::fprintf(stderr, "%s\n", line.c_str());
}
