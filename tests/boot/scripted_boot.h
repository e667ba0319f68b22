// A dialog whose device link is open on a scripted boot loader, in virtual time: the protocol
// tests queue the boot loader's replies and read back every report the dialog wrote.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "base/clock.h"
#include "tests/support/scripted_hid.h"
#include "update/update_dlg.h"

class ScriptedBootTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_platform.Add({"/dev/hidraw0", 0x7A3D, 0x3208});
    ASSERT_EQ(m_dlg.Run().m_Hid.DetectDevice(), 1);
    ASSERT_EQ(m_dlg.Run().m_Hid.OpenHid(), 1);
    m_dlg.Run().m_Hid.SetReadTimeout(10);
    m_dlg.Run().m_boot.m_nBootBaseAddress =
        0x08003400;           // as a 0x3009 boot loader's identification leaves it
    m_dlg.Run().m_bStop = 1;  // as while no update runs
  }
  // The boot loader's answer to command, with data at reply offset 18. Queued, it repeats the
  // fields of the request it answers.
  static std::vector<uint8_t> Reply(uint16_t command, std::vector<uint8_t> data = {}) {
    std::vector<uint8_t> payload(64, 0);
    payload[1] = 5;
    payload[4] = static_cast<uint8_t>(command);
    payload[5] = static_cast<uint8_t>(command >> 8);
    for (size_t i = 0; i < data.size() && 18 + i < payload.size(); ++i)
      payload[18 + i] = data[i];
    return payload;
  }
  void QueueReply(uint16_t command, std::vector<uint8_t> data = {}) {
    m_platform.QueueRead(HidReadResult::kReport, Reply(command, std::move(data)), true);
  }
  void QueueTimeouts(int n) {
    for (int i = 0; i < n; ++i)
      m_platform.QueueRead(HidReadResult::kTimeout);
  }
  // The command field of the k-th report written.
  uint16_t CommandOf(size_t k) const {
    const std::vector<uint8_t>& r = m_platform.m_writes.at(k);
    return static_cast<uint16_t>(r[2] | (r[3] << 8));
  }
  static uint32_t U32(const std::vector<uint8_t>& report, size_t at) {
    return report[at] | (report[at + 1] << 8) | (report[at + 2] << 16) |
           (static_cast<uint32_t>(report[at + 3]) << 24);
  }

  VirtualClock m_clock;
  ScriptedHidPlatform m_platform{&m_clock};
  CUpdateDlg m_dlg{Seams{&m_platform, QuietTraceSink(), LANG_EN_US}};
};
