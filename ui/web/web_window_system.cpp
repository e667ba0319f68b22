#include "ui/web/web_window_system.h"

#include <emscripten/em_asm.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "base/dialog_filter.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "device/webhid/page_call.h"
#include "update/update_dlg.h"

namespace {

// Notices taken from a monitor per wake-up; a notice that arrives meanwhile wakes the thread again.
constexpr int kMaxEventsPerWake = 64;
constexpr size_t kMaxUploadName = 200;

uint64_t NowMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// A text for the page, in UTF-8, freed by the page.
char* PageText(const std::u16string& text) {
  return PageString(Utf16ToUtf8(text));
}

}  // namespace

PageFileFilter PageFileFilterOf(const std::u16string& filter) {
  PageFileFilter page;
  for (const DialogFilter& entry : ParseDialogFilter(filter)) {
    if (page.name.empty())
      page.name = Utf16ToUtf8(entry.name);
    for (const std::u16string& pattern : entry.patterns) {
      const std::string text = Utf16ToUtf8(pattern);
      if (!page.accept.empty())
        page.accept += ',';
      page.accept += text.compare(0, 1, "*") == 0 ? text.substr(1) : text;
    }
  }
  return page;
}

std::string UploadName(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (base == "." || base == ".." || base.size() > kMaxUploadName)
    return {};
  return base;
}

WebWindowSystem::WebWindowSystem(CUpdateDlg* dlg)
    : m_pDlg(dlg), m_dialogThread(std::this_thread::get_id()) {
  MAIN_THREAD_EM_ASM({ Module["page"].attach($0); }, this);
}

WebWindowSystem::~WebWindowSystem() {
  // Waits for the page's thread: once it has let go, no click of the page reaches this window
  // system (a click that was running has posted its event by then).
  MAIN_THREAD_EM_ASM({ Module["page"].detach($0); }, this);
}

void WebWindowSystem::Post(std::function<void()> event) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_events.push_back(std::move(event));
  m_wake.notify_one();
}

void WebWindowSystem::OnButtonClicked() {
  Post([this] { m_pDlg->OnBnClickedUsbUpdate(); });
}

void WebWindowSystem::Run() {
  MAIN_THREAD_ASYNC_EM_ASM({ Module["page"].ready(); });
  TellBusy();
  std::unique_lock<std::mutex> lock(m_mutex);
  while (!m_bEnded) {
    if (!m_events.empty()) {
      std::function<void()> event = std::move(m_events.front());
      m_events.pop_front();
      lock.unlock();
      event();
      TellBusy();
      lock.lock();
      continue;
    }
    lock.unlock();
    const uint64_t nextDue = RunDueTimers();
    lock.lock();
    if (!m_events.empty() || m_bEnded)
      continue;
    if (nextDue == 0) {
      m_wake.wait(lock);
    } else {
      const uint64_t now = NowMs();
      if (nextDue > now)
        m_wake.wait_for(lock, std::chrono::milliseconds(nextDue - now));
    }
  }
}

uint64_t WebWindowSystem::RunDueTimers() {
  const uint64_t now = NowMs();
  std::vector<int> due;
  uint64_t nextDue = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [id, timer] : m_timers) {
      if (timer.dueMs <= now) {
        due.push_back(id);
        timer.dueMs = now + timer.intervalMs;
      }
      if (nextDue == 0 || timer.dueMs < nextDue)
        nextDue = timer.dueMs;
    }
  }
  for (int id : due)
    m_pDlg->OnTimer(id);
  return nextDue;
}

void WebWindowSystem::TellBusy() {
  const int busy = m_pDlg->IsUpdateRunning() ? 1 : 0;
  if (busy == m_nBusyShown)
    return;
  m_nBusyShown = busy;
  MAIN_THREAD_ASYNC_EM_ASM({ Module["page"].setBusy($0); }, busy);
}

void WebWindowSystem::SetTitle(const std::u16string& title) {
  MAIN_THREAD_ASYNC_EM_ASM({ Module["page"].setTitle(Module["page"].take($0)); }, PageText(title));
}

void WebWindowSystem::SetControlText(int controlId, const std::u16string& text) {
  MAIN_THREAD_ASYNC_EM_ASM({ Module["page"].setText($0, Module["page"].take($1)); }, controlId,
                           PageText(text));
}

void WebWindowSystem::ShowControl(int controlId, bool show) {
  MAIN_THREAD_ASYNC_EM_ASM({ Module["page"].show($0, $1); }, controlId, show ? 1 : 0);
}

void WebWindowSystem::EnableControl(int controlId, bool enable) {
  MAIN_THREAD_ASYNC_EM_ASM({ Module["page"].enable($0, $1); }, controlId, enable ? 1 : 0);
}

void WebWindowSystem::SetProgressRange(int minimum, int maximum) {
  if (minimum <= maximum)
    MAIN_THREAD_ASYNC_EM_ASM({ Module["page"].setRange($0, $1); }, minimum, maximum);
}

void WebWindowSystem::SetProgressPos(int position) {
  MAIN_THREAD_ASYNC_EM_ASM({ Module["page"].setPos($0); }, position);
}

void WebWindowSystem::SetIcon(int /*iconId*/) {
  // The page's icon is its favicon, set by the page itself.
}

int WebWindowSystem::ShowBox(const std::u16string& text, const std::u16string& caption,
                             unsigned type) {
  const int escapeAnswer = type == MB_OKCANCEL ? IDCANCEL : IDOK;
  const bool fromWorker = FromWorker();
  // A worker told to stop is never kept waiting: its boxes answer as Escape would.
  if (fromWorker && m_bAborting)
    return escapeAnswer;
  PageAnswer answer;
  MAIN_THREAD_ASYNC_EM_ASM(
      {
        const page = Module["page"];
        page.showBox($0, page.take($1), page.take($2), $3, $4);
      },
      &answer, PageText(text), PageText(caption), type == MB_OKCANCEL ? 1 : 0, fromWorker ? 1 : 0);
  const int status = answer.Wait();
  return status == IDOK || status == IDCANCEL ? status : escapeAnswer;
}

bool WebWindowSystem::OpenFileDialog(const std::u16string& filter,
                                     const std::u16string& /*initialFolder*/,
                                     std::u16string* path) {
  const bool fromWorker = FromWorker();
  if (fromWorker && m_bAborting)
    return false;
  const PageFileFilter chooser = PageFileFilterOf(filter);
  PageAnswer answer;
  MAIN_THREAD_ASYNC_EM_ASM(
      {
        const page = Module["page"];
        page.openFile($0, page.take($1), page.take($2), $3);
      },
      &answer, PageString(chooser.name), PageString(chooser.accept), fromWorker ? 1 : 0);
  if (answer.Wait() != 1)
    return false;
  const std::string name = UploadName(answer.m_text);
  if (name.empty())
    return false;
  // The chosen file becomes a file of the program's memory file system, in a folder of its own so
  // that it keeps its name; the earlier one goes (the dialog read what it needed of it).
  RemoveUpload();
  const std::string folder = std::string(kUploadFolder) + "/" + std::to_string(++m_nUploads);
  mkdir(kUploadFolder, 0700);
  mkdir(folder.c_str(), 0700);
  const std::string file = folder + "/" + name;
  FILE* out = std::fopen(file.c_str(), "wb");
  bool written = out != nullptr && std::fwrite(answer.m_data.data(), 1, answer.m_data.size(),
                                               out) == answer.m_data.size();
  if (out != nullptr && std::fclose(out) != 0)
    written = false;
  m_upload = file;
  if (!written) {
    TraceTo(m_pDlg->Run().m_Hid.TraceSinkOf(), "the chosen file could not be kept (%zu bytes)\n",
            answer.m_data.size());
    RemoveUpload();
    return false;
  }
  if (path != nullptr)
    *path = Utf8ToUtf16(file);
  return true;
}

void WebWindowSystem::RemoveUpload() {
  if (m_upload.empty())
    return;
  std::remove(m_upload.c_str());
  rmdir(m_upload.substr(0, m_upload.find_last_of('/')).c_str());
  m_upload.clear();
}

void WebWindowSystem::WatchDeviceMonitor(IDeviceMonitor* monitor) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (monitor == nullptr || !m_monitors.insert(monitor).second)
      return;
  }
  // The monitor wakes this thread from the page's thread; the drain runs here.
  if (!monitor->SetWakeUp([this, monitor] { Post([this, monitor] { DrainMonitor(monitor); }); })) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_monitors.erase(monitor);
  }
}

void WebWindowSystem::UnwatchDeviceMonitor(IDeviceMonitor* monitor) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_monitors.erase(monitor) == 0)
      return;
  }
  monitor->SetWakeUp({});
}

void WebWindowSystem::DrainMonitor(IDeviceMonitor* monitor) {
  for (int i = 0; i < kMaxEventsPerWake; ++i) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_monitors.count(monitor) == 0)
        return;  // unwatched meanwhile; the monitor may be gone
    }
    const int code = monitor->ReceiveEvent();
    if (code == IDeviceMonitor::kNone)
      return;
    m_pDlg->OnDeviceChange(static_cast<uint32_t>(code), 0);
  }
}

void WebWindowSystem::NotifyWorkerEnded() {
  Post([this] { m_pDlg->OnWorkerEnded(); });
}

void WebWindowSystem::CloseWorkerDialogs() {
  m_bAborting = true;
  MAIN_THREAD_ASYNC_EM_ASM({ Module["page"].closeWorkerDialogs(); });
}

void WebWindowSystem::StartTimer(int id, unsigned intervalMs) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_timers[id] = Timer{intervalMs, NowMs() + intervalMs};
  m_wake.notify_one();
}

void WebWindowSystem::StopTimer(int id) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_timers.erase(id);
}

void WebWindowSystem::EndDialog() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bEnded = true;
    m_wake.notify_one();
  }
  MAIN_THREAD_ASYNC_EM_ASM({ Module["page"].ended(); });
}

extern "C" void tarvix_click(WebWindowSystem* window) {
  if (window != nullptr)
    window->OnButtonClicked();
}
