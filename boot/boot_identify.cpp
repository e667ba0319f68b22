// The boot loader's identification: its device type decides the memory layout, then its version
// word goes into the title and its identity is read before the serial mask is prepared.
#include "base/byte_order.h"
#include "boot/boot_packet.h"
#include "update/update_dlg.h"

namespace {

// A last read the identification makes; its answer is not used.
constexpr uint32_t kExtraReadAddress = 0x80000002;

void SetLayout(CUpdateDlg& dlg, const BootLayout& layout) {
  dlg.m_nBootBaseAddress = layout.base;
  dlg.m_nBootVersionAddress = layout.version;
  dlg.m_nBootIdAddress = layout.identity;
}

}  // namespace

void CUpdateDlg::IdentifyBootDevice() {
  // Nothing of a controller identified earlier carries over: without an answer to the device-type
  // read this one counts as the unknown type, as at start-up.
  m_deviceType = 0;
  SetLayout(*this, kBootLayoutUnknown);
  uint8_t bytes[12] = {};
  if (BootReadDeviceId(bytes, 4)) {
    m_deviceType = ReadLe32(bytes);
    SetLayout(*this, BootLayoutOf(m_deviceType));
  }
  if (!BootReadMemory(bytes, 4, m_nBootVersionAddress))
    return;
  m_curDevVersion = ReadLe32(bytes);
  ShowDeviceVersion(m_curDevVersion.load());
  // The identity words are not kept: the read only has to be answered before the serial mask
  // is prepared.
  if (!BootReadMemory(bytes, 12, m_nBootIdAddress))
    return;
  PrepareSerialMask();
  BootReadMemory(bytes, 6, kExtraReadAddress);
}
