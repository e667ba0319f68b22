#include "ui/qt/update_app.h"

#include <cstdio>
#include <cstdlib>

#include "ui/qt/update_window.h"
#include "update/update_dlg.h"

int DoModal(CUpdateDlg& dlg, const std::function<void(CUpdateWindow&)>& prepare) {
  CUpdateWindow window(&dlg);
  if (prepare)
    prepare(window);
  window.Open();
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
  CUpdateDlg dlg;
  DoModal(dlg);
  return 0;
}
