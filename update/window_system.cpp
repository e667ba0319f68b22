#include "update/window_system.h"

void CControl::SetWindowText(const std::u16string& text) const {
  if (*m_ppWindow)
    (*m_ppWindow)->SetControlText(m_nId, text);
}

void CControl::ShowWindow(bool show) const {
  if (*m_ppWindow)
    (*m_ppWindow)->ShowControl(m_nId, show);
}

void CControl::EnableWindow(bool enable) const {
  if (*m_ppWindow)
    (*m_ppWindow)->EnableControl(m_nId, enable);
}

void CControl::SetRange(int minimum, int maximum) const {
  if (*m_ppWindow)
    (*m_ppWindow)->SetProgressRange(minimum, maximum);
}

void CControl::SetPos(int position) const {
  if (*m_ppWindow)
    (*m_ppWindow)->SetProgressPos(position);
}
