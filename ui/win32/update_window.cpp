#include "ui/win32/update_window.h"

#include <windowsx.h>

#include <cstdio>

#include "base/trace.h"
#include "update/update_dlg.h"

Win32UpdateWindow::Win32UpdateWindow(CUpdateDlg* dlg) : m_pDlg(dlg) {}

Win32UpdateWindow::~Win32UpdateWindow() {
  Shutdown();
  if (m_hWnd)
    ::DestroyWindow(m_hWnd);
  if (m_hAccelerators)
    ::DestroyAcceleratorTable(m_hAccelerators);
}

void Win32UpdateWindow::AddCommand(const std::wstring& label, UINT virtualKey,
                                   std::function<void()> action) {
  m_commands.push_back({label, virtualKey, std::move(action)});
}

bool Win32UpdateWindow::Run() {
  std::vector<ACCEL> keys;
  for (size_t i = 0; i < m_commands.size(); ++i) {
    keys.push_back({FVIRTKEY, static_cast<WORD>(m_commands[i].virtualKey),
                    static_cast<WORD>(kFirstCommandId + i)});
  }
  if (!keys.empty())
    m_hAccelerators = ::CreateAcceleratorTableW(keys.data(), static_cast<int>(keys.size()));

  m_hWnd = ::CreateDialogParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_UPDATE_DIALOG),
                                nullptr, DialogProc, reinterpret_cast<LPARAM>(this));
  if (m_hWnd == nullptr) {
    // Said whatever the trace switch: the program ends without a window.
    std::fprintf(stderr, "could not create the dialog (error %lu)\n", ::GetLastError());
    std::fflush(stderr);
    return false;
  }
  ::ShowWindow(m_hWnd, SW_SHOW);
  MSG message;
  while (!m_bClosed && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (m_hAccelerators && ::TranslateAcceleratorW(m_hWnd, m_hAccelerators, &message))
      continue;
    // Tab, Enter (the focused button, else IDOK) and Escape (IDCANCEL), as in any dialog.
    if (::IsDialogMessageW(m_hWnd, &message))
      continue;
    ::TranslateMessage(&message);
    ::DispatchMessageW(&message);
  }
  Shutdown();
  return true;
}

INT_PTR CALLBACK Win32UpdateWindow::DialogProc(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Win32UpdateWindow*>(lParam);
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->OnInitDialog(window);
    return TRUE;  // the first tab stop takes the focus
  }
  auto* self = reinterpret_cast<Win32UpdateWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
  return self ? self->OnMessage(message, wParam, lParam) : FALSE;
}

void Win32UpdateWindow::OnInitDialog(HWND window) {
  m_hWnd = window;
  m_bOpen = true;
  m_ws.Attach(window, m_pDlg, [this] { CloseApproved(); });
  m_pDlg->AttachWindow(&m_ws);
  m_pDlg->OnInitDialog();
  // The control updates of the initialisation are applied before the window shows.
  m_ws.RunPosted();
}

INT_PTR Win32UpdateWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND: {
      WORD id = LOWORD(wParam);
      if (!m_bOpen || m_bClosed) {
        return TRUE;
      } else if (id == IDC_USB_UPDATE && HIWORD(wParam) == BN_CLICKED) {
        m_pDlg->OnBnClickedUsbUpdate();
      } else if (id == IDOK && ::GetFocus() == ::GetDlgItem(m_hWnd, IDC_USB_UPDATE) &&
                 ::IsWindowEnabled(::GetFocus())) {
        m_pDlg->OnBnClickedUsbUpdate();  // Enter on the focused button
      } else if (id == IDOK || id == IDCANCEL) {
        RequestClose();  // Enter with the button not focused, or Escape: as the close box
      } else if (id >= kFirstCommandId && id < kFirstCommandId + m_commands.size()) {
        m_commands[id - kFirstCommandId].action();
      }
      return TRUE;
    }
    case WM_CLOSE:
      RequestClose();
      return TRUE;
    case WM_DEVICECHANGE:
      if (m_bOpen)
        m_pDlg->OnDeviceChange(static_cast<uint32_t>(wParam), static_cast<uintptr_t>(lParam));
      ::SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_CONTEXTMENU:
      ShowCommandMenu(lParam);
      return TRUE;
    default:
      return FALSE;
  }
}

void Win32UpdateWindow::ShowCommandMenu(LPARAM where) {
  if (m_commands.empty())
    return;
  HMENU menu = ::CreatePopupMenu();
  for (size_t i = 0; i < m_commands.size(); ++i)
    ::AppendMenuW(menu, MF_STRING, kFirstCommandId + i, m_commands[i].label.c_str());
  POINT point = {GET_X_LPARAM(where), GET_Y_LPARAM(where)};
  if (point.x == -1 && point.y == -1) {  // from the keyboard: at the window's corner
    RECT rect;
    ::GetWindowRect(m_hWnd, &rect);
    point = {rect.left, rect.top};
  }
  ::TrackPopupMenu(menu, TPM_RIGHTBUTTON, point.x, point.y, 0, m_hWnd, nullptr);
  ::DestroyMenu(menu);
}

void Win32UpdateWindow::RequestClose() {
  if (m_bClosed)
    return;
  if (m_bOpen && !m_pDlg->OnCloseRequested())
    return;  // asked first, or a confirmed close waits for the update to stop
  CloseApproved();
}

void Win32UpdateWindow::CloseApproved() {
  if (m_bClosed)
    return;
  m_bClosed = true;
  ::ShowWindow(m_hWnd, SW_HIDE);
  ::PostMessageW(m_hWnd, WM_NULL, 0, 0);  // the message loop sees m_bClosed
}

void Win32UpdateWindow::Shutdown() {
  if (!m_bOpen)
    return;
  // The worker may be waiting for this thread (a box, the file dialog): keep serving it until the
  // dialog has let it end, then let the last notices run.
  while (m_pDlg->PrepareToClose()) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
    }
  }
  m_ws.RunPosted();
  m_ws.Detach();
  m_bOpen = false;
}
