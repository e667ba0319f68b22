// A virtual controller on the HID seam, reached through the device link, in virtual time.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/clock.h"
#include "device/hid.h"
#include "emulator/virtual_hid.h"

class EmulatorTest : public ::testing::Test {
 protected:
  void TearDown() override {
    m_hid.reset();  // closes its handles while the platform is still there
  }

  // Plugs a model and opens the link on it with the given read time-out.
  void Attach(const std::string& path, uint16_t vendorId, uint16_t productId,
              std::shared_ptr<VirtualController> model, uint32_t timeoutMs = 10) {
    m_platform.Plug(path, vendorId, productId, std::move(model));
    m_hid = std::make_unique<CHid>(Seams{&m_platform, {}, {}});
    ASSERT_EQ(m_hid->DetectDevice(), 1);
    ASSERT_EQ(m_hid->OpenHid(), 1);
    m_hid->SetReadTimeout(timeoutMs);
  }
  int Send(const std::vector<uint8_t>& payload) {
    return m_hid->WriteHid(payload.data(), static_cast<uint8_t>(payload.size()));
  }
  // Reads one report: its 64 payload bytes, or an empty vector when the read did not bring one.
  std::vector<uint8_t> Receive() {
    uint8_t in[kPayloadLength] = {};
    if (m_hid->ReadHid(in, kPayloadLength) != HidReadResult::kReport)
      return {};
    return std::vector<uint8_t>(in, in + kPayloadLength);
  }
  uint64_t Now() { return m_clock.NowMs(); }

  VirtualClock m_clock;
  VirtualHidPlatform m_platform{&m_clock};
  std::unique_ptr<CHid> m_hid;
};

inline void PutLe(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline uint32_t GetLe(const std::vector<uint8_t>& in, size_t at, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i)
    value |= static_cast<uint32_t>(in.at(at + i)) << (8 * i);
  return value;
}
