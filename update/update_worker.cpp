// The run's conversations with its controller: the version query, and the two updates on the
// update thread, each running its session and then reporting how it ended.
#include "base/local_text.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "update/update_run.h"

void CUpdateRun::QueryDeviceVersion() {
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

void CUpdateRun::IdentifyBootDevice() {
  if (m_boot.IdentifyBootDevice())
    m_app.PrepareSerialMask();
}

void CUpdateRun::BootUpdateFirmware() {
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

void CUpdateRun::UsbUpdateLoop() {
  int opened = m_app.UsbUpdateLoop();
  RefreshUpdateButton();
  if (opened)
    m_Hid.Trace("Exit Usb_UpdateThread\n");
}

void CUpdateRun::ReportUpdateSuccess() {
  m_bStop = 1;
  m_bSucceeded = 1;
  if (m_pObserver) {
    m_pObserver->Notice(u"\n " + LocalText(TXT_UPGRADED) + u" \n");
    m_pObserver->OnSucceeded();
  }
}

void CUpdateRun::ShowTextMessage(int textIndex) {
  std::u16string text = LocalText(textIndex) + u"\n";
  m_Hid.Trace("%s", Utf16ToUtf8(text).c_str());
  if (m_pObserver)
    m_pObserver->Notice(text);
}

void CUpdateRun::ReportUpdateFailure() {
  StopUpdate();
  ShowTextMessage(TXT_UPDATE_FAILED);
  // During an update the button stays disabled until the update thread ends and refreshes it, so
  // that no second update can start beside the first.
  if (m_Hid.m_bDeviceFound.load() && !IsUpdateRunning() && m_pObserver)
    m_pObserver->OnUpdatePossible(true);
}

void Boot_UpdateThread(void* parameter) {
  if (auto* run = static_cast<CUpdateRun*>(parameter))
    run->BootUpdateFirmware();
}

void Usb_UpdateThread(void* parameter) {
  if (auto* run = static_cast<CUpdateRun*>(parameter))
    run->UsbUpdateLoop();
}
