// The controller's version in the title, the boot loader's identification, and the reports of an
// update's end.
#include <string>

#include "device/byte_order.h"
#include "ui/local_text.h"
#include "ui/update_dlg.h"
#include "ui/wide_string.h"

namespace {

constexpr uint32_t kInstructionsWord = 0xFFFFFFFF;
constexpr uint32_t kDeviceType3009 = 0x3009;
constexpr uint32_t kExtraReadAddress = 0x80000002;

struct BootLayout {
  uint32_t base;
  uint32_t version;
  uint32_t identity;
};
constexpr BootLayout kLayoutUnknown{0x08014000, 0x08014034, 0x0800001C};
constexpr BootLayout kLayout3009{0x08003400, 0x08003434, 0x0800001C};
constexpr BootLayout kLayoutOther{0x01018000, 0x01017040, 0x01017000};

void SetLayout(CUpdateDlg& dlg, const BootLayout& layout) {
  dlg.m_nBootBaseAddress = layout.base;
  dlg.m_nBootVersionAddress = layout.version;
  dlg.m_nBootIdAddress = layout.identity;
}

}  // namespace

void CUpdateDlg::ShowDeviceVersion(uint32_t version) {
  if (version == kInstructionsWord) {
    ShowMessageBox(LoadLocalText(TXT_INSTRUCTIONS), MB_OK);
    return;
  }
  uint32_t beta = version >> 16;
  uint32_t low = version & 0xFFFF;
  // With beta 0 the whole word equals its low half.
  std::u16string title =
      LoadLocalText(TXT_TITLE) + u"(GamePad V" + Utf8ToUtf16(FormatHundredths(low));
  if (beta != 0)
    title += u" beta" + Utf8ToUtf16(std::to_string(beta));
  title += u")";
  if (m_pWnd)
    m_pWnd->SetTitle(title);
}

void CUpdateDlg::IdentifyBootDevice() {
  // Nothing of a controller identified earlier carries over: without an answer to the device-type
  // read this one counts as the unknown type, as at start-up.
  m_deviceType = 0;
  SetLayout(*this, kLayoutUnknown);
  uint8_t bytes[12] = {};
  if (BootReadDeviceId(bytes, 4)) {
    m_deviceType = ReadLe32(bytes);
    SetLayout(*this, m_deviceType == kDeviceType3009 ? kLayout3009 : kLayoutOther);
  }
  if (!BootReadMemory(bytes, 4, m_nBootVersionAddress))
    return;
  cur_devVersion = ReadLe32(bytes);
  ShowDeviceVersion(cur_devVersion.load());
  // The identity words are not kept: the read only has to be answered before the serial mask
  // is prepared.
  if (!BootReadMemory(bytes, 12, m_nBootIdAddress))
    return;
  PrepareSerialMask();
  BootReadMemory(bytes, 6, kExtraReadAddress);
}

void CUpdateDlg::ReportUpdateSuccess() {
  g_bStop = 1;
  ShowMessageBox(u"\n " + LoadLocalText(TXT_UPGRADED) + u" \n", MB_OK);
  if (const CControl* label = g_pDoneLabel.load())
    label->ShowWindow(true);
  if (const CControl* progress = g_pProgress.load())
    progress->SetPos(0);
}

void CUpdateDlg::ReportUpdateFailure() {
  StopUpdate();
  ShowMessageBox(LoadLocalText(TXT_UPDATE_FAILED) + u"\n", MB_OK);
  // During an update the button stays disabled until the update thread ends and refreshes it, so
  // that no second update can start beside the first.
  if (m_Hid.m_bDeviceFound.load() && !IsUpdateRunning()) {
    if (const CControl* button = g_pBtnUpdate.load())
      button->EnableWindow(true);
  }
}
