#include "ui/cli/rehearsal.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <optional>

#include "ui/cli/backup.h"

namespace {

// A boot loader's saved flash stays far below this; a larger file is none of ours.
constexpr std::streamoff kMaxStateBytes = 80ll << 20;

std::string StateFile(const std::string& folder, const PluggedVirtual& plugged) {
  return folder + "/" + plugged.name + ".state";
}

// The whole file; an empty optional when it cannot be read or is too large to be a state.
std::optional<std::vector<uint8_t>> ReadState(const std::string& file) {
  std::ifstream in(file, std::ios::binary | std::ios::ate);
  if (!in)
    return std::nullopt;
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxStateBytes)
    return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size))
    return std::nullopt;
  return bytes;
}

}  // namespace

std::string LoadRehearsal(const std::string& folder, const std::vector<PluggedVirtual>& plugged) {
  if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
    return folder;
  for (const PluggedVirtual& p : plugged) {
    const std::string file = StateFile(folder, p);
    if (access(file.c_str(), F_OK) != 0 && errno == ENOENT)
      continue;  // a controller new to the bench
    const std::optional<std::vector<uint8_t>> state = ReadState(file);
    if (!state || !RestoreDemoState(p.controller, *state))
      return file;
  }
  return "";
}

std::string SaveRehearsal(const std::string& folder, const std::vector<PluggedVirtual>& plugged) {
  for (const PluggedVirtual& p : plugged) {
    const std::string file = StateFile(folder, p);
    if (!WriteWhole(file, DemoState(p.controller)))
      return file;
  }
  return "";
}
