// A model of the controller's boot loader (vendor 0x7A3D, product 0x3208), written from the
// controller's side of the wire: it checks each request packet, keeps a flash memory map and
// answers in the reply layout.
//
// Request (payload after the report id): type 5, command u16, answered command u16 (0), data
// length u16 (<= 46), data CRC-16/MODBUS u16, size u32, address u32, data from offset 17.
// Reply (payload): 0, type 5, command field u16 0, answered command u16, then the request layout;
// returned data from reply offset 18.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "emulator/virtual_hid.h"

// Memory layouts of the boot loader, by the device type it reports.
struct BootMemoryLayout {
  uint32_t imageBase;
  uint32_t versionArea;  // 32 bytes; the first 4 are the version word
  uint32_t identityArea;  // 12 bytes
};
constexpr uint32_t kDeviceType3009 = 0x3009;
constexpr BootMemoryLayout kLayoutNoAnswer{0x08014000, 0x08014034, 0x0800001C};
constexpr BootMemoryLayout kLayout3009{0x08003400, 0x08003434, 0x0800001C};
constexpr BootMemoryLayout kLayoutOther{0x01018000, 0x01017040, 0x01017000};

struct BootLoaderConfig {
  std::optional<uint32_t> deviceType = kDeviceType3009;  // nullopt: command 8 gets no answer
  uint32_t versionWord = 0x00000089;                     // in the version area at start (1.37)
  uint8_t identity[12] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC};
};

class VirtualBootLoader : public VirtualController {
 public:
  explicit VirtualBootLoader(BootLoaderConfig config = {});
  void OnReport(const uint8_t* report65, const ReplyFn& reply) override;

  // The memory layout that matches the configured device type.
  BootMemoryLayout Layout() const;
  // Flash contents; bytes never written or erased read 0xFF.
  std::vector<uint8_t> ReadFlash(uint32_t address, uint32_t length);
  uint32_t VersionWord();  // the first 4 bytes of the version area, little-endian

  // ---- What the controller saw ----
  int m_nCrcMismatches = 0;        // write packets whose CRC did not match (no reply sent)
  int m_nWriteFaults = 0;          // writes of different data to bytes not erased since
  int m_nRepeatedWrites = 0;       // identical writes to already-written bytes (a resent chunk)
  int m_nMalformedPackets = 0;     // wrong type, nonzero answered command, length over 46...
  int m_bFinished = 0;             // command 7 received
  std::vector<uint16_t> m_commands;                          // every accepted command, in order
  std::vector<std::pair<uint32_t, uint32_t>> m_erases;      // (address, length)

  // ---- Fault knobs ----
  int m_nWrongCommandReplies = 0;  // the next N replies name another answered command
  int m_nIgnoreCommandCount = 0;   // the next N requests get no reply at all
  std::optional<uint16_t> m_ignoreCommand;  // requests with this command are never answered

  std::mutex m_mutex;
};
