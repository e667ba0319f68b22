// The controller's version in the title and the reports of an update's end.
#include <string>

#include "base/local_text.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "update/update_dlg.h"

namespace {

// The version word of a controller whose version area is erased: it needs the instructions.
constexpr uint32_t kInstructionsWord = 0xFFFFFFFF;

}  // namespace

void CUpdateDlg::ShowDeviceVersion(uint32_t version) {
  if (version == kInstructionsWord) {
    ShowMessageBox(LocalText(TXT_INSTRUCTIONS), MB_OK);
    return;
  }
  uint32_t beta = version >> 16;
  uint32_t low = version & 0xFFFF;
  // With beta 0 the whole word equals its low half.
  std::u16string title = LocalText(TXT_TITLE) + u"(GamePad V" + Utf8ToUtf16(FormatHundredths(low));
  if (beta != 0)
    title += u" beta" + Utf8ToUtf16(std::to_string(beta));
  title += u")";
  if (m_pWnd)
    m_pWnd->SetTitle(title);
}

void CUpdateDlg::ReportUpdateSuccess() {
  m_bStop = 1;
  m_bSucceeded = 1;
  ShowMessageBox(u"\n " + LocalText(TXT_UPGRADED) + u" \n", MB_OK);
  if (m_bControlsReady) {
    m_doneLabel.ShowWindow(true);
    m_progress.SetPos(0);
  }
}

void CUpdateDlg::ShowTextMessage(int textIndex) {
  std::u16string text = LocalText(textIndex) + u"\n";
  m_Hid.Trace("%s", Utf16ToUtf8(text).c_str());
  ShowMessageBox(text, MB_OK);
}

void CUpdateDlg::ReportUpdateFailure() {
  StopUpdate();
  ShowTextMessage(TXT_UPDATE_FAILED);
  // During an update the button stays disabled until the update thread ends and refreshes it, so
  // that no second update can start beside the first.
  if (m_Hid.m_bDeviceFound.load() && !IsUpdateRunning()) {
    if (m_bControlsReady)
      m_btnUpdate.EnableWindow(true);
  }
}
