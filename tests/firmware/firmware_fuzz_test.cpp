// Deterministic fuzzing of the firmware-file parsing: many random and mutated files, fixed seed.
// Every file must end the scan, and the answers must agree with an in-memory model of the record
// chain; built with the sanitizers this also catches any read out of bounds.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>

#include "base/local_text.h"
#include "base/trace.h"
#include "emulator/dat_writer.h"
#include "firmware/firmware_record.h"
#include "tests/support/fake_window_system.h"
#include "tests/support/temp_folder.h"
#include "update/update_dlg.h"

namespace {

uint32_t U32At(const std::vector<uint8_t>& bytes, uint64_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
         (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

// The record chain as the firmware file defines it, walked over the bytes in memory.
int32_t ModelFind(const std::vector<uint8_t>& bytes, uint32_t deviceType) {
  uint64_t offset = 0;
  while (offset < bytes.size()) {
    if (offset + 28 > bytes.size())
      return -1;
    if (U32At(bytes, offset + 12) == deviceType)
      return static_cast<int32_t>(offset);
    offset += 28 + uint64_t{U32At(bytes, offset + 8)};
    if (offset > 0xFFFFFFFFu)
      return -1;
  }
  return -1;
}

std::vector<uint8_t> RandomFile(std::mt19937& random) {
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  std::vector<uint8_t> bytes;
  switch (pick(3)) {
    case 0: {  // random bytes
      bytes.resize(pick(200));
      for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
      return bytes;
    }
    default: {  // a chain of records, then mutated
      std::vector<DatRecord> records(1 + pick(4));
      for (DatRecord& r : records) {
        r.version = static_cast<uint16_t>(random());
        r.beta = static_cast<uint16_t>(pick(3) == 0 ? random() : 0);
        r.deviceType = pick(2) ? 0x3009 : pick(4);
        r.image = MakeImage(pick(120));
      }
      bytes = BuildDat(records);
      break;
    }
  }
  const uint32_t sizes[] = {0, 1, 0xFFFFFFE4, 0xFFFFFFFF, 0x7FFFFFFF, 0x80000000};
  for (uint32_t m = pick(4); m > 0 && !bytes.empty(); --m) {
    switch (pick(4)) {
      case 0:
        bytes[pick(static_cast<uint32_t>(bytes.size()))] ^= static_cast<uint8_t>(1 + pick(255));
        break;
      case 1:
        bytes.resize(pick(static_cast<uint32_t>(bytes.size()) + 1));
        break;
      case 2:
        if (bytes.size() >= 12) {
          uint32_t size = sizes[pick(6)];
          for (int i = 0; i < 4; ++i)
            bytes[8 + i] = static_cast<uint8_t>(size >> (8 * i));
        }
        break;
      default:
        bytes.insert(bytes.end(), pick(40), static_cast<uint8_t>(random()));
        break;
    }
  }
  return bytes;
}

// The selection test changes process globals; they are put back whatever way a test ends.
class FirmwareFuzzTest : public ::testing::Test {
 protected:
};

TEST_F(FirmwareFuzzTest, RandomAndMutatedFilesEndAndAgreeWithTheModel) {
  TempFolder folder;
  std::mt19937 random(20240611);
  int found = 0;
  for (int i = 0; i < 1000; ++i) {
    std::vector<uint8_t> bytes = RandomFile(random);
    std::u16string path = folder.Write("fuzz.dat", bytes);
    for (uint32_t type : {0x3009u, 0u, 1u}) {
      int32_t expected = ModelFind(bytes, type);
      ASSERT_EQ(FindFirmwareRecord(path, type), expected) << "file " << i << " type " << type;
      found += expected >= 0;
    }
  }
  EXPECT_GT(found, 300);  // the generator does reach records
}

TEST_F(FirmwareFuzzTest, SelectionAcceptsOnlyWholeImages) {
  TempFolder folder;
  FakeWindowSystem window;
  CUpdateDlg dlg({nullptr, QuietTraceSink(), LANG_EN_US});
  dlg.AttachWindow(&window);
  std::mt19937 random(7);
  int accepted = 0;
  for (int i = 0; i < 1500; ++i) {
    std::vector<uint8_t> bytes = RandomFile(random);
    std::u16string path = folder.Write("fuzz.dat", bytes);
    dlg.Run().m_Hid.m_bBootMode = static_cast<int>(random() % 2);
    dlg.Run().m_boot.m_deviceType = 0x3009;
    dlg.Run().m_app.m_productId = 0x105;
    dlg.Run().m_app.m_productVariant = static_cast<uint8_t>(random() % 4);
    window.QueueFilePath(path);
    window.QueueBoxAnswer(IDOK);
    window.ClearRecords();
    int result = dlg.Run().SelectFirmwareFile();
    ASSERT_LE(window.Boxes().size(), 1u);  // the confirmation or the refusal, never both
    if (!result)
      continue;
    ++accepted;
    int32_t offset = dlg.Run().m_Hid.m_bBootMode ? ModelFind(bytes, 0x3009) : 0;
    ASSERT_EQ(dlg.Run().m_recordOffset, offset) << "file " << i;
    ASSERT_GT(dlg.Run().m_imageSize, 0u);
    ASSERT_LE(uint64_t{static_cast<uint32_t>(offset)} + 28 + dlg.Run().m_imageSize, bytes.size());
    ASSERT_EQ(dlg.Run().m_imageSize, U32At(bytes, offset + 8));
  }
  EXPECT_GT(accepted, 100);
}

}  // namespace
