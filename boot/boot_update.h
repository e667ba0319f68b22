// What the boot-loader commands and the boot-mode update share beyond the dialog's methods.
#pragma once

class CUpdateDlg;

// Answers 1 when the boot-mode update running on dlg is asked to stop. The stop flag is 1 whenever
// no update runs (the identification at start-up, for one), so it counts only while
// BootUpdateFirmware runs (m_bBootUpdateRunning).
int BootStopRequested(const CUpdateDlg& dlg);
