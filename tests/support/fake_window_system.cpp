#include "tests/support/fake_window_system.h"

#include <algorithm>

void FakeWindowSystem::QueueBoxAnswer(int answer) {
  std::lock_guard lock(m_mutex);
  m_boxAnswers.push_back(answer);
}

void FakeWindowSystem::QueueFilePath(const std::u16string& path) {
  std::lock_guard lock(m_mutex);
  m_filePaths.push_back(path);
}

std::vector<std::u16string> FakeWindowSystem::Titles() {
  std::lock_guard lock(m_mutex);
  return m_titles;
}

std::u16string FakeWindowSystem::Title() {
  std::lock_guard lock(m_mutex);
  return m_titles.empty() ? std::u16string() : m_titles.back();
}

std::vector<FakeWindowSystem::Box> FakeWindowSystem::Boxes() {
  std::lock_guard lock(m_mutex);
  return m_boxes;
}

std::vector<FakeWindowSystem::FileDialog> FakeWindowSystem::FileDialogs() {
  std::lock_guard lock(m_mutex);
  return m_fileDialogs;
}

std::vector<int> FakeWindowSystem::ProgressPositions() {
  std::lock_guard lock(m_mutex);
  return m_progress;
}

std::u16string FakeWindowSystem::ControlText(int id) {
  std::lock_guard lock(m_mutex);
  return m_texts[id];
}

bool FakeWindowSystem::IsEnabled(int id) {
  std::lock_guard lock(m_mutex);
  auto it = m_enabled.find(id);
  return it == m_enabled.end() ? true : it->second;
}

bool FakeWindowSystem::IsVisible(int id) {
  std::lock_guard lock(m_mutex);
  auto it = m_visible.find(id);
  return it == m_visible.end() ? true : it->second;
}

int FakeWindowSystem::ProgressPos() {
  std::lock_guard lock(m_mutex);
  return m_progress.empty() ? 0 : m_progress.back();
}

int FakeWindowSystem::IconId() {
  std::lock_guard lock(m_mutex);
  return m_iconId;
}

void FakeWindowSystem::ClearRecords() {
  std::lock_guard lock(m_mutex);
  m_titles.clear();
  m_boxes.clear();
  m_fileDialogs.clear();
  m_progress.clear();
}

bool FakeWindowSystem::WaitForWorkerEnd() {
  std::unique_lock lock(m_mutex);
  if (!m_workerEnded.wait_for(lock, kWorkerEndLimit, [this] { return m_pendingWorkerEnds > 0; }))
    return false;
  --m_pendingWorkerEnds;
  return true;
}

int FakeWindowSystem::WorkerEndNotices() {
  std::lock_guard lock(m_mutex);
  return m_workerEndNotices;
}

std::vector<IDeviceMonitor*> FakeWindowSystem::WatchedMonitors() {
  std::lock_guard lock(m_mutex);
  return m_monitors;
}

void FakeWindowSystem::SetTitle(const std::u16string& title) {
  std::lock_guard lock(m_mutex);
  m_titles.push_back(title);
}

void FakeWindowSystem::SetControlText(int controlId, const std::u16string& text) {
  std::lock_guard lock(m_mutex);
  m_texts[controlId] = text;
}

void FakeWindowSystem::ShowControl(int controlId, bool show) {
  std::lock_guard lock(m_mutex);
  m_visible[controlId] = show;
}

void FakeWindowSystem::EnableControl(int controlId, bool enable) {
  std::lock_guard lock(m_mutex);
  m_enabled[controlId] = enable;
}

void FakeWindowSystem::SetProgressRange(int minimum, int maximum) {
  std::lock_guard lock(m_mutex);
  m_progressMin = minimum;
  m_progressMax = maximum;
}

void FakeWindowSystem::SetProgressPos(int position) {
  std::lock_guard lock(m_mutex);
  m_progress.push_back(position);
}

void FakeWindowSystem::SetIcon(int iconId) {
  std::lock_guard lock(m_mutex);
  m_iconId = iconId;
}

int FakeWindowSystem::ShowBox(const std::u16string& text, const std::u16string& caption,
                              unsigned type) {
  std::lock_guard lock(m_mutex);
  int answer = IDOK;
  if (!m_boxAnswers.empty()) {
    answer = m_boxAnswers.front();
    m_boxAnswers.pop_front();
  }
  m_boxes.push_back({text, caption, type, answer});
  return answer;
}

bool FakeWindowSystem::OpenFileDialog(const std::u16string& filter,
                                      const std::u16string& initialFolder, std::u16string* path) {
  std::lock_guard lock(m_mutex);
  m_fileDialogs.push_back({filter, initialFolder});
  if (m_filePaths.empty())
    return false;
  std::u16string next = m_filePaths.front();
  m_filePaths.pop_front();
  if (next.empty())
    return false;
  *path = next;
  return true;
}

void FakeWindowSystem::WatchDeviceMonitor(IDeviceMonitor* monitor) {
  std::lock_guard lock(m_mutex);
  m_monitors.push_back(monitor);
}

void FakeWindowSystem::UnwatchDeviceMonitor(IDeviceMonitor* monitor) {
  std::lock_guard lock(m_mutex);
  m_monitors.erase(std::remove(m_monitors.begin(), m_monitors.end(), monitor), m_monitors.end());
}

void FakeWindowSystem::NotifyWorkerEnded() {
  std::lock_guard lock(m_mutex);
  ++m_pendingWorkerEnds;
  ++m_workerEndNotices;
  m_workerEnded.notify_all();
}
