// A model of the controller's running firmware (vendor 0x0483 or 0x7A3D, product 0x5750), from the
// controller's side of the wire. Messages ride in the payload after a length byte:
// 0x00, type, body length u16, body. Firmware packets (type 22) have the body: command, payload
// length u16, payload (or the command alone without a payload).
//
// The exchange it leads: MSG_START_UPDATE -> it sends MSG_DEVICE_ID; FW_FILE_INFO -> it records
// version, address and size and sends FW_DATA_REQUEST; each FW_DATA -> it stores the payload and
// asks for the next until it holds the announced size; FW_APP_SERIAL -> it checks the masked serial
// words and sends one more FW_DATA_REQUEST; FW_FINISH -> the update is finished. FW_VERSION -> it
// answers with its version word. MSG_READ_FAILED -> it counts it and sends its last message again
// while that message is still unanswered.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "emulator/virtual_hid.h"

struct RunningFirmwareConfig {
  uint32_t versionWord = 0x00000089;  // 1.37; 0xFFFFFFFF allowed
  bool answerVersion = true;          // false: the version query is never answered
  uint32_t serial[3] = {0x12345675u, 0x0BADF00Du, 0xCAFE0010u};
  uint32_t secondTriple[3] = {0x01010101u, 0x02020202u, 0x03030303u};
  uint8_t firmwareType = 1;
  uint8_t variant = 0;
  uint16_t productCode = 0x0105;
  // After this many FW_DATA chunks it sends the failure code instead of the next request
  // (-1: never). The code is 21 or 24.
  int failAfterChunks = -1;
  uint8_t failureCode = 21;
};

class VirtualRunningFirmware : public VirtualController {
 public:
  explicit VirtualRunningFirmware(RunningFirmwareConfig config = {});
  void OnReport(const uint8_t* report65, const ReplyFn& reply) override;

  // The serial words the firmware expects back (its serial masked with the shared table).
  void ExpectedAppSerial(uint32_t out[3]) const;

  // ---- What the controller saw ----
  std::vector<uint8_t> m_image;      // every FW_DATA payload, in order
  uint32_t m_fileVersion = 0;        // from FW_FILE_INFO
  uint32_t m_fileAddress = 0;
  uint32_t m_fileSize = 0;
  int m_bFileInfo = 0;
  int m_nChunks = 0;
  int m_bSerialChecked = 0;          // FW_APP_SERIAL arrived
  int m_bSerialAccepted = 0;         // ... and matched
  int m_bFinished = 0;               // FW_FINISH arrived after the serial
  int m_nReadFailed = 0;             // MSG_READ_FAILED received
  int m_nVersionQueries = 0;
  int m_nResends = 0;                // messages sent again after MSG_READ_FAILED
  int m_nUnexpected = 0;             // reports it could not place (bad framing, wrong moment)

  // ---- Fault knobs ----
  int m_nWrongCommandReplies = 0;    // the next N firmware packets carry an unknown command (99)

  RunningFirmwareConfig m_config;
  std::mutex m_mutex;
};
