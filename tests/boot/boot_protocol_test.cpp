// The boot loader's request packet, checksum, reply test and the commands' attempts and waits,
// byte for byte against a scripted boot loader.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "boot/boot_packet.h"
#include "tests/boot/scripted_boot.h"

namespace {

// CRC-16/MODBUS written the usual way (shift and conditional XOR), to check the table form.
uint16_t ReferenceCrc(const std::vector<uint8_t>& bytes) {
  uint16_t crc = 0xFFFF;
  for (uint8_t b : bytes) {
    crc ^= b;
    for (int i = 0; i < 8; ++i)
      crc =
          (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

using BootProtocolTest = ScriptedBootTest;

TEST(BootCrc16Test, MatchesCrc16Modbus) {
  const char* check = "123456789";
  EXPECT_EQ(BootCrc16(reinterpret_cast<const uint8_t*>(check), 9), 0x4B37);
  EXPECT_EQ(BootCrc16(nullptr, 0), 0xFFFF);
  std::vector<uint8_t> bytes(300);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<uint8_t>(i * 37 + 11);
  for (size_t n : {1u, 4u, 45u, 46u, 300u}) {
    std::vector<uint8_t> part(bytes.begin(), bytes.begin() + n);
    EXPECT_EQ(BootCrc16(part.data(), n), ReferenceCrc(part)) << n;
  }
}

TEST_F(BootProtocolTest, LengthAboveFortySixIsCutInLengthDataAndCrcButNotInSize) {
  std::memset(m_dlg.Run().m_Hid.m_OutReport, 0xEE, sizeof m_dlg.Run().m_Hid.m_OutReport);
  std::vector<uint8_t> data(50);
  std::iota(data.begin(), data.end(), 1);
  m_dlg.Run().m_boot.SendBootPacket(data.data(), 50, 0x08003400, 1000, 3, 1);
  ASSERT_EQ(m_platform.m_writes.size(), 1u);
  const std::vector<uint8_t>& r = m_platform.m_writes[0];
  ASSERT_EQ(r.size(), 65u);
  uint16_t crc = ReferenceCrc(std::vector<uint8_t>(data.begin(), data.begin() + 46));
  std::vector<uint8_t> header = {0,
                                 5,
                                 3,
                                 0,
                                 0,
                                 0,
                                 46,
                                 0,
                                 static_cast<uint8_t>(crc),
                                 static_cast<uint8_t>(crc >> 8),
                                 0xE8,
                                 0x03,
                                 0,
                                 0,
                                 0x00,
                                 0x34,
                                 0x00,
                                 0x08};
  EXPECT_EQ(std::vector<uint8_t>(r.begin(), r.begin() + 18), header);
  EXPECT_EQ(std::vector<uint8_t>(r.begin() + 18, r.begin() + 64),
            std::vector<uint8_t>(data.begin(), data.begin() + 46));
  // 17 + 46 = 63 packet bytes: report position 64 keeps what was there.
  EXPECT_EQ(r[64], 0xEE);
}

TEST_F(BootProtocolTest, TwelveByteMemoryReadSendsHeaderOnlyAndCopiesFromOffsetEighteen) {
  std::memset(m_dlg.Run().m_Hid.m_OutReport, 0xEE, sizeof m_dlg.Run().m_Hid.m_OutReport);
  std::vector<uint8_t> identity = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
  QueueReply(5, identity);
  uint8_t destination[16];
  std::memset(destination, 0xAB, sizeof destination);
  ASSERT_EQ(m_dlg.Run().m_boot.BootReadMemory(destination, 12, 0x0800001C), 1);
  ASSERT_EQ(m_platform.m_writes.size(), 1u);
  const std::vector<uint8_t>& r = m_platform.m_writes[0];
  std::vector<uint8_t> header = {0, 5,  5, 0, 0, 0,    12,   0,    0,
                                 0, 12, 0, 0, 0, 0x1C, 0x00, 0x00, 0x08};
  EXPECT_EQ(std::vector<uint8_t>(r.begin(), r.begin() + 18), header);
  EXPECT_EQ(r[18], 0xEE);  // no data bytes: the rest of the report is left as it was
  EXPECT_EQ(std::vector<uint8_t>(destination, destination + 12),
            std::vector<uint8_t>(identity.begin(), identity.begin() + 12));
  EXPECT_EQ(destination[12], 0xAB);  // nothing beyond the length asked for
}

TEST_F(BootProtocolTest, VersionWriteErasesTheAreaThenWritesFourBytesWithTheirCrc) {
  m_dlg.Run().m_boot.m_nBootVersionAddress = 0x08003434;
  m_dlg.Run().m_desVersion = 0x00030089;  // 1.37 beta 3
  QueueReply(4);
  QueueReply(2);
  ASSERT_EQ(m_dlg.Run().m_boot.BootWriteVersion(), 1);
  ASSERT_EQ(m_platform.m_writes.size(), 2u);
  const std::vector<uint8_t>& erase = m_platform.m_writes[0];
  std::vector<uint8_t> eraseHeader = {0, 5,  4, 0, 0, 0,    0,    0,    0,
                                      0, 32, 0, 0, 0, 0x34, 0x34, 0x00, 0x08};
  EXPECT_EQ(std::vector<uint8_t>(erase.begin(), erase.begin() + 18), eraseHeader);
  const std::vector<uint8_t>& write = m_platform.m_writes[1];
  uint16_t crc = ReferenceCrc({0x89, 0x00, 0x03, 0x00});
  std::vector<uint8_t> writePacket = {0,
                                      5,
                                      2,
                                      0,
                                      0,
                                      0,
                                      4,
                                      0,
                                      static_cast<uint8_t>(crc),
                                      static_cast<uint8_t>(crc >> 8),
                                      4,
                                      0,
                                      0,
                                      0,
                                      0x34,
                                      0x34,
                                      0x00,
                                      0x08,
                                      0x89,
                                      0x00,
                                      0x03,
                                      0x00};
  EXPECT_EQ(std::vector<uint8_t>(write.begin(), write.begin() + 22), writePacket);
}

TEST_F(BootProtocolTest, RequestWithoutDataCarriesCrcZero) {
  QueueReply(7);
  EXPECT_EQ(m_dlg.Run().m_boot.BootFinish(), 1);
  const std::vector<uint8_t>& r = m_platform.m_writes.at(0);
  EXPECT_EQ(std::vector<uint8_t>(r.begin(), r.begin() + 18),
            (std::vector<uint8_t>{0, 5, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST_F(BootProtocolTest, ReadSendsAgainAfterEachTimeoutButNotAfterAWrongReply) {
  uint8_t word[4] = {};
  QueueTimeouts(4);
  QueueReply(5, {0x89, 0, 3, 0});
  EXPECT_EQ(m_dlg.Run().m_boot.BootReadMemory(word, 4, 0x08003434), 1);
  EXPECT_EQ(m_platform.m_writes.size(), 5u);
  EXPECT_EQ(word[0], 0x89);

  m_platform.m_writes.clear();
  for (int i = 0; i < 5; ++i)
    QueueReply(4);  // answers another command
  QueueReply(5);    // a sixth read never happens
  EXPECT_EQ(m_dlg.Run().m_boot.BootReadMemory(word, 4, 0x08003434), 0);
  EXPECT_EQ(m_platform.m_writes.size(), 1u);
  EXPECT_EQ(m_platform.m_reads.size(), 1u);

  m_platform.m_reads.clear();
  m_platform.m_writes.clear();
  QueueTimeouts(5);
  EXPECT_EQ(m_dlg.Run().m_boot.BootReadDeviceId(word, 4), 0);
  EXPECT_EQ(m_platform.m_writes.size(), 6u);  // the first request and one after each time-out
  EXPECT_EQ(CommandOf(0), 8);
  EXPECT_EQ(U32(m_platform.m_writes[0], 14), 0u);  // address 0
  EXPECT_EQ(U32(m_platform.m_writes[0], 10), 4u);  // size = length
}

TEST_F(BootProtocolTest, RepliesOfTheWrongShapeAreNotAccepted) {
  struct Case {
    size_t at;
    uint8_t value;
  };
  // first byte, type, command field low and high, answered command high byte
  for (Case c : {Case{0, 1}, Case{1, 6}, Case{2, 7}, Case{3, 1}, Case{5, 1}}) {
    std::vector<uint8_t> reply = Reply(7);
    reply[c.at] = c.value;
    m_platform.QueueRead(HidReadResult::kReport, reply);
    EXPECT_EQ(m_dlg.Run().m_boot.BootFinish(), 0) << "offset " << c.at;
  }
  m_platform.QueueRead(HidReadResult::kError);
  EXPECT_EQ(m_dlg.Run().m_boot.BootFinish(), 0);
}

TEST_F(BootProtocolTest, EraseWaitsOneSecondThenReadsTwentyTimesHalfASecondApart) {
  uint64_t start = m_clock.NowMs();
  EXPECT_EQ(m_dlg.Run().m_boot.BootErase(0x08003400, 5000), 0);
  EXPECT_EQ(m_platform.m_writes.size(), 1u);  // never sent again
  EXPECT_EQ(m_platform.m_readTimeouts.size(), 20u);
  // The scripted link answers its time-outs at once: only the pauses cost time here.
  EXPECT_EQ(m_clock.NowMs() - start, 1000u + 20u * 500u);
  EXPECT_EQ(U32(m_platform.m_writes[0], 10), 5000u);
  EXPECT_EQ(U32(m_platform.m_writes[0], 14), 0x08003400u);

  m_platform.m_writes.clear();
  m_platform.m_readTimeouts.clear();
  start = m_clock.NowMs();
  QueueTimeouts(2);
  QueueReply(4);
  EXPECT_EQ(m_dlg.Run().m_boot.BootErase(0x08003400, 5000), 1);
  EXPECT_EQ(m_platform.m_readTimeouts.size(), 3u);
  EXPECT_EQ(m_clock.NowMs() - start, 1000u + 2u * 500u);
}

TEST_F(BootProtocolTest, WriteReadsTwentyTimesWithoutPauseOrSecondSending) {
  uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (int i = 0; i < 19; ++i)
    QueueReply(2);  // the answer to the other write command
  QueueReply(3);
  uint64_t start = m_clock.NowMs();
  EXPECT_EQ(m_dlg.Run().m_boot.BootWrite(data, 0x08003400, 8, 100, 1), 1);
  EXPECT_EQ(m_platform.m_writes.size(), 1u);
  EXPECT_EQ(CommandOf(0), 3);
  EXPECT_EQ(m_clock.NowMs(), start);

  m_platform.m_writes.clear();
  m_platform.m_readTimeouts.clear();
  EXPECT_EQ(m_dlg.Run().m_boot.BootWrite(data, 0x08003400, 8, 100, 0), 0);
  EXPECT_EQ(m_platform.m_writes.size(), 1u);
  EXPECT_EQ(CommandOf(0), 2);
  EXPECT_EQ(m_platform.m_readTimeouts.size(), 20u);
}

TEST_F(BootProtocolTest, StopFlagEndsCommandsOnlyWhileTheBootUpdateRuns) {
  uint8_t word[4] = {};
  // No update runs: the flag is 1 as always then, and the identification's reads go on.
  QueueReply(8, {0x09, 0x30, 0, 0});
  EXPECT_EQ(m_dlg.Run().m_boot.BootReadDeviceId(word, 4), 1);

  m_dlg.Run().m_boot.m_bBootUpdateRunning = 1;
  m_dlg.Run().m_bStop = 1;
  QueueReply(4);
  EXPECT_EQ(m_dlg.Run().m_boot.BootErase(0, 32), 0);
  EXPECT_EQ(m_platform.m_reads.size(), 1u);  // gave up before reading
  m_platform.m_reads.clear();
  QueueReply(3);
  EXPECT_EQ(m_dlg.Run().m_boot.BootWrite(word, 0, 4, 4, 1), 0);
  EXPECT_EQ(m_dlg.Run().m_boot.BootFinish(), 0);
  m_dlg.Run().m_bStop = 0;
  EXPECT_EQ(m_dlg.Run().m_boot.BootWrite(word, 0, 4, 4, 1), 1);
  m_dlg.Run().m_boot.m_bBootUpdateRunning = 0;
  m_dlg.Run().m_bStop = 1;
}

}  // namespace
