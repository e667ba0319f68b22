#include "emulator/dat_writer.h"

#include <algorithm>
#include <fstream>

namespace {

constexpr size_t kHeaderSize = 28;

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void AppendHeader(std::vector<uint8_t>& out, const DatRecord& record, uint32_t imageSize) {
  PutU16(out, record.version);
  PutU16(out, record.beta);
  PutU32(out, record.targetAddress);
  PutU32(out, imageSize);
  PutU32(out, record.deviceType);
  out.insert(out.end(), record.reserved, record.reserved + sizeof(record.reserved));
}

uint32_t SizeField(const DatRecord& record) {
  return record.overrideSize ? record.imageSizeField : static_cast<uint32_t>(record.image.size());
}

}  // namespace

std::vector<uint8_t> MakeImage(uint32_t n, uint32_t seed) {
  std::vector<uint8_t> image;
  image.reserve(n);
  uint32_t state = seed * 2654435761u + 0x9E3779B9u;
  int previous = -1;
  for (uint32_t i = 0; i < n; ++i) {
    // xorshift32: deterministic and spread over all byte values.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    uint8_t byte = static_cast<uint8_t>(state >> 11);
    // No erased-looking byte, and no byte equal to its left neighbour.
    while (byte == 0xFF || byte == previous)
      byte = static_cast<uint8_t>((byte + 1) % 0xFF);
    image.push_back(byte);
    previous = byte;
  }
  return image;
}

std::vector<uint8_t> BuildDat(const std::vector<DatRecord>& records) {
  std::vector<uint8_t> out;
  for (const DatRecord& record : records) {
    AppendHeader(out, record, SizeField(record));
    out.insert(out.end(), record.image.begin(), record.image.end());
  }
  return out;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  if (!file)
    return false;
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  file.close();
  return static_cast<bool>(file);
}

std::vector<uint8_t> DatCutInsideHeader(const DatRecord& record, uint32_t headerBytes) {
  std::vector<uint8_t> whole = BuildDat({record});
  size_t keep = std::min<size_t>(headerBytes, kHeaderSize - 1);
  whole.resize(keep);
  return whole;
}

std::vector<uint8_t> DatImageRunsPastEnd(const DatRecord& record, uint32_t missingBytes) {
  // The header announces max(image, missing) bytes; the file holds missingBytes fewer.
  uint32_t announced = std::max<uint32_t>(static_cast<uint32_t>(record.image.size()), missingBytes);
  std::vector<uint8_t> out;
  AppendHeader(out, record, announced);
  size_t present = announced - missingBytes;
  out.insert(out.end(), record.image.begin(), record.image.begin() + present);
  return out;
}

std::vector<uint8_t> DatWrappingSize(const DatRecord& record) {
  // At offset 0, 28 + 0xFFFFFFE4 is exactly 2^32: the next record offset wraps to 0.
  std::vector<uint8_t> out;
  AppendHeader(out, record, 0xFFFFFFE4u);
  out.insert(out.end(), record.image.begin(), record.image.end());
  return out;
}
