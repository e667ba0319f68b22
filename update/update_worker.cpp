// The dialog's conversations with its controller: the version query on the dialog's thread, and
// the two updates on the update thread, each running its session and then reporting how it ended.
#include "base/local_text.h"
#include "base/trace.h"
#include "update/update_dlg.h"

void CUpdateDlg::QueryDeviceVersion() {
  // One conversation at a time: while an update holds the link, the query stays out of it.
  if (!AcquireLink(LINK_VERSION_QUERY))
    return;
  m_curDevVersion = VERSION_UNKNOWN;
  if (m_Hid.OpenHid()) {
    if (m_Hid.m_bBootMode)
      IdentifyBootDevice();
    else
      m_app.QueryVersion();
  }
  ReleaseLink(LINK_VERSION_QUERY);
}

void CUpdateDlg::IdentifyBootDevice() {
  if (m_boot.IdentifyBootDevice())
    m_app.PrepareSerialMask();
}

void CUpdateDlg::BootUpdateFirmware() {
  m_boot.m_bBootUpdateRunning = 1;
  m_bImageTouched = 0;
  m_nShownProgress = -1;
  int done = m_boot.RunUpdate();
  // The image is not kept after the update: a later update reads its file again.
  ReleaseImage();
  // An update the user stopped (closing the window) ends without a box: the window is closing and
  // waits for this thread.
  if (!m_boot.StopRequested()) {
    if (done)
      ReportUpdateSuccess();
    else if (m_bImageTouched)
      ShowTextMessage(TXT_UPDATE_FAILED);
  }
  m_boot.m_bBootUpdateRunning = 0;
  RefreshUpdateButton();
}

void CUpdateDlg::UsbUpdateLoop() {
  int opened = m_app.UsbUpdateLoop();
  RefreshUpdateButton();
  if (opened)
    m_Hid.Trace("Exit Usb_UpdateThread\n");
}

void Boot_UpdateThread(void* parameter) {
  if (auto* dlg = static_cast<CUpdateDlg*>(parameter))
    dlg->BootUpdateFirmware();
}

void Usb_UpdateThread(void* parameter) {
  if (auto* dlg = static_cast<CUpdateDlg*>(parameter))
    dlg->UsbUpdateLoop();
}
