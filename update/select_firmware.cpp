// Firmware selection: the user picks a .dat file, the record for the connected controller is found
// and checked (the checks themselves are in firmware/firmware_record.h), the user confirms the new
// version against the controller's, and the record's values are left in the dialog for the
// transfer.
#include <string>

#include "base/clock.h"
#include "base/local_text.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "firmware/firmware_file.h"
#include "firmware/firmware_record.h"
#include "update/update_run.h"

namespace {

constexpr uint32_t kTransferReadTimeoutMs = 10;

// How long LoadConfirmedImage pauses before it tries a held file again.
constexpr uint32_t kHeldFilePauseMs = 50;

uint64_t VersionRank(uint16_t version, uint16_t beta) {
  return uint64_t{version} << 17 | (beta ? beta : 0x10000u);
}

}  // namespace

std::u16string ConfirmationText(const FirmwareRecordHeader& header, uint32_t deviceVersion,
                                uint16_t language) {
  std::u16string text = LoadLocalText(TXT_NEW_FIRMWARE, language) + u" " +
                        Utf8ToUtf16(FormatVersion(header.version, header.beta));
  if (deviceVersion == VERSION_UNKNOWN || deviceVersion == kErasedVersionWord)
    return text + u"\n";
  return text + u" " + LoadLocalText(TXT_CURRENT_IS, language) + u" " +
         Utf8ToUtf16(FormatVersionWord(deviceVersion)) + u"\n";
}

GuardRefusal CheckVersionGuard(uint16_t version, uint16_t beta, uint32_t current, bool allowOlder,
                               bool allowReinstall) {
  if (current == VERSION_UNKNOWN || current == kErasedVersionWord)
    return GuardRefusal::kNone;
  const uint64_t now =
      VersionRank(static_cast<uint16_t>(current), static_cast<uint16_t>(current >> 16));
  const uint64_t next = VersionRank(version, beta);
  if (next < now && !allowOlder)
    return GuardRefusal::kOlder;
  if (next == now && !allowReinstall)
    return GuardRefusal::kSame;
  return GuardRefusal::kNone;
}

RecordRefusal CUpdateRun::LoadFirmwareRecord() {
  RecordTaker taker{m_Hid.m_bBootMode.load(), m_boot.m_nBootBaseAddress, m_app.m_productId,
                    m_app.m_productVariant, m_boot.m_deviceType};
  RecordChoice choice = ChooseFirmwareRecord(m_strFirmwarePath, taker);
  m_fileOpenResult = choice.openResult;
  if (choice.refusal == RecordRefusal::kCannotOpen || choice.refusal == RecordRefusal::kNoRecord ||
      choice.refusal == RecordRefusal::kCutShort)
    return choice.refusal;
  m_recordHeader = choice.header;
  m_desVersion = m_recordHeader.version;
  m_imageSize = m_recordHeader.imageSize;
  m_targetAddress = m_recordHeader.targetAddress;
  m_bytesDone = 0;
  m_recordOffset = static_cast<int32_t>(choice.offset);
  return choice.refusal;
}

int CUpdateRun::SelectFirmwareFile() {
  if (!m_pObserver)
    return 0;
  std::u16string path = m_request.firmwarePath;
  if (path.empty() && !m_pObserver->ChooseFirmwareFile(&path))
    return 0;
  m_strFirmwarePath = path;

  // A file that cannot be opened (missing, or held by another program) ends the selection
  // silently; a file that opens but does not fit is refused with a message.
  m_recordRefusal = LoadFirmwareRecord();
  if (m_recordRefusal == RecordRefusal::kCannotOpen) {
    SetFailureCause(std::string("the firmware file cannot be opened: ") +
                    FileOpenResultText(m_fileOpenResult));
    return 0;
  }
  if (m_recordRefusal != RecordRefusal::kNone) {
    m_pObserver->Notice(LocalText(TXT_NOT_RECOGNIZED));
    return 0;
  }

  const int bootMode = m_Hid.m_bBootMode.load();
  // The version guard answers the confirmation no before it is asked.
  m_versionAtConfirmation = m_curDevVersion.load();
  m_guardRefusal =
      CheckVersionGuard(m_recordHeader.version, m_recordHeader.beta, m_versionAtConfirmation,
                        m_request.allowOlder, m_request.allowReinstall);
  if (m_guardRefusal != GuardRefusal::kNone ||
      !m_pObserver->Confirm(
          ConfirmationText(m_recordHeader, m_versionAtConfirmation, m_language))) {
    m_Hid.Trace("MessageBox == IDCANCEL\n");
    return 0;
  }
  // Nothing has been erased or sent yet: an image that cannot be read now ends the update here,
  // and says so.
  if (!LoadConfirmedImage()) {
    ShowTextMessage(TXT_UPDATE_FAILED);
    return 0;
  }

  m_Hid.SetReadTimeout(kTransferReadTimeoutMs);
  m_desVersion = m_recordHeader.VersionWord();
  if (!bootMode)
    m_app.BeginTransfer();
  return 1;
}

int CUpdateRun::LoadConfirmedImage() {
  const uint64_t start = m_Hid.Clock().NowMs();
  for (;;) {
    ImageLoad load = LoadRecordImage(m_strFirmwarePath, static_cast<uint32_t>(m_recordOffset),
                                     m_recordHeader, &m_image);
    if (load.outcome == ImageLoad::kLoaded)
      return 1;
    const bool held =
        load.outcome == ImageLoad::kCannotOpen && load.openResult == FileOpenResult::kHeld;
    if (!held || m_Hid.Clock().NowMs() - start >= kHeldFileWaitMs) {
      SetFailureCause(ImageLoadText(load) + "; nothing was erased or sent");
      return 0;
    }
    m_Hid.Clock().SleepMs(kHeldFilePauseMs);
  }
}
