// What the benchmarks share: a folder for their firmware files and a link that takes every report.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/wide_string.h"
#include "device/hid_platform.h"
#include "emulator/dat_writer.h"

// A folder of this process for one benchmark's files, removed with everything in it at the end.
class BenchFolder {
 public:
  BenchFolder()
      : m_path(std::filesystem::temp_directory_path() /
               ("tarvix-bench-" + std::to_string(::getpid()))) {
    std::filesystem::create_directories(m_path);
  }
  ~BenchFolder() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
  }
  BenchFolder(const BenchFolder&) = delete;
  BenchFolder& operator=(const BenchFolder&) = delete;

  // Writes a firmware file of the records; answers its path, or "" when it could not be written.
  std::u16string Write(const std::string& name, const std::vector<DatRecord>& records) const {
    return WriteBytes(name, BuildDat(records));
  }
  std::u16string WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::string path = (m_path / name).string();
    return WriteFile(path, bytes) ? Utf8ToUtf16(path) : std::u16string();
  }

 private:
  std::filesystem::path m_path;
};

// One running controller that takes every report at once and never answers: the host's cost of a
// write without any controller behind it.
class SinkHidPlatform : public IHidPlatform {
 public:
  std::vector<HidInterfaceInfo> Enumerate() override { return {{"sink", 0x0483, 0x5750, {}, {}}}; }
  HidHandle Open(const std::string&, HidOpenResult* result) override {
    *result = HidOpenResult::kOk;
    return 1;
  }
  bool GetAttributes(HidHandle, uint16_t* vendorId, uint16_t* productId) override {
    *vendorId = 0x0483;
    *productId = 0x5750;
    return true;
  }
  bool Write(HidHandle, const uint8_t*, size_t) override { return true; }
  HidReadResult Read(HidHandle, uint8_t*, uint32_t) override { return HidReadResult::kTimeout; }
  void Close(HidHandle) override {}
  std::unique_ptr<IDeviceMonitor> CreateMonitor() override { return nullptr; }
};
