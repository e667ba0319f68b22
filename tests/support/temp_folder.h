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
    WriteAt(file, bytes);
    return file.u16string();
  }
  // The path in UTF-16 whatever the system's own form (UTF-8 on Linux, UTF-16 on Windows).
  std::u16string PathOf(const std::string& name) const { return (m_path / name).u16string(); }
  static void WriteAt(const std::filesystem::path& file, const std::vector<uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }

  std::filesystem::path m_path;
};
