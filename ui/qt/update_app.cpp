#include "ui/qt/update_app.h"

#include "ui/qt/update_window.h"
#include "ui/update_dlg.h"

int DoModal(CUpdateDlg& dlg, const std::function<void(CUpdateWindow&)>& prepare) {
  CUpdateWindow window(&dlg);
  if (prepare)
    prepare(window);
  window.Open();
  int result = window.exec();
  window.Shutdown();
  return result;
}

int CUpdateApp::InitInstance() {
  CUpdateDlg dlg;
  DoModal(dlg);
  return 0;
}
