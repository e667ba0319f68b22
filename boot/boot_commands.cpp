// The boot loader's six commands. Each command builds its request afresh, sends it through the
// session's link and reads the replies into the link's m_InReport.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/byte_order.h"
#include "base/clock.h"
#include "boot/boot_packet.h"
#include "boot/boot_session.h"

namespace {

// Attempts and pauses of the commands.
constexpr int kReadAttempts = 5;
constexpr int kEraseReads = 20;
constexpr uint32_t kEraseFirstPauseMs = 1000;
constexpr uint32_t kErasePauseMs = 500;
constexpr int kWriteReads = 20;

// Keeps on host that the controller went away during what (a step of the update) at address.
void ControllerGone(ISessionHost& host, const char* what, uint32_t address) {
  char text[96];
  std::snprintf(text, sizeof text, "the controller went away during %s at 0x%08x", what, address);
  host.SetFailureCause(text);
}

// What one read brought while a command waits for its answer.
enum class BootRead { kAnswer, kOther, kNothing, kGone };

// Reads one report into the link's m_InReport: the answer to command, another report, nothing
// within the read time-out, or no link at all (the controller is gone or the link is not open).
BootRead ReadBootReply(CHid& hid, uint16_t command) {
  switch (hid.ReadHid()) {
    case HidReadResult::kReport:
      return IsBootReply(hid.m_InReport, command) ? BootRead::kAnswer : BootRead::kOther;
    case HidReadResult::kTimeout:
      return BootRead::kNothing;
    case HidReadResult::kError:
    case HidReadResult::kNotOpen:
      break;
  }
  return BootRead::kGone;
}

// Answers 1 when the image-write answer in the link's m_InReport echoes the address of an earlier
// chunk of the image: [base, address). Such an answer is left over from a chunk that went out twice
// (its first answer came late) and says nothing about the chunk at address. An answer that echoes
// no such address (this chunk's, or none at all) counts as usual.
int IsEarlierChunkReply(const CHid& hid, uint32_t base, uint32_t address) {
  uint32_t echoed = BootReplyAddress(hid.m_InReport);
  return echoed >= base && echoed < address ? 1 : 0;
}

// Answers 1 when the read reply in reply echoes the address and the count of this read. A
// reply to an earlier read that came after its time-out (and was asked again) echoes another
// address: taken as this read's answer, it would shift every later comparison by one chunk.
int IsReplyToThisRead(const uint8_t* reply, uint32_t length, uint32_t address) {
  return BootReplyAddress(reply) == address &&
                 BootReplyDataLength(reply) == std::min(length, kBootChunkSize)
             ? 1
             : 0;
}

// Commands 5 and 8: a read that brought no report sends the request again; a report that is not
// the answer (for command 5: a reply for another address or count) only uses up the attempt. A
// controller that is gone ends the command at once.
int ReadCommand(CBootSession& session, CHid& hid, ISessionHost& host, uint16_t command,
                uint8_t* destination, uint32_t length, uint32_t address) {
  if (!session.SendBootPacket(nullptr, length, address, length, command, 0))
    return 0;
  for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
    if (session.StopRequested())
      return 0;
    BootRead read = ReadBootReply(hid, command);
    if (read == BootRead::kAnswer && command == BOOT_CMD_READ &&
        !IsReplyToThisRead(hid.m_InReport, length, address))
      read = BootRead::kOther;
    switch (read) {
      case BootRead::kAnswer:
        if (destination)
          std::memcpy(destination, hid.m_InReport + kBootReplyDataOffset,
                      std::min(length, kBootChunkSize));
        return 1;
      case BootRead::kGone:
        ControllerGone(host, "the read", address);
        return 0;
      case BootRead::kNothing:
        if (!session.SendBootPacket(nullptr, length, address, length, command, 0))
          return 0;
        break;
      case BootRead::kOther:
        break;
    }
  }
  return 0;
}

}  // namespace

int CBootSession::StopRequested() const {
  return m_bBootUpdateRunning.load() && m_host.StopRequested() ? 1 : 0;
}

int CBootSession::SendBootPacket(const uint8_t* data, uint32_t length, uint32_t address,
                                 uint32_t size, uint16_t command, int withCrc) {
  // Built straight in the link's output report; what follows the request there goes out again.
  BuildBootRequest(m_Hid.OutPayload(), data, length, address, size, command, withCrc);
  return m_Hid.WriteOutReport();
}

int CBootSession::BootReadMemory(uint8_t* destination, uint32_t length, uint32_t address) {
  return ReadCommand(*this, m_Hid, m_host, BOOT_CMD_READ, destination, length, address);
}

int CBootSession::BootReadDeviceId(uint8_t* destination, uint32_t length) {
  return ReadCommand(*this, m_Hid, m_host, BOOT_CMD_DEVICE_ID, destination, length, 0);
}

int CBootSession::BootErase(uint32_t address, uint32_t length) {
  if (!SendBootPacket(nullptr, 0, address, length, BOOT_CMD_ERASE, 0)) {
    ControllerGone(m_host, "the erase request", address);
    return 0;
  }
  // From here on the controller may be erasing: what it held there may no longer be whole.
  m_transfer.m_bImageTouched = 1;
  m_Hid.Clock().SleepMs(kEraseFirstPauseMs);
  for (int attempt = 0; attempt < kEraseReads; ++attempt) {
    if (StopRequested())
      return 0;
    switch (ReadBootReply(m_Hid, BOOT_CMD_ERASE)) {
      case BootRead::kAnswer:
        return 1;
      case BootRead::kGone:
        ControllerGone(m_host, "the erase", address);
        return 0;
      case BootRead::kNothing:
      case BootRead::kOther:
        m_Hid.Clock().SleepMs(kErasePauseMs);
        break;
    }
  }
  char text[80];
  std::snprintf(text, sizeof text, "no answer to the erase at 0x%08x (%d reads)", address,
                kEraseReads);
  m_host.SetFailureCause(text);
  return 0;
}

int CBootSession::BootWrite(const uint8_t* data, uint32_t address, uint32_t length, uint32_t size,
                            int image) {
  uint16_t command = image ? BOOT_CMD_WRITE_IMAGE : BOOT_CMD_WRITE;
  if (!SendBootPacket(data, length, address, size, command, 1))
    return 0;
  for (int attempt = 0; attempt < kWriteReads; ++attempt) {
    if (StopRequested())
      return 0;
    BootRead read = ReadBootReply(m_Hid, command);
    if (read == BootRead::kAnswer && image &&
        IsEarlierChunkReply(m_Hid, m_nBootBaseAddress, address))
      continue;  // a late answer to an earlier chunk sent twice: this chunk is not acknowledged
    if (read == BootRead::kAnswer)
      return 1;
    if (read == BootRead::kGone) {
      ControllerGone(m_host, "a write", address);
      return 0;
    }
  }
  return 0;
}

int CBootSession::BootFinish() {
  if (StopRequested())
    return 0;
  m_host.EnterPhase(UpdatePhase::kFinishing);
  if (!SendBootPacket(nullptr, 0, 0, 0, BOOT_CMD_FINISH, 0))
    return 0;
  return ReadBootReply(m_Hid, BOOT_CMD_FINISH) == BootRead::kAnswer ? 1 : 0;
}

int CBootSession::BootWriteAcknowledged(const uint8_t* data, uint32_t address, uint32_t length,
                                        uint32_t size, int image) {
  for (int resends = 0; resends <= kMaxWriteResends; ++resends) {
    if (StopRequested())
      return 0;
    if (BootWrite(data, address, length, size, image))
      return 1;
  }
  return 0;
}

int CBootSession::BootWriteVersion() {
  if (!BootErase(m_nBootVersionAddress, kBootVersionAreaSize))
    return 0;
  m_host.EnterPhase(UpdatePhase::kVersion);
  uint8_t word[4];
  WriteLe32(word, m_transfer.m_desVersion);
  // Sent again like an image chunk: one lost acknowledgement must not leave a complete image
  // without its finish. Writing the same word again over itself changes nothing.
  return BootWriteAcknowledged(word, m_nBootVersionAddress, 4, 4, 0);
}
