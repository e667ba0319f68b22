#include "ui/win32/win32_window_system.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "base/dialog_filter.h"
#include "base/trace.h"
#include "base/wide_string.h"
#include "update/update_dlg.h"

namespace {

constexpr UINT kCallMessage = WM_APP + 1;         // lParam: a std::function<void()>* to run
constexpr UINT kDrainMessage = WM_APP + 2;        // lParam: the monitor that woke us
constexpr UINT kWorkerEndedMessage = WM_APP + 3;  // the update thread has ended
constexpr wchar_t kMessageWindowClass[] = L"TarvixUpdateMessages";
// The longest path the file dialog hands back (the system's own limit for a path).
constexpr DWORD kMaxPathChars = 32768;

std::wstring Wide(const std::u16string& text) {
  return std::wstring(text.begin(), text.end());
}

// A trace of what the user is shown (a box's text on one line).
void TraceBox(const TraceSink& sink, const std::u16string& caption, const std::u16string& text) {
  std::string line = Utf16ToUtf8(text);
  std::replace(line.begin(), line.end(), '\r', ' ');
  std::replace(line.begin(), line.end(), '\n', ' ');
  TraceTo(sink, "message box \"%s\": %s\n", Utf16ToUtf8(caption).c_str(), line.c_str());
}

}  // namespace

std::wstring Win32FilterFromDialogFilter(const std::u16string& filter) {
  std::wstring result;
  for (const DialogFilter& entry : ParseDialogFilter(filter)) {
    // The system's list cannot hold a name without patterns: an empty pattern would end it.
    if (entry.patterns.empty())
      continue;
    result += Wide(entry.name);
    result.push_back(L'\0');
    for (size_t i = 0; i < entry.patterns.size(); ++i) {
      if (i > 0)
        result.push_back(L';');
      result += Wide(entry.patterns[i]);
    }
    result.push_back(L'\0');
  }
  result.push_back(L'\0');
  return result;
}

Win32WindowSystem::Win32WindowSystem() : m_nUiThread(::GetCurrentThreadId()) {
  HINSTANCE instance = ::GetModuleHandleW(nullptr);
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = MessageWindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kMessageWindowClass;
  ::RegisterClassExW(&windowClass);  // fails harmlessly when a second window system registers it
  m_hMessages = ::CreateWindowExW(0, kMessageWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  instance, this);
  if (m_hMessages == nullptr)
    TraceTo({}, "could not create the message window (error %lu)\n", ::GetLastError());
}

Win32WindowSystem::~Win32WindowSystem() {
  Detach();
  RunPosted();  // frees the calls still waiting; they find no dialog
  if (m_hMessages)
    ::DestroyWindow(m_hMessages);
  for (HICON icon : {m_hBigIcon, m_hSmallIcon}) {
    if (icon)
      ::DestroyIcon(icon);
  }
}

void Win32WindowSystem::Attach(HWND dialog, CUpdateDlg* dlg, std::function<void()> endDialog) {
  m_hDialog = dialog;
  m_pDlg = dlg;
  m_endDialog = std::move(endDialog);
}

TraceSink Win32WindowSystem::DialogTraceSink() const {
  return m_pDlg ? m_pDlg->Run().m_Hid.TraceSinkOf() : TraceSink{};
}

void Win32WindowSystem::Detach() {
  for (IDeviceMonitor* monitor : m_wakingMonitors)
    monitor->SetWakeUp({});
  m_wakingMonitors.clear();
  for (IDeviceMonitor* monitor : m_windowMonitors)
    monitor->WatchWindow(0);
  m_windowMonitors.clear();
  m_pDlg = nullptr;
  m_hDialog = nullptr;
  m_endDialog = nullptr;
}

void Win32WindowSystem::RunPosted() {
  MSG message;
  while (m_hMessages && ::PeekMessageW(&message, m_hMessages, 0, 0, PM_REMOVE))
    ::DispatchMessageW(&message);
}

LRESULT CALLBACK Win32WindowSystem::MessageWindowProc(HWND window, UINT message, WPARAM wParam,
                                                      LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Win32WindowSystem*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case kCallMessage: {
      auto* call = reinterpret_cast<std::function<void()>*>(lParam);
      (*call)();
      delete call;
      return 0;
    }
    case kDrainMessage:
      if (self)
        self->DrainMonitor(reinterpret_cast<IDeviceMonitor*>(lParam));
      return 0;
    case kWorkerEndedMessage:
      if (self && self->m_pDlg)
        self->m_pDlg->OnWorkerEnded();
      return 0;
    case WM_TIMER:
      if (self && self->m_pDlg)
        self->m_pDlg->OnTimer(static_cast<int>(wParam));
      return 0;
    default:
      return ::DefWindowProcW(window, message, wParam, lParam);
  }
}

bool Win32WindowSystem::PostToUiThread(std::function<void()> fn) {
  if (OnUiThread()) {
    fn();
    return true;
  }
  auto* call = new std::function<void()>(std::move(fn));
  if (m_hMessages && ::PostMessageW(m_hMessages, kCallMessage, 0, reinterpret_cast<LPARAM>(call)))
    return true;
  delete call;
  return false;
}

bool Win32WindowSystem::RunOnUiThread(const std::function<void()>& fn) {
  if (OnUiThread()) {
    fn();
    return true;
  }
  struct Done {
    std::mutex mutex;
    std::condition_variable signal;
    bool done = false;
  };
  auto done = std::make_shared<Done>();
  bool posted = PostToUiThread([&fn, done] {
    fn();
    std::lock_guard<std::mutex> lock(done->mutex);
    done->done = true;
    done->signal.notify_one();
  });
  if (!posted)
    return false;
  std::unique_lock<std::mutex> lock(done->mutex);
  done->signal.wait(lock, [&] { return done->done; });
  return true;
}

// The control updates carry copies of their arguments: the caller goes on before they run.

void Win32WindowSystem::SetTitle(const std::u16string& title) {
  PostToUiThread([this, title] {
    if (m_hDialog)
      ::SetWindowTextW(m_hDialog, Wide(title).c_str());
  });
}

void Win32WindowSystem::SetControlText(int controlId, const std::u16string& text) {
  PostToUiThread([this, controlId, text] {
    if (m_hDialog)
      ::SetDlgItemTextW(m_hDialog, controlId, Wide(text).c_str());
  });
}

void Win32WindowSystem::ShowControl(int controlId, bool show) {
  PostToUiThread([this, controlId, show] {
    if (HWND control = m_hDialog ? ::GetDlgItem(m_hDialog, controlId) : nullptr)
      ::ShowWindow(control, show ? SW_SHOW : SW_HIDE);
  });
}

void Win32WindowSystem::EnableControl(int controlId, bool enable) {
  PostToUiThread([this, controlId, enable] {
    if (HWND control = m_hDialog ? ::GetDlgItem(m_hDialog, controlId) : nullptr)
      ::EnableWindow(control, enable ? TRUE : FALSE);
  });
}

void Win32WindowSystem::SetProgressRange(int minimum, int maximum) {
  PostToUiThread([this, minimum, maximum] {
    if (m_hDialog && minimum <= maximum)
      ::SendDlgItemMessageW(m_hDialog, IDC_PROGRESS, PBM_SETRANGE32, minimum, maximum);
  });
}

void Win32WindowSystem::SetProgressPos(int position) {
  // The control clamps a position outside its range.
  PostToUiThread([this, position] {
    if (m_hDialog)
      ::SendDlgItemMessageW(m_hDialog, IDC_PROGRESS, PBM_SETPOS, position, 0);
  });
}

void Win32WindowSystem::SetIcon(int iconId) {
  PostToUiThread([this, iconId] {
    if (!m_hDialog)
      return;
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    const wchar_t* name = MAKEINTRESOURCEW(iconId);
    for (HICON* icon : {&m_hBigIcon, &m_hSmallIcon}) {
      bool big = icon == &m_hBigIcon;
      if (*icon)
        ::DestroyIcon(*icon);
      *icon = static_cast<HICON>(::LoadImageW(
          instance, name, IMAGE_ICON, ::GetSystemMetrics(big ? SM_CXICON : SM_CXSMICON),
          ::GetSystemMetrics(big ? SM_CYICON : SM_CYSMICON), LR_DEFAULTCOLOR));
      ::SendMessageW(m_hDialog, WM_SETICON, big ? ICON_BIG : ICON_SMALL,
                     reinterpret_cast<LPARAM>(*icon));
    }
  });
}

int Win32WindowSystem::ShowBox(const std::u16string& text, const std::u16string& caption,
                               unsigned type) {
  const bool fromWorker = !OnUiThread();
  const int escapeAnswer = type == MB_OKCANCEL ? IDCANCEL : IDOK;
  int answer = escapeAnswer;
  RunOnUiThread([&] {
    // A worker told to stop is never kept waiting: its boxes answer as Escape would.
    if (!(fromWorker && m_bAborting))
      answer = ExecBox(text, caption, type, fromWorker);
  });
  return answer;
}

int Win32WindowSystem::ExecBox(const std::u16string& text, const std::u16string& caption,
                               unsigned type, bool fromWorker) {
  const bool okCancel = type == MB_OKCANCEL;
  const int escapeAnswer = okCancel ? IDCANCEL : IDOK;
  TraceBox(DialogTraceSink(), caption, text);
  m_nWorkerDialogs += fromWorker ? 1 : 0;
  int result = ::MessageBoxW(m_hDialog, Wide(text).c_str(), Wide(caption).c_str(),
                             (okCancel ? MB_OKCANCEL : MB_OK) | MB_SETFOREGROUND);
  m_nWorkerDialogs -= fromWorker ? 1 : 0;
  // Closed without a button (Escape, the close box, CloseWorkerDialogs): Escape's answer.
  if (fromWorker && m_bAborting)
    return escapeAnswer;
  return result == IDOK ? IDOK : escapeAnswer;
}

bool Win32WindowSystem::OpenFileDialog(const std::u16string& filter,
                                       const std::u16string& initialFolder, std::u16string* path) {
  const bool fromWorker = !OnUiThread();
  bool chosen = false;
  std::u16string result;
  RunOnUiThread([&] {
    if (!(fromWorker && m_bAborting))
      chosen = ExecFileDialog(filter, initialFolder, &result, fromWorker);
  });
  chosen = chosen && !result.empty();
  if (chosen && path != nullptr)
    *path = result;
  return chosen;
}

bool Win32WindowSystem::ExecFileDialog(const std::u16string& filter,
                                       const std::u16string& initialFolder, std::u16string* path,
                                       bool fromWorker) {
  const std::wstring filters = Win32FilterFromDialogFilter(filter);
  const std::wstring folder = Wide(initialFolder);
  std::vector<wchar_t> file(kMaxPathChars, L'\0');
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = m_hDialog;
  dialog.lpstrFilter = filters.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = kMaxPathChars;
  dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY |
                 OFN_NOCHANGEDIR | OFN_ENABLESIZING;
  TraceTo(DialogTraceSink(), "open-file dialog in %s\n", Utf16ToUtf8(initialFolder).c_str());
  m_nWorkerDialogs += fromWorker ? 1 : 0;
  BOOL ok = ::GetOpenFileNameW(&dialog);
  m_nWorkerDialogs -= fromWorker ? 1 : 0;
  if (!ok || (fromWorker && m_bAborting))
    return false;
  *path = std::u16string(file.data(), file.data() + wcslen(file.data()));
  return true;
}

void Win32WindowSystem::WatchDeviceMonitor(IDeviceMonitor* monitor) {
  RunOnUiThread([&] {
    if (monitor == nullptr || m_wakingMonitors.count(monitor) || m_windowMonitors.count(monitor))
      return;
    // The system's notices come to the dialog as WM_DEVICECHANGE; a monitor of our own (the
    // virtual controller) wakes us instead, from whichever thread it is on.
    if (m_hDialog && monitor->WatchWindow(reinterpret_cast<intptr_t>(m_hDialog))) {
      m_windowMonitors.insert(monitor);
      return;
    }
    HWND messages = m_hMessages;
    if (monitor->SetWakeUp([messages, monitor] {
          ::PostMessageW(messages, kDrainMessage, 0, reinterpret_cast<LPARAM>(monitor));
        })) {
      m_wakingMonitors.insert(monitor);
    }
  });
}

void Win32WindowSystem::UnwatchDeviceMonitor(IDeviceMonitor* monitor) {
  RunOnUiThread([&] {
    if (m_wakingMonitors.erase(monitor) != 0)
      monitor->SetWakeUp({});
    if (m_windowMonitors.erase(monitor) != 0)
      monitor->WatchWindow(0);
  });
}

void Win32WindowSystem::DrainMonitor(IDeviceMonitor* monitor) {
  // One wake-up per notice: take what is there; a notice that arrives meanwhile wakes us again.
  // The handling may unwatch the monitor (and it may then be gone).
  while (m_pDlg && m_wakingMonitors.count(monitor) != 0) {
    int code = monitor->ReceiveEvent();
    if (code == IDeviceMonitor::kNone)
      break;
    m_pDlg->OnDeviceChange(static_cast<uint32_t>(code), 0);
  }
}

void Win32WindowSystem::NotifyWorkerEnded() {
  if (m_hMessages)
    ::PostMessageW(m_hMessages, kWorkerEndedMessage, 0, 0);
}

void Win32WindowSystem::CloseWorkerDialogs() {
  m_bAborting = true;
  if (m_nWorkerDialogs == 0 || m_hDialog == nullptr)
    return;
  // The boxes and the file dialog shown for the worker are the dialogs the dialog window owns:
  // Cancel closes each (a box then answers as Escape would, the file dialog chooses nothing).
  ::EnumThreadWindows(
      m_nUiThread,
      [](HWND window, LPARAM owner) -> BOOL {
        wchar_t className[16] = {};
        ::GetClassNameW(window, className, 16);
        if (::GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(owner) &&
            wcscmp(className, L"#32770") == 0) {
          ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(m_hDialog));
}

void Win32WindowSystem::StartTimer(int id, unsigned intervalMs) {
  if (m_hMessages)
    ::SetTimer(m_hMessages, static_cast<UINT_PTR>(id), intervalMs, nullptr);
}

void Win32WindowSystem::StopTimer(int id) {
  if (m_hMessages)
    ::KillTimer(m_hMessages, static_cast<UINT_PTR>(id));
}

void Win32WindowSystem::EndDialog() {
  if (m_endDialog)
    m_endDialog();
}
