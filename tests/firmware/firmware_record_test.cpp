// The record chain of a firmware file: the search for a device type, and its end on malformed
// files.
#include <gtest/gtest.h>

#include "emulator/dat_writer.h"
#include "firmware/firmware_record.h"
#include "tests/support/held_file.h"
#include "tests/support/temp_folder.h"

namespace {

TEST(FirmwareRecordTest, DecodesTheLittleEndianHeader) {
  uint8_t bytes[28] = {0x8A, 0x00, 0x02, 0x00, 0x00, 0x34, 0x00, 0x08, 0x10, 0x27,
                       0x00, 0x00, 0x09, 0x30, 0x01, 0x00, 9,    8,    7,    6,
                       5,    4,    3,    2,    1,    0,    0xFF, 0xFE};
  FirmwareRecordHeader header = DecodeRecordHeader(bytes);
  EXPECT_EQ(header.version, 138);
  EXPECT_EQ(header.beta, 2);
  EXPECT_EQ(header.VersionWord(), 131210u);
  EXPECT_EQ(header.targetAddress, 0x08003400u);
  EXPECT_EQ(header.imageSize, 10000u);
  EXPECT_EQ(header.deviceType, 0x00013009u);
  EXPECT_EQ(header.reserved[0], 9);
  EXPECT_EQ(header.reserved[11], 0xFE);
}

TEST(FirmwareRecordTest, FindsTheFirstRecordOfTheDeviceType) {
  TempFolder folder;
  std::u16string single =
      folder.Write("single.dat", BuildDat({{.deviceType = 0x3009, .image = MakeImage(64)}}));
  EXPECT_EQ(FindFirmwareRecord(single, 0x3009), 0);

  std::u16string two =
      folder.Write("two.dat", BuildDat({{.deviceType = 0xA, .image = MakeImage(1000)},
                                        {.deviceType = 0xB, .image = MakeImage(64)}}));
  EXPECT_EQ(FindFirmwareRecord(two, 0xB), 1028);
  EXPECT_EQ(FindFirmwareRecord(two, 0xC), -1);

  std::u16string twice = folder.Write(
      "twice.dat", BuildDat({{.deviceType = 0xA, .image = MakeImage(10)},
                             {.version = 200, .deviceType = 0xB, .image = MakeImage(20)},
                             {.version = 300, .deviceType = 0xB, .image = MakeImage(64)}}));
  EXPECT_EQ(FindFirmwareRecord(twice, 0xB), 38);
  // All 32 bits count.
  EXPECT_EQ(FindFirmwareRecord(twice, 0x1000B), -1);
}

TEST(FirmwareRecordTest, EmptyMissingAndLockedFilesHaveNoRecord) {
  TempFolder folder;
  EXPECT_EQ(FindFirmwareRecord(folder.Write("empty.dat", {}), 0), -1);
  EXPECT_EQ(FindFirmwareRecord(folder.PathOf("missing.dat"), 0x3009), -1);
  std::u16string held = folder.Write("held.dat", BuildDat({{.image = MakeImage(64)}}));
  HeldFile holder(folder.m_path / "held.dat");
  ASSERT_TRUE(holder.held());
  EXPECT_EQ(FindFirmwareRecord(held, 0x3009), -1);
  holder.Release();
  EXPECT_EQ(FindFirmwareRecord(held, 0x3009), 0);
}

TEST(FirmwareRecordTest, MalformedChainsEndTheScanWithoutAMatch) {
  TempFolder folder;
  // A header cut short by the end of the file, even when its first bytes are there.
  std::vector<uint8_t> cut = BuildDat(
      {{.deviceType = 0xA, .image = MakeImage(4)}, {.deviceType = 0xB, .image = MakeImage(64)}});
  cut.resize(32 + 20);
  EXPECT_EQ(FindFirmwareRecord(folder.Write("cut.dat", cut), 0xB), -1);
  std::vector<uint8_t> tiny = BuildDat({{.deviceType = 0xB, .image = MakeImage(64)}});
  tiny.resize(27);
  EXPECT_EQ(FindFirmwareRecord(folder.Write("tiny.dat", tiny), 0xB), -1);

  // imageSize 0xFFFFFFE4: offset + 28 + imageSize is exactly 2^32 and would wrap to 0, which in
  // 32 bits would scan the first record for ever.
  std::vector<uint8_t> wraps = BuildDat({{.deviceType = 0xA,
                                          .image = MakeImage(8),
                                          .overrideSize = true,
                                          .imageSizeField = 0xFFFFFFE4},
                                         {.deviceType = 0xB, .image = MakeImage(64)}});
  EXPECT_EQ(FindFirmwareRecord(folder.Write("wraps.dat", wraps), 0xB), -1);
  std::vector<uint8_t> large = BuildDat({{.deviceType = 0xA,
                                          .image = MakeImage(8),
                                          .overrideSize = true,
                                          .imageSizeField = 0xFFFFFFFF},
                                         {.deviceType = 0xB, .image = MakeImage(64)}});
  EXPECT_EQ(FindFirmwareRecord(folder.Write("large.dat", large), 0xB), -1);

  // An image that runs past the end: the scan just stops at the end of the file.
  std::vector<uint8_t> past = BuildDat(
      {{.deviceType = 0xA, .image = MakeImage(8), .overrideSize = true, .imageSizeField = 5000}});
  EXPECT_EQ(FindFirmwareRecord(folder.Write("past.dat", past), 0xB), -1);
  EXPECT_EQ(FindFirmwareRecord(folder.Write("past2.dat", past), 0xA), 0);
}

}  // namespace
