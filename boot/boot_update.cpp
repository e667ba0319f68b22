// The boot-mode update sequence: choose the firmware file, erase the image region, write the image
// in acknowledged chunks while the progress bar advances, rewrite the version area, finish and
// report. Runs on the update thread.
#include <cstdint>

#include "base/local_text.h"
#include "boot/boot_packet.h"
#include "boot/boot_update.h"
#include "update/update_dlg.h"

namespace {

// How often one chunk is sent again in a row without an acknowledgement before the update fails.
constexpr int kMaxChunkResends = 10;

// Reads the image bytes [position, position + count) of the chosen record into m_DataBuf. Fails on
// a seek or read error and when the file ends before the image does.
int ReadChunk(CUpdateDlg& dlg, uint32_t position, uint32_t count) {
  uint64_t imageStart =
      static_cast<uint64_t>(static_cast<uint32_t>(dlg.m_recordOffset)) + kRecordHeaderSize;
  uint32_t got = 0;
  if (!dlg.m_firmwareFile.Seek(imageStart + position))
    return 0;
  if (!dlg.m_firmwareFile.Read(dlg.m_DataBuf, count, &got))
    return 0;
  return got == count ? 1 : 0;
}

// Sends one chunk until the boot loader acknowledges it, at most 1 + kMaxChunkResends times.
int WriteChunk(CUpdateDlg& dlg, uint32_t position, uint32_t count) {
  for (int resends = 0; resends <= kMaxChunkResends; ++resends) {
    if (BootStopRequested(dlg))
      return 0;
    if (dlg.BootWrite(dlg.m_DataBuf, dlg.m_nBootBaseAddress + position, count, dlg.m_imageSize, 1))
      return 1;
  }
  return 0;
}

// Writes the whole image from the file, chunk by chunk. The last chunk ends with the image: the
// bytes that follow it in the file (the next record) never reach the controller.
int WriteImage(CUpdateDlg& dlg) {
  if (!dlg.m_firmwareFile.Open(dlg.m_strFirmwarePath))
    return 0;
  uint32_t position = 0;
  dlg.m_bytesDone = 0;
  dlg.ShowProgress();
  while (position < dlg.m_imageSize) {
    uint32_t remaining = dlg.m_imageSize - position;
    uint32_t count = remaining < kBootChunkSize ? remaining : kBootChunkSize;
    if (!ReadChunk(dlg, position, count) || !WriteChunk(dlg, position, count)) {
      dlg.m_firmwareFile.Close();
      return 0;
    }
    position += count;
    dlg.m_bytesDone = position;
    dlg.ShowProgress();
  }
  dlg.m_firmwareFile.Close();
  return 1;
}

// The steps of the sequence up to the report. Answers 1 when the image and the version word are
// in the controller.
int RunBootUpdate(CUpdateDlg& dlg) {
  if (!dlg.SelectFirmwareFile())
    return 0;
  // The selection refuses an empty image; the progress divides by the size.
  if (dlg.m_imageSize == 0 || BootStopRequested(dlg))
    return 0;
  // Once the erase request has gone out, BootErase marks the image as touched: a failure from then
  // on tells the user.
  if (!dlg.BootErase(dlg.m_targetAddress, dlg.m_imageSize))
    return 0;
  if (!WriteImage(dlg))
    return 0;
  if (!dlg.BootWriteVersion())
    return 0;
  // A controller that stays in its boot loader does not announce itself again: the title shows
  // the version now in it.
  cur_devVersion = dlg.m_desVersion;
  dlg.ShowDeviceVersion(dlg.m_desVersion);
  // A finish that is not answered still counts as success: the image and version are in place.
  dlg.BootFinish();
  return 1;
}

}  // namespace

void CUpdateDlg::BootUpdateFirmware() {
  m_bBootUpdateRunning = 1;
  m_bImageTouched = 0;
  m_nShownProgress = -1;
  int done = RunBootUpdate(*this);
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

void Boot_UpdateThread(void* /*parameter*/) {
  if (CUpdateDlg* dlg = g_pUpdateDlg.load())
    dlg->BootUpdateFirmware();
}
