// The .dat firmware file: records of a 28-byte little-endian header and an image, back to back
// from offset 0, with no file header, trailer, padding or checksum.
#pragma once

#include <cstdint>
#include <string>

struct FirmwareRecordHeader {
  uint16_t version = 0;  // in hundredths: 137 is 1.37
  uint16_t beta = 0;     // 0 for a release
  uint32_t targetAddress =
      0;                    // erase address given to the boot loader, sent in the file information
  uint32_t imageSize = 0;   // image bytes that follow the header
  uint32_t deviceType = 0;  // the boot loader device type the record fits
  uint8_t reserved[12] = {};

  // The first four bytes read as one word: version in the low half, beta in the high half.
  uint32_t VersionWord() const { return static_cast<uint32_t>(version) | (uint32_t{beta} << 16); }
};

constexpr uint32_t kRecordHeaderSize = 28;

// Decodes the 28 header bytes as stored in the file.
FirmwareRecordHeader DecodeRecordHeader(const uint8_t bytes[kRecordHeaderSize]);

// The byte offset of the first record whose deviceType equals deviceType, or -1 when there is none,
// the file cannot be opened or read, or its record chain is malformed (a header cut short, or a
// next offset that does not advance or does not fit 32 bits, or more than 1024 records).
int32_t FindFirmwareRecord(const std::u16string& path, uint32_t deviceType);

// ---- The checks a chosen record must pass ----

// Answers 1 when the record at recordOffset has an image that is there: not empty, and wholly
// inside a file of fileLength bytes.
int IsImageInFile(const FirmwareRecordHeader& header, uint32_t recordOffset, uint64_t fileLength);

// The product whose running firmware refuses versions below a floor.
constexpr uint16_t kVersionFloorProductId = 0x105;
// The lowest version that product accepts for a variant, or 0 for none.
uint16_t VersionFloor(uint8_t productVariant);
// Answers 1 when the record is below the variant's floor: at the floor itself only the release
// passes, above it any beta does.
int IsBelowVersionFloor(const FirmwareRecordHeader& header, uint8_t productVariant);
