// Builds .dat firmware files for tests, benchmarks and the demo: records of a 28-byte
// little-endian header (version u16, beta u16, target address u32, image size u32, device type u32,
// 12 reserved bytes) and an image, back to back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DatRecord {
  uint16_t version = 137;
  uint16_t beta = 0;
  uint32_t targetAddress = 0x08003400;
  uint32_t deviceType = 0x3009;
  uint8_t reserved[12] = {};
  std::vector<uint8_t> image;
  // When set, written as the header's imageSize instead of image.size() (for malformed files).
  bool overrideSize = false;
  uint32_t imageSizeField = 0;
};

// A deterministic image of n bytes that differ from their neighbours (no 0xFF runs).
std::vector<uint8_t> MakeImage(uint32_t n, uint32_t seed = 1);

std::vector<uint8_t> BuildDat(const std::vector<DatRecord>& records);
// Writes the bytes to path; answers true on success.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Malformed files.
std::vector<uint8_t> DatCutInsideHeader(const DatRecord& record, uint32_t headerBytes);
std::vector<uint8_t> DatImageRunsPastEnd(const DatRecord& record, uint32_t missingBytes);
std::vector<uint8_t> DatWrappingSize(const DatRecord& record);  // next offset wraps past 32 bits
