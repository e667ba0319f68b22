#include "tests/support/scripted_hid.h"

#include <algorithm>
#include <cstring>

void ScriptedHidPlatform::Remove(const std::string& path) {
  m_interfaces.erase(std::remove_if(m_interfaces.begin(), m_interfaces.end(),
                                    [&](const Interface& i) { return i.path == path; }),
                     m_interfaces.end());
}

void ScriptedHidPlatform::QueueRead(HidReadResult result, std::vector<uint8_t> payload,
                                    bool echoRequest) {
  m_reads.push_back({result, std::move(payload), echoRequest});
}

std::vector<HidInterfaceInfo> ScriptedHidPlatform::Enumerate() {
  std::vector<HidInterfaceInfo> list;
  for (const Interface& i : m_interfaces)
    list.push_back({i.path, i.vendorId, i.productId, {}, {}});
  return list;
}

HidHandle ScriptedHidPlatform::Open(const std::string& path, HidOpenResult* result) {
  m_openAttempts.push_back(path);
  for (const Interface& i : m_interfaces) {
    if (i.path != path)
      continue;
    *result = i.open;
    if (i.open != HidOpenResult::kOk)
      return kNoHidHandle;
    HidHandle handle = m_nextHandle++;
    m_open[handle] = path;
    return handle;
  }
  *result = HidOpenResult::kFailed;
  return kNoHidHandle;
}

bool ScriptedHidPlatform::GetAttributes(HidHandle handle, uint16_t* vendorId, uint16_t* productId) {
  auto it = m_open.find(handle);
  if (it == m_open.end())
    return false;
  for (const Interface& i : m_interfaces) {
    if (i.path != it->second)
      continue;
    if (!i.attributesReadable)
      return false;
    *vendorId = i.vendorId;
    *productId = i.productId;
    return true;
  }
  return false;
}

bool ScriptedHidPlatform::Write(HidHandle handle, const uint8_t* report, size_t length) {
  if (!m_open.count(handle))
    return false;
  m_writes.emplace_back(report, report + length);
  return true;
}

HidReadResult ScriptedHidPlatform::Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) {
  m_readTimeouts.push_back(timeoutMs);
  if (!m_open.count(handle))
    return HidReadResult::kError;
  if (m_reads.empty())
    return HidReadResult::kTimeout;
  ScriptedRead next = m_reads.front();
  m_reads.pop_front();
  if (next.result == HidReadResult::kReport) {
    std::memset(payload64, 0, 64);
    std::memcpy(payload64, next.payload.data(), std::min<size_t>(next.payload.size(), 64));
    // Report position i of the request is reply offset i: data length 6..7, size and address
    // 10..17.
    if (next.echoRequest && !m_writes.empty() && m_writes.back().size() >= 18) {
      const std::vector<uint8_t>& request = m_writes.back();
      std::memcpy(payload64 + 6, request.data() + 6, 2);
      std::memcpy(payload64 + 10, request.data() + 10, 8);
    }
  }
  return next.result;
}

void ScriptedHidPlatform::Close(HidHandle handle) {
  m_open.erase(handle);
}

std::unique_ptr<IDeviceMonitor> ScriptedHidPlatform::CreateMonitor() {
  ++m_monitorsCreated;
  if (!m_canMonitor)
    return nullptr;
  return std::make_unique<ScriptedMonitor>();
}
