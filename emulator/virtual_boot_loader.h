// A model of the controller's boot loader (vendor 0x7A3D, product 0x3208), written from the
// controller's side of the wire: it checks each request packet, keeps a flash memory map and
// answers in the reply layout.
//
// Request (payload after the report id): type 5, command u16, answered command u16 (0), data
// length u16 (<= 46), data CRC-16/MODBUS u16, size u32, address u32, data from offset 17.
// Reply (payload): 0, type 5, command field u16 0, answered command u16, then the request layout;
// returned data from reply offset 18.
//
// Choices of this firmware where the wire contract leaves the controller's side open:
// - A report whose id is not 0, whose type is not 5, whose answered-command field is not 0, or
//   whose data length is over 46 is dropped without a reply and counted as malformed. An unknown
//   command is dropped without a reply and counted. A range (address + size, or address + data
//   length) that runs past the 32-bit address space is malformed too.
// - Commands 2 and 3 write the data length's bytes at the address; the size field is not used.
//   The CRC is checked over the data bytes only (CRC-16/MODBUS; no data gives 0xFFFF); a mismatch
//   gets no reply, writes nothing and is counted.
// - Flash starts erased: bytes never written read 0xFF, and writing them is normal. A byte stays
//   "written" until an erase covers it. Writing the same value again is accepted (a chunk sent
//   again after its acknowledgement was lost) and counted once per write. Writing a different
//   value is counted as a fault; the byte then holds old AND new, as NOR flash can only clear bits,
//   and the write is still acknowledged (this boot loader does not read back what it programmed).
// - Command 4 erases exactly the bytes [address, address + size) (no page rounding) and answers at
//   once; size 0 erases nothing and is acknowledged.
// - Command 5 answers min(size, 46) bytes read from the address; any address can be read, bytes
//   outside what was ever written read 0xFF. The reply's data length field holds the count and its
//   CRC field the CRC of the returned bytes. Command 8 answers the 4-byte device type,
//   little-endian, or nothing when no device type is configured. Command 7 is acknowledged and only
//   recorded: the model keeps serving requests afterwards.
// - Replies to 2, 3, 4 and 7 echo the request's size and address, with data length 0 and CRC 0.
// - The whole 32-bit space is flash: the model does not guard the boot loader's own region.
// - Preset at start: the version word in the first 4 bytes of the version area, the identity bytes
//   in the identity area; nothing else is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "emulator/virtual_hid.h"

// Memory layouts of the boot loader, by the device type it reports.
struct BootMemoryLayout {
  uint32_t imageBase;
  uint32_t versionArea;   // 32 bytes; the first 4 are the version word
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

// CRC-16/MODBUS (reflected polynomial 0xA001, initial value 0xFFFF, no final XOR).
uint16_t Crc16Modbus(const uint8_t* data, size_t count);

class VirtualBootLoader : public VirtualController {
 public:
  explicit VirtualBootLoader(BootLoaderConfig config = {});
  void OnReport(const uint8_t* report65, const ReplyFn& reply) override;

  // Writes bytes into flash as if programmed earlier (an old firmware), without counting anything.
  void Preload(uint32_t address, const std::vector<uint8_t>& bytes);

  // The memory layout that matches the configured device type.
  BootMemoryLayout Layout() const;
  // Flash contents; bytes never written or erased read 0xFF.
  std::vector<uint8_t> ReadFlash(uint32_t address, uint32_t length);
  uint32_t VersionWord();  // the first 4 bytes of the version area, little-endian

  // Its flash as bytes, so that one controller keeps its memory across runs (a rehearsal on the
  // bench): a header, then each page that holds a written byte. LoadFlash takes what SaveFlash
  // gave and answers false, leaving the flash as it was, for anything else.
  std::vector<uint8_t> SaveFlash();
  bool LoadFlash(const std::vector<uint8_t>& saved);

  // ---- What the controller saw ----
  int m_nCrcMismatches = 0;          // write packets whose CRC did not match (no reply sent)
  int m_nWriteFaults = 0;            // writes of different data to bytes not erased since
  int m_nRepeatedWrites = 0;         // identical writes to already-written bytes (a resent chunk)
  int m_nMalformedPackets = 0;       // wrong type, nonzero answered command, length over 46...
  int m_bFinished = 0;               // command 7 received
  std::vector<uint16_t> m_commands;  // every accepted command, in order
  std::vector<std::pair<uint32_t, uint32_t>> m_erases;  // (address, length)
  int m_nUnknownCommands = 0;  // well-formed packets with a command this loader does not know
  int m_nIgnored = 0;          // requests left unexecuted and unanswered by the knobs below

  // ---- Fault knobs ----
  // The knobs act on the controller's side: an ignored request is neither executed nor answered
  // (the firmware missed it); a wrong-command reply follows a request that was executed.
  int m_nWrongCommandReplies = 0;           // the next N replies name another answered command (+1)
  int m_nIgnoreCommandCount = 0;            // the next N requests get no reply at all
  std::optional<uint16_t> m_ignoreCommand;  // requests with this command are never answered
  int m_nDamagedWrites = 0;    // the next N write packets (2, 3) arrive with a data byte changed
                               // on the way: the CRC check rejects them
  int m_nRepeatedReplies = 0;  // the next N replies are sent twice
  // A flash cell that does not hold what is programmed into it: the byte written at this address
  // reads back with its lowest bit inverted, while the write is acknowledged as usual.
  std::optional<uint32_t> m_badCellAddress;

  std::mutex m_mutex;

 private:
  static constexpr uint32_t kPageSize = 256;
  struct Page {
    uint8_t bytes[kPageSize];
    bool written[kPageSize];
  };
  // Answers -1 for never written / erased, else the byte.
  int FlashByte(uint32_t address) const;
  void ProgramByte(uint32_t address, uint8_t value);
  void EraseRange(uint32_t address, uint32_t length);
  void HandleWrite(uint16_t command, const uint8_t* packet, const ReplyFn& reply);
  void HandleErase(const uint8_t* packet, const ReplyFn& reply);
  void HandleReadMemory(const uint8_t* packet, const ReplyFn& reply);
  void HandleDeviceType(const uint8_t* packet, const ReplyFn& reply);
  void SendReply(uint16_t answered, const uint8_t* request, const uint8_t* data, uint16_t count,
                 const ReplyFn& reply);

  BootLoaderConfig m_config;
  std::map<uint32_t, Page> m_flash;  // by page number
};
