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
  std::string openText;  // OpenText of itf.openResult
};

// "cannot be opened", with the reason when there is one to give; "busy: ..." for a controller
// another program is talking to.
std::string OpenProblem(HidOpenResult result, const std::string& reason, uint16_t language) {
  if (result == HidOpenResult::kBusy || reason == SayText(Say::kOpenFailed, language))
    return reason;
  return SayText(Say::kOpenFailedBecause, language, {reason});
}

std::string Identity(const ControllerInterface& itf) {
  return Hex(itf.vendorId, 4).substr(2) + ":" + Hex(itf.productId, 4).substr(2);
}

// The stable word of a controller that could not be opened.
const char* ProblemWord(HidOpenResult result) {
  switch (result) {
    case HidOpenResult::kAccessDenied:
      return "no-permission";
    case HidOpenResult::kBusy:
      return "busy";
    case HidOpenResult::kOk:
    case HidOpenResult::kFailed:
      break;
  }
  return "cannot-open";
}

// "  version      1.37 (0x00000089)": the labels in a column of their own.
std::string Field(const Cli& cli, Say label, const std::string& value) {
  const std::string text = cli.Text(label);
  const size_t width = DisplayWidth(text);
  return "  " + text + std::string(width < 13 ? 13 - width : 1, ' ') + value + "\n";
}

void PrintText(const Cli& cli, const Listed& c) {
  cli.out << c.itf.path << "  " << Identity(c.itf) << "  "
          << cli.Text(c.itf.bootMode ? Say::kBootLoader : Say::kRunningFirmware) << "\n";
  if (!c.itf.portPath.empty())
    cli.out << Field(cli, Say::kListPort, c.itf.portPath);
  if (!c.itf.serial.empty())
    cli.out << Field(cli, Say::kListSerial, c.itf.serial);
  if (c.itf.openResult != HidOpenResult::kOk) {
    cli.out << "  " << OpenProblem(c.itf.openResult, c.openText, cli.language) << "\n";
    return;
  }
  cli.out << Field(cli, Say::kListVersion, VersionText(c.version, cli.language));
  if (c.itf.bootMode) {
    cli.out << Field(cli, Say::kListDeviceType, Hex(c.deviceType, 4))
            << Field(cli, Say::kListLayoutLabel,
                     cli.Text(Say::kListLayout, {Hex(c.layout.base, 8), Hex(c.layout.version, 8),
                                                 Hex(c.layout.identity, 8)}));
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
    json << ", \"problem\": " << JsonString(ProblemWord(c.itf.openResult))
         << ", \"error\": " << JsonString(c.openText) << "}";
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
    Listed c{itf, VERSION_UNKNOWN, 0, {}, OpenText(itf.openResult, cli.platform, cli.language)};
    if (itf.openResult == HidOpenResult::kOk) {
      TerminalOptions quiet;
      quiet.out = &cli.out;
      quiet.in = cli.env.in;
      quiet.outputMutex = &cli.outputMutex;
      quiet.seams = {cli.platform, cli.trace, cli.language};
      ControllerSession session(itf.path, quiet);
      if (session.Open()) {
        c.version = session.Version();
        c.deviceType = session.Run().m_boot.m_deviceType;
        c.layout = {session.Run().m_boot.m_nBootBaseAddress,
                    session.Run().m_boot.m_nBootVersionAddress,
                    session.Run().m_boot.m_nBootIdAddress};
      } else {
        c.itf.openResult = session.Run().m_Hid.m_nLastOpenResult;  // gone since the listing
        c.openText = OpenText(c.itf.openResult, cli.platform, cli.language);
      }
    }
    if (c.itf.openResult == HidOpenResult::kOk || c.itf.openResult == HidOpenResult::kBusy)
      ++usable;
    if (c.itf.openResult != HidOpenResult::kOk) {
      // Permission is something the user can mend: it decides the exit code. A controller that
      // fails to open for another reason is told, and counts as missing only when none listed.
      bool denied = c.itf.openResult == HidOpenResult::kAccessDenied;
      cli.Fail(kExitOk,
               itf.path + ": " +
                   (denied ? c.openText : OpenProblem(c.itf.openResult, c.openText, cli.language)));
      if (denied)
        exitCode = kExitNoAccess;
    }
    listed.push_back(c);
  }
  if (line.Has("--json")) {
    cli.out << "{\"schema\": 1, \"controllers\": [";
    for (size_t i = 0; i < listed.size(); ++i)
      cli.out << (i ? ",\n  " : "\n  ") << Json(listed[i]);
    cli.out << "]}\n";
  } else {
    for (const Listed& c : listed)
      PrintText(cli, c);
  }
  if (listed.empty())
    return cli.Fail(kExitNoDevice, cli.Text(Say::kNoController));
  if (usable == 0 && exitCode == kExitOk)
    return kExitNoDevice;
  return exitCode;
}

}  // namespace

const Command kListCommand{
    "list", "", "every attached controller: path, identity, mode, version",
    "Lists every attached controller: its path, identity (vendor:product), mode (boot loader or\n"
    "running firmware) and version; a boot loader's device type and memory layout too. --json:\n"
    "one JSON object, {\"schema\": 1, \"controllers\": [...]}.\n",
    RunList};
