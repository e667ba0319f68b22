// What the dialog shows of its run: the controller's version in the title, the progress, the
// boxes, the open-file dialog, the success label and the button.
#include <string>

#include "base/current_folder.h"
#include "base/local_text.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "update/update_dlg.h"

CUpdateDlg::CUpdateDlg(const Seams& seams) : m_run(seams, this) {}

CUpdateDlg::~CUpdateDlg() = default;

void CUpdateDlg::ShowDeviceVersion(uint32_t version) {
  if (version == kErasedVersionWord) {
    ShowMessageBox(LocalText(TXT_INSTRUCTIONS), MB_OK);
    return;
  }
  const std::u16string title =
      LocalText(TXT_TITLE) + u"(GamePad V" + Utf8ToUtf16(FormatVersionWord(version)) + u")";
  if (m_pWnd)
    m_pWnd->SetTitle(title);
}

int CUpdateDlg::ShowMessageBox(const std::u16string& text, unsigned type) {
  if (!m_pWnd)
    return IDCANCEL;
  return m_pWnd->ShowBox(text, LocalText(TXT_TITLE), type);
}

void CUpdateDlg::OnProgress(int percent) {
  if (m_bControlsReady)
    m_progress.SetPos(percent);
}

bool CUpdateDlg::ChooseFirmwareFile(std::u16string* path) {
  if (!m_pWnd)
    return false;
  return m_pWnd->OpenFileDialog(LocalText(TXT_FILE_TYPE) + u"(*.dat)|*.dat||", CurrentFolder(),
                                path);
}

bool CUpdateDlg::Confirm(const std::u16string& text) {
  return ShowMessageBox(text, MB_OKCANCEL) != IDCANCEL;
}

void CUpdateDlg::Notice(const std::u16string& text) {
  ShowMessageBox(text, MB_OK);
}

void CUpdateDlg::OnSucceeded() {
  if (m_bControlsReady) {
    m_doneLabel.ShowWindow(true);
    m_progress.SetPos(0);
  }
}

void CUpdateDlg::OnUpdatePossible(bool possible) {
  if (m_bControlsReady)
    m_btnUpdate.EnableWindow(possible);
}

void CUpdateDlg::OnEnded(const UpdateResult& /*result*/) {
  if (m_pWnd)
    m_pWnd->NotifyWorkerEnded();
}
