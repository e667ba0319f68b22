// A .dat file of any bytes. The record search ends and finds what a walk of the record chain over
// the same bytes in memory finds; and the firmware selection, for the boot loader and for the
// running firmware, accepts only a record whose image is not empty and lies wholly inside the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/local_text.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "firmware/firmware_record.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/fake_window_system.h"
#include "update/update_dlg.h"

namespace {

constexpr uint32_t kDeviceType = 0x3009;
constexpr uint32_t kBootBase = 0x08003400;  // the image base of the 0x3009 boot-loader layout

// The record chain over the bytes in memory: the offset of the first record of deviceType, or -1
// when a header is cut short, a next offset passes 32 bits, or no record has that type.
int64_t ChainFind(const uint8_t* data, size_t size, uint32_t deviceType) {
  uint64_t offset = 0;
  while (offset < size) {
    if (size - offset < kRecordHeaderSize)
      return -1;
    if (FuzzLe32(data + offset + 12) == deviceType)
      return static_cast<int64_t>(offset);
    offset += kRecordHeaderSize + uint64_t{FuzzLe32(data + offset + 8)};
    if (offset > 0xFFFFFFFFu)
      return -1;
  }
  return -1;
}

// The one file every input is written to: a file in memory (the disk would cost more than the
// parsing), kept open for writing without the updater's lock, so that the updater's opens succeed.
struct DatFile {
  DatFile() {
    fd = ::memfd_create("fuzz.dat", MFD_CLOEXEC);
    FUZZ_CHECK(fd >= 0, "the input file can be created");
    path = "/proc/self/fd/" + std::to_string(fd);
  }
  ~DatFile() { ::close(fd); }
  void Write(const uint8_t* data, size_t size) {
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
      FUZZ_CHECK(n > 0, "the input file can be written");
      done += static_cast<size_t>(n);
    }
    FUZZ_CHECK(::ftruncate(fd, static_cast<off_t>(size)) == 0, "the input file can be cut");
  }
  std::string path;
  int fd = -1;
};

// The selection as the user makes it: the dialog answers the file, the confirmation gets OK.
void CheckSelection(const std::u16string& path, const uint8_t* data, size_t size, int bootMode) {
  FakeWindowSystem window;
  CUpdateDlg dlg({nullptr, QuietTraceSink(), LANG_EN_US});
  dlg.AttachWindow(&window);
  dlg.Run().m_Hid.m_bBootMode = bootMode;
  dlg.Run().m_boot.m_deviceType = kDeviceType;
  dlg.Run().m_boot.m_nBootBaseAddress = kBootBase;
  dlg.Run().m_app.m_productId = 0x105;
  dlg.Run().m_app.m_productVariant =
      static_cast<uint8_t>(size % 4);  // floors 1.37, 1.37, 5.02 and none
  window.QueueFilePath(path);
  int accepted = dlg.Run().SelectFirmwareFile();

  // The file opens, so the user sees one box: the confirmation, or the refusal.
  FUZZ_CHECK(window.Boxes().size() == 1, "a selection shows exactly one box");
  if (!accepted)
    return;
  int64_t offset = bootMode ? ChainFind(data, size, kDeviceType) : 0;
  FUZZ_CHECK(offset >= 0 && dlg.Run().m_recordOffset == offset,
             "the record taken is the first of the device type (boot) or the first (running)");
  FUZZ_CHECK(dlg.Run().m_imageSize > 0, "an accepted image is not empty");
  FUZZ_CHECK(static_cast<uint64_t>(offset) + kRecordHeaderSize + dlg.Run().m_imageSize <= size,
             "an accepted image lies wholly inside the file");
  FUZZ_CHECK(dlg.Run().m_imageSize == FuzzLe32(data + offset + 8) &&
                 dlg.Run().m_targetAddress == FuzzLe32(data + offset + 4),
             "the transfer uses the accepted record's own size and address");
  if (bootMode) {
    FUZZ_CHECK(dlg.Run().m_targetAddress == kBootBase,
               "the boot loader gets images for its own base");
  } else {
    uint16_t version = FuzzLe16(data + offset);
    uint16_t beta = FuzzLe16(data + offset + 2);
    uint16_t floor = dlg.Run().m_app.m_productVariant < 2    ? 137
                     : dlg.Run().m_app.m_productVariant == 2 ? 502
                                                             : 0;
    FUZZ_CHECK(floor == 0 || version > floor || (version == floor && beta == 0),
               "the running firmware gets no version below its floor");
  }
  dlg.Run().m_app.m_nUpdateState = STATE_IDLE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static DatFile file;
  file.Write(data, size);
  std::u16string path = Utf8ToUtf16(file.path);

  // The device types the scan is asked for: the usual one, and the one in the file's last header.
  uint32_t types[2] = {
      kDeviceType, size >= kRecordHeaderSize ? FuzzLe32(data + size - kRecordHeaderSize + 12) : 0};
  for (uint32_t type : types) {
    int64_t expected = ChainFind(data, size, type);
    FUZZ_CHECK(FindFirmwareRecord(path, type) == expected,
               "the record search agrees with the record chain");
  }

  if (size >= kRecordHeaderSize) {
    FirmwareRecordHeader header = DecodeRecordHeader(data);
    FUZZ_CHECK(header.VersionWord() == FuzzLe32(data) &&
                   header.targetAddress == FuzzLe32(data + 4) &&
                   header.imageSize == FuzzLe32(data + 8) &&
                   header.deviceType == FuzzLe32(data + 12) && header.reserved[11] == data[27],
               "a header decodes as stored, little-endian");
  }

  CheckSelection(path, data, size, 1);
  CheckSelection(path, data, size, 0);
  return 0;
}
