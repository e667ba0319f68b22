#include "ui/qt/update_window.h"

#include <QCoreApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTextLayout>

#include "update/update_dlg.h"

namespace {

// Template 102, in dialog units.
constexpr int kDialogWidth = 211;
constexpr int kDialogHeight = 138;
struct TemplateRect {
  int x, y, width, height;
};
constexpr TemplateRect kProgressRect{7, 7, 197, 14};
constexpr TemplateRect kHintRect{7, 25, 197, 55};
constexpr TemplateRect kDoneLabelRect{59, 91, 85, 12};
constexpr TemplateRect kButtonRect{7, 109, 197, 22};

constexpr int kFontPoints = 9;

// Families that show Simplified Chinese well, in order of preference after SimSun.
const char* const kCjkFamilies[] = {
    "Noto Sans CJK SC",  "Noto Serif CJK SC",   "Source Han Sans SC", "WenQuanYi Micro Hei",
    "WenQuanYi Zen Hei", "Droid Sans Fallback", "AR PL UMing CN",     "AR PL SungtiL GB",
};

int MulDiv(int value, int numerator, int denominator) {
  return (value * numerator + denominator / 2) / denominator;
}

}  // namespace

QFont DialogFont() {
  const QStringList families = QFontDatabase::families();
  QString chosen;
  for (const QString& simsun : {QStringLiteral("SimSun"), QStringLiteral(u"宋体")}) {
    if (families.contains(simsun, Qt::CaseInsensitive)) {
      chosen = simsun;
      break;
    }
  }
  for (const char* family : kCjkFamilies) {
    if (!chosen.isEmpty())
      break;
    if (families.contains(QLatin1String(family), Qt::CaseInsensitive))
      chosen = QLatin1String(family);
  }
  if (chosen.isEmpty())
    chosen = QFontDatabase::families(QFontDatabase::SimplifiedChinese).value(0);
  QFont font;  // the application's font when the system has no Chinese font at all
  if (!chosen.isEmpty())
    font.setFamily(chosen);
  font.setPointSize(kFontPoints);
  return font;
}

QSize DialogBaseUnits(const QFontMetrics& metrics) {
  // The average width of the Latin letters, rounded as the dialog manager rounds it.
  static const QString kLetters =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  int average = (metrics.horizontalAdvance(kLetters) / 26 + 1) / 2;
  return QSize(std::max(average, 1), std::max(metrics.height(), 1));
}

QRect MapDialogRect(const QSize& baseUnits, int x, int y, int width, int height) {
  return QRect(MulDiv(x, baseUnits.width(), 4), MulDiv(y, baseUnits.height(), 8),
               MulDiv(width, baseUnits.width(), 4), MulDiv(height, baseUnits.height(), 8));
}

void CWrappedText::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
  const int pitch = QFontMetrics(font()).height();
  QTextOption option(Qt::AlignLeft);
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  int y = 0;
  // Each paragraph is laid out on its own; the loop ends at the bottom edge (clipped like the
  // control) or after the last paragraph.
  for (const QString& paragraph : text().split(QLatin1Char('\n'))) {
    if (y >= height())
      break;
    QTextLayout layout(paragraph, font());
    layout.setTextOption(option);
    layout.beginLayout();
    int lines = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(width());
      line.setPosition(QPointF(0, y));
      y += pitch;
      ++lines;
    }
    layout.endLayout();
    if (lines == 0)
      y += pitch;  // an empty paragraph is one empty line
    layout.draw(&painter, QPointF(0, 0));
  }
}

CUpdateWindow::CUpdateWindow(CUpdateDlg* dlg, std::unique_ptr<QtWindowSystem> windowSystem)
    : QDialog(nullptr),
      m_pDlg(dlg),
      m_pWs(windowSystem ? std::move(windowSystem) : std::make_unique<QtWindowSystem>()) {
  // An application window of its own (taskbar entry) with a caption and a close box only.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  setFont(DialogFont());
  setWindowTitle(QStringLiteral("s"));  // the template's caption; OnInitDialog replaces it
  CreateControls();
  m_pWs->Attach(this, dlg);
}

CUpdateWindow::~CUpdateWindow() {
  Shutdown();
}

void CUpdateWindow::CreateControls() {
  m_baseUnits = DialogBaseUnits(QFontMetrics(font()));
  auto place = [this](QWidget* control, const TemplateRect& r) {
    control->setGeometry(MapDialogRect(m_baseUnits, r.x, r.y, r.width, r.height));
  };

  // Template order, which is also the tab order.
  m_pProgress = new QProgressBar(this);
  m_pProgress->setTextVisible(false);
  m_pProgress->setRange(0, 100);
  m_pProgress->setValue(0);
  place(m_pProgress, kProgressRect);

  m_pButton = new QPushButton(QStringLiteral("USB_Update"), this);
  place(m_pButton, kButtonRect);
  connect(m_pButton, &QPushButton::clicked, this, [this] {
    if (m_bOpen)
      m_pDlg->OnBnClickedUsbUpdate();
  });

  m_pDoneLabel = new QLabel(QStringLiteral("Firmware upgraded!"), this);
  m_pDoneLabel->setTextFormat(Qt::PlainText);
  m_pDoneLabel->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  place(m_pDoneLabel, kDoneLabelRect);

  m_pHint = new CWrappedText(QString::fromUtf8("静态"), this);
  m_pHint->setTextFormat(Qt::PlainText);
  m_pHint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  m_pHint->setWordWrap(true);
  place(m_pHint, kHintRect);

  QRect client = MapDialogRect(m_baseUnits, 0, 0, kDialogWidth, kDialogHeight);
  setFixedSize(client.size());
}

QWidget* CUpdateWindow::Control(int controlId) const {
  switch (controlId) {
    case IDC_PROGRESS:
      return m_pProgress;
    case IDC_USB_UPDATE:
      return m_pButton;
    case IDC_DONE_LABEL:
      return m_pDoneLabel;
    case IDC_HINT:
      return m_pHint;
    default:
      return nullptr;
  }
}

void CUpdateWindow::Open() {
  if (m_bOpen)
    return;
  m_bOpen = true;
  m_pDlg->AttachWindow(m_pWs.get());
  m_pDlg->OnInitDialog();
  show();
  // The first tab stop takes the focus, as a dialog gives it after its initialisation.
  if (m_pButton->isEnabled())
    m_pButton->setFocus();
}

void CUpdateWindow::Shutdown() {
  if (!m_bOpen)
    return;
  // The worker may be waiting for this thread (a box, the file dialog): keep serving it until the
  // dialog has let it end, then let the last notices run.
  while (m_pDlg->PrepareToClose())
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  QCoreApplication::sendPostedEvents(m_pWs.get(), QEvent::MetaCall);
  m_pWs->Detach();
  m_bOpen = false;
}

bool CUpdateWindow::RequestClose() {
  return m_bCloseApproved || !m_bOpen || m_pDlg->OnCloseRequested();
}

void CUpdateWindow::CloseApproved() {
  if (m_bCloseApproved)
    return;
  m_bCloseApproved = true;
  QDialog::reject();
}

void CUpdateWindow::reject() {
  if (RequestClose()) {
    m_bCloseApproved = true;
    QDialog::reject();
  }
}

void CUpdateWindow::keyPressEvent(QKeyEvent* event) {
  bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && event->modifiers() == Qt::NoModifier) {
    // A focused push button takes Enter; without one, Enter ends the dialog like the close box.
    if (m_pButton->isEnabled() && m_pButton->hasFocus())
      m_pButton->click();
    else
      reject();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}
