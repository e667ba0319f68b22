// The main dialog: start-up, the update button, device arrival and removal, and closing.
#include <cstring>

#include "base/clock.h"
#include "base/local_text.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "update/update_dlg.h"

namespace {
constexpr int DBT_DEVNODES_CHANGED = 7;
constexpr int DBT_DEVICEARRIVAL = 0x8000;
constexpr int DBT_DEVICEREMOVECOMPLETE = 0x8004;
}  // namespace

int CUpdateDlg::OnInitDialog() {
  if (m_pWnd)
    m_pWnd->SetIcon(m_iconId);

  m_bControlsReady = 1;
  m_doneLabel.ShowWindow(false);
  m_doneLabel.SetWindowText(LocalText(TXT_UPGRADED));
  m_hint.SetWindowText(LocalText(TXT_INSTRUCTIONS));
  m_progress.SetRange(0, 100);
  m_progress.SetPos(0);

  CAppSession& app = m_run.m_app;
  std::memset(app.m_DataBuf, 0, sizeof app.m_DataBuf);
  std::memset(app.m_appSerial, 0, sizeof app.m_appSerial);
  std::memset(app.m_serial, 0, sizeof app.m_serial);
  m_run.m_desVersion = 0;
  m_run.m_imageSize = 0;
  m_run.m_targetAddress = 0;
  m_run.m_bytesDone = 0;
  m_run.m_recordOffset = 0;
  m_run.m_recordHeader = FirmwareRecordHeader{};

  m_run.m_bStop = 1;
  m_btnUpdate.SetWindowText(LocalText(TXT_USB_UPDATE));
  m_run.m_Hid.m_hNotifyWnd = m_pWnd;
  m_run.m_curDevVersion = VERSION_UNKNOWN;

  if (m_run.m_Hid.DetectDevice()) {
    m_btnUpdate.EnableWindow(true);
    m_run.QueryDeviceVersion();
  } else {
    m_btnUpdate.EnableWindow(false);
  }

  m_run.m_app.SwapMaskTables();
  m_run.m_app.m_nUpdateState = STATE_IDLE;
  if (m_pWnd)
    m_pWnd->SetTitle(LocalText(TXT_TITLE));
  return 1;
}

void CUpdateDlg::OnBnClickedUsbUpdate() {
  if (m_bClosePending)
    return;
  m_doneLabel.ShowWindow(false);
  // One conversation with the controller at a time: the button is disabled while an update runs,
  // and a click that still gets through changes nothing.
  if (!m_run.AcquireLink(LINK_UPDATE))
    return;
  if (!m_run.m_Hid.OpenHid()) {
    m_run.ReleaseLink(LINK_UPDATE);
    return;
  }
  m_run.m_bStop = 0;
  m_btnUpdate.EnableWindow(false);
  m_progress.SetPos(0);
  // The dialog asks for the file and lets its user confirm any version.
  m_run.Launch(UpdateRequest{});
}

int CUpdateDlg::OnDeviceChange(uint32_t event, uintptr_t /*data*/) {
  int code = static_cast<int>(event & 0xFFFF);
  if (code != DBT_DEVNODES_CHANGED && code != DBT_DEVICEARRIVAL &&
      code != DBT_DEVICEREMOVECOMPLETE) {
    return 1;
  }
  // While an update holds the link, discovery and the version query would talk to the controller
  // in the middle of the update: remember the event and handle it once the update has ended.
  if (IsUpdateRunning()) {
    m_bDeviceChangePending = 1;
    return 1;
  }
  HandleDeviceChange(code);
  return 1;
}

void CUpdateDlg::HandleDeviceChange(int code) {
  int found = m_run.m_Hid.DetectDevice();
  switch (code) {
    case DBT_DEVNODES_CHANGED:
    case DBT_DEVICEARRIVAL:
      if (found) {
        m_btnUpdate.EnableWindow(true);
        m_run.QueryDeviceVersion();
      } else if (code == DBT_DEVNODES_CHANGED) {
        m_btnUpdate.EnableWindow(false);
        if (m_pWnd)
          m_pWnd->SetTitle(LocalText(TXT_TITLE));
      }
      break;
    case DBT_DEVICEREMOVECOMPLETE:
      if (!found) {
        m_btnUpdate.EnableWindow(false);
        m_run.m_Hid.Trace("%s\n", Utf16ToUtf8(LocalText(TXT_TITLE)).c_str());
        if (m_pWnd)
          m_pWnd->SetTitle(LocalText(TXT_TITLE));
      }
      break;
    default:
      break;
  }
}

int CUpdateDlg::OnCloseRequested() {
  if (!IsUpdateRunning())
    return 1;
  if (m_bClosePending || m_bAskingToClose)
    return 0;
  m_bAskingToClose = 1;
  int answer = ShowMessageBox(LocalText(TXT_CONFIRM_STOP), MB_OKCANCEL);
  m_bAskingToClose = 0;
  if (answer != IDOK)
    return 0;
  return ConfirmClose();
}

int CUpdateDlg::ConfirmClose() {
  if (m_bClosePending)
    return 0;
  m_run.RequestStop();
  if (!IsUpdateRunning())
    return 1;  // the update ended (or never ran) while the user was asked
  m_nCloseDeadlineMs = m_run.m_Hid.Clock().NowMs() + kCloseGraceMs;
  m_bClosePending = 1;
  // The worker sees the stop flag once no box of ours holds it.
  if (m_pWnd) {
    m_pWnd->CloseWorkerDialogs();
    m_pWnd->StartTimer(kCloseTimerId, kCloseTimerMs);
  }
  return 0;
}

void CUpdateDlg::OnTimer(int id) {
  if (id != kCloseTimerId || !m_bClosePending || !IsUpdateRunning())
    return;
  if (m_run.m_Hid.Clock().NowMs() < m_nCloseDeadlineMs)
    return;
  // The worker has not seen the stop flag in time: it is stuck in a system call (a read or an
  // open that does not return). The user has confirmed the stop, so the window goes without it.
  m_run.m_Hid.Trace("update thread did not end, closing without it\n");
  m_bWorkerAbandoned = 1;
  EndClose();
}

void CUpdateDlg::EndClose() {
  if (!m_pWnd)
    return;
  m_pWnd->StopTimer(kCloseTimerId);
  m_pWnd->EndDialog();
}

void CUpdateDlg::OnWorkerEnded() {
  // The notice may arrive after a click has already started the next update (the ended thread was
  // joined then): that update's own end notice does the rest. Joining here would wait for it.
  if (IsUpdateRunning())
    return;
  m_run.JoinWorker();
  if (m_bClosePending) {
    m_bDeviceChangePending = 0;  // no version query for a window that is going away
    EndClose();
    return;
  }
  // Whatever happened to the controllers during the update, one handling brings the button and
  // the title up to date: "device nodes changed" covers both a controller found and none.
  if (m_bDeviceChangePending.exchange(0))
    HandleDeviceChange(DBT_DEVNODES_CHANGED);
}

int CUpdateDlg::PrepareToClose() {
  if (IsUpdateRunning() && !m_bWorkerAbandoned) {
    if (!m_bClosePending) {  // the first call stops the update for good
      m_run.RequestStop();
      m_bClosePending = 1;
      m_nCloseDeadlineMs = m_run.m_Hid.Clock().NowMs() + kCloseGraceMs;
      if (m_pWnd) {
        m_pWnd->CloseWorkerDialogs();
        m_pWnd->StartTimer(kCloseTimerId, kCloseTimerMs);  // wakes the caller's event loop
      }
    }
    if (m_run.m_Hid.Clock().NowMs() < m_nCloseDeadlineMs)
      return 1;
    // However the window's last moments came, a worker stuck in a system call is waited for no
    // longer than a confirmed close waits for it.
    m_run.m_Hid.Trace("update thread did not end, closing without it\n");
    m_bWorkerAbandoned = 1;
  }
  if (!IsUpdateRunning())
    m_run.JoinWorker();
  if (m_pWnd)
    m_pWnd->StopTimer(kCloseTimerId);
  m_run.m_Hid.m_hNotifyWnd = nullptr;
  m_pWnd = nullptr;
  return 0;
}
