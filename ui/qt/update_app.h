// The application object and the modal run of the updater's dialog on Qt.
#pragma once

#include <functional>

#include "device/hid.h"

class CUpdateDlg;
class CUpdateWindow;

class CUpdateApp {
 public:
  virtual ~CUpdateApp() = default;
  // Runs the whole program: constructs the dialog and runs it modally. Answers 0 (FALSE): nothing
  // runs after it. A QApplication must exist.
  virtual int InitInstance();
  // What the dialog runs on; main() fills it before InitInstance.
  Seams m_seams;
};

// Runs a dialog modally: creates its window, hands the dialog its window system, runs
// OnInitDialog, shows the window and processes events until it closes; then lets a running update
// thread end and detaches the dialog. prepare, when given, may add to the window before it shows.
int DoModal(CUpdateDlg& dlg, const std::function<void(CUpdateWindow&)>& prepare = {});
// Answers whether the window can be shown: Qt is given a platform (QT_QPA_PLATFORM), or a display
// is named (DISPLAY, WAYLAND_DISPLAY). Without one, says so in one line on stderr, instead of Qt's
// abort, and answers false: the program then ends with 1.
bool HasDisplay(const char* program);
// One line on stderr after the window has closed: how the last update ended (LastUpdateLine).
void TellLastUpdate(const char* program, const CUpdateDlg& dlg);
