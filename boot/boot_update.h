// What the boot-loader commands and the boot-mode update share beyond the dialog's methods.
#pragma once

class CUpdateDlg;

// Answers 1 when the boot-mode update running on dlg is asked to stop. The stop flag is 1 whenever
// no update runs (the identification at start-up, for one), so it counts only while
// BootUpdateFirmware runs (m_bBootUpdateRunning).
int BootStopRequested(const CUpdateDlg& dlg);

#include <cstdint>

// How often one write is sent again in a row without an acknowledgement before the update fails.
constexpr int kMaxWriteResends = 10;
// Sends one write (an image chunk, or the version word) until the boot loader acknowledges it, at
// most 1 + kMaxWriteResends times. Answers 0 when it never was, or the update is asked to stop.
int BootWriteAcknowledged(CUpdateDlg& dlg, const uint8_t* data, uint32_t address, uint32_t length,
                          uint32_t size, int image);
