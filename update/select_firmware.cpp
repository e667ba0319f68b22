// Firmware selection: the user picks a .dat file, the record for the connected controller is found
// and checked (the checks themselves are in firmware/firmware_record.h), the user confirms the new
// version against the controller's, and the record's values are left in the dialog for the
// transfer.
#include <string>

#include "base/clock.h"
#include "base/current_folder.h"
#include "base/local_text.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "firmware/firmware_file.h"
#include "firmware/firmware_record.h"
#include "update/update_dlg.h"

namespace {

constexpr uint32_t kTransferReadTimeoutMs = 10;

std::u16string Hundredths(uint32_t value) {
  return Utf8ToUtf16(FormatHundredths(value));
}

std::u16string Decimal(uint32_t value) {
  return Utf8ToUtf16(std::to_string(value));
}

// When the controller gave no version (the query gave up) or an erased version area, only the new
// version is shown: "<new firmware> 1.38[ beta2]\n".
std::u16string ConfirmationText(const FirmwareRecordHeader& header, uint32_t deviceVersion,
                                uint16_t language) {
  uint32_t currentVersion = deviceVersion & 0xFFFF;
  uint32_t currentBeta = deviceVersion >> 16;
  std::u16string text =
      LoadLocalText(TXT_NEW_FIRMWARE, language) + u" " + Hundredths(header.version);
  if (header.beta != 0)
    text += u" beta" + Decimal(header.beta);
  if (deviceVersion == VERSION_UNKNOWN || deviceVersion == kErasedVersionWord)
    return text + u"\n";
  text += u" " + LoadLocalText(TXT_CURRENT_IS, language) + u" " + Hundredths(currentVersion);
  if (currentBeta != 0)
    text += u" beta" + Decimal(currentBeta);
  return text + u"\n";
}

// How long LoadConfirmedImage pauses before it tries a held file again.
constexpr uint32_t kHeldFilePauseMs = 50;

}  // namespace

RecordRefusal CUpdateDlg::LoadFirmwareRecord() {
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

int CUpdateDlg::SelectFirmwareFile() {
  if (!m_pWnd)
    return 0;
  std::u16string filter = LocalText(TXT_FILE_TYPE) + u"(*.dat)|*.dat||";
  std::u16string path;
  if (!m_pWnd->OpenFileDialog(filter, CurrentFolder(), &path))
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
    ShowMessageBox(LocalText(TXT_NOT_RECOGNIZED), MB_OK);
    return 0;
  }

  const int bootMode = m_Hid.m_bBootMode.load();
  if (ShowMessageBox(ConfirmationText(m_recordHeader, m_curDevVersion.load(), m_language),
                     MB_OKCANCEL) == IDCANCEL) {
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

int CUpdateDlg::LoadConfirmedImage() {
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
