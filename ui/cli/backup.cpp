#include "ui/cli/backup.h"

#include <cstdio>
#include <fstream>
#include <vector>

#include "firmware/firmware_record.h"
#include "update/update_run.h"

namespace {

// Writes bytes to path through a neighbour file renamed over it at the end: an interrupted or
// failed write leaves no cut-short backup behind.
bool WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
  const std::string part = path + ".part";
  {
    std::ofstream file(part, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
      std::remove(part.c_str());
      return false;
    }
  }
  if (std::rename(part.c_str(), path.c_str()) != 0) {
    std::remove(part.c_str());
    return false;
  }
  return true;
}

}  // namespace

int WriteBackup(CUpdateRun& dlg, const std::string& path) {
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
