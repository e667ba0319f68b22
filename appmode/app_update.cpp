// The application-mode update service: the version query, the update thread, the dispatcher of
// the controller's messages and the data requests it serves from the firmware file.
//
// The controller leads: after MSG_START_UPDATE it sends its identity, then asks for the image one
// chunk at a time. m_nUpdateState follows the transfer: STATE_FILE_CHOSEN once a file is accepted,
// STATE_SENDING from the first chunk, STATE_IDLE after the last one (and when no update runs).
#include <algorithm>
#include <cerrno>
#include <string>

#include "appmode/app_messages.h"
#include "base/byte_order.h"
#include "base/clock.h"
#include "base/local_text.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "firmware/firmware_record.h"
#include "update/update_dlg.h"

namespace {

// The version query gives up after this much waiting without a version reply.
constexpr uint64_t kVersionQueryLimitMs = 2000;
// The update thread gives up after the controller has been silent this long.
constexpr uint64_t kControllerSilenceLimitMs = 5000;

// How long one read waited, by the clock seam; a read that timed out counts at least its time-out,
// so that a clock standing still cannot keep a loop alive.
// Any read counts at least 1 ms: input reports come at most once per USB frame.
uint64_t ReadWaitMs(uint64_t startMs, uint32_t result, uint32_t timeoutMs) {
  uint64_t elapsed = GetClock().NowMs() - startMs;
  uint64_t least = result == WAIT_TIMEOUT ? std::max<uint32_t>(timeoutMs, 1) : 1;
  return std::max(elapsed, least);
}

// The controller is gone or the link is not open: no later read can bring anything.
bool LinkLost(uint32_t result) {
  return result == WAIT_FAILED || result == WAIT_ABANDONED;
}

// One pass of either loop: read a report; dispatch it, or tell the controller the read failed.
// Answers the wait code of the read and adds the time the read waited to *waitedMs.
uint32_t ReadStep(CUpdateDlg& dlg, uint64_t* waitedMs) {
  uint64_t start = GetClock().NowMs();
  uint32_t timeout = dlg.m_Hid.m_nReadTimeout.load();
  uint8_t* report = dlg.m_Hid.m_InReport;
  uint32_t result = dlg.m_Hid.ReadHid(report, kPayloadLength);
  *waitedMs += ReadWaitMs(start, result, timeout);
  if (result != WAIT_OBJECT_0) {
    Trace("recv() failed with error code 0x%x\n", result);
    dlg.SendCommand(MSG_READ_FAILED, 0);
    return result;
  }
  Trace(" %d Bytes received from sender\n", report[0]);
  dlg.DispatchReport(report + 1);
  return result;
}

// The transfer cannot go on (the controller is gone or silent, or a packet failed), for cause.
// Tells the user when the controller's image may no longer be whole.
void AbandonTransfer(CUpdateDlg& dlg, const std::string& cause) {
  dlg.SetFailureCause(cause + " after " + std::to_string(dlg.m_bytesDone) + " of " +
                      std::to_string(dlg.m_imageSize) + " bytes");
  dlg.StopUpdate();
  if (dlg.m_bImageTouched)
    dlg.ShowTextMessage(TXT_UPDATE_FAILED);
}

void SendNextChunk(CUpdateDlg& dlg, int first) {
  uint32_t remaining = dlg.m_imageSize > dlg.m_bytesDone ? dlg.m_imageSize - dlg.m_bytesDone : 0;
  uint32_t got = std::min(remaining, kAppChunkSize);
  if (dlg.m_image.size() < dlg.m_bytesDone + got) {
    // The image in memory ends before the image does: it cannot be completed.
    Trace("firmware image shorter than its record\n");
    AbandonTransfer(dlg, "the image in memory is shorter than its record");
    return;
  }
  std::copy_n(dlg.m_image.data() + dlg.m_bytesDone, got, dlg.m_DataBuf);
  // From the first data packet on, the controller's image is no longer whole.
  dlg.m_bImageTouched = 1;
  if (!dlg.SendFirmwareData(dlg.m_DataBuf, got)) {
    // A chunk the controller never got cannot be counted: every later one would land shifted.
    Trace("data packet could not be written, update abandoned\n");
    AbandonTransfer(dlg, "a data packet could not be written");
    return;
  }
  dlg.m_bytesDone += got;
  if (first) {
    Trace("Application serial 0x%x 0x%x 0x%x\n", dlg.m_appSerial[0], dlg.m_appSerial[1],
          dlg.m_appSerial[2]);
    Trace("update file is 0x%x\n", dlg.m_imageSize);
  } else {
    Trace("\nSET_FIRMWARE_DATA read_pos %d offset 0x%x\n\n", static_cast<int>(got),
          dlg.m_bytesDone);
  }
  dlg.ShowProgress();
  if (dlg.m_bytesDone < dlg.m_imageSize)
    return;

  // The image is complete. The button comes back when the update thread ends.
  dlg.ReleaseImage();
  dlg.m_bImageComplete = 1;
  dlg.SendAppSerial();
  Trace("update successful\n");
  dlg.m_nUpdateState = STATE_IDLE;
  dlg.m_bTransferComplete = 1;
}

void ServeDataRequest(CUpdateDlg& dlg) {
  switch (dlg.m_nUpdateState.load()) {
    case STATE_FILE_CHOSEN:
      // The image was read at the confirmation; the file is not opened again.
      if (dlg.m_image.empty())
        return;  // the update has stopped
      dlg.m_nUpdateState = STATE_SENDING;
      SendNextChunk(dlg, 1);
      break;
    case STATE_SENDING:
      if (dlg.m_image.empty())
        return;  // the update has stopped; the image is let go
      SendNextChunk(dlg, 0);
      break;
    case STATE_IDLE:
      // Only the request that follows this update's last chunk finishes it.
      if (!dlg.m_bTransferComplete)
        return;
      dlg.m_bTransferComplete = 0;
      dlg.SendFirmwarePacket(FW_FINISH, nullptr, 0);
      dlg.ReportUpdateSuccess();
      break;
    default:
      break;
  }
}

}  // namespace

void Usb_UpdateThread(void* parameter) {
  if (auto* dlg = static_cast<CUpdateDlg*>(parameter))
    dlg->UsbUpdateLoop();
}

void CUpdateDlg::UsbUpdateLoop() {
  // Nothing of an earlier update carries over into this one.
  ReleaseImage();
  m_nUpdateState = STATE_IDLE;
  m_bTransferComplete = 0;
  m_bImageTouched = 0;
  m_nShownProgress = -1;

  if (!SendCommand(MSG_START_UPDATE, 0)) {
    Trace("send() failed with error code %d\n", errno);
    RefreshUpdateButton();
    return;
  }
  Trace("send() is OK!\n");
  Trace("Bytes Sent: %d\n", 1);
  PrepareSerialMask();

  uint64_t silentMs = 0;  // time the reads waited since the controller last sent something
  do {
    uint32_t result = ReadStep(*this, &silentMs);
    // Only the update's own messages are signs of life: a controller that keeps sending its
    // ordinary input reports is still silent as far as the update goes. Restarting the count here
    // also leaves out the time spent in our own boxes and dialogs.
    if (result == WAIT_OBJECT_0 && IsUpdateMessage(m_Hid.m_InReport + 1)) {
      silentMs = 0;
      continue;
    }
    if (LinkLost(result) || silentMs >= kControllerSilenceLimitMs) {
      Trace("controller lost or silent, update abandoned\n");
      if (!m_bStop)
        AbandonTransfer(
            *this, LinkLost(result) ? "the controller went away" : "the controller fell silent");
      break;
    }
  } while (!m_bStop);

  // A transfer that has not finished by now is abandoned: no later message may continue it.
  ReleaseImage();
  m_nUpdateState = STATE_IDLE;
  m_bTransferComplete = 0;
  RefreshUpdateButton();
  Trace("Exit Usb_UpdateThread\n");
}

void CUpdateDlg::QueryDeviceVersion() {
  // One conversation at a time: while an update holds the link, the query stays out of it.
  if (!AcquireLink(LINK_VERSION_QUERY))
    return;
  m_curDevVersion = VERSION_UNKNOWN;
  if (m_Hid.OpenHid()) {
    if (m_Hid.m_bBootMode) {
      IdentifyBootDevice();
    } else {
      SendFirmwarePacket(FW_VERSION, nullptr, 0);
      uint64_t waitedMs = 0;
      while (m_curDevVersion == VERSION_UNKNOWN) {
        uint32_t result = ReadStep(*this, &waitedMs);
        if (LinkLost(result) || waitedMs >= kVersionQueryLimitMs)
          break;
      }
    }
  }
  ReleaseLink(LINK_VERSION_QUERY);
}

int CUpdateDlg::IsTransferUnderWay() const {
  int state = m_nUpdateState.load();
  return state == STATE_FILE_CHOSEN || state == STATE_SENDING || m_bTransferComplete ? 1 : 0;
}

void CUpdateDlg::DispatchReport(const uint8_t* message) {
  if (message[0] != 0)
    return;
  const uint8_t* body = message + kMessageHeaderSize;
  switch (message[1]) {
    case MSG_DEVICE_ID: {
      // A transfer under way goes on: a second identity must not start another selection (its
      // Cancel would stop the update and leave the controller half-written).
      if (IsTransferUnderWay()) {
        Trace("identity message during the transfer ignored\n");
        break;
      }
      ParseDeviceId(body);
      Trace("verification id OK\n");
      uint32_t type = m_nFirmwareType.load();
      if (type == 1 || type == 200) {
        // On acceptance the selection has set STATE_FILE_CHOSEN and sent the file information;
        // the controller asks for data next.
        if (!SelectFirmwareFile())
          m_bStop = 1;
      } else {
        SetFailureCause("this running firmware (type " + std::to_string(type) +
                        ") takes no update: put the controller in its boot loader");
        StopUpdate();
        ShowTextMessage(TXT_NEED_BOOT_MODE);
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

void CUpdateDlg::OnFirmwareMessage(const uint8_t* body) {
  switch (body[0]) {
    case FW_VERSION: {
      uint32_t version = ReadLe32(body + kFirmwarePayloadOffset);
      m_curDevVersion = version;
      Trace("cur_devVersion 0x%x\n", version);
      ShowDeviceVersion(version);
      break;
    }
    case FW_DATA_REQUEST:
      ServeDataRequest(*this);
      break;
    case FW_FAILED:
    case FW_FAILED_ALT:
      SetFailureCause("the controller reported failure code " + std::to_string(body[0]) +
                      (IsTransferUnderWay() ? " after " + std::to_string(m_bytesDone) + " bytes"
                                            : std::string()));
      ReportUpdateFailure();
      break;
    default:
      break;
  }
}
