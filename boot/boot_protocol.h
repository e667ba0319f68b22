// Helpers of the boot-loader protocol shared by the commands and the update sequence.
#pragma once

#include <cstddef>
#include <cstdint>

class CUpdateDlg;

// The checksum of the boot loader's data bytes: CRC-16/MODBUS (reflected polynomial 0xA001,
// initial value 0xFFFF, no final XOR), computed bit by bit. No bytes give 0xFFFF.
uint16_t BootCrc16(const uint8_t* bytes, size_t count);

// Answers 1 when the boot-mode update running on dlg is asked to stop. The stop flag is 1 whenever
// no update runs (the identification at start-up, for one), so it counts only while
// BootUpdateFirmware runs (m_bBootUpdateRunning).
int BootStopRequested(const CUpdateDlg& dlg);
