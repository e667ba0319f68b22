// The record chain of a .dat firmware file.
#include "firmware/firmware_record.h"

#include <algorithm>
#include "base/byte_order.h"

#include <cstring>

#include "firmware/firmware_file.h"

namespace {

// Offsets are 32-bit in the format and the search answers them as a signed 32-bit value: a file of
// 2 GiB or more lies outside the format.
constexpr uint64_t kMaxFileLength = 0x7FFFFFFF;
// A firmware file holds one record per kind of controller. A chain longer than this is not one
// (a large file of zeros is a chain of empty records, one read per 28 bytes).
constexpr int kMaxRecords = 1024;

}  // namespace

FirmwareRecordHeader DecodeRecordHeader(const uint8_t bytes[kRecordHeaderSize]) {
  FirmwareRecordHeader header;
  header.version = ReadLe16(bytes);
  header.beta = ReadLe16(bytes + 2);
  header.targetAddress = ReadLe32(bytes + 4);
  header.imageSize = ReadLe32(bytes + 8);
  header.deviceType = ReadLe32(bytes + 12);
  std::memcpy(header.reserved, bytes + 16, sizeof header.reserved);
  return header;
}

std::vector<uint8_t> EncodeFirmwareRecord(FirmwareRecordHeader header,
                                          const std::vector<uint8_t>& image) {
  header.imageSize = static_cast<uint32_t>(image.size());
  std::vector<uint8_t> bytes(kRecordHeaderSize + image.size());
  WriteLe16(bytes.data(), header.version);
  WriteLe16(bytes.data() + 2, header.beta);
  WriteLe32(bytes.data() + 4, header.targetAddress);
  WriteLe32(bytes.data() + 8, header.imageSize);
  WriteLe32(bytes.data() + 12, header.deviceType);
  std::memcpy(bytes.data() + 16, header.reserved, sizeof header.reserved);
  std::copy(image.begin(), image.end(), bytes.begin() + kRecordHeaderSize);
  return bytes;
}

RecordChainEnd WalkFirmwareRecords(
    const std::u16string& path,
    const std::function<bool(uint32_t offset, const FirmwareRecordHeader& header)>& visit,
    uint64_t* fileLength) {
  CFirmwareFile file;
  uint64_t length = 0;
  if (!file.Open(path) || !file.GetLength(&length) || length > kMaxFileLength)
    return RecordChainEnd::kUnreadable;
  if (fileLength)
    *fileLength = length;
  // Every pass moves the offset forward by at least one header, and at most kMaxRecords headers
  // are read.
  uint64_t offset = 0;
  for (int record = 0; offset < length; ++record) {
    if (record == kMaxRecords)
      return RecordChainEnd::kTooLong;
    uint8_t bytes[kRecordHeaderSize];
    uint32_t got = 0;
    if (!file.Seek(offset) || !file.Read(bytes, kRecordHeaderSize, &got))
      return RecordChainEnd::kUnreadable;
    if (got != kRecordHeaderSize)
      return RecordChainEnd::kCutShort;
    FirmwareRecordHeader header = DecodeRecordHeader(bytes);
    if (!visit(static_cast<uint32_t>(offset), header))
      return RecordChainEnd::kStopped;
    uint64_t next = offset + kRecordHeaderSize + header.imageSize;
    if (next > 0xFFFFFFFFu)
      return RecordChainEnd::kWraps;
    offset = next;
  }
  return RecordChainEnd::kEnd;
}

int32_t FindFirmwareRecord(const std::u16string& path, uint32_t deviceType) {
  int32_t found = -1;
  WalkFirmwareRecords(path, [&](uint32_t offset, const FirmwareRecordHeader& header) {
    if (header.deviceType != deviceType)
      return true;
    found = static_cast<int32_t>(offset);
    return false;
  });
  return found;
}

int IsImageInFile(const FirmwareRecordHeader& header, uint32_t recordOffset, uint64_t fileLength) {
  uint64_t imageEnd = uint64_t{recordOffset} + kRecordHeaderSize + header.imageSize;
  return header.imageSize != 0 && imageEnd <= fileLength ? 1 : 0;
}

uint16_t VersionFloor(uint8_t productVariant) {
  if (productVariant == 0 || productVariant == 1)
    return 137;
  if (productVariant == 2)
    return 502;
  return 0;
}

int IsBelowVersionFloor(const FirmwareRecordHeader& header, uint8_t productVariant) {
  uint16_t floor = VersionFloor(productVariant);
  if (floor == 0)
    return 0;
  return header.version < floor || (header.version == floor && header.beta != 0) ? 1 : 0;
}

const char* RecordRefusalText(RecordRefusal refusal) {
  switch (refusal) {
    case RecordRefusal::kNone:
      return "taken";
    case RecordRefusal::kCannotOpen:
      return "the file cannot be opened";
    case RecordRefusal::kNoRecord:
      return "no record for this controller";
    case RecordRefusal::kCutShort:
      return "cut short";
    case RecordRefusal::kEmptyImage:
      return "empty image";
    case RecordRefusal::kPastEnd:
      return "image runs past the end of the file";
    case RecordRefusal::kOtherAddress:
      return "meant for another address";
    case RecordRefusal::kBelowFloor:
      return "below the version floor";
  }
  return "refused";
}

RecordRefusal CheckChosenRecord(const FirmwareRecordHeader& header, uint32_t recordOffset,
                                uint64_t fileLength, const RecordTaker& taker) {
  if (header.imageSize == 0)
    return RecordRefusal::kEmptyImage;
  if (!IsImageInFile(header, recordOffset, fileLength))
    return RecordRefusal::kPastEnd;
  // The boot loader writes the image at the base of its identified layout; a record meant for
  // another address would be erased in one place and written in another.
  if (taker.bootMode && header.targetAddress != taker.bootBase)
    return RecordRefusal::kOtherAddress;
  if (!taker.bootMode && taker.productId == kVersionFloorProductId &&
      IsBelowVersionFloor(header, taker.productVariant))
    return RecordRefusal::kBelowFloor;
  return RecordRefusal::kNone;
}

const char* FileOpenResultText(FileOpenResult result) {
  switch (result) {
    case FileOpenResult::kOk:
      return "";
    // The system's own words for these two (ENOENT, EACCES), as other tools print them.
    case FileOpenResult::kMissing:
      return "No such file or directory";
    case FileOpenResult::kNoPermission:
      return "Permission denied";
    case FileOpenResult::kNotAFile:
      return "not a regular file";
    case FileOpenResult::kHeld:
      return "held by another program";
    case FileOpenResult::kOther:
      break;
  }
  return "cannot be opened";
}

ImageLoad LoadRecordImage(const std::u16string& path, uint32_t recordOffset,
                          const FirmwareRecordHeader& confirmed, std::vector<uint8_t>* image) {
  image->clear();
  CFirmwareFile file;
  if (!file.Open(path))
    return {ImageLoad::kCannotOpen, file.LastOpenResult()};
  uint64_t length = 0;
  uint8_t bytes[kRecordHeaderSize];
  uint32_t got = 0;
  if (!file.GetLength(&length) || !file.Seek(recordOffset) ||
      !file.Read(bytes, kRecordHeaderSize, &got))
    return {ImageLoad::kUnreadable};
  if (got != kRecordHeaderSize || !(DecodeRecordHeader(bytes) == confirmed) ||
      !IsImageInFile(confirmed, recordOffset, length))
    return {ImageLoad::kChanged};
  // The size is bounded by the file's length, checked just above.
  image->resize(confirmed.imageSize);
  const bool read = file.Read(image->data(), confirmed.imageSize, &got);
  if (read && got == confirmed.imageSize)
    return {};
  image->clear();
  return {read ? ImageLoad::kChanged : ImageLoad::kUnreadable};  // cut short meanwhile, or failed
}

std::string ImageLoadText(const ImageLoad& load) {
  switch (load.outcome) {
    case ImageLoad::kLoaded:
      return "";
    case ImageLoad::kCannotOpen:
      return std::string("the firmware file cannot be opened: ") +
             FileOpenResultText(load.openResult);
    case ImageLoad::kChanged:
      return "the firmware file changed after the confirmation";
    case ImageLoad::kUnreadable:
      break;
  }
  return "the firmware file cannot be read";
}

RecordChoice ChooseFirmwareRecord(const std::u16string& path, const RecordTaker& taker) {
  RecordChoice choice;
  CFirmwareFile file;
  if (!file.Open(path)) {
    choice.refusal = RecordRefusal::kCannotOpen;
    choice.openResult = file.LastOpenResult();
    return choice;
  }
  file.Close();
  if (taker.bootMode) {
    int32_t offset = FindFirmwareRecord(path, taker.deviceType);
    if (offset < 0) {
      choice.refusal = RecordRefusal::kNoRecord;
      return choice;
    }
    choice.offset = static_cast<uint32_t>(offset);
  }
  uint8_t bytes[kRecordHeaderSize] = {};
  uint64_t fileLength = 0;
  uint32_t got = 0;
  if (!file.Open(path)) {
    choice.refusal = RecordRefusal::kCannotOpen;
    choice.openResult = file.LastOpenResult();
    return choice;
  }
  if (!file.GetLength(&fileLength) || !file.Seek(choice.offset) ||
      !file.Read(bytes, kRecordHeaderSize, &got) || got != kRecordHeaderSize) {
    choice.refusal = RecordRefusal::kCutShort;
    return choice;
  }
  choice.header = DecodeRecordHeader(bytes);
  choice.refusal = CheckChosenRecord(choice.header, choice.offset, fileLength, taker);
  return choice;
}
