// The dialog's own flags, for tests that set up a dialog's state without the events that lead to
// it (a dialog whose controls are ready without OnInitDialog, a close pending).
#pragma once

#include "update/update_dlg.h"

struct UpdateDlgProbe {
  static std::atomic<int>& ControlsReady(CUpdateDlg& dlg) { return dlg.m_bControlsReady; }
  static std::atomic<int>& DeviceChangePending(CUpdateDlg& dlg) {
    return dlg.m_bDeviceChangePending;
  }
  static std::atomic<int>& ClosePending(CUpdateDlg& dlg) { return dlg.m_bClosePending; }
  static const CControl& UpdateButton(CUpdateDlg& dlg) { return dlg.m_btnUpdate; }
};
