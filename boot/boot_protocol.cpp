// The boot loader's request packet and its six commands. Each command builds its request afresh,
// sends it through the dialog's device link and reads the replies into g_InReport.
#include <algorithm>
#include <cstring>

#include "boot/boot_protocol.h"
#include "device/byte_order.h"
#include "device/clock.h"
#include "ui/update_dlg.h"

namespace {

// Command codes.
constexpr uint16_t BOOT_CMD_WRITE = 2;
constexpr uint16_t BOOT_CMD_WRITE_IMAGE = 3;
constexpr uint16_t BOOT_CMD_ERASE = 4;
constexpr uint16_t BOOT_CMD_READ = 5;
constexpr uint16_t BOOT_CMD_FINISH = 7;
constexpr uint16_t BOOT_CMD_DEVICE_ID = 8;

constexpr uint8_t kPacketType = 5;
constexpr uint32_t kMaxData = 46;     // data bytes one packet carries
constexpr uint32_t kHeaderSize = 17;  // packet bytes before the data
constexpr uint32_t kReplyDataOffset = 18;
constexpr uint32_t kReplyAddressOffset = 14;  // the reply repeats the request after its leading 0

// Attempts and pauses of the commands.
constexpr int kReadAttempts = 5;
constexpr int kEraseReads = 20;
constexpr uint32_t kEraseFirstPauseMs = 1000;
constexpr uint32_t kErasePauseMs = 500;
constexpr int kWriteReads = 20;
constexpr uint32_t kVersionAreaSize = 32;

const uint16_t kCrcTable[2] = {0x0000, 0xA001};

// Answers 1 when g_InReport holds the boot loader's answer to command: a leading 0, then type 5,
// command field 0 and the answered command.
int IsBootReply(uint16_t command) {
  return g_InReport[0] == 0 && g_InReport[1] == kPacketType && g_InReport[2] == 0 &&
         g_InReport[3] == 0 && g_InReport[4] == static_cast<uint8_t>(command) &&
         g_InReport[5] == static_cast<uint8_t>(command >> 8);
}

// What one read brought while a command waits for its answer.
enum class BootRead { kAnswer, kOther, kNothing, kGone };

// Reads one report into g_InReport: the answer to command, another report, nothing within the
// read time-out, or no link at all (the controller is gone or the link is not open).
BootRead ReadBootReply(CHid& hid, uint16_t command) {
  uint32_t result = hid.ReadHid(g_InReport, kPayloadLength);
  if (result == WAIT_FAILED || result == WAIT_ABANDONED)
    return BootRead::kGone;
  if (result != WAIT_OBJECT_0)
    return BootRead::kNothing;
  return IsBootReply(command) ? BootRead::kAnswer : BootRead::kOther;
}

// Answers 1 when the image-write answer in g_InReport echoes the address of an earlier chunk of
// the image: [base, address). Such an answer is left over from a chunk that went out twice (its
// first answer came late) and says nothing about the chunk at address. An answer that echoes no
// such address (this chunk's, or none at all) counts as usual.
int IsEarlierChunkReply(const CUpdateDlg& dlg, uint32_t address) {
  uint32_t echoed = ReadLe32(g_InReport + kReplyAddressOffset);
  return echoed >= dlg.m_nBootBaseAddress && echoed < address ? 1 : 0;
}

// Commands 5 and 8: a read that brought no report sends the request again; a report that is not
// the answer only uses up the attempt. A controller that is gone ends the command at once.
int ReadCommand(CUpdateDlg& dlg, uint16_t command, uint8_t* destination, uint32_t length,
                uint32_t address) {
  if (!dlg.SendBootPacket(nullptr, length, address, length, command, 0))
    return 0;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (BootStopRequested(dlg))
      return 0;
    switch (ReadBootReply(dlg.m_Hid, command)) {
      case BootRead::kAnswer:
        if (destination)
          std::memcpy(destination, g_InReport + kReplyDataOffset, std::min(length, kMaxData));
        return 1;
      case BootRead::kGone:
        return 0;
      case BootRead::kNothing:
        if (!dlg.SendBootPacket(nullptr, length, address, length, command, 0))
          return 0;
        break;
      case BootRead::kOther:
        break;
    }
  }
  return 0;
}

}  // namespace

int BootStopRequested(const CUpdateDlg& dlg) {
  return dlg.m_bBootUpdateRunning.load() && g_bStop.load() ? 1 : 0;
}

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

int CUpdateDlg::SendBootPacket(const uint8_t* data, uint32_t length, uint32_t address,
                               uint32_t size, uint16_t command, int withCrc) {
  uint8_t packet[kPayloadLength] = {};
  uint32_t dataLength = length > kMaxData ? kMaxData : length;
  packet[0] = kPacketType;
  WriteLe16(packet + 1, command);
  WriteLe16(packet + 3, 0);
  WriteLe16(packet + 5, dataLength);
  WriteLe32(packet + 9, size);
  WriteLe32(packet + 13, address);
  // The CRC covers the data bytes only. A command without data carries 0, never the CRC of nothing.
  uint16_t crc = withCrc && data ? BootCrc16(data, dataLength) : 0;
  WriteLe16(packet + 7, crc);
  uint32_t sendLength = kHeaderSize;
  if (data) {
    std::memcpy(packet + kHeaderSize, data, dataLength);
    sendLength += dataLength;
  }
  return m_Hid.WriteHid(packet, static_cast<uint8_t>(sendLength));
}

int CUpdateDlg::BootReadMemory(uint8_t* destination, uint32_t length, uint32_t address) {
  return ReadCommand(*this, BOOT_CMD_READ, destination, length, address);
}

int CUpdateDlg::BootReadDeviceId(uint8_t* destination, uint32_t length) {
  return ReadCommand(*this, BOOT_CMD_DEVICE_ID, destination, length, 0);
}

int CUpdateDlg::BootErase(uint32_t address, uint32_t length) {
  if (!SendBootPacket(nullptr, 0, address, length, BOOT_CMD_ERASE, 0))
    return 0;
  // From here on the controller may be erasing: what it held there may no longer be whole.
  m_bImageTouched = 1;
  Sleep(kEraseFirstPauseMs);
  for (int attempt = 0; attempt < kEraseReads; ++attempt) {
    if (BootStopRequested(*this))
      return 0;
    switch (ReadBootReply(m_Hid, BOOT_CMD_ERASE)) {
      case BootRead::kAnswer:
        return 1;
      case BootRead::kGone:
        return 0;
      case BootRead::kNothing:
      case BootRead::kOther:
        Sleep(kErasePauseMs);
        break;
    }
  }
  return 0;
}

int CUpdateDlg::BootWrite(const uint8_t* data, uint32_t address, uint32_t length, uint32_t size,
                          int image) {
  uint16_t command = image ? BOOT_CMD_WRITE_IMAGE : BOOT_CMD_WRITE;
  if (!SendBootPacket(data, length, address, size, command, 1))
    return 0;
  for (int attempt = 0; attempt < kWriteReads; ++attempt) {
    if (BootStopRequested(*this))
      return 0;
    BootRead read = ReadBootReply(m_Hid, command);
    if (read == BootRead::kAnswer && image && IsEarlierChunkReply(*this, address))
      continue;  // a late answer to an earlier chunk sent twice: this chunk is not acknowledged
    if (read == BootRead::kAnswer)
      return 1;
    if (read == BootRead::kGone)
      return 0;
  }
  return 0;
}

int CUpdateDlg::BootFinish() {
  if (BootStopRequested(*this))
    return 0;
  if (!SendBootPacket(nullptr, 0, 0, 0, BOOT_CMD_FINISH, 0))
    return 0;
  return ReadBootReply(m_Hid, BOOT_CMD_FINISH) == BootRead::kAnswer ? 1 : 0;
}

int CUpdateDlg::BootWriteVersion() {
  if (!BootErase(m_nBootVersionAddress, kVersionAreaSize))
    return 0;
  uint8_t word[4];
  WriteLe32(word, m_desVersion);
  return BootWrite(word, m_nBootVersionAddress, 4, 4, 0);
}
