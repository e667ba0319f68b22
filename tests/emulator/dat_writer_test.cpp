// The .dat writer: record layout, images, and the malformed files the parsers must survive.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "emulator/dat_writer.h"
#include "tests/emulator/emulator_fixture.h"

namespace {

TEST(DatWriter, RecordsAreA28ByteLittleEndianHeaderAndTheImageBackToBack) {
  DatRecord first;
  first.version = 0x0189;
  first.beta = 3;
  first.targetAddress = 0x08003400;
  first.deviceType = 0x3009;
  first.reserved[0] = 0xAA;
  first.image = {1, 2, 3};
  DatRecord second;
  second.deviceType = 0x1234;
  second.image = MakeImage(5);
  std::vector<uint8_t> dat = BuildDat({first, second});
  ASSERT_EQ(dat.size(), 28u + 3 + 28 + 5);
  EXPECT_EQ(std::vector<uint8_t>(dat.begin(), dat.begin() + 17),
            (std::vector<uint8_t>{0x89, 0x01, 0x03, 0x00, 0x00, 0x34, 0x00, 0x08, 0x03, 0x00, 0x00,
                                  0x00, 0x09, 0x30, 0x00, 0x00, 0xAA}));
  EXPECT_EQ(std::vector<uint8_t>(dat.begin() + 28, dat.begin() + 31), first.image);
  EXPECT_EQ(GetLe(dat, 31 + 8, 4), 5u);
  EXPECT_EQ(GetLe(dat, 31 + 12, 4), 0x1234u);
  EXPECT_EQ(std::vector<uint8_t>(dat.begin() + 59, dat.end()), second.image);
}

TEST(DatWriter, ImagesAreDeterministicWithoutFFAndWithoutEqualNeighbours) {
  std::vector<uint8_t> image = MakeImage(5000, 9);
  EXPECT_EQ(image, MakeImage(5000, 9));
  EXPECT_NE(image, MakeImage(5000, 10));
  for (size_t i = 0; i < image.size(); ++i) {
    ASSERT_NE(image[i], 0xFF) << i;
    if (i > 0) {
      ASSERT_NE(image[i], image[i - 1]) << i;
    }
  }
  EXPECT_TRUE(MakeImage(0).empty());
}

TEST(DatWriter, MalformedFilesAreMalformedAsAdvertised) {
  DatRecord record;
  record.image = MakeImage(100);
  EXPECT_EQ(DatCutInsideHeader(record, 10).size(), 10u);
  EXPECT_EQ(DatCutInsideHeader(record, 200).size(), 27u);  // always inside the header

  std::vector<uint8_t> past = DatImageRunsPastEnd(record, 7);
  EXPECT_EQ(GetLe(past, 8, 4), 100u);
  EXPECT_EQ(past.size(), 28u + 93);
  past = DatImageRunsPastEnd(record, 150);  // more missing than the image: announce 150
  EXPECT_EQ(GetLe(past, 8, 4), 150u);
  EXPECT_EQ(past.size(), 28u);

  std::vector<uint8_t> wrap = DatWrappingSize(record);
  uint32_t size = GetLe(wrap, 8, 4);
  EXPECT_EQ(static_cast<uint32_t>(28u + size), 0u);  // the next offset wraps back to 0
  EXPECT_EQ(wrap.size(), 128u);

  record.overrideSize = true;
  record.imageSizeField = 0;
  EXPECT_EQ(GetLe(BuildDat({record}), 8, 4), 0u);
  EXPECT_EQ(BuildDat({record}).size(), 128u);
}

TEST(DatWriter, WriteFileStoresTheBytes) {
  std::string path = ::testing::TempDir() + "dat_writer_test.dat";
  std::vector<uint8_t> bytes = MakeImage(300);
  ASSERT_TRUE(WriteFile(path, bytes));
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> back((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(back, bytes);
  std::remove(path.c_str());
  EXPECT_FALSE(WriteFile("/nonexistent-dir/x.dat", bytes));
}

}  // namespace
