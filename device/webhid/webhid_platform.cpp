#include "device/webhid/webhid_platform.h"

#include <emscripten/em_asm.h>
#include <emscripten/threading.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/trace.h"
#include "device/webhid/page_call.h"

namespace {

constexpr char kPathPrefix[] = "webhid:";
constexpr int kMaxDeviceId = 1 << 24;
// What the page answers an open: 0 opened, 1 not allowed, anything else failed.
constexpr int kOpenAllowedNot = 1;

uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t offset) {
  uint32_t word = 0;
  for (int i = 0; i < 4; ++i)
    word |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
  return word;
}

}  // namespace

std::string DevicePath(int deviceId) {
  return kPathPrefix + std::to_string(deviceId);
}

int ParseDevicePath(const std::string& path) {
  const size_t prefix = sizeof kPathPrefix - 1;
  if (path.size() <= prefix || path.size() > prefix + 8 ||
      path.compare(0, prefix, kPathPrefix) != 0)
    return -1;
  int id = 0;
  for (size_t i = prefix; i < path.size(); ++i) {
    if (path[i] < '0' || path[i] > '9')
      return -1;
    id = id * 10 + (path[i] - '0');
  }
  return id < kMaxDeviceId ? id : -1;
}

WebHidPlatform::WebHidPlatform(TraceSink trace) : m_trace(std::move(trace)) {
  m_bPageWatchesBell = MAIN_THREAD_EM_ASM_INT({ return Module["webhid"].attach($0, $1, $2); }, this,
                                              &m_sendBell, m_inputBytes.data()) != 0;
}

WebHidPlatform::~WebHidPlatform() {
  // Waits for the page's thread: no event reaches this platform once it is gone. The last ring
  // ends the page's wait on the bell before the bell's memory goes: a wait left on memory used
  // again could take a wake-up meant for whatever lives there next.
  MAIN_THREAD_EM_ASM({ Module["webhid"].detach($0); }, this);
  RingSendBell();
}

void WebHidPlatform::RingSendBell() {
  m_sendBell.fetch_add(1);
  emscripten_futex_wake(&m_sendBell, INT_MAX);
}

std::vector<HidInterfaceInfo> WebHidPlatform::Enumerate() {
  PageAnswer answer;
  MAIN_THREAD_ASYNC_EM_ASM({ Module["webhid"].getDevices($0); }, &answer);
  answer.Wait();
  // Three little-endian words a device: its number, vendor and product.
  std::vector<HidInterfaceInfo> list;
  for (size_t offset = 0; offset + 12 <= answer.m_data.size(); offset += 12) {
    uint32_t id = WordAt(answer.m_data, offset);
    if (id >= static_cast<uint32_t>(kMaxDeviceId))
      continue;
    list.push_back({DevicePath(static_cast<int>(id)),
                    static_cast<uint16_t>(WordAt(answer.m_data, offset + 4)),
                    static_cast<uint16_t>(WordAt(answer.m_data, offset + 8)),
                    {},
                    {}});
  }
  return list;
}

HidHandle WebHidPlatform::Open(const std::string& path, HidOpenResult* result) {
  HidOpenResult ignored;
  HidOpenResult& outcome = result != nullptr ? *result : ignored;
  const int deviceId = ParseDevicePath(path);
  if (deviceId < 0) {
    outcome = HidOpenResult::kFailed;
    return kNoHidHandle;
  }
  PageAnswer answer;
  MAIN_THREAD_ASYNC_EM_ASM({ Module["webhid"].open($0, $1); }, &answer, deviceId);
  const int status = answer.Wait();
  if (status != 0 || answer.m_data.size() < 8) {
    outcome = status == kOpenAllowedNot ? HidOpenResult::kAccessDenied : HidOpenResult::kFailed;
    return kNoHidHandle;
  }
  auto handle = std::make_shared<Handle>();
  handle->deviceId = deviceId;
  handle->vendorId = static_cast<uint16_t>(WordAt(answer.m_data, 0));
  handle->productId = static_cast<uint16_t>(WordAt(answer.m_data, 4));
  std::lock_guard<std::mutex> lock(m_mutex);
  HidHandle id = m_nextHandle++;
  m_handles[id] = std::move(handle);
  outcome = HidOpenResult::kOk;
  return id;
}

std::shared_ptr<WebHidPlatform::Handle> WebHidPlatform::FindHandle(HidHandle handle) {
  auto it = m_handles.find(handle);
  return it == m_handles.end() ? nullptr : it->second;
}

bool WebHidPlatform::GetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::shared_ptr<Handle> found = FindHandle(handle);
  if (!found)
    return false;
  *vendorId = found->vendorId;
  *productId = found->productId;
  return true;
}

bool WebHidPlatform::Write(HidHandle handle, const uint8_t* report, size_t length) {
  int deviceId = -1;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<Handle> found = FindHandle(handle);
    if (!found || found->gone)
      return false;
    deviceId = found->deviceId;
  }
  if (length < 1 || length > 1 + 64)
    return false;
  // The page frees the copy once WebHID has its own; the report id goes as sendReport's first
  // argument, the rest as its data.
  auto* data = static_cast<uint8_t*>(std::malloc(length - 1 > 0 ? length - 1 : 1));
  if (data == nullptr)
    return false;
  std::memcpy(data, report + 1, length - 1);
  PageAnswer answer;
  if (!m_bPageWatchesBell) {
    MAIN_THREAD_ASYNC_EM_ASM({ Module["webhid"].sendReport($0, $1, $2, $3, $4); }, &answer,
                             deviceId, report[0], data, static_cast<int>(length - 1));
    return answer.Wait() == 1;
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_outgoing.push_back({&answer, deviceId, report[0], data, static_cast<int>(length - 1)});
  }
  RingSendBell();
  return answer.Wait() == 1;
}

void WebHidPlatform::SendQueuedReports() {
  for (;;) {
    QueuedReport next{};
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_outgoing.empty())
        return;
      next = m_outgoing.front();
      m_outgoing.pop_front();
    }
    EM_ASM({ Module["webhid"].sendReport($0, $1, $2, $3, $4); }, next.answer, next.deviceId,
           next.reportId, next.data, next.length);
  }
}

HidReadResult WebHidPlatform::Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  std::shared_ptr<Handle> found = FindHandle(handle);
  if (!found)
    return HidReadResult::kError;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  // The handle stays alive through the wait even if another thread closes it meanwhile.
  if (!m_reportArrived.wait_until(lock, deadline,
                                  [&] { return found->gone || !found->reports.empty(); }))
    return HidReadResult::kTimeout;
  if (found->reports.empty())
    return HidReadResult::kError;  // the device is gone
  if (payload64 != nullptr)
    std::memcpy(payload64, found->reports.front().data(), 64);
  found->reports.pop_front();
  return HidReadResult::kReport;
}

void WebHidPlatform::Close(HidHandle handle) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_handles.erase(handle);
}

std::unique_ptr<IDeviceMonitor> WebHidPlatform::CreateMonitor() {
  return m_notices.CreateMonitor();
}

void WebHidPlatform::OnInputReport(int deviceId, const uint8_t* data, size_t length) {
  std::array<uint8_t, 64> payload{};
  std::memcpy(payload.data(), data, length < payload.size() ? length : payload.size());
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& [id, handle] : m_handles) {
      if (handle->deviceId != deviceId || handle->gone)
        continue;
      if (handle->reports.size() >= kMaxQueuedReports)
        handle->reports.pop_front();
      handle->reports.push_back(payload);
    }
  }
  // Woken after the lock is free: the reader does not wake only to wait for it.
  m_reportArrived.notify_all();
}

void WebHidPlatform::OnConnection(int deviceId, bool connected) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!connected) {
    for (auto& [id, handle] : m_handles) {
      if (handle->deviceId == deviceId)
        handle->gone = true;
    }
    m_reportArrived.notify_all();
  }
  m_notices.Post(connected ? IDeviceMonitor::kArrival : IDeviceMonitor::kRemoveComplete);
}

extern "C" {

void tarvix_hid_input(WebHidPlatform* platform, int deviceId, const uint8_t* data, int length) {
  if (platform != nullptr && data != nullptr && length > 0)
    platform->OnInputReport(deviceId, data, static_cast<size_t>(length));
}

void tarvix_hid_send_queued(WebHidPlatform* platform) {
  if (platform != nullptr)
    platform->SendQueuedReports();
}

void tarvix_hid_connection(WebHidPlatform* platform, int deviceId, int connected) {
  if (platform != nullptr) {
    TraceTo(platform->m_trace, "webhid: device %d %s\n", deviceId,
            connected ? "connected" : "gone");
    platform->OnConnection(deviceId, connected != 0);
  }
}

}  // extern "C"
