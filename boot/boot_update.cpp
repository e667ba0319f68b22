// The boot-mode update sequence: choose the firmware file (its image is then in memory), erase the
// image region, write the image in acknowledged chunks while the progress bar advances, rewrite
// the version area, read the image back when asked to, finish and report. Runs on the update
// thread.
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/local_text.h"
#include "boot/boot_packet.h"
#include "boot/boot_update.h"
#include "update/update_dlg.h"

namespace {

std::string At(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", address);
  return text;
}

// Writes the whole image from memory, chunk by chunk. The last chunk ends with the image.
int WriteImage(CUpdateDlg& dlg) {
  uint32_t position = 0;
  dlg.m_bytesDone = 0;
  dlg.ShowProgress();
  while (position < dlg.m_imageSize) {
    uint32_t remaining = dlg.m_imageSize - position;
    uint32_t count = remaining < kBootChunkSize ? remaining : kBootChunkSize;
    uint32_t address = dlg.m_nBootBaseAddress + position;
    if (!BootWriteAcknowledged(dlg, dlg.m_image.data() + position, address, count, dlg.m_imageSize,
                               1)) {
      dlg.SetFailureCause("the image chunk at " + At(address) + " was not acknowledged (" +
                          std::to_string(1 + kMaxWriteResends) + " sendings)");
      return 0;
    }
    position += count;
    dlg.m_bytesDone = position;
    dlg.ShowProgress();
  }
  return 1;
}

// The read-back before the finishing command: a controller whose image does not hold is not told
// to finish.
int VerifyImage(CUpdateDlg& dlg) {
  dlg.m_bVerifying = 1;
  int same = dlg.BootVerifyImage(&dlg.m_imageCheck);
  dlg.m_bVerifying = 0;
  if (!same && dlg.m_imageCheck.outcome != CUpdateDlg::ImageCheck::kStopped)
    dlg.SetFailureCause("verify failed: " + ImageCheckText(dlg.m_imageCheck));
  return same;
}

// The steps of the sequence up to the report. Answers 1 when the image and the version word are
// in the controller.
int RunBootUpdate(CUpdateDlg& dlg) {
  if (!dlg.SelectFirmwareFile())
    return 0;
  // The selection refuses an empty image; the progress divides by the size.
  if (dlg.m_imageSize == 0 || dlg.m_image.size() != dlg.m_imageSize || BootStopRequested(dlg))
    return 0;
  // Once the erase request has gone out, BootErase marks the image as touched: a failure from then
  // on tells the user.
  if (!dlg.BootErase(dlg.m_targetAddress, dlg.m_imageSize))
    return 0;
  if (!WriteImage(dlg))
    return 0;
  if (!dlg.BootWriteVersion()) {
    dlg.SetFailureCause("the version word at " + At(dlg.m_nBootVersionAddress) +
                        " was not acknowledged (" + std::to_string(1 + kMaxWriteResends) +
                        " sendings)");
    return 0;
  }
  dlg.m_bImageComplete = 1;
  if (dlg.m_bVerifyAfterWrite && !VerifyImage(dlg))
    return 0;
  // A controller that stays in its boot loader does not announce itself again: the title shows
  // the version now in it.
  dlg.m_curDevVersion = dlg.m_desVersion;
  dlg.ShowDeviceVersion(dlg.m_desVersion);
  // A finish that is not answered still counts as success: the image and version are in place.
  dlg.BootFinish();
  return 1;
}

}  // namespace

std::string ImageCheckText(const CUpdateDlg::ImageCheck& check) {
  switch (check.outcome) {
    case CUpdateDlg::ImageCheck::kSame:
      return "the image reads back as in the file";
    case CUpdateDlg::ImageCheck::kDiffers: {
      char text[96];
      std::snprintf(text, sizeof text,
                    "first difference at 0x%08x (file 0x%02x, controller 0x%02x)", check.address,
                    check.expected, check.found);
      return text;
    }
    case CUpdateDlg::ImageCheck::kNoAnswer:
      return "no answer to the read at " + At(check.address);
    case CUpdateDlg::ImageCheck::kStopped:
      return "the read-back was stopped at " + At(check.address);
    case CUpdateDlg::ImageCheck::kFileUnreadable:
      break;
  }
  return "the firmware file cannot be read";
}

void CUpdateDlg::BootUpdateFirmware() {
  m_bBootUpdateRunning = 1;
  m_bImageTouched = 0;
  m_nShownProgress = -1;
  int done = RunBootUpdate(*this);
  // The image is not kept after the update: a later update reads its file again.
  ReleaseImage();
  // An update the user stopped (closing the window) ends without a box: the window is closing and
  // waits for this thread.
  if (!BootStopRequested(*this)) {
    if (done)
      ReportUpdateSuccess();
    else if (m_bImageTouched)
      ShowTextMessage(TXT_UPDATE_FAILED);
  }
  m_bBootUpdateRunning = 0;
  RefreshUpdateButton();
}

void Boot_UpdateThread(void* parameter) {
  if (auto* dlg = static_cast<CUpdateDlg*>(parameter))
    dlg->BootUpdateFirmware();
}
