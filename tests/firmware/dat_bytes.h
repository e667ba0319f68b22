// Small helpers of the firmware-file tests: record bytes and files in a per-test temporary folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ui/wide_string.h"

struct RecordBytes {
  uint16_t version = 137;
  uint16_t beta = 0;
  uint32_t targetAddress = 0x08003400;
  uint32_t deviceType = 0x3009;
  uint32_t imageLength = 64;    // image bytes written after the header
  int64_t imageSizeField = -1;  // -1: the header says imageLength
};

inline void AppendU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

inline void AppendU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

inline std::vector<uint8_t> DatBytes(const std::vector<RecordBytes>& records) {
  std::vector<uint8_t> out;
  uint8_t fill = 1;
  for (const RecordBytes& r : records) {
    AppendU16(out, r.version);
    AppendU16(out, r.beta);
    AppendU32(out, r.targetAddress);
    AppendU32(out, r.imageSizeField >= 0 ? static_cast<uint32_t>(r.imageSizeField) : r.imageLength);
    AppendU32(out, r.deviceType);
    out.insert(out.end(), 12, 0);
    for (uint32_t i = 0; i < r.imageLength; ++i)
      out.push_back(fill++);
  }
  return out;
}

// A folder of its own for each test, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    m_path =
        std::filesystem::temp_directory_path() / ("tarvix-" + std::to_string(::getpid()) + "-" +
                                                  info->test_suite_name() + "-" + info->name());
    std::filesystem::remove_all(m_path);
    std::filesystem::create_directories(m_path);
  }
  ~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
  }

  std::u16string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::filesystem::path file = m_path / name;
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return Utf8ToUtf16(file.string());
  }
  std::u16string PathOf(const std::string& name) const {
    return Utf8ToUtf16((m_path / name).string());
  }

  std::filesystem::path m_path;
};
