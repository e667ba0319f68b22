// The updater's window on Windows: dialog template 102 (tarvix-update.rc) as a modeless dialog with
// a message loop of its own. It forwards the user's actions (the button, closing, device changes)
// to the dialog logic in CUpdateDlg; everything the logic does to the window goes through the
// Win32 window system it owns.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "ui/win32/win32_window_system.h"

class CUpdateDlg;

class Win32UpdateWindow {
 public:
  explicit Win32UpdateWindow(CUpdateDlg* dlg);
  ~Win32UpdateWindow();
  Win32UpdateWindow(const Win32UpdateWindow&) = delete;
  Win32UpdateWindow& operator=(const Win32UpdateWindow&) = delete;

  // An extra command on the window's context menu and on a key (the demo's plug keys). Added
  // before Run.
  void AddCommand(const std::wstring& label, UINT virtualKey, std::function<void()> action);
  // Creates the window, hands the dialog its window system, runs OnInitDialog, shows the window
  // and runs its messages until the dialog lets it go; then lets a running update thread end and
  // detaches the dialog. Answers false when the window could not be created.
  bool Run();
  Win32WindowSystem& WindowSystem() { return m_ws; }

 private:
  struct Command {
    std::wstring label;
    UINT virtualKey;
    std::function<void()> action;
  };
  static constexpr WORD kFirstCommandId = 40000;

  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnInitDialog(HWND window);
  void RequestClose();
  // The dialog lets the window go (its EndDialog).
  void CloseApproved();
  void ShowCommandMenu(LPARAM where);
  void Shutdown();

  CUpdateDlg* m_pDlg;
  Win32WindowSystem m_ws;
  HWND m_hWnd = nullptr;
  HACCEL m_hAccelerators = nullptr;
  std::vector<Command> m_commands;
  bool m_bOpen = false;
  bool m_bClosed = false;
};
