#include "ui/cli/report_trace.h"

#include <cstdio>

#include "appmode/app_packet.h"
#include "base/byte_order.h"
#include "boot/boot_packet.h"

namespace {

constexpr uint16_t kBootLoaderProduct = 0x3208;
constexpr size_t kHexBytes = 16;  // the first bytes shown of each report

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

std::string FirstBytes(const uint8_t* bytes, size_t length) {
  std::string hex;
  for (size_t i = 0; i < length && i < kHexBytes; ++i) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%s%02x", i ? " " : "", bytes[i]);
    hex += byte;
  }
  return hex + (length > kHexBytes ? " ..." : "");
}

const char* BootCommandName(uint16_t command) {
  switch (command) {
    case BOOT_CMD_WRITE:
      return "write";
    case BOOT_CMD_WRITE_IMAGE:
      return "write image";
    case BOOT_CMD_ERASE:
      return "erase";
    case BOOT_CMD_READ:
      return "read";
    case BOOT_CMD_FINISH:
      return "finish";
    case BOOT_CMD_DEVICE_ID:
      return "device type";
  }
  return "unknown command";
}

// A boot-loader packet from its type byte: a request, or a reply (after its leading 0), which has
// the request's layout with the command in the answered-command field.
std::string BootPacket(const uint8_t* p, size_t length, bool reply) {
  if (length < kBootHeaderSize || p[0] != 5)
    return "not a boot-loader packet";
  const uint16_t command = ReadLe16(p + (reply ? 3 : 1));
  return std::string(reply ? "reply to " : "") + BootCommandName(command) + " (" +
         std::to_string(command) + ") address " + Hex32(ReadLe32(p + 13)) + " size " +
         std::to_string(ReadLe32(p + 9)) + " data " + std::to_string(ReadLe16(p + 5));
}

const char* FirmwareCommandName(uint8_t command) {
  switch (command) {
    case FW_DATA:
      return "data";
    case FW_FILE_INFO:
      return "file info";
    case FW_FINISH:
      return "finish";
    case FW_VERSION:
      return "version";
    case FW_APP_SERIAL:
      return "serial";
    case FW_DATA_REQUEST:
      return "data request";
    case FW_FAILED:
    case FW_FAILED_ALT:
      return "failed";
  }
  return "unknown command";
}

// A running firmware's message at m (0x00, type, body length u16, body), with the bytes it has;
// it follows the report's length byte.
std::string AppMessage(const uint8_t* m, size_t length) {
  if (length < kMessageHeaderSize || m[0] != 0)
    return "not an update message";
  const uint8_t type = m[1];
  const uint16_t body = ReadLe16(m + 2);
  switch (type) {
    case MSG_START_UPDATE:
      return "start update (26)";
    case MSG_READ_FAILED:
      return "read failed (29)";
    case MSG_DEVICE_ID:
      return "identity (25) length " + std::to_string(body);
    case MSG_FIRMWARE:
      break;
    default:
      return "message type " + std::to_string(type) + " length " + std::to_string(body);
  }
  if (length < kMessageHeaderSize + 1 || body == 0)
    return "firmware packet, empty";
  const uint8_t command = m[4];
  std::string line = std::string("firmware ") + FirmwareCommandName(command) + " (" +
                     std::to_string(command) + ")";
  if (body >= kFirmwarePayloadOffset && length >= kMessageHeaderSize + kFirmwarePayloadOffset)
    line += " length " + std::to_string(ReadLe16(m + 5));
  if (command == FW_FAILED || command == FW_FAILED_ALT)
    line += " code " + std::to_string(command);
  return line;
}

}  // namespace

std::string DescribeReport(bool toController, bool bootMode, const uint8_t* bytes, size_t length) {
  // An output report begins with its id; the protocols' bytes follow it. A boot-loader reply has a
  // leading 0 before its packet.
  const uint8_t* p = toController && length > 0 ? bytes + 1 : bytes;
  const size_t n = toController && length > 0 ? length - 1 : length;
  std::string what;
  if (bootMode)
    what = toController ? BootPacket(p, n, false)
                        : (n > 0 ? BootPacket(p + 1, n - 1, true) : "empty report");
  else if (n > 0)
    what = AppMessage(p + 1, n - 1);  // after the message's length byte
  else
    what = "empty report";
  return std::string(toController ? "report > " : "report < ") + what + " | " +
         FirstBytes(bytes, length) + "\n";
}

HidHandle ReportTracePlatform::Open(const std::string& path, HidOpenResult* result) {
  const HidHandle handle = m_inner.Open(path, result);
  if (handle != kNoHidHandle) {
    uint16_t vendor = 0, product = 0;
    const bool boot =
        m_inner.GetAttributes(handle, &vendor, &product) && product == kBootLoaderProduct;
    std::lock_guard lock(m_mutex);
    m_bootMode[handle] = boot;
  }
  return handle;
}

bool ReportTracePlatform::IsBoot(HidHandle handle) {
  std::lock_guard lock(m_mutex);
  auto it = m_bootMode.find(handle);
  return it != m_bootMode.end() && it->second;
}

bool ReportTracePlatform::Write(HidHandle handle, const uint8_t* report, size_t length) {
  m_sink(DescribeReport(true, IsBoot(handle), report, length));
  return m_inner.Write(handle, report, length);
}

HidReadResult ReportTracePlatform::Read(HidHandle handle, uint8_t* payload64, uint32_t timeoutMs) {
  const HidReadResult result = m_inner.Read(handle, payload64, timeoutMs);
  if (result == HidReadResult::kReport)
    m_sink(DescribeReport(false, IsBoot(handle), payload64, 64));
  else if (result == HidReadResult::kError)
    m_sink("report < read error\n");
  return result;
}

void ReportTracePlatform::Close(HidHandle handle) {
  {
    std::lock_guard lock(m_mutex);
    m_bootMode.erase(handle);
  }
  m_inner.Close(handle);
}
