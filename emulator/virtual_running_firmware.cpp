#include "emulator/virtual_running_firmware.h"
#include "base/byte_order.h"

#include <algorithm>
#include <cstring>

#include "appmode/serial_mask.h"

namespace {

// Message types and firmware commands, as this firmware names them.
constexpr uint8_t kTypeFirmware = 22;
constexpr uint8_t kTypeDeviceId = 25;
constexpr uint8_t kTypeStartUpdate = 26;
constexpr uint8_t kTypeReadFailed = 29;
constexpr uint8_t kFwData = 0;
constexpr uint8_t kFwFileInfo = 1;
constexpr uint8_t kFwFinish = 2;
constexpr uint8_t kFwVersion = 4;
constexpr uint8_t kFwAppSerial = 6;
constexpr uint8_t kFwDataRequest = 20;
constexpr uint8_t kUnknownCommand = 99;
constexpr uint8_t kTypeInput = 48;  // the gamepad's state: buttons and sticks

constexpr int kMessageHeader = 4;   // 0, type, body length u16
constexpr int kMaxMessage = 63;     // what fits after the length byte
constexpr uint16_t kMaxChunk = 32;  // the firmware asks for 32 bytes at a time
constexpr int kPayload = 64;

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// A message: 0, type, body length, body.
std::vector<uint8_t> Message(uint8_t type, const std::vector<uint8_t>& body) {
  std::vector<uint8_t> message(kMessageHeader + body.size(), 0);
  message[1] = type;
  message[2] = static_cast<uint8_t>(body.size());
  message[3] = static_cast<uint8_t>(body.size() >> 8);
  for (size_t i = 0; i < body.size(); ++i)
    message[kMessageHeader + i] = body[i];
  return message;
}

}  // namespace

VirtualRunningFirmware::VirtualRunningFirmware(RunningFirmwareConfig config) : m_config(config) {}

void VirtualRunningFirmware::MaskTable(bool lowWordsReplaced, uint32_t table[16]) {
  for (int i = 0; i < kMaskTableWords; ++i)
    table[i] = kStoredMaskTable[i];
  for (int i = 0; i < 4; ++i) {
    table[4 + i] = kMaskWordsHigh[i];
    if (lowWordsReplaced)
      table[i] = kMaskWordsLow[i];
  }
}

void VirtualRunningFirmware::ExpectedAppSerial(uint32_t out[3]) const {
  uint32_t table[kMaskTableWords];
  MaskTable(false, table);
  for (int i = 0; i < 3; ++i)
    out[i] = MaskSerialWord(m_config.serial[i], table);
}

void VirtualRunningFirmware::Send(const std::vector<uint8_t>& message, const ReplyFn& reply) {
  std::vector<uint8_t> payload(kPayload, 0);
  size_t n = std::min<size_t>(message.size(), kMaxMessage);
  payload[0] = static_cast<uint8_t>(n);
  std::copy(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(n), payload.begin() + 1);
  m_outstanding = payload;
  if (message.size() > 1 && message[1] == kTypeFirmware && m_nWrongCommandReplies > 0) {
    --m_nWrongCommandReplies;
    std::vector<uint8_t> spoiled = payload;
    spoiled[1 + kMessageHeader] = kUnknownCommand;
    reply(spoiled.data());
    return;
  }
  reply(payload.data());
}

void VirtualRunningFirmware::SendFirmwareCommand(uint8_t command, const ReplyFn& reply) {
  Send(Message(kTypeFirmware, {command}), reply);
}

void VirtualRunningFirmware::SendDeviceId(const ReplyFn& reply) {
  std::vector<uint8_t> body;
  for (uint32_t word : m_config.serial)
    PutU32(body, word);
  for (uint32_t word : m_config.secondTriple)
    PutU32(body, word);
  body.resize(36, 0);
  body.push_back(m_config.firmwareType);
  body.push_back(m_config.variant);
  body.push_back(static_cast<uint8_t>(m_config.productCode));
  body.push_back(static_cast<uint8_t>(m_config.productCode >> 8));
  Send(Message(kTypeDeviceId, body), reply);
}

void VirtualRunningFirmware::SendVersion(const ReplyFn& reply) {
  std::vector<uint8_t> body = {kFwVersion, 4, 0};
  PutU32(body, m_config.versionWord);
  Send(Message(kTypeFirmware, body), reply);
}

void VirtualRunningFirmware::RequestOrFail(const ReplyFn& reply) {
  if (m_config.failAfterChunks >= 0 && m_nChunks >= m_config.failAfterChunks) {
    m_phase = Phase::kStopped;
    SendFirmwareCommand(m_config.failureCode, reply);
    return;
  }
  SendFirmwareCommand(kFwDataRequest, reply);
}

void VirtualRunningFirmware::OnFileInfo(const uint8_t* payload, uint16_t length,
                                        const ReplyFn& reply) {
  if (m_phase == Phase::kIdle || length < 12) {
    ++m_nUnexpected;
    return;
  }
  m_fileVersion = ReadLe32(payload);
  m_fileAddress = ReadLe32(payload + 4);
  m_fileSize = ReadLe32(payload + 8);
  m_bFileInfo = 1;
  m_image.clear();
  m_nChunks = 0;
  m_nExtraChunks = 0;
  m_phase = Phase::kReceiving;
  RequestOrFail(reply);
}

void VirtualRunningFirmware::OnData(const uint8_t* payload, uint16_t length, const ReplyFn& reply) {
  bool receiving = m_phase == Phase::kReceiving;
  if ((!receiving && m_phase != Phase::kImageComplete) || length > kMaxChunk) {
    ++m_nUnexpected;
    return;
  }
  m_image.insert(m_image.end(), payload, payload + length);
  ++m_nChunks;
  if (!receiving) {
    ++m_nExtraChunks;
    return;
  }
  bool complete = m_image.size() >= m_fileSize;
  bool failNow = m_config.failAfterChunks >= 0 && m_nChunks >= m_config.failAfterChunks;
  if (complete)
    m_phase = Phase::kImageComplete;
  if (!complete || m_config.requestAfterComplete || failNow)
    RequestOrFail(reply);
}

void VirtualRunningFirmware::OnAppSerial(const uint8_t* payload, uint16_t length,
                                         const ReplyFn& reply) {
  if (m_phase != Phase::kImageComplete) {
    ++m_nUnexpected;
    return;
  }
  m_bSerialChecked = 1;
  m_serialReceived.assign(payload, payload + length);
  for (int table = 1; table <= 2 && length == 12; ++table) {
    uint32_t words[kMaskTableWords];
    MaskTable(table == 2, words);
    bool match = true;
    for (int i = 0; i < 3; ++i)
      match = match && ReadLe32(payload + 4 * i) == MaskSerialWord(m_config.serial[i], words);
    if (match) {
      m_bSerialAccepted = 1;
      m_nSerialTable = table;
      m_phase = Phase::kSerialAccepted;
      SendFirmwareCommand(kFwDataRequest, reply);
      return;
    }
  }
  m_phase = Phase::kStopped;
  SendFirmwareCommand(m_config.serialMismatchCode, reply);
}

void VirtualRunningFirmware::OnFirmwarePacket(const uint8_t* body, uint16_t bodyLength,
                                              const ReplyFn& reply) {
  uint8_t command = body[0];
  const uint8_t* payload = nullptr;
  uint16_t length = 0;
  if (bodyLength != 1) {
    if (bodyLength < 3 || ReadLe16(body + 1) + 3 != bodyLength) {
      ++m_nUnexpected;
      return;
    }
    length = ReadLe16(body + 1);
    payload = body + 3;
  }
  switch (command) {
    case kFwVersion:
      ++m_nVersionQueries;
      if (m_config.answerVersion)
        SendVersion(reply);
      break;
    case kFwFileInfo:
      OnFileInfo(payload, length, reply);
      break;
    case kFwData:
      OnData(payload, length, reply);
      break;
    case kFwAppSerial:
      OnAppSerial(payload, length, reply);
      break;
    case kFwFinish:
      if (m_phase != Phase::kSerialAccepted) {
        ++m_nUnexpected;
        break;
      }
      m_bFinished = 1;
      m_phase = Phase::kIdle;
      break;
    default:
      ++m_nUnexpected;
      break;
  }
}

void VirtualRunningFirmware::OnReport(const uint8_t* report65, const ReplyFn& reply) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const int length = report65[1];
  const uint8_t* message = report65 + 2;
  bool framed = report65[0] == 0 && length >= kMessageHeader + 1 && length <= kMaxMessage &&
                message[0] == 0 && kMessageHeader + ReadLe16(message + 2) == length;
  bool readFailed = framed && message[1] == kTypeReadFailed && length == kMessageHeader + 1;
  if (!readFailed)
    m_outstanding.clear();  // the host has moved on
  if (!framed) {
    ++m_nUnexpected;
    return;
  }
  const uint8_t type = message[1];
  const uint16_t bodyLength = ReadLe16(message + 2);
  const uint8_t* body = message + kMessageHeader;
  if (readFailed) {
    ++m_nReadFailed;
    if (!m_outstanding.empty()) {
      ++m_nResends;
      std::vector<uint8_t> again = m_outstanding;
      reply(again.data());
    }
    return;
  }
  if (type == kTypeStartUpdate && bodyLength == 1) {
    ++m_nStartUpdates;
    m_image.clear();
    m_bFileInfo = m_nChunks = m_nExtraChunks = 0;
    m_bSerialChecked = m_bSerialAccepted = m_bFinished = m_nSerialTable = 0;
    m_fileVersion = m_fileAddress = m_fileSize = 0;
    m_serialReceived.clear();
    m_phase = Phase::kIdentified;
    SendDeviceId(reply);
    return;
  }
  if (type == kTypeFirmware && bodyLength >= 1) {
    OnFirmwarePacket(body, bodyLength, reply);
    return;
  }
  ++m_nUnexpected;
}

bool VirtualRunningFirmware::IdleReport(uint8_t* payload64) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_bStreamInput)
    return false;
  std::fill(payload64, payload64 + kPayload, 0);
  payload64[0] = 12;
  payload64[1] = static_cast<uint8_t>(m_nInputReports % 2 == 0 ? 1 : 0);
  payload64[2] = kTypeInput;
  payload64[3] = 8;
  payload64[5] = static_cast<uint8_t>(m_nInputReports);  // the sticks move a little
  ++m_nInputReports;
  return true;
}
