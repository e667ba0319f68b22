#include "appmode/app_packet.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"

namespace {

// The largest payload whose packet length still fits the u16 body-length field.
constexpr int kMaxPayloadLength = 0xFFFF - kFirmwarePayloadOffset;

}  // namespace

uint32_t BuildShortCommand(AppReport report, uint8_t type, uint8_t argument) {
  const uint8_t bytes[kShortCommandLength + 1] = {
      kShortCommandLength, 0x00, type, 0x01, 0x00, argument};
  std::memcpy(report.data(), bytes, sizeof bytes);
  return sizeof bytes;
}

int BuildFirmwarePacket(uint8_t command, const uint8_t* payload, int length,
                        FirmwarePacket* packet) {
  if (length > 0 && (payload == nullptr || length > kMaxPayloadLength))
    return 0;  // nothing sensible to send
  *packet = FirmwarePacket{};
  uint8_t* header = packet->header;
  header[0] = 0x00;
  header[1] = MSG_FIRMWARE;
  if (length <= 0) {
    WriteLe16(header + 2, 1);
    header[4] = command;
    packet->headerLength = kShortCommandLength;
    return 1;
  }
  WriteLe16(header + 2, static_cast<uint16_t>(length + kFirmwarePayloadOffset));
  header[4] = command;
  WriteLe16(header + 5, static_cast<uint16_t>(length));
  packet->headerLength = kMessageHeaderSize + kFirmwarePayloadOffset;
  packet->payload = payload;
  packet->payloadLength = static_cast<uint32_t>(length);
  return 1;
}

uint32_t BuildPacketPiece(AppReport report, const FirmwarePacket& packet, uint32_t start,
                          uint32_t maxPiece) {
  const uint32_t total = packet.Length();
  if (start >= total)
    return 0;
  uint32_t piece = std::min({maxPiece, total - start, static_cast<uint32_t>(kMaxMessageLength)});
  report[0] = static_cast<uint8_t>(piece);
  uint8_t* out = report.data() + 1;
  uint32_t at = start;
  const uint32_t end = start + piece;
  if (at < packet.headerLength) {
    const uint32_t fromHeader = std::min(end, packet.headerLength) - at;
    std::memcpy(out, packet.header + at, fromHeader);
    out += fromHeader;
    at += fromHeader;
  }
  if (at < end)
    std::memcpy(out, packet.payload + (at - packet.headerLength), end - at);
  return piece;
}

DeviceIdentity DecodeDeviceId(const uint8_t* body) {
  DeviceIdentity identity{};
  for (int i = 0; i < 3; ++i) {
    identity.serial[i] = ReadLe32(body + 4 * i);
    identity.secondTriple[i] = ReadLe32(body + 12 + 4 * i);
  }
  identity.firmwareType = body[36];
  identity.productVariant = body[37];
  identity.productId = ReadLe16(body + 38);
  return identity;
}

int IsUpdateMessage(const uint8_t* message) {
  if (message[0] != 0)
    return 0;
  if (message[1] == MSG_DEVICE_ID)
    return 1;
  if (message[1] != MSG_FIRMWARE)
    return 0;
  switch (message[kMessageHeaderSize]) {
    case FW_VERSION:
    case FW_DATA_REQUEST:
    case FW_FAILED:
    case FW_FAILED_ALT:
      return 1;
    default:
      return 0;
  }
}
