// tarvix-flash list: every attached controller, its mode and version; a boot loader's device type
// and memory layout as its identification found them.
#include <sstream>

#include "boot/boot_packet.h"
#include "ui/cli/cli.h"
#include "ui/cli/controller_session.h"

namespace {

struct Listed {
  ControllerInterface itf;
  uint32_t version = VERSION_UNKNOWN;
  uint32_t deviceType = 0;
  BootLayout layout{};
  std::string openText;  // OpenResultText of itf.openResult
};

// "cannot be opened", with the reason when there is one to give; "busy: ..." for a controller
// another program is talking to.
std::string OpenProblem(HidOpenResult result, const std::string& reason) {
  if (result == HidOpenResult::kBusy || reason == "cannot be opened")
    return reason;
  return "cannot be opened: " + reason;
}

// A version word for JSON: the figure, "erased" for an erased version area, null when unknown.
std::string JsonVersion(uint32_t word) {
  if (word == VERSION_UNKNOWN)
    return "null";
  if (word == kErasedVersionWord)
    return JsonString("erased");
  return JsonString(VersionFigure(static_cast<uint16_t>(word), static_cast<uint16_t>(word >> 16)));
}

std::string Identity(const ControllerInterface& itf) {
  return Hex(itf.vendorId, 4).substr(2) + ":" + Hex(itf.productId, 4).substr(2);
}

void PrintText(const Cli& cli, const Listed& c) {
  cli.out << c.itf.path << "  " << Identity(c.itf) << "  "
          << (c.itf.bootMode ? "boot loader" : "running firmware") << "\n";
  if (!c.itf.portPath.empty())
    cli.out << "  port         " << c.itf.portPath << "\n";
  if (!c.itf.serial.empty())
    cli.out << "  serial       " << c.itf.serial << "\n";
  if (c.itf.openResult != HidOpenResult::kOk) {
    cli.out << "  " << OpenProblem(c.itf.openResult, c.openText) << "\n";
    return;
  }
  cli.out << "  version      " << VersionText(c.version) << "\n";
  if (c.itf.bootMode) {
    cli.out << "  device type  " << Hex(c.deviceType, 4) << "\n"
            << "  layout       image " << Hex(c.layout.base, 8) << ", version area "
            << Hex(c.layout.version, 8) << ", identity " << Hex(c.layout.identity, 8) << "\n";
  }
}

std::string Json(const Listed& c) {
  std::ostringstream json;
  json << "{\"path\": " << JsonString(c.itf.path)
       << ", \"identity\": " << JsonString(Identity(c.itf))
       << ", \"mode\": " << JsonString(c.itf.bootMode ? "boot" : "app")
       << ", \"port\": " << (c.itf.portPath.empty() ? "null" : JsonString(c.itf.portPath))
       << ", \"serial\": " << (c.itf.serial.empty() ? "null" : JsonString(c.itf.serial));
  if (c.itf.openResult != HidOpenResult::kOk) {
    json << ", \"error\": " << JsonString(c.openText) << "}";
    return json.str();
  }
  bool known = c.version != VERSION_UNKNOWN;
  json << ", \"version\": " << JsonVersion(c.version)
       << ", \"versionWord\": " << (known ? JsonString(Hex(c.version, 8)) : "null");
  if (c.itf.bootMode) {
    json << ", \"deviceType\": " << JsonString(Hex(c.deviceType, 4))
         << ", \"layout\": {\"image\": " << JsonString(Hex(c.layout.base, 8))
         << ", \"versionArea\": " << JsonString(Hex(c.layout.version, 8))
         << ", \"identity\": " << JsonString(Hex(c.layout.identity, 8)) << "}";
  }
  return json.str() + "}";
}

int RunList(const Cli& cli, const CommandLine& line) {
  std::vector<Listed> listed;
  int exitCode = kExitOk;
  int usable = 0;
  const std::vector<ControllerInterface> controllers = ListedControllers(cli);
  for (const ControllerInterface& itf : controllers) {
    Listed c{itf, VERSION_UNKNOWN, 0, {}, OpenResultText(itf.openResult, cli.platform)};
    if (itf.openResult == HidOpenResult::kOk) {
      TerminalOptions quiet;
      quiet.out = &cli.out;
      quiet.in = cli.env.in;
      quiet.outputMutex = &cli.outputMutex;
      quiet.seams = {cli.platform, cli.trace, cli.env.language};
      ControllerSession session(itf.path, quiet);
      if (session.Open()) {
        c.version = session.Version();
        c.deviceType = session.m_dlg.m_boot.m_deviceType;
        c.layout = {session.m_dlg.m_boot.m_nBootBaseAddress,
                    session.m_dlg.m_boot.m_nBootVersionAddress,
                    session.m_dlg.m_boot.m_nBootIdAddress};
      } else {
        c.itf.openResult = session.m_dlg.m_Hid.m_nLastOpenResult;  // gone since the listing
        c.openText = OpenResultText(c.itf.openResult, cli.platform);
      }
    }
    if (c.itf.openResult == HidOpenResult::kOk || c.itf.openResult == HidOpenResult::kBusy)
      ++usable;
    if (c.itf.openResult != HidOpenResult::kOk) {
      // Permission is something the user can mend: it decides the exit code. A controller that
      // fails to open for another reason is told, and counts as missing only when none listed.
      bool denied = c.itf.openResult == HidOpenResult::kAccessDenied;
      cli.Fail(kExitOk,
               itf.path + ": " + (denied ? c.openText : OpenProblem(c.itf.openResult, c.openText)));
      if (denied)
        exitCode = kExitNoAccess;
    }
    listed.push_back(c);
  }
  if (line.Has("--json")) {
    cli.out << "[";
    for (size_t i = 0; i < listed.size(); ++i)
      cli.out << (i ? ",\n " : "") << Json(listed[i]);
    cli.out << "]\n";
  } else {
    for (const Listed& c : listed)
      PrintText(cli, c);
  }
  if (listed.empty())
    return cli.Fail(kExitNoDevice, "no controller found");
  if (usable == 0 && exitCode == kExitOk)
    return kExitNoDevice;
  return exitCode;
}

}  // namespace

const Command kListCommand{
    "list",
    "every attached controller: path, identity, mode, version",
    "usage: tarvix-flash list [--json]\n"
    "Lists every attached controller: its path, identity (vendor:product), mode (boot loader or\n"
    "running firmware) and version; a boot loader's device type and memory layout too.\n"
    "  --json   one JSON array, an object per controller\n",
    {"--json"},
    {},
    RunList};
