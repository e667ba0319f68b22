// The running-firmware model against hand-built messages, through the device link.
#include "appmode/serial_mask.h"
#include "emulator/dat_writer.h"
#include "emulator/virtual_running_firmware.h"
#include "tests/emulator/emulator_fixture.h"

namespace {

const std::string kPath = "/virtual/app";

// A message after its length byte: 0, type, body length, body.
std::vector<uint8_t> Message(uint8_t type, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> m = {static_cast<uint8_t>(4 + body.size()), 0, type};
  PutLe(m, static_cast<uint32_t>(body.size()), 2);
  m.insert(m.end(), body.begin(), body.end());
  return m;
}
std::vector<uint8_t> FirmwarePacket(uint8_t command, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> body = {command};
  PutLe(body, static_cast<uint32_t>(payload.size()), 2);
  body.insert(body.end(), payload.begin(), payload.end());
  return Message(22, body);
}
const std::vector<uint8_t> kStartUpdate = {0x05, 0x00, 0x1A, 0x01, 0x00, 0x00};
const std::vector<uint8_t> kReadFailed = {0x05, 0x00, 0x1D, 0x01, 0x00, 0x00};
const std::vector<uint8_t> kVersionQuery = {0x05, 0x00, 0x16, 0x01, 0x00, 0x04};
const std::vector<uint8_t> kFinish = {0x05, 0x00, 0x16, 0x01, 0x00, 0x02};

// Payload of a firmware packet from the controller without payload: 05 00 16 01 00 command.
bool IsCommand(const std::vector<uint8_t>& reply, uint8_t command) {
  return reply.size() == 64 && std::vector<uint8_t>(reply.begin(), reply.begin() + 6) ==
                                   std::vector<uint8_t>{0x05, 0x00, 0x16, 0x01, 0x00, command};
}
bool IsDataRequest(const std::vector<uint8_t>& reply) {
  return IsCommand(reply, 20);
}

std::vector<uint8_t> FileInfo(uint32_t version, uint32_t address, uint32_t size) {
  std::vector<uint8_t> payload;
  PutLe(payload, version, 4);
  PutLe(payload, address, 4);
  PutLe(payload, size, 4);
  payload.resize(28, 0);
  return FirmwarePacket(1, payload);
}
std::vector<uint8_t> AppSerial(const uint32_t serial[3], bool lowWordsReplaced) {
  uint32_t table[kMaskTableWords];
  std::copy(kStoredMaskTable, kStoredMaskTable + kMaskTableWords, table);
  std::copy(kMaskWordsHigh, kMaskWordsHigh + 4, table + 4);
  if (lowWordsReplaced)
    std::copy(kMaskWordsLow, kMaskWordsLow + 4, table);
  std::vector<uint8_t> payload;
  for (int i = 0; i < 3; ++i)
    PutLe(payload, serial[i] ^ table[serial[i] & 0xF], 4);
  return FirmwarePacket(6, payload);
}

class RunningFirmwareTest : public EmulatorTest {
 protected:
  void AttachFirmware(RunningFirmwareConfig config = {}) {
    m_firmware = std::make_shared<VirtualRunningFirmware>(config);
    Attach(kPath, 0x0483, 0x5750, m_firmware);
  }
  std::vector<uint8_t> Exchange(const std::vector<uint8_t>& payload) {
    EXPECT_EQ(Send(payload), 1);
    return Receive();
  }
  // Start update and file information for an image of n bytes; answers the first request.
  std::vector<uint8_t> Begin(uint32_t n) {
    EXPECT_EQ(Exchange(kStartUpdate).size(), 64u);
    return Exchange(FileInfo(0x89, 0x08003400, n));
  }
  std::shared_ptr<VirtualRunningFirmware> m_firmware;
};

TEST_F(RunningFirmwareTest, VersionQueryGetsTheVersionWord) {
  RunningFirmwareConfig config;
  config.versionWord = 0x0003008C;
  AttachFirmware(config);
  std::vector<uint8_t> reply = Exchange(kVersionQuery);
  ASSERT_EQ(reply.size(), 64u);
  // Length 11: 00 16 07 00, then body: command 4, payload length 4, the word.
  EXPECT_EQ(
      std::vector<uint8_t>(reply.begin(), reply.begin() + 12),
      (std::vector<uint8_t>{11, 0x00, 0x16, 0x07, 0x00, 0x04, 0x04, 0x00, 0x8C, 0x00, 0x03, 0x00}));
  EXPECT_EQ(m_firmware->m_nVersionQueries, 1);
}

TEST_F(RunningFirmwareTest, VersionQueryCanAnswerFFFFFFFFOrNothing) {
  RunningFirmwareConfig config;
  config.versionWord = 0xFFFFFFFF;
  AttachFirmware(config);
  std::vector<uint8_t> reply = Exchange(kVersionQuery);
  ASSERT_EQ(reply.size(), 64u);
  EXPECT_EQ(GetLe(reply, 8, 4), 0xFFFFFFFFu);
  m_firmware->m_config.answerVersion = false;
  EXPECT_TRUE(Exchange(kVersionQuery).empty());
  EXPECT_TRUE(Exchange(kReadFailed).empty());  // nothing outstanding to send again
  EXPECT_EQ(m_firmware->m_nVersionQueries, 2);
}

TEST_F(RunningFirmwareTest, StartUpdateIsAnsweredWithTheIdentityAtItsFixedOffsets) {
  RunningFirmwareConfig config;
  config.firmwareType = 200;
  config.variant = 3;
  config.productCode = 0x0107;
  AttachFirmware(config);
  std::vector<uint8_t> id = Exchange(kStartUpdate);
  ASSERT_EQ(id.size(), 64u);
  EXPECT_EQ(id[0], 44);  // length byte: 4 + 40 body bytes
  EXPECT_EQ(std::vector<uint8_t>(id.begin() + 1, id.begin() + 5),
            (std::vector<uint8_t>{0x00, 0x19, 40, 0x00}));
  // The body starts at report byte 6, payload byte 5.
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(GetLe(id, 5 + 4 * i, 4), config.serial[i]);
    EXPECT_EQ(GetLe(id, 17 + 4 * i, 4), config.secondTriple[i]);
  }
  EXPECT_EQ(id[5 + 36], 200);
  EXPECT_EQ(id[5 + 37], 3);
  EXPECT_EQ(GetLe(id, 5 + 38, 2), 0x0107u);
}

// The whole exchange, every report hand-built, and the image read back.
TEST_F(RunningFirmwareTest, WholeExchangeByHandDeliversTheImage) {
  AttachFirmware();
  std::vector<uint8_t> image = MakeImage(100, 5);
  ASSERT_TRUE(IsDataRequest(Begin(100)));
  EXPECT_EQ(m_firmware->m_fileVersion, 0x89u);
  EXPECT_EQ(m_firmware->m_fileAddress, 0x08003400u);
  EXPECT_EQ(m_firmware->m_fileSize, 100u);

  // The file information report as it went out: 00 23 00 16 1F 00 01 1C 00 ...
  std::vector<TranscriptEntry> t = m_platform.Transcript();
  ASSERT_GE(t.size(), 4u);
  EXPECT_EQ(std::vector<uint8_t>(t[2].bytes.begin(), t[2].bytes.begin() + 9),
            (std::vector<uint8_t>{0x00, 0x23, 0x00, 0x16, 0x1F, 0x00, 0x01, 0x1C, 0x00}));

  // Chunks of 32, 32, 32 and 4: each of the first three is answered with a request.
  for (uint32_t at = 0; at < 96; at += 32) {
    std::vector<uint8_t> packet =
        FirmwarePacket(0, std::vector<uint8_t>(image.begin() + at, image.begin() + at + 32));
    ASSERT_EQ(packet.size(), 40u);  // 00 27 00 16 23 00 00 20 00 after the report id
    ASSERT_EQ(packet[0], 0x27);
    ASSERT_TRUE(IsDataRequest(Exchange(packet))) << at;
  }
  // The chunk that completes the image is not answered: the serial follows at once.
  EXPECT_TRUE(
      Exchange(FirmwarePacket(0, std::vector<uint8_t>(image.begin() + 96, image.end()))).empty());
  const uint32_t serial[3] = {0x12345675u, 0x0BADF00Du, 0xCAFE0010u};
  ASSERT_TRUE(IsDataRequest(Exchange(AppSerial(serial, false))));
  EXPECT_EQ(m_firmware->m_bSerialAccepted, 1);
  EXPECT_EQ(m_firmware->m_nSerialTable, 1);
  EXPECT_TRUE(Exchange(kFinish).empty());

  EXPECT_EQ(m_firmware->m_bFinished, 1);
  EXPECT_EQ(m_firmware->m_nChunks, 4);
  EXPECT_EQ(m_firmware->m_image, image);
  EXPECT_EQ(m_firmware->m_nUnexpected, 0);
  uint32_t expected[3];
  m_firmware->ExpectedAppSerial(expected);
  EXPECT_EQ(GetLe(m_firmware->m_serialReceived, 0, 4), expected[0]);
  // Every report of the exchange is in the transcript: 8 from the host, 6 replies.
  t = m_platform.Transcript();
  int fromHost = 0;
  for (const auto& entry : t)
    fromHost += entry.fromHost ? 1 : 0;
  EXPECT_EQ(fromHost, 8);
  EXPECT_EQ(t.size(), 14u);
}

TEST_F(RunningFirmwareTest, SerialMaskedWithBothReplacedHalvesIsAcceptedAndNamed) {
  AttachFirmware();
  ASSERT_TRUE(IsDataRequest(Begin(32)));
  EXPECT_TRUE(Exchange(FirmwarePacket(0, MakeImage(32))).empty());
  const uint32_t serial[3] = {0x12345675u, 0x0BADF00Du, 0xCAFE0010u};
  ASSERT_TRUE(IsDataRequest(Exchange(AppSerial(serial, true))));
  EXPECT_EQ(m_firmware->m_nSerialTable, 2);
}

TEST_F(RunningFirmwareTest, WrongSerialIsRefusedWithTheFailureCode) {
  AttachFirmware();
  ASSERT_TRUE(IsDataRequest(Begin(32)));
  Exchange(FirmwarePacket(0, MakeImage(32)));
  const uint32_t wrong[3] = {0x12345675u, 0x0BADF00Du, 0xCAFE0011u};
  EXPECT_TRUE(IsCommand(Exchange(AppSerial(wrong, false)), 24));
  EXPECT_EQ(m_firmware->m_bSerialChecked, 1);
  EXPECT_EQ(m_firmware->m_bSerialAccepted, 0);
  EXPECT_TRUE(Exchange(kFinish).empty());
  EXPECT_EQ(m_firmware->m_bFinished, 0);
}

TEST_F(RunningFirmwareTest, ReadFailedResendsTheOutstandingMessageOnly) {
  AttachFirmware();
  m_platform.Faults(kPath).dropNextReplies = 1;
  EXPECT_TRUE(Exchange(kStartUpdate).empty());  // the identity is lost on the wire
  std::vector<uint8_t> id = Exchange(kReadFailed);
  ASSERT_EQ(id.size(), 64u);
  EXPECT_EQ(id[2], 0x19);
  EXPECT_EQ(Exchange(kReadFailed)[2], 0x19);  // still outstanding
  EXPECT_EQ(m_firmware->m_nResends, 2);
  EXPECT_EQ(m_firmware->m_nStartUpdates, 1);

  // After any other report the identity is no longer outstanding.
  EXPECT_TRUE(IsDataRequest(Exchange(FileInfo(0x89, 0x08003400, 64))));
  ASSERT_TRUE(IsDataRequest(Exchange(kReadFailed)));  // the request is outstanding now
  Exchange(FirmwarePacket(0, MakeImage(32)));         // answered by a request
  Exchange(kVersionQuery);                            // answered by the version
  EXPECT_EQ(GetLe(Exchange(kReadFailed), 8, 4), 0x89u);
  std::vector<uint8_t> garbled = kVersionQuery;
  garbled[1] = 1;  // message byte 0 not 0: not placed, but the host has moved on
  EXPECT_TRUE(Exchange(garbled).empty());
  EXPECT_TRUE(Exchange(kReadFailed).empty());
  EXPECT_EQ(m_firmware->m_nReadFailed, 5);
  EXPECT_EQ(m_firmware->m_nResends, 4);
  EXPECT_EQ(m_firmware->m_nUnexpected, 1);
}

TEST_F(RunningFirmwareTest, FailureCodeComesAfterTheNthChunkAndOnlyThen) {
  for (uint8_t code : {21, 24}) {
    RunningFirmwareConfig config;
    config.failAfterChunks = 2;
    config.failureCode = code;
    AttachFirmware(config);
    ASSERT_TRUE(IsDataRequest(Begin(320)));
    EXPECT_TRUE(IsDataRequest(Exchange(FirmwarePacket(0, MakeImage(32)))));
    EXPECT_TRUE(IsCommand(Exchange(FirmwarePacket(0, MakeImage(32))), code));
    EXPECT_TRUE(Exchange(FirmwarePacket(0, MakeImage(32))).empty());  // no more data taken
    EXPECT_EQ(m_firmware->m_nChunks, 2);
    EXPECT_EQ(m_firmware->m_nUnexpected, 1);
    m_platform.Unplug(kPath);
  }
}

TEST_F(RunningFirmwareTest, WrongCommandKnobSpoilsTheNextPacketsAndTheResendIsRight) {
  AttachFirmware();
  m_firmware->m_nWrongCommandReplies = 1;
  std::vector<uint8_t> spoiled = Begin(64);
  EXPECT_TRUE(IsCommand(spoiled, 99));
  EXPECT_TRUE(IsDataRequest(Exchange(kReadFailed)));
  EXPECT_TRUE(IsDataRequest(Exchange(FirmwarePacket(0, MakeImage(32)))));
}

TEST_F(RunningFirmwareTest, MessagesAtTheWrongMomentOrBadlyFramedAreNotPlaced) {
  AttachFirmware();
  EXPECT_TRUE(Exchange(FileInfo(0x89, 0x08003400, 64)).empty());  // before start update
  EXPECT_TRUE(Exchange(FirmwarePacket(0, MakeImage(32))).empty());
  EXPECT_TRUE(Exchange(kFinish).empty());
  std::vector<uint8_t> badLength = kVersionQuery;
  badLength[0] = 7;  // length byte disagrees with the body length
  EXPECT_TRUE(Exchange(badLength).empty());
  std::vector<uint8_t> badPayload = FirmwarePacket(0, MakeImage(8));
  badPayload[6] = 9;  // payload length says 9, body carries 8
  EXPECT_TRUE(Exchange(badPayload).empty());
  EXPECT_EQ(m_firmware->m_nUnexpected, 5);
  EXPECT_EQ(m_firmware->m_bFileInfo, 0);
  EXPECT_EQ(m_firmware->m_bFinished, 0);
  EXPECT_TRUE(m_firmware->m_image.empty());
}

TEST_F(RunningFirmwareTest, RequestAfterCompleteAsksOnceMoreAndKeepsExtraChunks) {
  RunningFirmwareConfig config;
  config.requestAfterComplete = true;
  AttachFirmware(config);
  ASSERT_TRUE(IsDataRequest(Begin(20)));
  // A 32-byte chunk covers the 20 bytes; the firmware still asks.
  EXPECT_TRUE(IsDataRequest(Exchange(FirmwarePacket(0, MakeImage(32)))));
  // An empty chunk (no payload-length field, as at the end of a file): stored, extra.
  EXPECT_TRUE(Exchange({0x05, 0x00, 0x16, 0x01, 0x00, 0x00}).empty());
  EXPECT_EQ(m_firmware->m_nExtraChunks, 1);
  EXPECT_EQ(m_firmware->m_image.size(), 32u);
  const uint32_t serial[3] = {0x12345675u, 0x0BADF00Du, 0xCAFE0010u};
  EXPECT_TRUE(IsDataRequest(Exchange(AppSerial(serial, false))));
}

}  // namespace
