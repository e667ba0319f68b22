#include "appmode/app_packet.h"

#include <cstring>

#include "base/byte_order.h"

namespace {

// The largest payload whose packet length still fits the u16 body-length field.
constexpr int kMaxPayloadLength = 0xFFFF - kFirmwarePayloadOffset;

}  // namespace

std::vector<uint8_t> BuildFirmwarePacket(uint8_t command, const uint8_t* payload, int length) {
  std::vector<uint8_t> message;
  if (length > 0 && (payload == nullptr || length > kMaxPayloadLength))
    return message;  // nothing sensible to send
  if (length <= 0)
    return {0x00, MSG_FIRMWARE, 0x01, 0x00, command};
  uint32_t bodyLength = static_cast<uint32_t>(length) + kFirmwarePayloadOffset;
  message = {0x00,
             MSG_FIRMWARE,
             static_cast<uint8_t>(bodyLength),
             static_cast<uint8_t>(bodyLength >> 8),
             command,
             static_cast<uint8_t>(length),
             static_cast<uint8_t>(length >> 8)};
  size_t header = message.size();
  message.resize(header + static_cast<size_t>(length));
  std::memcpy(message.data() + header, payload, static_cast<size_t>(length));
  return message;
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
