#include "emulator/virtual_boot_loader.h"
#include "base/byte_order.h"

#include <algorithm>
#include <cstring>

namespace {

// Offsets in the request packet (the payload after the report id).
constexpr int kType = 0;
constexpr int kCommand = 1;
constexpr int kAnswered = 3;
constexpr int kDataLength = 5;
constexpr int kDataCrc = 7;
constexpr int kSize = 9;
constexpr int kAddress = 13;
constexpr int kData = 17;
constexpr uint8_t kPacketType = 5;
constexpr uint16_t kMaxData = 46;
// A reply is a leading 0 and then a packet of the same layout.
constexpr int kReplyPacket = 1;
constexpr int kPayload = 64;

constexpr uint16_t kCmdWriteOther = 2;
constexpr uint16_t kCmdWriteImage = 3;
constexpr uint16_t kCmdErase = 4;
constexpr uint16_t kCmdReadMemory = 5;
constexpr uint16_t kCmdFinish = 7;
constexpr uint16_t kCmdDeviceType = 8;

// True when [address, address + length) stays inside the 32-bit address space.
bool RangeFits(uint32_t address, uint32_t length) {
  return length == 0 || static_cast<uint64_t>(address) + length <= 0x100000000ull;
}

}  // namespace

uint16_t Crc16Modbus(const uint8_t* data, size_t count) {
  uint16_t crc = 0xFFFF;
  for (size_t i = 0; i < count; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit)
      crc =
          (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001) : static_cast<uint16_t>(crc >> 1);
  }
  return crc;
}

VirtualBootLoader::VirtualBootLoader(BootLoaderConfig config) : m_config(config) {
  BootMemoryLayout layout = Layout();
  uint8_t version[4];
  WriteLe32(version, m_config.versionWord);
  for (uint32_t i = 0; i < 4; ++i)
    ProgramByte(layout.versionArea + i, version[i]);
  for (uint32_t i = 0; i < 12; ++i)
    ProgramByte(layout.identityArea + i, m_config.identity[i]);
}

namespace {
// "TVXFLASH" and a format number, then per page: its number (u32), its bytes, and one bit per byte
// for whether it was written.
constexpr char kFlashMagic[] = "TVXFLASH1";
constexpr size_t kMagicLength = sizeof(kFlashMagic) - 1;
constexpr size_t kPageRecord = 4 + 256 + 256 / 8;
// A saved flash holds at most 64 MiB of pages: more is no flash this controller has.
constexpr size_t kMaxSavedPages = 1u << 18;
}  // namespace

std::vector<uint8_t> VirtualBootLoader::SaveFlash() {
  std::lock_guard lock(m_mutex);
  std::vector<uint8_t> saved(kFlashMagic, kFlashMagic + kMagicLength);
  for (const auto& [number, page] : m_flash) {
    const size_t at = saved.size();
    saved.resize(at + kPageRecord, 0);
    WriteLe32(&saved[at], number);
    std::memcpy(&saved[at + 4], page.bytes, kPageSize);
    for (uint32_t i = 0; i < kPageSize; ++i) {
      if (page.written[i])
        saved[at + 4 + kPageSize + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
    }
  }
  return saved;
}

bool VirtualBootLoader::LoadFlash(const std::vector<uint8_t>& saved) {
  if (saved.size() < kMagicLength || std::memcmp(saved.data(), kFlashMagic, kMagicLength) != 0 ||
      (saved.size() - kMagicLength) % kPageRecord != 0 ||
      (saved.size() - kMagicLength) / kPageRecord > kMaxSavedPages)
    return false;
  std::map<uint32_t, Page> flash;
  for (size_t at = kMagicLength; at < saved.size(); at += kPageRecord) {
    const uint32_t number = ReadLe32(&saved[at]);
    if (number >= 0x100000000ull / kPageSize)
      return false;
    auto [it, inserted] = flash.try_emplace(number);
    if (!inserted)
      return false;  // a page saved twice
    std::memcpy(it->second.bytes, &saved[at + 4], kPageSize);
    for (uint32_t i = 0; i < kPageSize; ++i)
      it->second.written[i] = (saved[at + 4 + kPageSize + i / 8] >> (i % 8)) & 1;
  }
  std::lock_guard lock(m_mutex);
  m_flash = std::move(flash);
  return true;
}

BootMemoryLayout VirtualBootLoader::Layout() const {
  if (!m_config.deviceType)
    return kLayoutNoAnswer;
  return *m_config.deviceType == kDeviceType3009 ? kLayout3009 : kLayoutOther;
}

int VirtualBootLoader::FlashByte(uint32_t address) const {
  auto it = m_flash.find(address / kPageSize);
  if (it == m_flash.end())
    return -1;
  uint32_t at = address % kPageSize;
  return it->second.written[at] ? it->second.bytes[at] : -1;
}

void VirtualBootLoader::ProgramByte(uint32_t address, uint8_t value) {
  auto [it, inserted] = m_flash.try_emplace(address / kPageSize);
  if (inserted) {
    std::memset(it->second.bytes, 0xFF, kPageSize);
    std::memset(it->second.written, 0, kPageSize);
  }
  uint32_t at = address % kPageSize;
  it->second.bytes[at] = value;
  it->second.written[at] = true;
}

void VirtualBootLoader::EraseRange(uint32_t address, uint32_t length) {
  if (length == 0)
    return;
  uint64_t end = static_cast<uint64_t>(address) + length;  // checked by the caller to fit
  auto it = m_flash.lower_bound(address / kPageSize);
  while (it != m_flash.end() && static_cast<uint64_t>(it->first) * kPageSize < end) {
    uint64_t pageStart = static_cast<uint64_t>(it->first) * kPageSize;
    uint64_t from = std::max<uint64_t>(pageStart, address);
    uint64_t to = std::min<uint64_t>(pageStart + kPageSize, end);
    for (uint64_t a = from; a < to; ++a) {
      it->second.bytes[a - pageStart] = 0xFF;
      it->second.written[a - pageStart] = false;
    }
    ++it;
  }
}

void VirtualBootLoader::Preload(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (size_t i = 0; i < bytes.size() && RangeFits(address, static_cast<uint32_t>(i + 1)); ++i)
    ProgramByte(address + static_cast<uint32_t>(i), bytes[i]);
}

std::vector<uint8_t> VirtualBootLoader::ReadFlash(uint32_t address, uint32_t length) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<uint8_t> out;
  uint64_t end = std::min<uint64_t>(static_cast<uint64_t>(address) + length, 0x100000000ull);
  out.reserve(static_cast<size_t>(end - address));
  for (uint64_t a = address; a < end; ++a) {
    int value = FlashByte(static_cast<uint32_t>(a));
    out.push_back(value < 0 ? 0xFF : static_cast<uint8_t>(value));
  }
  return out;
}

uint32_t VirtualBootLoader::VersionWord() {
  std::vector<uint8_t> bytes = ReadFlash(Layout().versionArea, 4);
  return ReadLe32(bytes.data());
}

void VirtualBootLoader::SendReply(uint16_t answered, const uint8_t* request, const uint8_t* data,
                                  uint16_t count, const ReplyFn& reply) {
  uint8_t payload[kPayload] = {};
  uint8_t* packet = payload + kReplyPacket;
  count = std::min<uint16_t>(count, kMaxData);
  if (m_nWrongCommandReplies > 0) {
    --m_nWrongCommandReplies;
    answered = static_cast<uint16_t>(answered + 1);
  }
  packet[kType] = kPacketType;
  WriteLe16(packet + kCommand, 0);
  WriteLe16(packet + kAnswered, answered);
  WriteLe16(packet + kDataLength, count);
  WriteLe16(packet + kDataCrc, count > 0 ? Crc16Modbus(data, count) : 0);
  std::memcpy(packet + kSize, request + kSize, 4);
  std::memcpy(packet + kAddress, request + kAddress, 4);
  if (count > 0)
    std::memcpy(packet + kData, data, count);
  reply(payload);
  if (m_nRepeatedReplies > 0) {
    --m_nRepeatedReplies;
    reply(payload);
  }
}

void VirtualBootLoader::HandleWrite(uint16_t command, const uint8_t* packet, const ReplyFn& reply) {
  uint16_t length = ReadLe16(packet + kDataLength);
  uint32_t address = ReadLe32(packet + kAddress);
  const uint8_t* data = packet + kData;
  if (Crc16Modbus(data, length) != ReadLe16(packet + kDataCrc)) {
    ++m_nCrcMismatches;
    return;
  }
  if (!RangeFits(address, length)) {
    ++m_nMalformedPackets;
    return;
  }
  m_commands.push_back(command);
  bool rewrote = false;
  bool fault = false;
  for (uint32_t i = 0; i < length; ++i) {
    int old = FlashByte(address + i);
    if (old < 0) {
      bool badCell = m_badCellAddress && *m_badCellAddress == address + i;
      ProgramByte(address + i, badCell ? static_cast<uint8_t>(data[i] ^ 0x01) : data[i]);
    } else if (old == data[i]) {
      rewrote = true;
    } else {
      fault = true;
      ProgramByte(address + i, static_cast<uint8_t>(old & data[i]));
    }
  }
  if (fault)
    ++m_nWriteFaults;
  else if (rewrote)
    ++m_nRepeatedWrites;
  SendReply(command, packet, nullptr, 0, reply);
}

void VirtualBootLoader::HandleErase(const uint8_t* packet, const ReplyFn& reply) {
  uint32_t address = ReadLe32(packet + kAddress);
  uint32_t size = ReadLe32(packet + kSize);
  if (!RangeFits(address, size)) {
    ++m_nMalformedPackets;
    return;
  }
  m_commands.push_back(kCmdErase);
  m_erases.emplace_back(address, size);
  EraseRange(address, size);
  SendReply(kCmdErase, packet, nullptr, 0, reply);
}

void VirtualBootLoader::HandleReadMemory(const uint8_t* packet, const ReplyFn& reply) {
  uint32_t address = ReadLe32(packet + kAddress);
  uint32_t count = std::min<uint32_t>(ReadLe32(packet + kSize), kMaxData);
  if (!RangeFits(address, count)) {
    ++m_nMalformedPackets;
    return;
  }
  m_commands.push_back(kCmdReadMemory);
  uint8_t data[kMaxData];
  for (uint32_t i = 0; i < count; ++i) {
    int value = FlashByte(address + i);
    data[i] = value < 0 ? 0xFF : static_cast<uint8_t>(value);
  }
  SendReply(kCmdReadMemory, packet, data, static_cast<uint16_t>(count), reply);
}

void VirtualBootLoader::HandleDeviceType(const uint8_t* packet, const ReplyFn& reply) {
  m_commands.push_back(kCmdDeviceType);
  if (!m_config.deviceType)
    return;  // this boot loader does not know command 8
  uint8_t data[4];
  WriteLe32(data, *m_config.deviceType);
  SendReply(kCmdDeviceType, packet, data, 4, reply);
}

void VirtualBootLoader::OnReport(const uint8_t* report65, const ReplyFn& reply) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const uint8_t* packet = report65 + 1;
  if (report65[0] != 0 || packet[kType] != kPacketType || ReadLe16(packet + kAnswered) != 0 ||
      ReadLe16(packet + kDataLength) > kMaxData) {
    ++m_nMalformedPackets;
    return;
  }
  uint16_t command = ReadLe16(packet + kCommand);
  if (m_ignoreCommand && *m_ignoreCommand == command) {
    ++m_nIgnored;
    return;
  }
  if (m_nIgnoreCommandCount > 0) {
    --m_nIgnoreCommandCount;
    ++m_nIgnored;
    return;
  }
  uint8_t damaged[kPayload + 1];
  if ((command == kCmdWriteOther || command == kCmdWriteImage) && m_nDamagedWrites > 0) {
    --m_nDamagedWrites;
    std::memcpy(damaged, report65, sizeof damaged);
    damaged[1 + kData] ^= 0x01;
    packet = damaged + 1;
  }
  switch (command) {
    case kCmdWriteOther:
    case kCmdWriteImage:
      HandleWrite(command, packet, reply);
      break;
    case kCmdErase:
      HandleErase(packet, reply);
      break;
    case kCmdReadMemory:
      HandleReadMemory(packet, reply);
      break;
    case kCmdFinish:
      m_commands.push_back(kCmdFinish);
      m_bFinished = 1;
      SendReply(kCmdFinish, packet, nullptr, 0, reply);
      break;
    case kCmdDeviceType:
      HandleDeviceType(packet, reply);
      break;
    default:
      ++m_nUnknownCommands;
      break;
  }
}
