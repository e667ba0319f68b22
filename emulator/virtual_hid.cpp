#include "emulator/virtual_hid.h"

#include <algorithm>
#include <cstring>

#include "base/clock.h"
#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_running_firmware.h"

namespace {

constexpr size_t kOutReportLength = 65;
constexpr size_t kInPayloadLength = 64;
// A read that waits sleeps in slices of at most this much, so that with the system clock a reply
// queued by another thread (or an unplug) is noticed without waiting out the whole time-out.
constexpr uint32_t kWaitSliceMs = 10;

}  // namespace

VirtualHidPlatform::VirtualHidPlatform(IClock* clock)
    : m_pClock(clock ? clock : &TheSystemClock()) {}
VirtualHidPlatform::~VirtualHidPlatform() = default;

std::shared_ptr<VirtualHidPlatform::Interface> VirtualHidPlatform::FindPlugged(
    const std::string& path) {
  for (const auto& itf : m_interfaces) {
    if (itf->path == path)
      return itf;
  }
  return nullptr;
}

void VirtualHidPlatform::Plug(const std::string& path, uint16_t vendorId, uint16_t productId,
                              std::shared_ptr<VirtualController> model, bool openable) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (FindPlugged(path))
    UnplugLocked(path);  // a path is one interface: plugging it again replaces it
  auto itf = std::make_shared<Interface>();
  itf->path = path;
  itf->vendorId = vendorId;
  itf->productId = productId;
  itf->openable = openable;
  itf->model = std::move(model);
  m_interfaces.push_back(itf);
  m_notices.Post(IDeviceMonitor::kArrival);
}

void VirtualHidPlatform::UnplugLocked(const std::string& path) {
  auto it = std::find_if(m_interfaces.begin(), m_interfaces.end(),
                         [&](const auto& itf) { return itf->path == path; });
  if (it == m_interfaces.end())
    return;
  (*it)->plugged = false;
  (*it)->replies.clear();
  m_interfaces.erase(it);
  m_notices.Post(IDeviceMonitor::kRemoveComplete);
}

void VirtualHidPlatform::Unplug(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  UnplugLocked(path);
}

bool VirtualHidPlatform::IsPlugged(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return FindPlugged(path) != nullptr;
}

WireFaults& VirtualHidPlatform::Faults(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_faults[path];  // std::map keeps references stable
}

VirtualHidPlatform::WireCounters VirtualHidPlatform::Counters(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_counters[path];
}

std::vector<TranscriptEntry> VirtualHidPlatform::Transcript() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_transcript;
}

void VirtualHidPlatform::ClearTranscript() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_transcript.clear();
}

size_t VirtualHidPlatform::PendingReplies(const std::string& path) {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::shared_ptr<Interface> itf = FindPlugged(path);
  return itf ? itf->replies.size() : 0;
}

std::vector<HidInterfaceInfo> VirtualHidPlatform::Enumerate() {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::vector<HidInterfaceInfo> list;
  for (const auto& itf : m_interfaces) {
    auto location = m_locations.find(itf->path);
    if (location == m_locations.end())
      list.push_back({itf->path, itf->vendorId, itf->productId, {}, {}});
    else
      list.push_back({itf->path, itf->vendorId, itf->productId, location->second.first,
                      location->second.second});
  }
  return list;
}

void VirtualHidPlatform::SetLocation(const std::string& path, std::string serial,
                                     std::string portPath) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_locations[path] = {std::move(serial), std::move(portPath)};
}

HidHandle VirtualHidPlatform::Open(const std::string& path, HidOpenResult* result) {
  std::lock_guard<std::mutex> lock(m_mutex);
  HidOpenResult outcome = HidOpenResult::kFailed;
  HidHandle handle = kNoHidHandle;
  std::shared_ptr<Interface> itf = FindPlugged(path);
  if (itf && !itf->openable) {
    outcome = HidOpenResult::kAccessDenied;
  } else if (itf && m_faults[path].refuseOpens > 0) {
    --m_faults[path].refuseOpens;  // kFailed: the system could not open it
  } else if (itf) {
    handle = m_nextHandle++;
    m_handles[handle] = itf;
    outcome = HidOpenResult::kOk;
  }
  if (result)
    *result = outcome;
  return handle;
}

bool VirtualHidPlatform::GetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_handles.find(handle);
  if (it == m_handles.end() || !it->second->plugged)
    return false;
  if (vendorId)
    *vendorId = it->second->vendorId;
  if (productId)
    *productId = it->second->productId;
  return true;
}

void VirtualHidPlatform::ScheduleReply(Interface& itf, const uint8_t* payload64) {
  WireFaults& faults = m_faults[itf.path];
  WireCounters& counters = m_counters[itf.path];
  ++counters.replies;
  bool lost = false;
  if (faults.dropNextReplies > 0) {
    --faults.dropNextReplies;
    lost = true;
  }
  if (faults.dropEveryKthReply > 0 && counters.replies % faults.dropEveryKthReply == 0)
    lost = true;
  if (lost) {
    ++counters.droppedReplies;
    return;
  }
  PendingReply reply;
  reply.readyAtMs = Clock().NowMs() + faults.latencyMs;
  reply.payload.assign(payload64, payload64 + kInPayloadLength);
  if (faults.corruptNextReplies > 0) {
    --faults.corruptNextReplies;
    ++counters.corruptedReplies;
    for (uint8_t& byte : reply.payload)
      byte = static_cast<uint8_t>(~byte);
  }
  m_transcript.push_back({reply.readyAtMs, false, itf.path, reply.payload});
  itf.replies.push_back(std::move(reply));
}

bool VirtualHidPlatform::Write(HidHandle handle, const uint8_t* report, size_t length) {
  if (!report || length == 0 || length > kOutReportLength)
    return false;
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_handles.find(handle);
  if (it == m_handles.end() || !it->second->plugged)
    return false;
  std::shared_ptr<Interface> itf = it->second;
  WireFaults& faults = m_faults[itf->path];
  if (faults.refuseReport > 0 && --faults.refuseReport == 0)
    return false;  // the write fails; the report never reaches the wire

  // A short write is a report whose tail is zero, as a HID driver pads it.
  uint8_t full[kOutReportLength] = {};
  std::memcpy(full, report, length);
  m_transcript.push_back(
      {Clock().NowMs(), true, itf->path, std::vector<uint8_t>(full, full + kOutReportLength)});
  ++m_counters[itf->path].hostReports;

  // The model runs under the platform's lock: its replies come back synchronously through the
  // callback, and models never call the platform nor sleep.
  if (itf->model) {
    std::vector<std::vector<uint8_t>> replies;
    itf->model->OnReport(full, [&replies](const uint8_t* payload64) {
      replies.emplace_back(payload64, payload64 + kInPayloadLength);
    });
    for (const auto& payload : replies)
      ScheduleReply(*itf, payload.data());
  }

  if (faults.unplugAfterReports >= 0) {
    if (faults.unplugAfterReports > 0)
      --faults.unplugAfterReports;
    if (faults.unplugAfterReports == 0) {
      faults.unplugAfterReports = -1;
      UnplugLocked(itf->path);
    }
  }
  return true;
}

HidReadResult VirtualHidPlatform::Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) {
  IClock& clock = Clock();
  const uint64_t deadline = clock.NowMs() + timeoutMs;
  // Every pass either answers or sleeps at least 1 ms of clock time towards the deadline, so the
  // loop ends.
  for (;;) {
    uint64_t wakeAt = deadline;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      auto it = m_handles.find(handle);
      if (it == m_handles.end() || !it->second->plugged)
        return HidReadResult::kError;
      Interface& itf = *it->second;
      uint64_t now = clock.NowMs();
      if (!itf.replies.empty() && itf.replies.front().readyAtMs <= now) {
        if (payload64)
          std::memcpy(payload64, itf.replies.front().payload.data(), kInPayloadLength);
        itf.replies.pop_front();
        return HidReadResult::kReport;
      }
      if (now >= deadline)
        return HidReadResult::kTimeout;
      uint8_t own[kInPayloadLength];
      if (itf.replies.empty() && itf.model && itf.model->IdleReport(own)) {
        itf.replies.push_back({now + 1, std::vector<uint8_t>(own, own + kInPayloadLength)});
      }
      if (!itf.replies.empty())
        wakeAt = std::min(wakeAt, itf.replies.front().readyAtMs);
      wakeAt = std::min(wakeAt, now + kWaitSliceMs);
      wakeAt -= now;  // now the wait in ms, at least 1
    }
    clock.SleepMs(static_cast<uint32_t>(wakeAt));
  }
}

void VirtualHidPlatform::Close(HidHandle handle) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto it = m_handles.find(handle);
  if (it == m_handles.end())
    return;
  const std::shared_ptr<Interface> itf = it->second;
  m_handles.erase(it);
  const std::string restartAt = m_faults[itf->path].restartAtPath;
  auto* boot = dynamic_cast<VirtualBootLoader*>(itf->model.get());
  if (restartAt.empty() || !boot || !itf->plugged)
    return;
  {
    std::lock_guard<std::mutex> model(boot->m_mutex);
    if (!boot->m_bFinished)
      return;
  }
  RunningFirmwareConfig config;
  config.versionWord = boot->VersionWord();
  if (auto location = m_locations.find(itf->path); location != m_locations.end())
    m_locations[restartAt] = location->second;
  UnplugLocked(itf->path);
  auto restarted = std::make_shared<Interface>();
  restarted->path = restartAt;
  restarted->vendorId = 0x0483;
  restarted->productId = 0x5750;
  restarted->model = std::make_shared<VirtualRunningFirmware>(config);
  m_interfaces.push_back(restarted);
  m_notices.Post(IDeviceMonitor::kArrival);
}

std::unique_ptr<IDeviceMonitor> VirtualHidPlatform::CreateMonitor() {
  return m_notices.CreateMonitor();
}
