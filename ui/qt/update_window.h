// The updater's window: dialog template 102 on Qt Widgets. The window holds the four controls and
// forwards the user's actions (the button, closing) to the dialog logic in CUpdateDlg; everything
// the logic does to the window goes through the Qt window system it owns.
#pragma once

#include <QDialog>
#include <QFont>
#include <QLabel>
#include <QRect>
#include <memory>

#include "ui/qt/qt_window_system.h"

class QProgressBar;
class QPushButton;
class QFontMetrics;
class CUpdateDlg;

// The dialog's font: 9 points, SimSun where present, else a font of the system that shows Chinese.
QFont DialogFont();

// Dialog base units of a font: the average character width and the character height in pixels.
// One horizontal dialog unit is a quarter of the first, one vertical unit an eighth of the second.
QSize DialogBaseUnits(const QFontMetrics& metrics);

// A template rectangle (x, y, width, height in dialog units) in pixels for the given base units.
QRect MapDialogRect(const QSize& baseUnits, int x, int y, int width, int height);

// A static text that wraps at word boundaries and advances one character height per line, as the
// dialog manager draws a multi-line static control (no extra leading between lines).
class CWrappedText : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

class CUpdateWindow : public QDialog {
  Q_OBJECT

 public:
  // The window system is the Qt one unless another is given (tests answer its boxes).
  explicit CUpdateWindow(CUpdateDlg* dlg, std::unique_ptr<QtWindowSystem> windowSystem = nullptr);
  ~CUpdateWindow() override;

  // Hands the dialog its window system, runs OnInitDialog and shows the window.
  void Open();
  // Once the window has closed: lets a running worker end, then detaches the dialog from the
  // window system. Safe to call more than once.
  void Shutdown();

  QtWindowSystem& WindowSystem() { return *m_pWs; }
  CUpdateDlg* Dialog() const { return m_pDlg; }
  // The control of a template id, or nullptr.
  QWidget* Control(int controlId) const;
  QProgressBar* Progress() const { return m_pProgress; }
  QLabel* Hint() const { return m_pHint; }
  QLabel* DoneLabel() const { return m_pDoneLabel; }
  QPushButton* UpdateButton() const { return m_pButton; }
  // The size of the client area in dialog units times the base units.
  QSize BaseUnits() const { return m_baseUnits; }
  // The dialog lets the window go (its EndDialog): closes it.
  void CloseApproved();

 protected:
  // The close box and Escape come here (QDialog::closeEvent calls reject()).
  void reject() override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void CreateControls();
  // Asks the dialog whether the window may close; answers true to close now.
  bool RequestClose();

  CUpdateDlg* m_pDlg;
  std::unique_ptr<QtWindowSystem> m_pWs;
  QSize m_baseUnits;
  QProgressBar* m_pProgress = nullptr;
  QLabel* m_pHint = nullptr;
  QLabel* m_pDoneLabel = nullptr;
  QPushButton* m_pButton = nullptr;
  bool m_bCloseApproved = false;
  bool m_bOpen = false;
};
