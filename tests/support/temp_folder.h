// A folder of its own for each test, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/wide_string.h"

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
