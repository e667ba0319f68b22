// A file held as another program holds it, for a scope: on Linux a descriptor of its own with an
// exclusive flock, on Windows an open with share mode none. Our firmware file does not open while
// it is held.
#pragma once

#include <cstdint>
#include <filesystem>

class HeldFile {
 public:
  explicit HeldFile(const std::filesystem::path& path);
  ~HeldFile() { Release(); }
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;

  // True while the file is held.
  bool held() const { return m_file != -1; }
  void Release();

 private:
  intptr_t m_file = -1;  // a descriptor, or a HANDLE
};
