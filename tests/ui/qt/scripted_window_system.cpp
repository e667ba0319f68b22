#include "tests/ui/qt/scripted_window_system.h"

#include <QThread>

void ScriptedQtWindowSystem::SetProgressPos(int position) {
  QtWindowSystem::SetProgressPos(position);
  if (!m_pAnswers->m_onProgress || QThread::currentThread() == thread())
    return;
  QMetaObject::invokeMethod(
      this, [this, position] { m_pAnswers->m_onProgress(position); }, Qt::BlockingQueuedConnection);
}

int ScriptedQtWindowSystem::ExecBox(const std::u16string& text, const std::u16string& caption,
                                    unsigned type, bool fromWorker) {
  if (m_pAnswers->m_onBox)
    m_pAnswers->m_onBox(text, type);
  int answer = m_pAnswers->m_defaultBoxAnswer;
  if (!m_pAnswers->m_boxAnswers.empty()) {
    answer = m_pAnswers->m_boxAnswers.front();
    m_pAnswers->m_boxAnswers.pop_front();
  }
  if (answer != IDOK && answer != IDCANCEL)
    answer = QtWindowSystem::ExecBox(text, caption, type, fromWorker);
  m_boxes.push_back({text, caption, type, answer, fromWorker});
  return answer;
}

bool ScriptedQtWindowSystem::ExecFileDialog(const QString& qtFilter,
                                            const std::u16string& initialFolder,
                                            std::u16string* path, bool fromWorker) {
  m_fileDialogs.push_back({qtFilter, initialFolder});
  if (m_pAnswers->m_showFileDialog)
    return QtWindowSystem::ExecFileDialog(qtFilter, initialFolder, path, fromWorker);
  *path = m_pAnswers->m_filePath;
  return !path->empty();
}

void ScriptedQtWindowSystem::DeliverDeviceChange(int code) {
  m_deliveredEvents.push_back(code);
  QtWindowSystem::DeliverDeviceChange(code);
}
