// The boot-mode update sequence: choose the firmware file (its image is then in memory), erase the
// image region, write the image in acknowledged chunks while the progress bar advances, rewrite
// the version area, read the image back when asked to and finish. Runs on the update thread.
#include <cstdint>
#include <cstdio>
#include <string>

#include "boot/boot_packet.h"
#include "boot/boot_session.h"

// Writes the whole image from memory, chunk by chunk. The last chunk ends with the image.
int CBootSession::WriteImage() {
  const uint32_t size = m_transfer.m_imageSize;
  uint32_t position = 0;
  m_transfer.m_bytesDone = 0;
  m_host.ShowProgress();
  m_host.EnterPhase(UpdatePhase::kWriting);
  while (position < size) {
    uint32_t remaining = size - position;
    uint32_t count = remaining < kBootChunkSize ? remaining : kBootChunkSize;
    uint32_t address = m_nBootBaseAddress + position;
    if (!BootWriteAcknowledged(m_transfer.m_image.data() + position, address, count, size, 1)) {
      m_host.SetFailureCause("the image chunk at " + HexAddress(address) +
                             " was not acknowledged (" + std::to_string(1 + kMaxWriteResends) +
                             " sendings)");
      return 0;
    }
    position += count;
    m_transfer.m_bytesDone = position;
    m_host.ShowProgress();
  }
  return 1;
}

// The read-back before the finishing command: a controller whose image does not hold is not told
// to finish.
int CBootSession::VerifyImage() {
  int same = BootVerifyImage(&m_imageCheck);
  if (!same && m_imageCheck.outcome != ImageCheck::kStopped)
    m_host.SetFailureCause("verify failed: " + ImageCheckText(m_imageCheck));
  return same;
}

int CBootSession::RunUpdate() {
  if (!m_host.SelectFirmwareFile())
    return 0;
  // The selection refuses an empty image; the progress divides by the size.
  const uint32_t size = m_transfer.m_imageSize;
  if (size == 0 || m_transfer.m_image.size() != size || StopRequested())
    return 0;
  if (m_beforeErase && !m_beforeErase(*this)) {
    m_host.SetFailureCause("nothing was erased");
    return 0;
  }
  // Once the erase request has gone out, BootErase marks the image as touched: a failure from then
  // on tells the user.
  m_host.EnterPhase(UpdatePhase::kErasing);
  if (!BootErase(m_transfer.m_targetAddress, size))
    return 0;
  if (!WriteImage())
    return 0;
  if (!BootWriteVersion()) {
    m_host.SetFailureCause("the version word at " + HexAddress(m_nBootVersionAddress) +
                           " was not acknowledged (" + std::to_string(1 + kMaxWriteResends) +
                           " sendings)");
    return 0;
  }
  m_transfer.m_bImageComplete = 1;
  if (m_bVerifyAfterWrite && !VerifyImage())
    return 0;
  // A controller that stays in its boot loader does not announce itself again: the title shows
  // the version now in it.
  m_host.SetDeviceVersion(m_transfer.m_desVersion);
  // A finish that is not answered still counts as success: the image and version are in place.
  BootFinish();
  return 1;
}

std::string ImageCheckText(const CBootSession::ImageCheck& check) {
  using ImageCheck = CBootSession::ImageCheck;
  switch (check.outcome) {
    case ImageCheck::kSame:
      return "the image reads back as in the file";
    case ImageCheck::kDiffers: {
      char text[96];
      std::snprintf(text, sizeof text,
                    "first difference at 0x%08x (file 0x%02x, controller 0x%02x)", check.address,
                    check.expected, check.found);
      return text;
    }
    case ImageCheck::kNoAnswer:
      return "no answer to the read at " + HexAddress(check.address);
    case ImageCheck::kStopped:
      return "the read-back was stopped at " + HexAddress(check.address);
    case ImageCheck::kFileUnreadable:
      break;
  }
  return "the firmware file cannot be read";
}
