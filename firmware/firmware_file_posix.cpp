// The firmware file on Linux: a descriptor with a shared flock.
#include "firmware/firmware_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/wide_string.h"

namespace {
int Fd(intptr_t file) {
  return static_cast<int>(file);
}
}  // namespace

CFirmwareFile::~CFirmwareFile() {
  Close();
}

namespace {

FileOpenResult OpenResultOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return FileOpenResult::kMissing;
    case EACCES:
    case EPERM:
      return FileOpenResult::kNoPermission;
    case EWOULDBLOCK:
      return FileOpenResult::kHeld;
    default:
      return FileOpenResult::kOther;
  }
}

}  // namespace

int CFirmwareFile::Open(const std::u16string& path) {
  Close();
  // Opened without blocking: a named pipe or a device node given a .dat name would otherwise hold
  // the update thread in open() until some other program acts. Only a regular file is kept, and
  // its reads block again as usual.
  int fd = ::open(PathToBytes(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    m_lastOpenResult = OpenResultOf(errno);
    return 0;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    m_lastOpenResult = FileOpenResult::kNotAFile;
  } else if (::flock(fd, LOCK_SH | LOCK_NB) != 0 ||
             ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    m_lastOpenResult = OpenResultOf(errno);
  } else {
    m_lastOpenResult = FileOpenResult::kOk;
    m_file = fd;
    return 1;
  }
  ::close(fd);
  return 0;
}

void CFirmwareFile::Close() {
  if (m_file == kNoFile)
    return;
  ::close(Fd(m_file));  // releases the lock too
  m_file = kNoFile;
}

int CFirmwareFile::GetLength(uint64_t* length) const {
  struct stat info {};
  if (m_file == kNoFile || ::fstat(Fd(m_file), &info) != 0)
    return 0;
  *length = static_cast<uint64_t>(info.st_size);
  return 1;
}

int CFirmwareFile::Seek(uint64_t offset) {
  if (m_file == kNoFile)
    return 0;
  return ::lseek(Fd(m_file), static_cast<off_t>(offset), SEEK_SET) == static_cast<off_t>(offset)
             ? 1
             : 0;
}

int CFirmwareFile::Read(void* buffer, uint32_t count, uint32_t* got) {
  *got = 0;
  if (m_file == kNoFile)
    return 0;
  auto* bytes = static_cast<uint8_t*>(buffer);
  // A plain file may hand over fewer bytes than asked; keep reading until count or the end.
  while (*got < count) {
    ssize_t n = ::read(Fd(m_file), bytes + *got, count - *got);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return 0;
    if (n == 0)
      break;
    *got += static_cast<uint32_t>(n);
  }
  return 1;
}
