// The boot-loader model against hand-built request packets, through the device link.
#include <cstring>

#include "emulator/dat_writer.h"
#include "emulator/virtual_boot_loader.h"
#include "tests/emulator/emulator_fixture.h"

namespace {

const std::string kPath = "/virtual/boot";

// Request packet: type 5, command, answered command 0, data length, CRC, size, address, data.
std::vector<uint8_t> Request(uint16_t command, uint32_t size, uint32_t address,
                             const std::vector<uint8_t>& data = {}, int crc = -1) {
  std::vector<uint8_t> p = {5};
  PutLe(p, command, 2);
  PutLe(p, 0, 2);
  PutLe(p, static_cast<uint32_t>(data.size()), 2);
  uint32_t crcField = crc >= 0       ? static_cast<uint32_t>(crc)
                      : data.empty() ? 0
                                     : Crc16Modbus(data.data(), data.size());
  PutLe(p, crcField, 2);
  PutLe(p, size, 4);
  PutLe(p, address, 4);
  p.insert(p.end(), data.begin(), data.end());
  return p;
}
// A read request: data length and size both the count, no data, CRC 0.
std::vector<uint8_t> ReadRequest(uint16_t command, uint32_t count, uint32_t address) {
  std::vector<uint8_t> p = Request(command, count, address);
  p[5] = static_cast<uint8_t>(count);
  return p;
}

// The reply's required contents: 0, 5, command field 0, the answered command.
bool Answers(const std::vector<uint8_t>& reply, uint16_t command) {
  return reply.size() == 64 && reply[0] == 0 && reply[1] == 5 && GetLe(reply, 2, 2) == 0 &&
         GetLe(reply, 4, 2) == command;
}

class BootLoaderTest : public EmulatorTest {
 protected:
  void AttachLoader(BootLoaderConfig config = {}) {
    m_loader = std::make_shared<VirtualBootLoader>(config);
    Attach(kPath, 0x7A3D, 0x3208, m_loader);
  }
  std::vector<uint8_t> Exchange(const std::vector<uint8_t>& request) {
    EXPECT_EQ(Send(request), 1);
    return Receive();
  }
  std::shared_ptr<VirtualBootLoader> m_loader;
};

TEST(Crc16Modbus, MatchesTheCheckValueAndStartsAtFFFF) {
  const char* check = "123456789";
  EXPECT_EQ(Crc16Modbus(reinterpret_cast<const uint8_t*>(check), 9), 0x4B37);
  EXPECT_EQ(Crc16Modbus(nullptr, 0), 0xFFFF);
  const uint8_t one[] = {0x01};
  EXPECT_EQ(Crc16Modbus(one, 1), 0x807E);
}

TEST_F(BootLoaderTest, FullWriteIsA63BytePacketAndIsAcknowledged) {
  AttachLoader();
  std::vector<uint8_t> data = MakeImage(46);
  std::vector<uint8_t> request = Request(3, 1000, 0x08003400, data);
  ASSERT_EQ(request.size(), 63u);
  std::vector<uint8_t> reply = Exchange(request);
  ASSERT_TRUE(Answers(reply, 3));
  EXPECT_EQ(GetLe(reply, 10, 4), 1000u);        // size echoed
  EXPECT_EQ(GetLe(reply, 14, 4), 0x08003400u);  // address echoed
  EXPECT_EQ(m_loader->ReadFlash(0x08003400, 46), data);
  EXPECT_EQ(m_loader->ReadFlash(0x08003400 + 46, 1), std::vector<uint8_t>{0xFF});
  EXPECT_EQ(m_loader->m_commands, std::vector<uint16_t>{3});
  // On the wire: report id 0, the 63 packet bytes, and position 64 as the buffer left it (0).
  std::vector<TranscriptEntry> t = m_platform.Transcript();
  ASSERT_EQ(t.size(), 2u);
  EXPECT_EQ(std::vector<uint8_t>(t[0].bytes.begin() + 1, t[0].bytes.begin() + 64), request);
}

TEST_F(BootLoaderTest, ReadMemoryOf12BytesAnswersAtReplyOffset18) {
  BootLoaderConfig config;
  AttachLoader(config);
  std::vector<uint8_t> request = ReadRequest(5, 12, kLayout3009.identityArea);
  ASSERT_EQ(request.size(), 17u);
  EXPECT_EQ(GetLe(request, 7, 2), 0u);  // no data, CRC 0 (not 0xFFFF)
  std::vector<uint8_t> reply = Exchange(request);
  ASSERT_TRUE(Answers(reply, 5));
  EXPECT_EQ(GetLe(reply, 6, 2), 12u);
  EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 18, reply.begin() + 30),
            std::vector<uint8_t>(config.identity, config.identity + 12));
  EXPECT_EQ(reply[30], 0);  // nothing after the 12 bytes

  // The version area holds the configured word; never-written flash reads 0xFF.
  reply = Exchange(ReadRequest(5, 4, kLayout3009.versionArea));
  ASSERT_TRUE(Answers(reply, 5));
  EXPECT_EQ(GetLe(reply, 18, 4), 0x89u);
  reply = Exchange(ReadRequest(5, 6, 0x80000002));
  ASSERT_TRUE(Answers(reply, 5));
  EXPECT_EQ(std::vector<uint8_t>(reply.begin() + 18, reply.begin() + 24),
            std::vector<uint8_t>(6, 0xFF));
}

TEST_F(BootLoaderTest, DeviceTypeAnswerAndLayoutFollowTheConfiguration) {
  AttachLoader();
  std::vector<uint8_t> reply = Exchange(ReadRequest(8, 4, 0));
  ASSERT_TRUE(Answers(reply, 8));
  EXPECT_EQ(GetLe(reply, 18, 4), 0x3009u);
  EXPECT_EQ(m_loader->Layout().imageBase, 0x08003400u);

  BootLoaderConfig other;
  other.deviceType = 0;
  other.versionWord = 0x0003008C;
  VirtualBootLoader loaderOther(other);
  EXPECT_EQ(loaderOther.Layout().imageBase, 0x01018000u);
  EXPECT_EQ(loaderOther.VersionWord(), 0x0003008Cu);
  EXPECT_EQ(loaderOther.ReadFlash(0x01017040, 4), (std::vector<uint8_t>{0x8C, 0, 3, 0}));
  EXPECT_EQ(loaderOther.ReadFlash(0x01017000, 1), std::vector<uint8_t>{0x11});
}

TEST_F(BootLoaderTest, WithoutDeviceTypeCommand8GetsNoAnswer) {
  BootLoaderConfig config;
  config.deviceType = std::nullopt;
  AttachLoader(config);
  EXPECT_TRUE(Exchange(ReadRequest(8, 4, 0)).empty());
  EXPECT_EQ(m_loader->Layout().versionArea, 0x08014034u);
  std::vector<uint8_t> reply = Exchange(ReadRequest(5, 4, 0x08014034));
  ASSERT_TRUE(Answers(reply, 5));
  EXPECT_EQ(GetLe(reply, 18, 4), 0x89u);
}

TEST_F(BootLoaderTest, CrcMismatchGetsNoReplyWritesNothingAndIsCounted) {
  AttachLoader();
  std::vector<uint8_t> data = {1, 2, 3, 4};
  uint16_t good = Crc16Modbus(data.data(), 4);
  uint64_t start = Now();
  EXPECT_TRUE(Exchange(Request(3, 4, 0x08003400, data, good ^ 0x0100)).empty());
  EXPECT_EQ(Now() - start, 10u);
  EXPECT_EQ(m_loader->m_nCrcMismatches, 1);
  EXPECT_EQ(m_loader->ReadFlash(0x08003400, 4), std::vector<uint8_t>(4, 0xFF));
  EXPECT_TRUE(Answers(Exchange(Request(3, 4, 0x08003400, data, good)), 3));
  EXPECT_EQ(m_loader->m_nCrcMismatches, 1);
}

TEST_F(BootLoaderTest, EraseMakesBytesReadFFAndRewritesAreJudgedAgainstIt) {
  AttachLoader();
  const uint32_t at = 0x08003434;  // the version area
  EXPECT_EQ(m_loader->VersionWord(), 0x89u);
  std::vector<uint8_t> word = {0x8C, 0x00, 0x00, 0x00};

  // Over the preset word without an erase: a fault, bits only cleared (0x89 & 0x8C).
  EXPECT_TRUE(Answers(Exchange(Request(2, 4, at, word)), 2));
  EXPECT_EQ(m_loader->m_nWriteFaults, 1);
  EXPECT_EQ(m_loader->VersionWord(), 0x88u);

  EXPECT_TRUE(Answers(Exchange(Request(4, 32, at)), 4));
  EXPECT_EQ(m_loader->m_erases.back(), std::make_pair(at, 32u));
  EXPECT_EQ(m_loader->ReadFlash(at, 32), std::vector<uint8_t>(32, 0xFF));
  EXPECT_TRUE(Answers(Exchange(Request(2, 4, at, word)), 2));
  EXPECT_EQ(m_loader->VersionWord(), 0x8Cu);
  EXPECT_EQ(m_loader->m_nWriteFaults, 1);
  EXPECT_EQ(m_loader->m_nRepeatedWrites, 0);

  // The same chunk again (its acknowledgement was lost): accepted and counted, no fault.
  EXPECT_TRUE(Answers(Exchange(Request(2, 4, at, word)), 2));
  EXPECT_EQ(m_loader->m_nRepeatedWrites, 1);
  EXPECT_EQ(m_loader->m_nWriteFaults, 1);
  // The erase covered exactly its range.
  EXPECT_EQ(m_loader->ReadFlash(0x0800001C, 1), std::vector<uint8_t>{0x11});
}

// A rehearsal keeps one controller's flash across runs: what a write left, which bytes are
// written (a write over them is still a fault), and nothing but what SaveFlash gave is taken.
TEST_F(BootLoaderTest, SavedFlashComesBackWholeAndNothingElseIsTaken) {
  AttachLoader();
  const uint32_t at = 0x08003434;
  EXPECT_TRUE(Answers(Exchange(Request(4, 32, at)), 4));
  EXPECT_TRUE(Answers(Exchange(Request(2, 4, at, {0x8C, 0, 0, 0})), 2));
  const std::vector<uint8_t> saved = m_loader->SaveFlash();

  VirtualBootLoader again(BootLoaderConfig{.versionWord = 0x1234});
  ASSERT_TRUE(again.LoadFlash(saved));
  EXPECT_EQ(again.VersionWord(), 0x8Cu);
  EXPECT_EQ(again.ReadFlash(at + 4, 28), std::vector<uint8_t>(28, 0xFF));
  EXPECT_EQ(again.ReadFlash(0x0800001C, 2), (std::vector<uint8_t>{0x11, 0x22}));
  EXPECT_EQ(again.SaveFlash(), saved);

  std::vector<uint8_t> twice = saved;  // the first page once more
  twice.insert(twice.end(), saved.begin() + 9, saved.begin() + 9 + 292);
  std::vector<uint8_t> farPage = saved;
  farPage[9 + 3] = 0x01;  // page 0x01xxxxxx: past the 32-bit address space
  const std::vector<std::vector<uint8_t>> refused = {
      {},
      std::vector<uint8_t>(saved.begin(), saved.end() - 1),
      twice,
      farPage,
      std::vector<uint8_t>(saved.size(), 0)};
  for (const std::vector<uint8_t>& bytes : refused) {
    EXPECT_FALSE(again.LoadFlash(bytes)) << bytes.size() << " bytes";
    EXPECT_EQ(again.VersionWord(), 0x8Cu);
  }
}

TEST_F(BootLoaderTest, MalformedAndUnknownPacketsGetNoReply) {
  AttachLoader();
  std::vector<uint8_t> wrongType = ReadRequest(5, 4, 0x08003434);
  wrongType[0] = 6;
  std::vector<uint8_t> answeredSet = ReadRequest(5, 4, 0x08003434);
  answeredSet[3] = 5;
  std::vector<uint8_t> tooLong = ReadRequest(5, 4, 0x08003434);
  tooLong[5] = 47;
  std::vector<uint8_t> wraps = Request(4, 0x100, 0xFFFFFF80);
  for (const auto& request : {wrongType, answeredSet, tooLong, wraps})
    EXPECT_TRUE(Exchange(request).empty());
  EXPECT_EQ(m_loader->m_nMalformedPackets, 4);
  EXPECT_TRUE(Exchange(ReadRequest(6, 4, 0)).empty());
  EXPECT_EQ(m_loader->m_nUnknownCommands, 1);
  EXPECT_TRUE(m_loader->m_commands.empty());
}

TEST_F(BootLoaderTest, WrongCommandKnobSpoilsOnlyTheNextNReplies) {
  AttachLoader();
  m_loader->m_nWrongCommandReplies = 2;
  std::vector<uint8_t> reply = Exchange(Request(7, 0, 0));
  EXPECT_TRUE(Answers(reply, 8));       // names another command
  EXPECT_EQ(m_loader->m_bFinished, 1);  // but the command was carried out
  EXPECT_FALSE(Answers(Exchange(ReadRequest(5, 4, 0)), 5));
  EXPECT_TRUE(Answers(Exchange(ReadRequest(5, 4, 0)), 5));
}

TEST_F(BootLoaderTest, IgnoreKnobsLeaveRequestsUnexecutedAndUnanswered) {
  AttachLoader();
  m_loader->m_nIgnoreCommandCount = 1;
  EXPECT_TRUE(Exchange(Request(4, 32, 0x08003434)).empty());
  EXPECT_EQ(m_loader->VersionWord(), 0x89u);  // not erased
  EXPECT_TRUE(Answers(Exchange(Request(4, 32, 0x08003434)), 4));

  m_loader->m_ignoreCommand = 7;
  EXPECT_TRUE(Exchange(Request(7, 0, 0)).empty());
  EXPECT_TRUE(Exchange(Request(7, 0, 0)).empty());
  EXPECT_EQ(m_loader->m_bFinished, 0);
  EXPECT_TRUE(Answers(Exchange(ReadRequest(5, 4, 0)), 5));
  EXPECT_EQ(m_loader->m_nIgnored, 3);
}

TEST_F(BootLoaderTest, DamagedWriteIsRejectedAndRepeatedReplyComesTwice) {
  AttachLoader();
  std::vector<uint8_t> data = MakeImage(46);
  m_loader->m_nDamagedWrites = 1;
  EXPECT_TRUE(Exchange(Request(3, 46, 0x08003400, data)).empty());
  EXPECT_EQ(m_loader->m_nCrcMismatches, 1);
  m_loader->m_nRepeatedReplies = 1;
  EXPECT_TRUE(Answers(Exchange(Request(3, 46, 0x08003400, data)), 3));  // the resend is taken
  EXPECT_TRUE(Answers(Receive(), 3));
  EXPECT_TRUE(Receive().empty());
  EXPECT_EQ(m_loader->ReadFlash(0x08003400, 46), data);
}

// A whole boot-mode update by hand: identify, erase the image region, write the image in 46-byte
// chunks, erase and rewrite the version area, finish; then read the flash back.
TEST_F(BootLoaderTest, WholeUpdateByHandLeavesTheImageAndTheNewVersionInFlash) {
  AttachLoader();
  const uint32_t base = 0x08003400, versionArea = 0x08003434;
  std::vector<uint8_t> image = MakeImage(1000, 7);
  m_loader->Preload(base, MakeImage(1200, 3));  // the old firmware, 1200 bytes

  ASSERT_TRUE(Answers(Exchange(ReadRequest(8, 4, 0)), 8));
  ASSERT_TRUE(Answers(Exchange(Request(4, 1000, base)), 4));
  for (uint32_t done = 0; done < image.size();) {
    uint32_t n = std::min<uint32_t>(46, static_cast<uint32_t>(image.size()) - done);
    std::vector<uint8_t> chunk(image.begin() + done, image.begin() + done + n);
    ASSERT_TRUE(Answers(Exchange(Request(3, 1000, base + done, chunk)), 3)) << done;
    done += n;
  }
  ASSERT_TRUE(Answers(Exchange(Request(4, 32, versionArea)), 4));
  ASSERT_TRUE(Answers(Exchange(Request(2, 4, versionArea, {0x8C, 0x00, 0x02, 0x00})), 2));
  ASSERT_TRUE(Answers(Exchange(Request(7, 0, 0)), 7));

  EXPECT_EQ(m_loader->m_nWriteFaults, 0);
  EXPECT_EQ(m_loader->m_nCrcMismatches, 0);
  EXPECT_EQ(m_loader->m_bFinished, 1);
  // Everything but the version area (base + 0x34 .. + 0x54) is the image; the area on its own.
  std::vector<uint8_t> flash = m_loader->ReadFlash(base, 1000);
  for (uint32_t i = 0; i < 1000; ++i) {
    if (i < 0x34 || i >= 0x54) {
      ASSERT_EQ(flash[i], image[i]) << i;
    }
  }
  EXPECT_EQ(m_loader->VersionWord(), 0x0002008Cu);
  EXPECT_EQ(m_loader->ReadFlash(versionArea + 4, 28), std::vector<uint8_t>(28, 0xFF));
  // The old firmware's bytes after the erased region are still there.
  std::vector<uint8_t> old = MakeImage(1200, 3);
  EXPECT_EQ(m_loader->ReadFlash(base + 1000, 200),
            std::vector<uint8_t>(old.begin() + 1000, old.end()));
}

}  // namespace
