#include "tests/support/held_file.h"

#ifdef _WIN32
#include <windows.h>

HeldFile::HeldFile(const std::filesystem::path& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE)
    m_file = reinterpret_cast<intptr_t>(file);
}

void HeldFile::Release() {
  if (m_file != -1)
    ::CloseHandle(reinterpret_cast<HANDLE>(m_file));
  m_file = -1;
}

#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

HeldFile::HeldFile(const std::filesystem::path& path) {
  int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0)
    return;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return;
  }
  m_file = fd;
}

void HeldFile::Release() {
  if (m_file != -1)
    ::close(static_cast<int>(m_file));
  m_file = -1;
}
#endif
