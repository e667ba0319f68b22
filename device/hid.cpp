#include "device/hid.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include "base/trace.h"
#include "base/wide_string.h"

namespace {

const ControllerIdentity* MatchIdentity(uint16_t vendorId, uint16_t productId) {
  for (const ControllerIdentity& identity : kControllerIdentities) {
    if (identity.vendorId == vendorId && identity.productId == productId)
      return &identity;
  }
  return nullptr;
}

// Opens an enumerated interface and answers its controller identity with the handle left open in
// *handle, or null with nothing left open (*result says why an open failed).
const ControllerIdentity* ProbeInterface(IHidPlatform& platform, const HidInterfaceInfo& info,
                                         HidHandle* handle, HidOpenResult* result) {
  *result = HidOpenResult::kFailed;
  *handle = platform.Open(info.path, result);
  if (*handle == kNoHidHandle)
    return nullptr;
  uint16_t vendorId = 0;
  uint16_t productId = 0;
  const ControllerIdentity* identity = nullptr;
  if (platform.GetAttributes(*handle, &vendorId, &productId))
    identity = MatchIdentity(vendorId, productId);
  if (!identity) {
    platform.Close(*handle);
    *handle = kNoHidHandle;
  }
  return identity;
}

}  // namespace

const char* OpenResultText(HidOpenResult result, const IHidPlatform* platform) {
  switch (result) {
    case HidOpenResult::kOk:
      return "";
    case HidOpenResult::kAccessDenied:
      // What the user can do about it depends on the system: the platform says.
      if (platform)
        return platform->AccessDeniedText();
      return "access denied";
    case HidOpenResult::kBusy:
      return "busy: another program is talking to it";
    case HidOpenResult::kFailed:
      break;
  }
  return "cannot be opened";
}

std::vector<ControllerInterface> ListControllers(IHidPlatform& platform) {
  std::vector<ControllerInterface> controllers;
  for (const HidInterfaceInfo& info : platform.Enumerate()) {
    HidHandle handle = kNoHidHandle;
    HidOpenResult result = HidOpenResult::kFailed;
    if (const ControllerIdentity* identity = ProbeInterface(platform, info, &handle, &result)) {
      platform.Close(handle);
      controllers.push_back({info.path, identity->vendorId, identity->productId, identity->bootMode,
                             HidOpenResult::kOk, info.serial, info.portPath});
    } else if (result != HidOpenResult::kOk) {
      // Only the enumeration tells what an interface that does not open is.
      if (const ControllerIdentity* listed = MatchIdentity(info.vendorId, info.productId))
        controllers.push_back({info.path, listed->vendorId, listed->productId, listed->bootMode,
                               result, info.serial, info.portPath});
    }
  }
  return controllers;
}

CHid::CHid(const Seams& seams) : m_pPlatform(seams.platform), m_traceSink(seams.trace) {}

void CHid::Trace(const char* format, ...) const {
  va_list args;
  va_start(args, format);
  TraceLineTo(m_traceSink, format, args);
  va_end(args);
}

CHid::~CHid() {
  if (m_hDevNotify) {
    if (m_hNotifyWnd)
      m_hNotifyWnd->UnwatchDeviceMonitor(m_hDevNotify.get());
    m_hDevNotify.reset();
  }
  CloseHandles();
}

void CHid::CloseHandles() {
  m_lock.reset();
  IHidPlatform* platform = m_pPlatform;
  if (m_hWriteHandle != INVALID_HANDLE_VALUE) {
    if (platform)
      platform->Close(m_hWriteHandle);
    m_hWriteHandle = INVALID_HANDLE_VALUE;
  }
  if (m_hReadHandle != INVALID_HANDLE_VALUE) {
    if (platform)
      platform->Close(m_hReadHandle);
    m_hReadHandle = INVALID_HANDLE_VALUE;
  }
}

void CHid::SetLastError(HidOpenResult result, const char* text) {
  m_nLastOpenResult = result;
  m_LastError = text;
}

int CHid::FindDevice(HidHandle* handle) {
  *handle = INVALID_HANDLE_VALUE;
  SetLastError(HidOpenResult::kFailed, "no controller found");
  IHidPlatform* platform = m_pPlatform;
  if (!platform)
    return 0;

  const std::string pinned = Utf16ToUtf8(m_PinnedPath);
  for (const HidInterfaceInfo& info : platform->Enumerate()) {
    if (!pinned.empty() && info.path != pinned)
      continue;
    HidOpenResult openResult = HidOpenResult::kFailed;
    const ControllerIdentity* identity = ProbeInterface(*platform, info, handle, &openResult);
    if (!identity) {
      // Keyboards and mice cannot be opened and are passed over silently. A controller that we
      // may not open is worth one line: it is the usual reason why nothing is found.
      if (openResult != HidOpenResult::kOk && MatchIdentity(info.vendorId, info.productId)) {
        SetLastError(openResult, OpenResultText(openResult, platform));
        if (openResult == HidOpenResult::kAccessDenied)
          Trace("%s: %s\n", info.path.c_str(), OpenResultText(openResult, platform));
      }
      continue;
    }
    SetLastError(HidOpenResult::kOk, "");
    m_DevicePath = Utf8ToUtf16(info.path);
    Trace("m_DevicePath:%s\n", info.path.c_str());
    m_bBootMode = identity->bootMode;
    return 1;
  }
  return 0;
}

int CHid::DetectDevice() {
  HidHandle handle = INVALID_HANDLE_VALUE;
  int found = FindDevice(&handle);
  if (m_bNotifyRegistered == 0) {
    RegisterDeviceNotify();
    m_bNotifyRegistered = 1;
  }
  if (found) {
    m_bDeviceFound = 1;
    m_pPlatform->Close(handle);
    return 1;
  }
  m_bDeviceFound = 0;
  return 0;
}

int CHid::RegisterDeviceNotify() {
  IHidPlatform* platform = m_pPlatform;
  if (!platform)
    return 0;
  m_hDevNotify = platform->CreateMonitor();
  if (!m_hDevNotify)
    return 0;
  if (m_hNotifyWnd)
    m_hNotifyWnd->WatchDeviceMonitor(m_hDevNotify.get());
  return 1;
}

int CHid::OpenHid() {
  CloseHandles();
  IHidPlatform* platform = m_pPlatform;
  if (!platform)
    return 0;
  std::string path = Utf16ToUtf8(m_DevicePath);
  // Opened first, so that a controller that is missing or may not be opened says so; an open
  // sends nothing to the controller.
  HidOpenResult result = HidOpenResult::kFailed;
  m_hWriteHandle = platform->Open(path, &result);
  if (m_hWriteHandle != INVALID_HANDLE_VALUE)
    m_hReadHandle = platform->Open(path, &result);
  if (m_hReadHandle == INVALID_HANDLE_VALUE) {
    SetLastError(result, OpenResultText(result, platform));
    CloseHandles();
    return 0;
  }
  // One conversation with a controller at a time, whichever program holds it.
  m_lock = platform->LockController(path);
  if (!m_lock) {
    CloseHandles();
    SetLastError(HidOpenResult::kBusy, OpenResultText(HidOpenResult::kBusy, platform));
    return 0;
  }
  SetLastError(HidOpenResult::kOk, "");
  m_nReadTimeout = 200;
  return 1;
}

void CHid::SetReadTimeout(uint32_t milliseconds) {
  m_nReadTimeout = milliseconds;
}

int CHid::WriteHid(const uint8_t* source, uint8_t count) {
  size_t n = std::min<size_t>(count, kPayloadLength);
  if (n > 0)
    std::memmove(m_OutReport + 1, source, n);
  return WriteOutReport();
}

int CHid::WriteOutReport() {
  m_OutReport[0] = 0;
  if (m_hWriteHandle == INVALID_HANDLE_VALUE)
    return 0;
  IHidPlatform* platform = m_pPlatform;
  if (!platform)
    return 0;
  return platform->Write(m_hWriteHandle, m_OutReport, kReportLength) ? 1 : 0;
}

HidReadResult CHid::ReadHid(uint8_t* destination, uint8_t count) {
  if (m_hReadHandle == INVALID_HANDLE_VALUE)
    return HidReadResult::kNotOpen;
  IHidPlatform* platform = m_pPlatform;
  if (!platform)
    return HidReadResult::kError;
  // The platform writes its payload only with a report, so a whole read needs no area of its own.
  if (count >= kPayloadLength)
    return platform->Read(m_hReadHandle, destination, m_nReadTimeout);
  uint8_t payload[kPayloadLength] = {};
  HidReadResult result = platform->Read(m_hReadHandle, payload, m_nReadTimeout);
  if (result == HidReadResult::kReport && count > 0)
    std::memcpy(destination, payload, count);
  return result;
}

uint32_t ReadTraceCode(HidReadResult result) {
  switch (result) {
    case HidReadResult::kReport:
      return 0;
    case HidReadResult::kTimeout:
      return 0x102;
    case HidReadResult::kNotOpen:
      return 0x80;
    case HidReadResult::kError:
      break;
  }
  return 0xFFFFFFFF;
}
