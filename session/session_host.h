// What a protocol session (the boot loader's or the running firmware's) needs from the update that
// runs it, and the transfer they share: the confirmed record's image and how far it got.
//
// A session talks to one controller over one link and owns its protocol's state; the update that
// runs it owns the stop flag, the controller's version word, the user's boxes and the result.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "firmware/firmware_record.h"

// What a boot-loader update is doing, in the order it goes through them: the backup of what the
// erase destroys, the erase, the image, the version word, the read-back, the finish. The running
// firmware's update has no phases: it only writes.
enum class UpdatePhase { kNone, kBackingUp, kErasing, kWriting, kVersion, kVerifying, kFinishing };

constexpr uint32_t VERSION_UNKNOWN = 0x5A5A5A5A;
// The version word of a controller whose version area is erased.
constexpr uint32_t kErasedVersionWord = 0xFFFFFFFF;

// The firmware one update writes: the record the user confirmed, its image read whole from the
// file at the confirmation, and how much of it went out.
class CUpdateTransfer {
 public:
  // Lets go of the image and the memory it takes: no later request may continue the transfer.
  void ReleaseImage();

  // The confirmed record's image, read whole from the file at the confirmation: every transfer
  // works from it, so the file may change or be held by another program meanwhile. Empty when no
  // transfer may use it.
  std::vector<uint8_t> m_image;
  uint32_t m_desVersion = 0;
  uint32_t m_imageSize = 0;
  uint32_t m_targetAddress = 0;
  uint32_t m_bytesDone = 0;
  int32_t m_recordOffset = 0;
  FirmwareRecordHeader m_recordHeader;
  // The controller's image may no longer be whole: the erase was sent (boot mode) or a data chunk
  // went out (application mode). A failure from then on tells the user.
  std::atomic<int> m_bImageTouched{0};
  // The image and the version word are whole in the controller: the boot loader acknowledged the
  // version word, or the running firmware was sent the last chunk.
  std::atomic<int> m_bImageComplete{0};
};

class ISessionHost {
 public:
  virtual ~ISessionHost() = default;
  // Answers 1 while no update is to go on (the stop flag).
  virtual int StopRequested() const = 0;
  // Lets go of the image and raises the stop flag.
  virtual void StopUpdate() = 0;
  // Keeps why the update failed; the first cause of an update is the one kept.
  virtual void SetFailureCause(const std::string& cause) = 0;
  // Shows the transfer's m_bytesDone as a share of m_imageSize when that position differs from the
  // last one shown since ResetProgress.
  virtual void ShowProgress() = 0;
  virtual void ResetProgress() = 0;
  // The session has entered phase: its first request of that phase is about to go out.
  virtual void EnterPhase(UpdatePhase phase) = 0;
  // The controller told its version word: keep it and show it.
  virtual void SetDeviceVersion(uint32_t version) = 0;
  virtual uint32_t DeviceVersion() const = 0;
  // Asks for the file, checks its record, asks to confirm and fills the transfer. Answers 1 when
  // the update may go on with it.
  virtual int SelectFirmwareFile() = 0;
  virtual void ReportUpdateSuccess() = 0;
  virtual void ReportUpdateFailure() = 0;
  // A box with the text of textIndex, OK only.
  virtual void ShowTextMessage(int textIndex) = 0;
};

// "0x08003400", for the causes of a failure.
std::string HexAddress(uint32_t address);
