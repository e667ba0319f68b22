// Small helpers shared by the fuzz targets: a check that ends the run with a message (libFuzzer
// then keeps the input that broke it), little-endian reads, and a folder of this process's own.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

// Aborts with the broken rule when cond is false. Checks stay on whatever NDEBUG says.
#define FUZZ_CHECK(cond, rule)                                                    \
  do {                                                                            \
    if (!(cond)) {                                                                \
      std::fprintf(stderr, "%s:%d: broken rule: %s\n", __FILE__, __LINE__, rule); \
      std::abort();                                                               \
    }                                                                             \
  } while (0)

inline uint16_t FuzzLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t FuzzLe32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A folder in the temporary folder, named after the process, removed when the process ends
// normally. A run that stops at a broken rule leaves it behind ("tarvix-fuzz-<pid>").
class FuzzFolder {
 public:
  FuzzFolder() {
    std::error_code error;
    m_path = std::filesystem::temp_directory_path(error);
    if (error)
      m_path = "/tmp";
    m_path /= "tarvix-fuzz-" + std::to_string(::getpid());
    std::filesystem::create_directories(m_path, error);
    FUZZ_CHECK(!error, "the fuzz target has a temporary folder");
  }
  ~FuzzFolder() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
  }
  FuzzFolder(const FuzzFolder&) = delete;
  FuzzFolder& operator=(const FuzzFolder&) = delete;

  std::string File(const std::string& name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};
