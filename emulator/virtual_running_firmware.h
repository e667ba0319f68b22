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
//
// Choices of this firmware where the wire contract leaves the controller's side open:
// - A report is taken only when its id is 0, its length byte equals the message length
//   (4 + body length), message byte 0 is 0 and the message fits the report; a firmware packet with
//   a payload must say body length = payload length + 3. Anything else is counted as unexpected
//   and ignored. Packets are not reassembled across reports (the host never needs it).
// - MSG_START_UPDATE (any argument) starts a new exchange: what an earlier one received is
//   forgotten, and MSG_DEVICE_ID goes out.
// - FW_FILE_INFO needs a payload of at least 12 bytes. It (re)starts the transfer. FW_DATA payloads
//   of up to 32 bytes are taken only between FW_FILE_INFO and the serial; a larger one is
//   unexpected. A chunk is answered with the next FW_DATA_REQUEST while the firmware holds fewer
//   bytes than announced (with requestAfterComplete also the chunk that completes it); a chunk
//   that arrives when the image is already complete is stored and counted as extra, unanswered.
// - FW_APP_SERIAL before the image is complete is unexpected. A serial that matches neither
//   table is answered with the failure code serialMismatchCode instead of the request.
// - FW_FINISH is taken only after an accepted serial; it gets no answer (the firmware restarts).
// - The failure code of failAfterChunks replaces the request that would follow the N-th chunk
//   (N = 0: the request that follows FW_FILE_INFO); the transfer then stops taking data.
// - The wrong-command knob spoils only that sending: the message kept for a resend after
//   MSG_READ_FAILED is the correct one.
// - With m_bStreamInput it sends its ordinary input report whenever the host reads and nothing
//   else waits: alternately one whose message byte 0 is 1 and one of type 48, neither a message
//   of the update.
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
  // Also request once more after the chunk that completes the image (that request then stays
  // unread by a host that finishes at the next request after the serial).
  bool requestAfterComplete = false;
  uint8_t serialMismatchCode = 24;  // sent instead of the request when the serial does not match
};

class VirtualRunningFirmware : public VirtualController {
 public:
  explicit VirtualRunningFirmware(RunningFirmwareConfig config = {});
  void OnReport(const uint8_t* report65, const ReplyFn& reply) override;
  bool IdleReport(uint8_t* payload64) override;

  // The serial words the firmware expects back (its serial masked with the shared table).
  void ExpectedAppSerial(uint32_t out[3]) const;

  // ---- What the controller saw ----
  std::vector<uint8_t> m_image;  // every FW_DATA payload, in order
  uint32_t m_fileVersion = 0;    // from FW_FILE_INFO
  uint32_t m_fileAddress = 0;
  uint32_t m_fileSize = 0;
  int m_bFileInfo = 0;
  int m_nChunks = 0;
  int m_bSerialChecked = 0;   // FW_APP_SERIAL arrived
  int m_bSerialAccepted = 0;  // ... and matched
  int m_bFinished = 0;        // FW_FINISH arrived after the serial
  int m_nReadFailed = 0;      // MSG_READ_FAILED received
  int m_nVersionQueries = 0;
  int m_nResends = 0;       // messages sent again after MSG_READ_FAILED
  int m_nUnexpected = 0;    // reports it could not place (bad framing, wrong moment)
  int m_nExtraChunks = 0;   // FW_DATA after the image was complete (stored all the same)
  int m_nStartUpdates = 0;  // MSG_START_UPDATE received
  int m_nInputReports = 0;  // ordinary input reports sent (m_bStreamInput)
  // Which mask table the accepted serial was masked with: 0 none yet; 1 the stored table with
  // words 4..7 replaced (the normal case); 2 with words 0..3 replaced as well (after a boot-mode
  // identification at start-up).
  int m_nSerialTable = 0;
  std::vector<uint8_t> m_serialReceived;  // the 12 payload bytes of FW_APP_SERIAL

  // ---- Fault knobs ----
  int m_nWrongCommandReplies = 0;  // the next N firmware packets carry an unknown command (99)
  bool m_bStreamInput = false;     // streams ordinary input reports (see above)

  RunningFirmwareConfig m_config;
  std::mutex m_mutex;

  // The two tables a correct host may mask with (see m_nSerialTable).
  static void MaskTable(bool lowWordsReplaced, uint32_t table[16]);

 private:
  enum class Phase { kIdle, kIdentified, kReceiving, kImageComplete, kSerialAccepted, kStopped };
  void Send(const std::vector<uint8_t>& message, const ReplyFn& reply);
  void SendFirmwareCommand(uint8_t command, const ReplyFn& reply);
  void SendDeviceId(const ReplyFn& reply);
  void SendVersion(const ReplyFn& reply);
  void OnFirmwarePacket(const uint8_t* body, uint16_t bodyLength, const ReplyFn& reply);
  void OnFileInfo(const uint8_t* payload, uint16_t length, const ReplyFn& reply);
  void OnData(const uint8_t* payload, uint16_t length, const ReplyFn& reply);
  void OnAppSerial(const uint8_t* payload, uint16_t length, const ReplyFn& reply);
  void RequestOrFail(const ReplyFn& reply);

  Phase m_phase = Phase::kIdle;
  std::vector<uint8_t> m_outstanding;  // the last payload sent, until the host moves on
};
