// The record chain of a .dat firmware file.
#include "firmware/firmware_record.h"

#include <cstring>

#include "firmware/firmware_file.h"

namespace {

uint16_t GetU16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | (at[1] << 8));
}

uint32_t GetU32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) |
         (static_cast<uint32_t>(at[2]) << 16) | (static_cast<uint32_t>(at[3]) << 24);
}

// Offsets are 32-bit in the format and the search answers them as a signed 32-bit value: a file of
// 2 GiB or more lies outside the format.
constexpr uint64_t kMaxFileLength = 0x7FFFFFFF;

}  // namespace

FirmwareRecordHeader DecodeRecordHeader(const uint8_t bytes[kRecordHeaderSize]) {
  FirmwareRecordHeader header;
  header.version = GetU16(bytes);
  header.beta = GetU16(bytes + 2);
  header.targetAddress = GetU32(bytes + 4);
  header.imageSize = GetU32(bytes + 8);
  header.deviceType = GetU32(bytes + 12);
  std::memcpy(header.reserved, bytes + 16, sizeof header.reserved);
  return header;
}

int32_t FindFirmwareRecord(const std::u16string& path, uint32_t deviceType) {
  CFirmwareFile file;
  if (!file.Open(path))
    return -1;
  uint64_t length = 0;
  if (!file.GetLength(&length) || length == 0 || length > kMaxFileLength)
    return -1;
  // Every pass moves the offset forward by at least one header, and the offset stays below the
  // file length, so the scan ends.
  uint64_t offset = 0;
  while (offset < length) {
    uint8_t bytes[kRecordHeaderSize];
    uint32_t got = 0;
    if (!file.Seek(offset) || !file.Read(bytes, kRecordHeaderSize, &got) ||
        got != kRecordHeaderSize)
      return -1;  // a read error, or a header cut short by the end of the file
    FirmwareRecordHeader header = DecodeRecordHeader(bytes);
    if (header.deviceType == deviceType)
      return static_cast<int32_t>(offset);
    uint64_t next = offset + kRecordHeaderSize + header.imageSize;
    if (next > 0xFFFFFFFFu)
      return -1;  // the next offset wraps past 32 bits
    offset = next;
  }
  return -1;
}
