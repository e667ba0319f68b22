// CAppSession: a conversation with one controller's running firmware over one link. It owns the
// running firmware's state (the transfer state, the serial words and their mask, the identity of
// the last identity message, the chunk buffer) and knows its messages, the version query, the
// update loop and the dispatch of the controller's messages. The update that runs it
// (ISessionHost) chooses the firmware, shows what happens and keeps the result.
//
// The controller leads: after MSG_START_UPDATE it sends its identity, then asks for the image one
// chunk at a time. m_nUpdateState follows the transfer: STATE_FILE_CHOSEN once a file is accepted,
// STATE_SENDING from the first chunk, STATE_IDLE after the last one (and when no update runs).
#pragma once

#include <atomic>
#include <cstdint>

#include "appmode/app_packet.h"
#include "appmode/serial_mask.h"
#include "device/hid.h"
#include "session/session_host.h"

// Transfer states of the application-mode data requests.
constexpr int STATE_FILE_CHOSEN = 1;
constexpr int STATE_SENDING = 2;
constexpr int STATE_IDLE = 3;

class CAppSession {
 public:
  CAppSession(CHid& link, CUpdateTransfer& transfer, ISessionHost& host);
  CAppSession(const CAppSession&) = delete;
  CAppSession& operator=(const CAppSession&) = delete;

  // ---- Messages (appmode/app_messages.cpp) ----
  int SendCommand(uint8_t type, uint8_t argument);
  // Both answer 1 when every piece of the packet was written, 0 otherwise.
  int SendFirmwarePacket(uint8_t command, const uint8_t* payload, int length);
  int SendFirmwareData(const uint8_t* chunk, uint32_t count);
  void SendFileInfo();
  void SendAppSerial();
  // body: the identity body, at least 40 readable bytes.
  void ParseDeviceId(const uint8_t* body);
  void PrepareSerialMask();

  // ---- The update service (appmode/app_update.cpp) ----
  // Asks the running firmware for its version and waits for the reply (shown through the host),
  // for at most kVersionQueryLimitMs of reads. Needs the link open.
  void QueryVersion();
  // The body of the update thread: opens the update and serves the controller's messages until
  // the update ends, stops, or the controller goes away or falls silent. Answers 0 when the
  // update could not even be opened.
  int UsbUpdateLoop();
  // The selection has accepted a file: the transfer starts with the file information.
  void BeginTransfer();
  // message: the link's m_InReport from byte 1 (63 readable bytes).
  void DispatchReport(const uint8_t* message);
  // body: a type-22 body (message + 4, 59 readable bytes).
  void OnFirmwareMessage(const uint8_t* body);
  // Answers 1 from the accepted file selection until the request after the last chunk.
  int IsTransferUnderWay() const;
  // Swaps the two mask table references (the dialog does it once, at start-up).
  void SwapMaskTables();

  // ---- The running firmware's state ----
  // The chunk buffer, zeroed with the dialog's state. The data requests do not pass through it:
  // each chunk goes from the image straight into the link's output report.
  uint8_t m_DataBuf[128] = {};
  uint32_t m_appSerial[3] = {};
  uint32_t m_serial[3] = {};
  // The serial mask table and the spare table of the same form, from the stored words; the two
  // references name them.
  uint32_t m_SerialMaskTable[kMaskTableWords] = {};
  uint32_t m_SpareMaskTable[kMaskTableWords] = {};
  uint32_t* m_pFirstMaskTable = nullptr;   // sixteen words
  uint32_t* m_pSecondMaskTable = nullptr;  // sixteen words
  // The firmware type of the last identity message (0..255); 1 and 200 are updated here.
  std::atomic<uint32_t> m_nFirmwareType{0};
  uint16_t m_productId = 0;
  uint8_t m_productVariant = 0;
  std::atomic<int> m_nUpdateState{0};  // STATE_FILE_CHOSEN / SENDING / IDLE
  // This update's transfer has completed (the last chunk went out).
  int m_bTransferComplete = 0;

 private:
  HidReadResult ReadStep(uint64_t* waitedMs);
  void AbandonTransfer(const std::string& cause);
  void SendNextChunk(int first);
  void ServeDataRequest();

  CHid& m_Hid;
  CUpdateTransfer& m_transfer;
  ISessionHost& m_host;
};
