// Backups of a boot loader's image: what an update would erase, kept as a .dat record that flash
// takes, so that the controller can be put back as it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ui/cli/cli.h"

class CUpdateRun;
class StopState;

// Reads from the boot loader of the run dlg (its link open and held) the region its confirmed or
// loaded record's erase covers (m_targetAddress, m_imageSize), and writes it with the controller's
// version word and device type as a one-record .dat file at path (whole, or not at all).
// A stop asked (stops) during the read leaves no backup. Answers 1, or 0 with the cause kept in
// the run (SetFailureCause).
int WriteBackup(CUpdateRun& dlg, const std::string& path, const StopState& stops);

// Writes bytes to path whole or not at all, through a new file of its own beside it (never one that
// was there, nor through a planted link), synced with its folder before answering true.
bool WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes);

// Whether the two names are one file: the same name, or the same device and inode (a hard link, a
// symbolic link, "./x"). A name that names no file is another file.
bool IsSameFile(const std::string& a, const std::string& b);
