// The messages the updater sends to the running firmware, byte by byte, and what it takes out of
// the controller's identity.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "appmode/app_session.h"
#include "appmode/serial_mask.h"
#include "base/byte_order.h"
#include "base/trace.h"
#include "device/hid.h"
#include "tests/support/scripted_hid.h"
#include "update/update_dlg.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Head(const Bytes& report, size_t n) {
  return Bytes(report.begin(), report.begin() + static_cast<long>(std::min(n, report.size())));
}

class AppMessagesTest : public ::testing::Test {
 protected:
  void SetUp() override { m_platform.Add({"/dev/hidraw0", 0x0483, 0x5750}); }
  // Opens the link to the scripted controller so that writes go out.
  void Open() {
    ASSERT_EQ(m_dlg.Run().m_Hid.DetectDevice(), 1);
    ASSERT_EQ(m_dlg.Run().m_Hid.OpenHid(), 1);
    m_traces.clear();
  }
  int Count(const std::string& line) {
    return static_cast<int>(std::count(m_traces.begin(), m_traces.end(), line));
  }

  ScriptedHidPlatform m_platform;
  std::vector<std::string> m_traces;
  CUpdateDlg m_dlg{
      Seams{&m_platform, [this](const std::string& line) { m_traces.push_back(line); }, {}}};
};

TEST_F(AppMessagesTest, ShortCommandsAreFiveMessageBytesAfterTheLengthByte) {
  Open();
  EXPECT_EQ(m_dlg.Run().m_app.SendCommand(MSG_START_UPDATE, 0), 1);
  EXPECT_EQ(m_dlg.Run().m_app.SendCommand(MSG_READ_FAILED, 0), 1);
  ASSERT_EQ(m_platform.m_writes.size(), 2u);
  EXPECT_EQ(m_platform.m_writes[0].size(), 65u);
  EXPECT_EQ(Head(m_platform.m_writes[0], 7), (Bytes{0x00, 0x05, 0x00, 0x1A, 0x01, 0x00, 0x00}));
  EXPECT_EQ(Head(m_platform.m_writes[1], 7), (Bytes{0x00, 0x05, 0x00, 0x1D, 0x01, 0x00, 0x00}));
}

TEST_F(AppMessagesTest, ShortCommandAnswersZeroWhenTheLinkIsNotOpen) {
  EXPECT_EQ(m_dlg.Run().m_app.SendCommand(MSG_START_UPDATE, 0), 0);
  EXPECT_TRUE(m_platform.m_writes.empty());
}

TEST_F(AppMessagesTest, DataPacketsCarryTheChunkInOneReport) {
  Open();
  uint8_t chunk[32];
  for (int i = 0; i < 32; ++i)
    chunk[i] = static_cast<uint8_t>(0xA0 + i);
  m_dlg.Run().m_app.SendFirmwareData(chunk, 32);
  m_dlg.Run().m_app.SendFirmwareData(chunk, 0);  // the file is at its end
  ASSERT_EQ(m_platform.m_writes.size(), 2u);

  const Bytes& full = m_platform.m_writes[0];
  EXPECT_EQ(Head(full, 9), (Bytes{0x00, 0x27, 0x00, 0x16, 0x23, 0x00, 0x00, 0x20, 0x00}));
  EXPECT_EQ(Bytes(full.begin() + 9, full.begin() + 41), Bytes(chunk, chunk + 32));
  // The empty packet has no payload-length field.
  EXPECT_EQ(Head(m_platform.m_writes[1], 7), (Bytes{0x00, 0x05, 0x00, 0x16, 0x01, 0x00, 0x00}));
  // After its 6 bytes the report goes out with what the full packet left there.
  EXPECT_EQ(Bytes(m_platform.m_writes[1].begin() + 7, m_platform.m_writes[1].end()),
            Bytes(full.begin() + 7, full.end()));

  // Data packets trace each piece written, not the command.
  EXPECT_EQ(m_traces, (std::vector<std::string>{"WriteHid 39 btye sucessful\n",
                                                "WriteHid 5 btye sucessful\n"}));
}

TEST_F(AppMessagesTest, LongDataPacketsAreSplitIntoPiecesOf39Bytes) {
  Open();
  Bytes payload(40);
  for (size_t i = 0; i < payload.size(); ++i)
    payload[i] = static_cast<uint8_t>(i + 1);
  m_dlg.Run().m_app.SendFirmwarePacket(FW_DATA, payload.data(), static_cast<int>(payload.size()));
  // 47 message bytes: one piece of 39, one of 8 without a header of its own.
  ASSERT_EQ(m_platform.m_writes.size(), 2u);
  EXPECT_EQ(Head(m_platform.m_writes[0], 9),
            (Bytes{0x00, 0x27, 0x00, 0x16, 0x2B, 0x00, 0x00, 0x28, 0x00}));
  const Bytes& second = m_platform.m_writes[1];
  EXPECT_EQ(second[1], 8);
  // The 40th message byte is payload byte 33 (the payload starts at message byte 7).
  EXPECT_EQ(Bytes(second.begin() + 2, second.begin() + 10),
            Bytes(payload.begin() + 32, payload.end()));
  EXPECT_EQ(Count("WriteHid 39 btye sucessful\n"), 1);
  EXPECT_EQ(Count("WriteHid 8 btye sucessful\n"), 1);
}

TEST_F(AppMessagesTest, AFailedPieceEndsThePacketWithOneErrorTrace) {
  // No write handle: every write fails.
  Bytes payload(40, 0x55);
  m_dlg.Run().m_app.SendFirmwarePacket(FW_DATA, payload.data(), static_cast<int>(payload.size()));
  EXPECT_TRUE(m_platform.m_writes.empty());
  EXPECT_EQ(m_traces, std::vector<std::string>{"WriteHid error\n"});
}

TEST_F(AppMessagesTest, CommandsWithoutPayloadAreFiveBytesAndTraced) {
  Open();
  m_dlg.Run().m_app.SendFirmwarePacket(FW_VERSION, nullptr, 0);
  m_dlg.Run().m_app.SendFirmwarePacket(FW_FINISH, nullptr,
                                       -3);  // a negative length also means no payload
  ASSERT_EQ(m_platform.m_writes.size(), 2u);
  EXPECT_EQ(Head(m_platform.m_writes[0], 7), (Bytes{0x00, 0x05, 0x00, 0x16, 0x01, 0x00, 0x04}));
  EXPECT_EQ(Head(m_platform.m_writes[1], 7), (Bytes{0x00, 0x05, 0x00, 0x16, 0x01, 0x00, 0x02}));
  EXPECT_EQ(m_traces,
            (std::vector<std::string>{"SendFirmwarePacket cmd 4\n", "SendFirmwarePacket cmd 2\n"}));
}

TEST_F(AppMessagesTest, AnOtherPacketThatCannotFitOneReportIsNotWritten) {
  Open();
  Bytes payload(57, 0x11);  // 64 message bytes: one more than a report carries
  m_dlg.Run().m_app.SendFirmwarePacket(FW_FILE_INFO, payload.data(), 57);
  EXPECT_TRUE(m_platform.m_writes.empty());
  payload.resize(56);  // 63 bytes fit exactly
  m_dlg.Run().m_app.SendFirmwarePacket(FW_FILE_INFO, payload.data(), 56);
  ASSERT_EQ(m_platform.m_writes.size(), 1u);
  EXPECT_EQ(m_platform.m_writes[0][1], 63);
  EXPECT_EQ(m_platform.m_writes[0][64], 0x11);
}

TEST_F(AppMessagesTest, FileInformationCarriesVersionAddressSizeAndZeroReservedBytes) {
  Open();
  // An earlier, longer report leaves its bytes in the output buffer.
  Bytes filler(56, 0xEE);
  m_dlg.Run().m_app.SendFirmwarePacket(FW_FILE_INFO, filler.data(), 56);
  m_dlg.Run().m_desVersion = 0x0002008A;  // 1.38 beta 2
  m_dlg.Run().m_targetAddress = 0x08003400;
  m_dlg.Run().m_imageSize = 0x00012345;
  m_dlg.Run().m_app.SendFileInfo();
  ASSERT_EQ(m_platform.m_writes.size(), 2u);
  const Bytes& report = m_platform.m_writes[1];
  EXPECT_EQ(Head(report, 9), (Bytes{0x00, 0x23, 0x00, 0x16, 0x1F, 0x00, 0x01, 0x1C, 0x00}));
  EXPECT_EQ(Bytes(report.begin() + 9, report.begin() + 21),
            (Bytes{0x8A, 0x00, 0x02, 0x00, 0x00, 0x34, 0x00, 0x08, 0x45, 0x23, 0x01, 0x00}));
  EXPECT_EQ(Bytes(report.begin() + 21, report.begin() + 37), Bytes(16, 0x00));
}

TEST_F(AppMessagesTest, AppSerialMasksEachWordWithTheTableEntryOfItsLowNibble) {
  Open();
  // As after start-up: the second reference names the serial mask table.
  std::swap(m_dlg.Run().m_app.m_pFirstMaskTable, m_dlg.Run().m_app.m_pSecondMaskTable);
  m_dlg.Run().m_app.PrepareSerialMask();
  m_dlg.Run().m_app.m_serial[0] = 0x12345675;  // nibble 5: a word that PrepareSerialMask replaced
  m_dlg.Run().m_app.m_serial[1] = 0xABCDEF00;  // nibble 0: the stored word
  m_dlg.Run().m_app.m_serial[2] = 0x0000000F;  // nibble 15
  m_dlg.Run().m_app.SendAppSerial();

  const uint32_t expected[3] = {0x12345675u ^ kMaskWordsHigh[1], 0xABCDEF00u ^ kStoredMaskTable[0],
                                0x0000000Fu ^ kStoredMaskTable[15]};
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(m_dlg.Run().m_app.m_appSerial[i], expected[i]) << "word " << i;

  ASSERT_EQ(m_platform.m_writes.size(), 1u);
  const Bytes& report = m_platform.m_writes[0];
  EXPECT_EQ(Head(report, 9), (Bytes{0x00, 0x13, 0x00, 0x16, 0x0F, 0x00, 0x06, 0x0C, 0x00}));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(ReadLe32(report.data() + 9 + 4 * i), expected[i]);

  char line[96];
  std::snprintf(line, sizeof line, "App_Serial 0x%x 0x%x 0x%x\n", expected[0], expected[1],
                expected[2]);
  EXPECT_EQ(m_traces, (std::vector<std::string>{"SendFirmwarePacket cmd 6\n", line}));
}

// The table the controller's firmware checks against, pinned word by word: a serial of each low
// nibble, masked after start-up's exchange and the preparation, with the results worked out by
// hand from the stored words (0..3, 8..15) and the words prepared into 4..7.
TEST_F(AppMessagesTest, AppSerialOfEachNibbleMatchesTheControllersTable) {
  Open();
  std::swap(m_dlg.Run().m_app.m_pFirstMaskTable, m_dlg.Run().m_app.m_pSecondMaskTable);
  m_dlg.Run().m_app.PrepareSerialMask();
  struct Case {
    uint32_t serial, masked;
  };
  // The nibble above the low one differs from it, so that only the low nibble can pick the word.
  const Case cases[16] = {
      {0xC0FFEEF0, 0x9AE82D19}, {0xC0FFEEE1, 0xCC72A593}, {0xC0FFEED2, 0x7319F7FD},
      {0xC0FFEEC3, 0xA10F469E}, {0xC0FFEEB4, 0xBBB174B6}, {0xC0FFEEA5, 0xD62C2B2A},
      {0xC0FFEE96, 0x285F9FAA}, {0xC0FFEE87, 0x8F6A5866}, {0xC0FFEE78, 0x09A1CA60},
      {0xC0FFEE69, 0xDB8C03FF}, {0xC0FFEE5A, 0x205BB7D6}, {0xC0FFEE4B, 0xB6B0FD9C},
      {0xC0FFEE3C, 0x62C72E52}, {0xC0FFEE2D, 0x8D169508}, {0xC0FFEE1E, 0x58494A5F},
      {0xC0FFEE0F, 0xC3AAC1F5}};
  // Three serial words per report: six reports cover the sixteen nibbles.
  for (int report = 0; report < 6; ++report) {
    int first = std::min(3 * report, 13);
    for (int i = 0; i < 3; ++i)
      m_dlg.Run().m_app.m_serial[i] = cases[first + i].serial;
    m_dlg.Run().m_app.SendAppSerial();
    ASSERT_EQ(m_platform.m_writes.size(), static_cast<size_t>(report + 1));
    const Bytes& sent = m_platform.m_writes.back();
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(::testing::Message() << "nibble " << first + i);
      EXPECT_EQ(m_dlg.Run().m_app.m_appSerial[i], cases[first + i].masked);
      EXPECT_EQ(ReadLe32(sent.data() + 9 + 4 * i), cases[first + i].masked);
    }
  }
}

TEST_F(AppMessagesTest, PrepareSerialMaskWritesThroughBothReferences) {
  // Before start-up's exchange the first reference names the serial mask table.
  m_dlg.Run().m_app.PrepareSerialMask();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(m_dlg.Run().m_app.m_SerialMaskTable[i], kMaskWordsLow[i]);
    EXPECT_EQ(m_dlg.Run().m_app.m_SerialMaskTable[4 + i], kStoredMaskTable[4 + i]);
    EXPECT_EQ(m_dlg.Run().m_app.m_SpareMaskTable[4 + i], kMaskWordsHigh[i]);
  }
  // After it, words 4..7 of the serial mask table are replaced and the spare table takes 0..3.
  std::copy(std::begin(kStoredMaskTable), std::end(kStoredMaskTable),
            m_dlg.Run().m_app.m_SerialMaskTable);
  std::swap(m_dlg.Run().m_app.m_pFirstMaskTable, m_dlg.Run().m_app.m_pSecondMaskTable);
  m_dlg.Run().m_app.PrepareSerialMask();
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(m_dlg.Run().m_app.m_SerialMaskTable[i], kStoredMaskTable[i]);
    EXPECT_EQ(m_dlg.Run().m_app.m_SerialMaskTable[4 + i], kMaskWordsHigh[i]);
    EXPECT_EQ(m_dlg.Run().m_app.m_SpareMaskTable[i], kMaskWordsLow[i]);
  }
  for (int i = 8; i < kMaskTableWords; ++i)
    EXPECT_EQ(m_dlg.Run().m_app.m_SerialMaskTable[i], kStoredMaskTable[i]);
}

TEST_F(AppMessagesTest, DeviceIdentityIsReadAtItsFixedOffsets) {
  uint8_t body[40] = {};
  WriteLe32(body + 0, 0x11111111);
  WriteLe32(body + 4, 0x2222AAAA);
  WriteLe32(body + 8, 0x3333);
  WriteLe32(body + 12, 0x4);
  WriteLe32(body + 16, 0x5);
  WriteLe32(body + 20, 0xDEADBEEF);
  std::fill(body + 24, body + 36, 0x77);  // not read
  body[36] = 200;
  body[37] = 2;
  body[38] = 0x05;
  body[39] = 0x01;
  m_dlg.Run().m_app.ParseDeviceId(body);
  EXPECT_EQ(m_dlg.Run().m_app.m_serial[0], 0x11111111u);
  EXPECT_EQ(m_dlg.Run().m_app.m_serial[1], 0x2222AAAAu);
  EXPECT_EQ(m_dlg.Run().m_app.m_serial[2], 0x3333u);
  EXPECT_EQ(m_dlg.Run().m_app.m_nFirmwareType.load(), 200u);
  EXPECT_EQ(m_dlg.Run().m_app.m_productVariant, 2);
  EXPECT_EQ(m_dlg.Run().m_app.m_productId, 0x0105);
  EXPECT_EQ(m_traces,
            (std::vector<std::string>{"firmware type 200\n", "serial 11111111 2222aaaa 3333\n",
                                      "serial 4 5 deadbeef\n"}));
}

}  // namespace
