// Messages to and from the controller's running firmware, and the masking of its serial words.
#include "appmode/app_session.h"
#include "base/byte_order.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "appmode/serial_mask.h"
#include "base/trace.h"

namespace {

// Writes one piece of packet, from start on and at most maxPiece bytes, built in place in the
// link's output report after its length byte; what follows it there goes out again.
int WritePiece(CHid& hid, const FirmwarePacket& packet, uint32_t start, uint32_t maxPiece) {
  BuildPacketPiece(hid.OutPayload(), packet, start, maxPiece);
  return hid.WriteOutReport();
}

}  // namespace

CAppSession::CAppSession(CHid& link, CUpdateTransfer& transfer, ISessionHost& host)
    : m_Hid(link), m_transfer(transfer), m_host(host) {
  // Each session starts from the stored words; PrepareSerialMask changes its own tables only.
  std::copy(std::begin(kStoredMaskTable), std::end(kStoredMaskTable), m_SerialMaskTable);
  std::copy(std::begin(kStoredMaskTable), std::end(kStoredMaskTable), m_SpareMaskTable);
  m_pFirstMaskTable = m_SerialMaskTable;
  m_pSecondMaskTable = m_SpareMaskTable;
}

void CAppSession::SwapMaskTables() {
  std::swap(m_pFirstMaskTable, m_pSecondMaskTable);
}

int CAppSession::SendCommand(uint8_t type, uint8_t argument) {
  BuildShortCommand(m_Hid.OutPayload(), type, argument);
  return m_Hid.WriteOutReport() ? 1 : 0;
}

int CAppSession::SendFirmwarePacket(uint8_t command, const uint8_t* payload, int length) {
  FirmwarePacket packet;
  if (!BuildFirmwarePacket(command, payload, length, &packet))
    return 0;

  if (command != FW_DATA) {
    m_Hid.Trace("SendFirmwarePacket cmd %d\n", command);
    if (packet.Length() > static_cast<uint32_t>(kMaxMessageLength))
      return 0;  // a report cannot carry it; only data packets are split
    return WritePiece(m_Hid, packet, 0, kMaxMessageLength) ? 1 : 0;
  }

  // Data packets travel in pieces of at most 39 bytes; a chunk of 32 bytes is exactly one piece.
  for (uint32_t start = 0; start < packet.Length(); start += kDataPieceLength) {
    uint32_t pieceLength = std::min<uint32_t>(kDataPieceLength, packet.Length() - start);
    if (!WritePiece(m_Hid, packet, start, kDataPieceLength)) {
      m_Hid.Trace("WriteHid error\n");
      return 0;
    }
    m_Hid.Trace("WriteHid %d btye sucessful\n", static_cast<int>(pieceLength));
  }
  return 1;
}

int CAppSession::SendFirmwareData(const uint8_t* chunk, uint32_t count) {
  return SendFirmwarePacket(FW_DATA, chunk, static_cast<int>(std::min(count, kAppChunkSize)));
}

void CAppSession::SendFileInfo() {
  uint8_t payload[kFileInfoPayloadLength] = {};  // bytes 12..27 are reserved and stay zero
  WriteLe32(payload + 0, m_transfer.m_desVersion);
  WriteLe32(payload + 4, m_transfer.m_targetAddress);
  WriteLe32(payload + 8, m_transfer.m_imageSize);
  SendFirmwarePacket(FW_FILE_INFO, payload, kFileInfoPayloadLength);
}

void CAppSession::SendAppSerial() {
  uint8_t payload[kAppSerialPayloadLength];
  for (int i = 0; i < 3; ++i) {
    m_appSerial[i] = MaskSerialWord(m_serial[i], m_SerialMaskTable);
    WriteLe32(payload + 4 * i, m_appSerial[i]);
  }
  SendFirmwarePacket(FW_APP_SERIAL, payload, kAppSerialPayloadLength);
  m_Hid.Trace("App_Serial 0x%x 0x%x 0x%x\n", m_appSerial[0], m_appSerial[1], m_appSerial[2]);
}

void CAppSession::ParseDeviceId(const uint8_t* body) {
  DeviceIdentity identity = DecodeDeviceId(body);
  for (int i = 0; i < 3; ++i)
    m_serial[i] = identity.serial[i];
  m_nFirmwareType = identity.firmwareType;
  m_productVariant = identity.productVariant;
  m_productId = identity.productId;
  m_Hid.Trace("firmware type %d\n", static_cast<int>(identity.firmwareType));
  m_Hid.Trace("serial %x %x %x\n", m_serial[0], m_serial[1], m_serial[2]);
  m_Hid.Trace("serial %x %x %x\n", identity.secondTriple[0], identity.secondTriple[1],
              identity.secondTriple[2]);
}

void CAppSession::PrepareSerialMask() {
  if (m_pFirstMaskTable)
    std::copy(std::begin(kMaskWordsLow), std::end(kMaskWordsLow), m_pFirstMaskTable);
  if (m_pSecondMaskTable)
    std::copy(std::begin(kMaskWordsHigh), std::end(kMaskWordsHigh), m_pSecondMaskTable + 4);
}
