// The boot loader's identification: its device type decides the memory layout, then its version
// word goes into the title and its identity is read before the serial mask is prepared.
#include "base/byte_order.h"
#include "boot/boot_packet.h"
#include "boot/boot_session.h"

namespace {

// A last read the identification makes; its answer is not used.
constexpr uint32_t kExtraReadAddress = 0x80000002;

}  // namespace

int CBootSession::IdentifyBootDevice() {
  // Nothing of a controller identified earlier carries over: without an answer to the device-type
  // read this one counts as the unknown type, as at start-up.
  auto setLayout = [this](const BootLayout& layout) {
    m_nBootBaseAddress = layout.base;
    m_nBootVersionAddress = layout.version;
    m_nBootIdAddress = layout.identity;
  };
  m_deviceType = 0;
  setLayout(kBootLayoutUnknown);
  uint8_t bytes[12] = {};
  if (BootReadDeviceId(bytes, 4)) {
    m_deviceType = ReadLe32(bytes);
    setLayout(BootLayoutOf(m_deviceType));
  }
  if (!BootReadMemory(bytes, 4, m_nBootVersionAddress))
    return 0;
  m_host.SetDeviceVersion(ReadLe32(bytes));
  // The identity words are not kept: the read only has to be answered before the serial mask
  // is prepared.
  if (!BootReadMemory(bytes, 12, m_nBootIdAddress))
    return 0;
  BootReadMemory(bytes, 6, kExtraReadAddress);
  return 1;
}
