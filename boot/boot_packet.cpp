#include "boot/boot_packet.h"

#include <cstring>

#include "base/byte_order.h"

namespace {

constexpr uint8_t kPacketType = 5;
const uint16_t kCrcTable[2] = {0x0000, 0xA001};

}  // namespace

uint16_t BootCrc16(const uint8_t* bytes, size_t count) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < count; ++i) {
    uint8_t byte = bytes[i];
    for (int bit = 0; bit < 8; ++bit) {
      crc = static_cast<uint16_t>((crc >> 1) ^ kCrcTable[(crc ^ byte) & 1]);
      byte >>= 1;
    }
  }
  return crc;
}

uint32_t BuildBootRequest(std::span<uint8_t, kBootRequestSize> packet, const uint8_t* data,
                          uint32_t length, uint32_t address, uint32_t size, uint16_t command,
                          int withCrc) {
  uint8_t* out = packet.data();
  uint32_t dataLength = length > kBootChunkSize ? kBootChunkSize : length;
  out[0] = kPacketType;
  WriteLe16(out + 1, command);
  WriteLe16(out + 3, 0);
  WriteLe16(out + 5, static_cast<uint16_t>(dataLength));
  // The CRC covers the data bytes only. A command without data carries 0, never the CRC of nothing.
  uint16_t crc = withCrc && data ? BootCrc16(data, dataLength) : 0;
  WriteLe16(out + 7, crc);
  WriteLe32(out + 9, size);
  WriteLe32(out + 13, address);
  if (!data)
    return kBootHeaderSize;
  std::memcpy(out + kBootHeaderSize, data, dataLength);
  return kBootHeaderSize + dataLength;
}

int IsBootReply(const uint8_t* report, uint16_t command) {
  return report[0] == 0 && report[1] == kPacketType && report[2] == 0 && report[3] == 0 &&
                 report[4] == static_cast<uint8_t>(command) &&
                 report[5] == static_cast<uint8_t>(command >> 8)
             ? 1
             : 0;
}

uint32_t BootReplyAddress(const uint8_t* report) {
  return ReadLe32(report + 1 + 13);  // after the leading 0, the request's address field
}

uint32_t BootReplyDataLength(const uint8_t* report) {
  return ReadLe16(report + 1 + 5);  // after the leading 0, the request's data length field
}

const BootLayout& BootLayoutOf(uint32_t deviceType) {
  return deviceType == kBootDeviceType3009 ? kBootLayout3009 : kBootLayoutOther;
}
