#include "ui/qt/qt_window_system.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <algorithm>

#include "base/dialog_filter.h"
#include "ui/qt/update_window.h"
#include "update/update_dlg.h"

// The icon lives in a resource compiled into this static library: register it explicitly, since
// nothing else would pull the resource's object file into the program.
static void InitIconResource() {
  Q_INIT_RESOURCE(tarvix_update);
}

namespace {

// Notices taken from a monitor per wake-up; the notifier fires again while more are pending.
constexpr int kMaxEventsPerWake = 64;

QString ToQString(const std::u16string& text) {
  return QString::fromStdU16String(text);
}

}  // namespace

QString QtFilterFromDialogFilter(const std::u16string& filter) {
  QStringList filters;
  for (const DialogFilter& entry : ParseDialogFilter(filter)) {
    QStringList patterns;
    for (const std::u16string& pattern : entry.patterns)
      patterns << ToQString(pattern);
    filters << QStringLiteral("%1 (%2)").arg(ToQString(entry.name),
                                             patterns.join(QLatin1Char(' ')));
  }
  return filters.join(QStringLiteral(";;"));
}

QString DisplayText(const std::u16string& text) {
  QString display = ToQString(text);
  display.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return display;
}

QtWindowSystem::QtWindowSystem() {
  InitIconResource();
}

QtWindowSystem::~QtWindowSystem() {
  Detach();
}

void QtWindowSystem::Attach(CUpdateWindow* window, CUpdateDlg* dlg) {
  m_pWindow = window;
  m_pDlg = dlg;
}

void QtWindowSystem::Detach() {
  for (auto& [monitor, notifier] : m_notifiers)
    delete notifier;
  m_notifiers.clear();
  for (IDeviceMonitor* monitor : m_wakingMonitors)
    monitor->SetWakeUp({});
  m_wakingMonitors.clear();
  m_pDlg = nullptr;
}

template <class F>
void QtWindowSystem::PostToUiThread(F&& fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(this, std::forward<F>(fn), Qt::QueuedConnection);
}

template <class F>
void QtWindowSystem::RunOnUiThread(F&& fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  QMetaObject::invokeMethod(this, std::forward<F>(fn), Qt::BlockingQueuedConnection);
}

QWidget* QtWindowSystem::Control(int controlId) const {
  return m_pWindow ? m_pWindow->Control(controlId) : nullptr;
}

// The control updates carry copies of their arguments: the caller goes on before they run.

void QtWindowSystem::SetTitle(const std::u16string& title) {
  PostToUiThread([this, title] {
    if (m_pWindow)
      m_pWindow->setWindowTitle(ToQString(title));
  });
}

void QtWindowSystem::SetControlText(int controlId, const std::u16string& text) {
  PostToUiThread([this, controlId, text] {
    QWidget* control = Control(controlId);
    if (auto* label = qobject_cast<QLabel*>(control))
      label->setText(DisplayText(text));
    else if (auto* button = qobject_cast<QPushButton*>(control))
      button->setText(DisplayText(text));
  });
}

void QtWindowSystem::ShowControl(int controlId, bool show) {
  PostToUiThread([this, controlId, show] {
    if (QWidget* control = Control(controlId))
      control->setVisible(show);
  });
}

void QtWindowSystem::EnableControl(int controlId, bool enable) {
  PostToUiThread([this, controlId, enable] {
    if (QWidget* control = Control(controlId))
      control->setEnabled(enable);
  });
}

void QtWindowSystem::SetProgressRange(int minimum, int maximum) {
  PostToUiThread([this, minimum, maximum] {
    if (m_pWindow && minimum <= maximum)
      m_pWindow->Progress()->setRange(minimum, maximum);
  });
}

void QtWindowSystem::SetProgressPos(int position) {
  PostToUiThread([this, position] {
    if (!m_pWindow)
      return;
    // A position outside the range is clamped to it, as a progress control does.
    QProgressBar* bar = m_pWindow->Progress();
    bar->setValue(std::clamp(position, bar->minimum(), bar->maximum()));
  });
}

void QtWindowSystem::SetIcon(int iconId) {
  PostToUiThread([this, iconId] {
    if (m_pWindow && iconId == IDI_APP)
      m_pWindow->setWindowIcon(QIcon(QStringLiteral(":/tarvix/tarvix-update.png")));
  });
}

int QtWindowSystem::ShowBox(const std::u16string& text, const std::u16string& caption,
                            unsigned type) {
  bool fromWorker = QThread::currentThread() != thread();
  int answer = IDCANCEL;
  RunOnUiThread([&] {
    // A worker told to stop is never kept waiting: its boxes answer as Escape would.
    if (fromWorker && m_bAborting)
      answer = type == MB_OKCANCEL ? IDCANCEL : IDOK;
    else
      answer = ExecBox(text, caption, type, fromWorker);
  });
  return answer;
}

int QtWindowSystem::ExecBox(const std::u16string& text, const std::u16string& caption,
                            unsigned type, bool fromWorker) {
  const bool okCancel = type == MB_OKCANCEL;
  // Closing the box without a button (Escape, close box, abort) answers what Escape answers.
  const int escapeAnswer = okCancel ? IDCANCEL : IDOK;
  QMessageBox box(m_pWindow);
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(ToQString(caption));
  box.setTextFormat(Qt::PlainText);
  box.setText(DisplayText(text));
  if (m_pWindow)
    box.setFont(m_pWindow->font());
  QPushButton* ok = box.addButton(QMessageBox::Ok);
  QPushButton* cancel = okCancel ? box.addButton(QMessageBox::Cancel) : nullptr;
  box.setDefaultButton(ok);
  box.setEscapeButton(okCancel ? cancel : ok);
  QPointer<QDialog> tracked(&box);
  if (fromWorker)
    m_workerDialogs.push_back(tracked);
  box.exec();
  std::erase(m_workerDialogs, tracked);
  return box.clickedButton() == ok ? IDOK : escapeAnswer;
}

bool QtWindowSystem::OpenFileDialog(const std::u16string& filter,
                                    const std::u16string& initialFolder, std::u16string* path) {
  bool fromWorker = QThread::currentThread() != thread();
  bool chosen = false;
  std::u16string result;
  RunOnUiThread([&] {
    if (!(fromWorker && m_bAborting))
      chosen = ExecFileDialog(QtFilterFromDialogFilter(filter), initialFolder, &result, fromWorker);
  });
  chosen = chosen && !result.empty();
  if (chosen && path != nullptr)
    *path = result;
  return chosen;
}

bool QtWindowSystem::ExecFileDialog(const QString& qtFilter, const std::u16string& initialFolder,
                                    std::u16string* path, bool fromWorker) {
  QFileDialog dialog(m_pWindow, QString(), ToQString(initialFolder));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  // The filter's name already shows its pattern ("File type(*.dat)"): do not show it twice.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilter(qtFilter);
  if (m_pWindow)
    dialog.setFont(m_pWindow->font());
  QPointer<QDialog> tracked(&dialog);
  if (fromWorker)
    m_workerDialogs.push_back(tracked);
  int result = dialog.exec();
  std::erase(m_workerDialogs, tracked);
  const QStringList files = dialog.selectedFiles();
  if (result != QDialog::Accepted || files.isEmpty())
    return false;
  *path = QFileInfo(files.first()).absoluteFilePath().toStdU16String();
  return true;
}

void QtWindowSystem::WatchDeviceMonitor(IDeviceMonitor* monitor) {
  RunOnUiThread([&] {
    if (monitor == nullptr || m_notifiers.count(monitor) != 0 || m_wakingMonitors.count(monitor))
      return;
    int fd = monitor->Descriptor();
    if (fd >= 0) {
      auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
      connect(notifier, &QSocketNotifier::activated, this,
              [this, monitor] { DrainMonitor(monitor); });
      m_notifiers[monitor] = notifier;
      return;
    }
    // No descriptor: the monitor wakes us from its own thread, and the drain runs here. Without
    // either there are no notices (never a polling timer).
    QPointer<QtWindowSystem> self(this);
    if (monitor->SetWakeUp([self, monitor] {
          QMetaObject::invokeMethod(
              self, [self, monitor] { self->DrainMonitor(monitor); }, Qt::QueuedConnection);
        })) {
      m_wakingMonitors.insert(monitor);
    }
  });
}

void QtWindowSystem::UnwatchDeviceMonitor(IDeviceMonitor* monitor) {
  RunOnUiThread([&] {
    if (m_wakingMonitors.erase(monitor) != 0) {
      monitor->SetWakeUp({});
      return;
    }
    auto it = m_notifiers.find(monitor);
    if (it == m_notifiers.end())
      return;
    // The notifier may be the one whose signal is being handled: let the event loop delete it.
    it->second->setEnabled(false);
    it->second->deleteLater();
    m_notifiers.erase(it);
  });
}

void QtWindowSystem::DrainMonitor(IDeviceMonitor* monitor) {
  if (m_wakingMonitors.count(monitor) != 0) {
    // One wake-up per notice: take what is there; a notice that arrives meanwhile wakes us again.
    for (int i = 0; i < kMaxEventsPerWake && m_wakingMonitors.count(monitor) != 0; ++i) {
      int code = monitor->ReceiveEvent();
      if (code == IDeviceMonitor::kNone)
        break;
      DeliverDeviceChange(code);
    }
    return;
  }
  auto it = m_notifiers.find(monitor);
  if (it == m_notifiers.end())
    return;
  QPointer<QSocketNotifier> notifier = it->second;
  // The handler may show a box (a nested event loop): no second handling starts meanwhile.
  notifier->setEnabled(false);
  for (int i = 0; i < kMaxEventsPerWake; ++i) {
    int code = monitor->ReceiveEvent();
    if (code == IDeviceMonitor::kNone)
      break;
    DeliverDeviceChange(code);
    if (m_notifiers.count(monitor) == 0)
      return;  // unwatched by the handling; the monitor may be gone
  }
  if (notifier)
    notifier->setEnabled(true);
}

void QtWindowSystem::DeliverDeviceChange(int code) {
  if (m_pDlg)
    m_pDlg->OnDeviceChange(static_cast<uint32_t>(code), 0);
}

void QtWindowSystem::NotifyWorkerEnded() {
  m_nPendingWorkerEnds.fetch_add(1);
  QMetaObject::invokeMethod(
      this, [this] { OnWorkerEndedNotice(); }, Qt::QueuedConnection);
}

void QtWindowSystem::OnWorkerEndedNotice() {
  m_nPendingWorkerEnds.fetch_sub(1);
  if (m_pDlg)
    m_pDlg->OnWorkerEnded();
}

void QtWindowSystem::CloseWorkerDialogs() {
  m_bAborting = true;
  // Copies: rejecting a dialog returns from its exec further up the stack, which edits the list.
  const std::vector<QPointer<QDialog>> open = m_workerDialogs;
  for (const QPointer<QDialog>& dialog : open) {
    if (dialog)
      dialog->reject();
  }
}

void QtWindowSystem::StartTimer(int id, unsigned intervalMs) {
  StopTimer(id);
  auto* timer = new QTimer(this);
  connect(timer, &QTimer::timeout, this, [this, id] {
    if (m_pDlg)
      m_pDlg->OnTimer(id);
  });
  timer->start(static_cast<int>(intervalMs));
  m_timers[id] = timer;
}

void QtWindowSystem::StopTimer(int id) {
  auto it = m_timers.find(id);
  if (it == m_timers.end())
    return;
  // The timer may be the one whose signal is being handled: let the event loop delete it.
  it->second->stop();
  it->second->deleteLater();
  m_timers.erase(it);
}

void QtWindowSystem::EndDialog() {
  if (m_pWindow)
    m_pWindow->CloseApproved();
}
