// The boot loader's wire format, as pure functions: the request packet, its checksum, the test of
// a reply, and the memory layouts by device type. Nothing here talks to a controller, so tests,
// benchmarks and every front end use them directly.
//
// Request (report positions 1..64): type 5, command u16, answered command u16 (0), data length u16
// (at most 46), CRC-16/MODBUS of the data u16 (0 without data), size u32, address u32, data from
// position 18. Reply: 0, type 5, command field u16 0, the answered command u16, then the request's
// layout; returned data from reply offset 18.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// Command codes.
constexpr uint16_t BOOT_CMD_WRITE = 2;
constexpr uint16_t BOOT_CMD_WRITE_IMAGE = 3;
constexpr uint16_t BOOT_CMD_ERASE = 4;
constexpr uint16_t BOOT_CMD_READ = 5;
constexpr uint16_t BOOT_CMD_FINISH = 7;
constexpr uint16_t BOOT_CMD_DEVICE_ID = 8;

constexpr uint32_t kBootChunkSize = 46;        // data bytes one request carries
constexpr uint32_t kBootHeaderSize = 17;       // request bytes before the data
constexpr uint32_t kBootReplyDataOffset = 18;  // returned data in a reply
constexpr uint32_t kBootRequestSize = 64;      // the report payload a request is built in
constexpr uint32_t kBootVersionAreaSize = 32;

// The checksum of the boot loader's data bytes: CRC-16/MODBUS (reflected polynomial 0xA001,
// initial value 0xFFFF, no final XOR), computed bit by bit. No bytes give 0xFFFF.
uint16_t BootCrc16(const uint8_t* bytes, size_t count);

// Builds a request in packet (an output report's payload, in place). The data (null for none) is
// cut to 46 bytes; the CRC covers it only with withCrc, and is 0 without data. Writes the header
// and the data and nothing after them: the bytes beyond keep what the previous report left there.
// Answers the number of bytes written, the header plus the data.
uint32_t BuildBootRequest(std::span<uint8_t, kBootRequestSize> packet, const uint8_t* data,
                          uint32_t length, uint32_t address, uint32_t size, uint16_t command,
                          int withCrc);

// Answers 1 when report (an input report's 64 payload bytes) is the boot loader's answer to
// command: a leading 0, then type 5, command field 0 and the answered command.
int IsBootReply(const uint8_t* report, uint16_t command);

// The address a reply repeats from the request it answers (reply offset 14).
uint32_t BootReplyAddress(const uint8_t* report);
// The data length field of a reply (reply offset 6): the count of bytes a read returns.
uint32_t BootReplyDataLength(const uint8_t* report);

// Memory layout of a boot loader, by the device type it reports.
struct BootLayout {
  uint32_t base;      // the image's first byte
  uint32_t version;   // the 32-byte version area
  uint32_t identity;  // the 12 identity bytes
};
constexpr uint32_t kBootDeviceType3009 = 0x3009;
constexpr BootLayout kBootLayoutUnknown{0x08014000, 0x08014034, 0x0800001C};  // no answer
constexpr BootLayout kBootLayout3009{0x08003400, 0x08003434, 0x0800001C};
constexpr BootLayout kBootLayoutOther{0x01018000, 0x01017040, 0x01017000};  // any other type

// The layout of a boot loader that answered with deviceType.
const BootLayout& BootLayoutOf(uint32_t deviceType);
