#include "ui/cli/backup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "firmware/firmware_record.h"
#include "ui/cli/stop_state.h"
#include "update/update_run.h"

namespace {

// Writes all of bytes to fd, through short writes and signals.
bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n <= 0)
      return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

// Writes bytes to path through a new neighbour file in the same folder, renamed over it at the
// end: an interrupted or failed write leaves no cut-short backup behind. The neighbour is always a
// file of its own (never one that was there, nor the target of a link planted at its name), and
// it and the folder are on the disk before this answers true: a power cut after it leaves the
// whole backup.
bool WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
  const size_t slash = path.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  std::string part;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    part = path + ".part" + (attempt ? std::to_string(attempt) : "") + "-" +
           std::to_string(::getpid());
    fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST)
      return false;
  }
  if (fd < 0)
    return false;
  const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || std::rename(part.c_str(), path.c_str()) != 0) {
    ::unlink(part.c_str());
    return false;
  }
  const int folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0)
    return false;
  const bool synced = ::fsync(folderFd) == 0;
  ::close(folderFd);
  return synced;
}

bool IsSameFile(const std::string& a, const std::string& b) {
  if (a == b)
    return true;
  struct stat first {};
  struct stat second {};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

int WriteBackup(CUpdateRun& dlg, const std::string& path, const StopState& stops) {
  const uint32_t word = dlg.m_curDevVersion.load();
  if (word == VERSION_UNKNOWN) {
    dlg.SetFailureCause("no backup: the controller did not give its version word");
    return 0;
  }
  std::vector<uint8_t> image;
  uint32_t unreadAt = 0;
  if (!dlg.m_boot.BootReadRegion(dlg.m_targetAddress, dlg.m_imageSize, &image, &unreadAt)) {
    dlg.SetFailureCause("no backup: no answer to the read at " + HexAddress(unreadAt));
    return 0;
  }
  // A stop asked during the read leaves no backup: the command ends on it.
  if (stops.Signal()) {
    dlg.SetFailureCause("no backup: stopped during the read");
    return 0;
  }
  FirmwareRecordHeader header;
  header.version = static_cast<uint16_t>(word);
  header.beta = static_cast<uint16_t>(word >> 16);
  header.targetAddress = dlg.m_targetAddress;
  header.deviceType = dlg.m_boot.m_deviceType;
  if (!WriteWhole(path, EncodeFirmwareRecord(header, image))) {
    dlg.SetFailureCause("no backup: " + path + " cannot be written");
    return 0;
  }
  return 1;
}
