#include "emulator/demo_sample.h"

#include <cstring>

#include "base/byte_order.h"

#include "emulator/dat_writer.h"
#include "emulator/virtual_boot_loader.h"
#include "emulator/virtual_running_firmware.h"

namespace {
constexpr uint32_t kSampleImageSize = 48 * 1024;
constexpr uint16_t kSampleVersion = 200;  // 2.00, newer than the virtual controller's 1.37
}  // namespace

DemoController MakeDemoController(bool appMode) {
  if (appMode)
    return {std::make_shared<VirtualRunningFirmware>(), 0x0483, 0x5750};
  return {std::make_shared<VirtualBootLoader>(), 0x7A3D, 0x3208};
}

std::vector<uint8_t> DemoSampleDat() {
  // One record for the virtual boot loader's device type; the running firmware is sent the file's
  // first record, so the same file serves both modes.
  DatRecord record;
  record.version = kSampleVersion;
  record.deviceType = kDeviceType3009;
  record.image = MakeImage(kSampleImageSize, 7);
  return BuildDat({record});
}

int DemoControllerVersion(const DemoController& controller) {
  if (auto* boot = dynamic_cast<VirtualBootLoader*>(controller.model.get()))
    return static_cast<int>(boot->VersionWord() & 0xFFFF);
  if (auto* app = dynamic_cast<VirtualRunningFirmware*>(controller.model.get())) {
    std::lock_guard<std::mutex> lock(app->m_mutex);
    return static_cast<int>((app->m_bFinished ? app->m_fileVersion : app->m_config.versionWord) &
                            0xFFFF);
  }
  return -1;
}

namespace {
constexpr char kVersionMagic[] = "TVXVERSION1";
constexpr size_t kVersionMagicLength = sizeof(kVersionMagic) - 1;
}  // namespace

std::vector<uint8_t> DemoState(const DemoController& controller) {
  if (auto* boot = dynamic_cast<VirtualBootLoader*>(controller.model.get()))
    return boot->SaveFlash();
  std::vector<uint8_t> state;
  if (auto* app = dynamic_cast<VirtualRunningFirmware*>(controller.model.get())) {
    std::lock_guard<std::mutex> lock(app->m_mutex);
    state.assign(kVersionMagic, kVersionMagic + kVersionMagicLength);
    state.resize(kVersionMagicLength + 4);
    WriteLe32(state.data() + kVersionMagicLength,
              app->m_bFinished ? app->m_fileVersion : app->m_config.versionWord);
  }
  return state;
}

bool RestoreDemoState(const DemoController& controller, const std::vector<uint8_t>& state) {
  if (auto* boot = dynamic_cast<VirtualBootLoader*>(controller.model.get()))
    return boot->LoadFlash(state);
  auto* app = dynamic_cast<VirtualRunningFirmware*>(controller.model.get());
  if (!app || state.size() != kVersionMagicLength + 4 ||
      std::memcmp(state.data(), kVersionMagic, kVersionMagicLength) != 0)
    return false;
  std::lock_guard<std::mutex> lock(app->m_mutex);
  app->m_config.versionWord = ReadLe32(state.data() + kVersionMagicLength);
  return true;
}
