// The application-mode update service: the version query, the update loop, the dispatcher of
// the controller's messages and the data requests it serves from the confirmed image.
#include <algorithm>
#include <cerrno>
#include <string>

#include "appmode/app_session.h"
#include "base/byte_order.h"
#include "base/clock.h"
#include "base/local_text.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "firmware/firmware_record.h"

namespace {

// The version query gives up after this much waiting without a version reply.
constexpr uint64_t kVersionQueryLimitMs = 2000;
// The update thread gives up after the controller has been silent this long.
constexpr uint64_t kControllerSilenceLimitMs = 5000;

// How long one read waited, by the clock seam; a read that timed out counts at least its time-out,
// so that a clock standing still cannot keep a loop alive.
// Any read counts at least 1 ms: input reports come at most once per USB frame.
uint64_t ReadWaitMs(uint64_t startMs, uint64_t endMs, HidReadResult result, uint32_t timeoutMs) {
  uint64_t elapsed = endMs - startMs;
  uint64_t least = result == HidReadResult::kTimeout ? std::max<uint32_t>(timeoutMs, 1) : 1;
  return std::max(elapsed, least);
}

// The controller is gone or the link is not open: no later read can bring anything.
bool LinkLost(HidReadResult result) {
  return result == HidReadResult::kError || result == HidReadResult::kNotOpen;
}

// One pass of either loop: read a report; dispatch it, or tell the controller the read failed.
// Answers what the read brought and adds the time the read waited to *waitedMs.
}  // namespace

HidReadResult CAppSession::ReadStep(uint64_t* waitedMs) {
  uint64_t start = m_Hid.Clock().NowMs();
  uint32_t timeout = m_Hid.m_nReadTimeout.load();
  const uint8_t* report = m_Hid.m_InReport;
  HidReadResult result = m_Hid.ReadHid();
  *waitedMs += ReadWaitMs(start, m_Hid.Clock().NowMs(), result, timeout);
  if (result != HidReadResult::kReport) {
    m_Hid.Trace("recv() failed with error code 0x%x\n", ReadTraceCode(result));
    SendCommand(MSG_READ_FAILED, 0);
    return result;
  }
  m_Hid.Trace(" %d Bytes received from sender\n", report[0]);
  DispatchReport(report + 1);
  return result;
}

// The transfer cannot go on (the controller is gone or silent, or a packet failed), for cause.
// Tells the user when the controller's image may no longer be whole.
void CAppSession::AbandonTransfer(const std::string& cause) {
  m_host.SetFailureCause(cause + " after " + std::to_string(m_transfer.m_bytesDone) + " of " +
                         std::to_string(m_transfer.m_imageSize) + " bytes");
  m_host.StopUpdate();
  if (m_transfer.m_bImageTouched)
    m_host.ShowTextMessage(TXT_UPDATE_FAILED);
}

void CAppSession::SendNextChunk(int first) {
  CUpdateTransfer& t = m_transfer;
  uint32_t remaining = t.m_imageSize > t.m_bytesDone ? t.m_imageSize - t.m_bytesDone : 0;
  uint32_t got = std::min(remaining, kAppChunkSize);
  if (t.m_image.size() < t.m_bytesDone + got) {
    // The image in memory ends before the image does: it cannot be completed.
    m_Hid.Trace("firmware image shorter than its record\n");
    AbandonTransfer("the image in memory is shorter than its record");
    return;
  }
  // From the first data packet on, the controller's image is no longer whole.
  t.m_bImageTouched = 1;
  // The chunk goes from the image straight into the output report.
  if (!SendFirmwareData(t.m_image.data() + t.m_bytesDone, got)) {
    // A chunk the controller never got cannot be counted: every later one would land shifted.
    m_Hid.Trace("data packet could not be written, update abandoned\n");
    AbandonTransfer("a data packet could not be written");
    return;
  }
  t.m_bytesDone += got;
  if (first) {
    m_Hid.Trace("Application serial 0x%x 0x%x 0x%x\n", m_appSerial[0], m_appSerial[1],
                m_appSerial[2]);
    m_Hid.Trace("update file is 0x%x\n", t.m_imageSize);
  } else {
    m_Hid.Trace("\nSET_FIRMWARE_DATA read_pos %d offset 0x%x\n\n", static_cast<int>(got),
                t.m_bytesDone);
  }
  m_host.ShowProgress();
  if (t.m_bytesDone < t.m_imageSize)
    return;

  // The image is complete. The button comes back when the update thread ends.
  t.ReleaseImage();
  t.m_bImageComplete = 1;
  SendAppSerial();
  m_Hid.Trace("update successful\n");
  m_nUpdateState = STATE_IDLE;
  m_bTransferComplete = 1;
}

void CAppSession::ServeDataRequest() {
  CUpdateTransfer& t = m_transfer;
  switch (m_nUpdateState.load()) {
    case STATE_FILE_CHOSEN:
      // The image was read at the confirmation; the file is not opened again.
      if (t.m_image.empty())
        return;  // the update has stopped
      m_nUpdateState = STATE_SENDING;
      SendNextChunk(1);
      break;
    case STATE_SENDING:
      if (t.m_image.empty())
        return;  // the update has stopped; the image is let go
      SendNextChunk(0);
      break;
    case STATE_IDLE:
      // Only the request that follows this update's last chunk finishes it.
      if (!m_bTransferComplete)
        return;
      m_bTransferComplete = 0;
      SendFirmwarePacket(FW_FINISH, nullptr, 0);
      m_host.ReportUpdateSuccess();
      break;
    default:
      break;
  }
}

int CAppSession::UsbUpdateLoop() {
  // Nothing of an earlier update carries over into this one.
  m_transfer.ReleaseImage();
  m_nUpdateState = STATE_IDLE;
  m_bTransferComplete = 0;
  m_transfer.m_bImageTouched = 0;
  m_host.ResetProgress();

  if (!SendCommand(MSG_START_UPDATE, 0)) {
    m_Hid.Trace("send() failed with error code %d\n", errno);
    return 0;
  }
  m_Hid.Trace("send() is OK!\n");
  m_Hid.Trace("Bytes Sent: %d\n", 1);
  PrepareSerialMask();

  uint64_t silentMs = 0;  // time the reads waited since the controller last sent something
  do {
    HidReadResult result = ReadStep(&silentMs);
    // Only the update's own messages are signs of life: a controller that keeps sending its
    // ordinary input reports is still silent as far as the update goes. Restarting the count here
    // also leaves out the time spent in our own boxes and dialogs.
    if (result == HidReadResult::kReport && IsUpdateMessage(m_Hid.m_InReport + 1)) {
      silentMs = 0;
      continue;
    }
    if (LinkLost(result) || silentMs >= kControllerSilenceLimitMs) {
      m_Hid.Trace("controller lost or silent, update abandoned\n");
      if (!m_host.StopRequested())
        AbandonTransfer(LinkLost(result) ? "the controller went away"
                                         : "the controller fell silent");
      break;
    }
  } while (!m_host.StopRequested());

  // A transfer that has not finished by now is abandoned: no later message may continue it.
  m_transfer.ReleaseImage();
  m_nUpdateState = STATE_IDLE;
  m_bTransferComplete = 0;
  return 1;
}

void CAppSession::QueryVersion() {
  SendFirmwarePacket(FW_VERSION, nullptr, 0);
  uint64_t waitedMs = 0;
  while (m_host.DeviceVersion() == VERSION_UNKNOWN) {
    HidReadResult result = ReadStep(&waitedMs);
    if (LinkLost(result) || waitedMs >= kVersionQueryLimitMs)
      break;
  }
}

void CAppSession::BeginTransfer() {
  m_nUpdateState = STATE_FILE_CHOSEN;
  SendFileInfo();
  m_Hid.Trace("desVersion is %d\n", static_cast<int32_t>(m_transfer.m_desVersion));
}

int CAppSession::IsTransferUnderWay() const {
  int state = m_nUpdateState.load();
  return state == STATE_FILE_CHOSEN || state == STATE_SENDING || m_bTransferComplete ? 1 : 0;
}

void CAppSession::DispatchReport(const uint8_t* message) {
  if (message[0] != 0)
    return;
  const uint8_t* body = message + kMessageHeaderSize;
  switch (message[1]) {
    case MSG_DEVICE_ID: {
      // A transfer under way goes on: a second identity must not start another selection (its
      // Cancel would stop the update and leave the controller half-written).
      if (IsTransferUnderWay()) {
        m_Hid.Trace("identity message during the transfer ignored\n");
        break;
      }
      ParseDeviceId(body);
      m_Hid.Trace("verification id OK\n");
      uint32_t type = m_nFirmwareType.load();
      if (type == 1 || type == 200) {
        // On acceptance the selection has set STATE_FILE_CHOSEN and sent the file information;
        // the controller asks for data next.
        if (!m_host.SelectFirmwareFile())
          m_host.StopUpdate();
      } else {
        m_host.SetFailureCause("this running firmware (type " + std::to_string(type) +
                               ") takes no update: put the controller in its boot loader");
        m_host.StopUpdate();
        m_host.ShowTextMessage(TXT_NEED_BOOT_MODE);
      }
      break;
    }
    case MSG_FIRMWARE:
      OnFirmwareMessage(body);
      break;
    default:
      break;
  }
}

void CAppSession::OnFirmwareMessage(const uint8_t* body) {
  switch (body[0]) {
    case FW_VERSION: {
      uint32_t version = ReadLe32(body + kFirmwarePayloadOffset);
      m_Hid.Trace("cur_devVersion 0x%x\n", version);
      m_host.SetDeviceVersion(version);
      break;
    }
    case FW_DATA_REQUEST:
      ServeDataRequest();
      break;
    case FW_FAILED:
    case FW_FAILED_ALT:
      m_host.SetFailureCause("the controller reported failure code " + std::to_string(body[0]) +
                             (IsTransferUnderWay()
                                  ? " after " + std::to_string(m_transfer.m_bytesDone) + " bytes"
                                  : std::string()));
      m_host.ReportUpdateFailure();
      break;
    default:
      break;
  }
}
