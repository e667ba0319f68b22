#include <cstdio>

#include "session/session_host.h"

void CUpdateTransfer::ReleaseImage() {
  std::vector<uint8_t>().swap(m_image);
}

std::string HexAddress(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", address);
  return text;
}
