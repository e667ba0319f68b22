// The read-back of an image from the boot loader: the controller's flash, read with command 5 a
// chunk at a time, compared with the record of the firmware file. The boot loader acknowledges a
// write without reading back what it programmed, so this is the only way to know the image holds.
#include <algorithm>
#include <cstdint>

#include "base/byte_order.h"
#include "boot/boot_packet.h"
#include "boot/boot_session.h"

namespace {

// The update rewrites the version area after the image (BootWriteVersion), and the area may lie
// inside the image (layout 0x3009: 0x34 bytes after its base). There the controller holds the
// record's version word in the first 4 bytes and the erased rest of the 32, not the file's bytes:
// the word is compared, the rest is not.
void ExpectVersionArea(uint32_t versionWord, uint32_t versionAddress, uint32_t address,
                       uint32_t count, uint8_t* expected, const uint8_t* found) {
  uint8_t word[4];
  WriteLe32(word, versionWord);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t offset = address + i - versionAddress;
    if (address + i < versionAddress || offset >= kBootVersionAreaSize)
      continue;
    expected[i] = offset < sizeof word ? word[offset] : found[i];
  }
}

}  // namespace

int CBootSession::BootReadRegion(uint32_t address, uint32_t length, std::vector<uint8_t>* bytes,
                                 uint32_t* unreadAt) {
  bytes->assign(length, 0);
  m_host.ResetProgress();
  m_transfer.m_bytesDone = 0;
  m_host.ShowProgress();
  m_host.EnterPhase(UpdatePhase::kBackingUp);
  for (uint32_t position = 0; position < length;) {
    uint32_t count = std::min(length - position, kBootChunkSize);
    if (!BootReadMemory(bytes->data() + position, count, address + position)) {
      *unreadAt = address + position;
      return 0;
    }
    position += count;
    m_transfer.m_bytesDone = position;
    m_host.ShowProgress();
  }
  return 1;
}

int CBootSession::BootVerifyImage(ImageCheck* check) {
  *check = ImageCheck{};
  // The image is compared with what the update wrote (or a verify loaded): the same bytes.
  const uint32_t size = m_transfer.m_imageSize;
  const std::vector<uint8_t>& image = m_transfer.m_image;
  if (size == 0 || image.size() != size) {
    check->outcome = ImageCheck::kFileUnreadable;
    return 0;
  }
  m_host.ResetProgress();
  m_transfer.m_bytesDone = 0;
  m_host.ShowProgress();
  m_host.EnterPhase(UpdatePhase::kVerifying);
  for (uint32_t position = 0; position < size;) {
    uint32_t count = std::min(size - position, kBootChunkSize);
    uint8_t expected[kBootChunkSize];
    uint8_t found[kBootChunkSize];
    std::copy_n(image.data() + position, count, expected);
    uint32_t address = m_nBootBaseAddress + position;
    if (!BootReadMemory(found, count, address)) {
      check->outcome = StopRequested() ? ImageCheck::kStopped : ImageCheck::kNoAnswer;
      check->address = address;
      return 0;
    }
    ExpectVersionArea(m_transfer.m_recordHeader.VersionWord(), m_nBootVersionAddress, address,
                      count, expected, found);
    auto [mine, theirs] = std::mismatch(expected, expected + count, found);
    if (mine != expected + count) {
      *check = {ImageCheck::kDiffers, address + static_cast<uint32_t>(mine - expected), *mine,
                *theirs};
      return 0;
    }
    position += count;
    m_transfer.m_bytesDone = position;
    m_host.ShowProgress();
  }
  return 1;
}
