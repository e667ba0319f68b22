// The messages exchanged with the controller's running firmware, as pure functions: their
// constants, the building of a firmware packet, the test of an incoming message and the decoding
// of the controller's identity. Nothing here talks to a controller.
//
// Each message rides in one report after a length byte: 0x00, type, body length (u16), body.
// A firmware packet (type MSG_FIRMWARE) has the body: command, payload length (u16), payload; a
// packet without payload has the command byte alone as its body.
#pragma once

#include <cstdint>
#include <span>

// Message types.
constexpr uint8_t MSG_FIRMWARE = 22;      // both directions: a firmware packet
constexpr uint8_t MSG_DEVICE_ID = 25;     // controller to host: its identity
constexpr uint8_t MSG_START_UPDATE = 26;  // host to controller: opens an update
constexpr uint8_t MSG_READ_FAILED = 29;   // host to controller: a read failed or timed out

// Firmware commands (body byte 0 of a firmware packet).
constexpr uint8_t FW_DATA = 0;           // host: the next 0..32 image bytes
constexpr uint8_t FW_FILE_INFO = 1;      // host: version, address and size of the image
constexpr uint8_t FW_FINISH = 2;         // host: the update is finished
constexpr uint8_t FW_VERSION = 4;        // host: version query; controller: version reply
constexpr uint8_t FW_APP_SERIAL = 6;     // host: the three masked serial words
constexpr uint8_t FW_DATA_REQUEST = 20;  // controller: asks for the next chunk
constexpr uint8_t FW_FAILED = 21;        // controller: the update failed
constexpr uint8_t FW_FAILED_ALT = 24;    // controller: the update failed (another cause)

// Layout sizes.
constexpr int kMessageHeaderSize = 4;      // 0x00, type, body length u16
constexpr int kFirmwarePayloadOffset = 3;  // command, payload length u16
constexpr int kShortCommandLength = 5;     // a short command or a firmware packet without payload
constexpr int kMaxMessageLength = 63;      // what fits one report after the length byte
constexpr int kDataPieceLength = 39;       // a data packet is written in pieces of this size
constexpr uint32_t kAppChunkSize = 32;     // image bytes per data request
constexpr int kFileInfoPayloadLength = 28;
constexpr int kAppSerialPayloadLength = 12;
constexpr int kDeviceIdBodyLength = 40;  // the identity bytes that are read

// Answers 1 when message (the link's m_InReport from byte 1, 63 readable bytes) is one of the
// update's own messages from the controller: an identity, or a firmware packet with a version
// reply, a data request or a failure code. Anything else (ordinary input reports) answers 0.
int IsUpdateMessage(const uint8_t* message);

// The payload of an output report (positions 1..64): a message goes there after its length byte.
using AppReport = std::span<uint8_t, 64>;

// Writes a short command in place in report: length byte 5, then 0x00, type, body length 1,
// argument. Nothing after these six bytes is written. Answers 6.
uint32_t BuildShortCommand(AppReport report, uint8_t type, uint8_t argument);

// A firmware packet: 0x00, MSG_FIRMWARE, body length u16, command, and with a payload its length
// u16 and the payload. Without a payload (length 0) the body is the command alone. The payload is
// not copied: the packet's pieces are written from it straight into the reports.
struct FirmwarePacket {
  uint8_t header[7] = {};
  uint32_t headerLength = 0;  // 5 without a payload, 7 with one
  const uint8_t* payload = nullptr;
  uint32_t payloadLength = 0;
  uint32_t Length() const { return headerLength + payloadLength; }
};

// Fills *packet for command and the payload (length 0 or less: none). Answers 0 for a payload
// that is missing or too long for the u16 body length, 1 otherwise.
int BuildFirmwarePacket(uint8_t command, const uint8_t* payload, int length,
                        FirmwarePacket* packet);

// Writes one piece of the packet in place in report: its length at byte 0, then the packet's
// bytes from start on, at most maxPiece of them and never more than the 63 that fit. Nothing after
// them is written. Answers the piece length (0 from the packet's end on).
uint32_t BuildPacketPiece(AppReport report, const FirmwarePacket& packet, uint32_t start,
                          uint32_t maxPiece);

// The controller's identity message body (at least kDeviceIdBodyLength readable bytes).
struct DeviceIdentity {
  uint32_t serial[3];        // body bytes 0..11
  uint32_t secondTriple[3];  // body bytes 12..23, traced only
  uint8_t firmwareType;      // body byte 36; 1 and 200 are updated here
  uint8_t productVariant;    // body byte 37
  uint16_t productId;        // body bytes 38..39
};
DeviceIdentity DecodeDeviceId(const uint8_t* body);
