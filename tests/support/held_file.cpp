#include "tests/support/held_file.h"

#include <utility>

#ifdef _WIN32
#include <windows.h>

HeldFile::HeldFile(const std::filesystem::path& path) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  m_file = file == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(file);
}

void HeldFile::Release() {
  if (m_file != -1)
    ::CloseHandle(reinterpret_cast<HANDLE>(std::exchange(m_file, -1)));
}
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

HeldFile::HeldFile(const std::filesystem::path& path) : m_file(::open(path.c_str(), O_RDONLY)) {
  if (m_file != -1 && ::flock(static_cast<int>(m_file), LOCK_EX | LOCK_NB) != 0)
    Release();
}

void HeldFile::Release() {
  if (m_file != -1)
    ::close(static_cast<int>(std::exchange(m_file, -1)));
}
#endif
