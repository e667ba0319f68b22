// tarvix-flash: the command table, the command line, and the controllers it runs on (the real
// ones, or the virtual ones of the demo with --virtual).
#include "ui/cli/flash_main.h"

#include <memory>
#include <sstream>

#include "base/clock.h"
#include "base/trace.h"
#include "emulator/demo_sample.h"
#include "ui/cli/cli.h"
#include "ui/cli/terminal_window_system.h"

namespace {

const Command* const kCommands[] = {&kListCommand, &kInfoCommand, &kFlashCommand, &kVerifyCommand};

constexpr char kUsage[] =
    "usage: tarvix-flash [--virtual boot|app[,...]] COMMAND [ARGS] \n"
    "Lists, inspects, flashes and verifies Tarvix gamepads on USB.\n"
    "Commands:\n";
constexpr char kUsageEnd[] =
    "  --virtual MODES  run on virtual controllers instead of USB, one per mode, e.g. boot,app\n"
    "'tarvix-flash COMMAND --help' tells more. Exit codes: 0 done, 1 an update or verify failed,\n"
    "2 usage error or file refused, 3 no controller found, 4 no permission to open a controller.\n";

void PrintUsage(std::ostream& out) {
  out << kUsage;
  for (const Command* command : kCommands)
    out << "  " << command->name << std::string(9 - std::string(command->name).size(), ' ')
        << command->summary << "\n";
  out << kUsageEnd;
}

// Splits the arguments after the command by what the command takes. Answers "" or the error.
std::string ParseCommandLine(const Command& command, const std::vector<std::string>& args,
                             CommandLine* line) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0 || arg == "--") {
      line->words.push_back(arg);
    } else if (command.flags.count(arg) || arg == "--help") {
      line->flags.insert(arg);
    } else if (command.valueOptions.count(arg)) {
      if (i + 1 == args.size())
        return arg + " needs a value";
      line->values[arg] = args[++i];
    } else {
      return "unknown option " + arg;
    }
  }
  return "";
}

// Plugs one virtual controller per mode of "boot,app,...": /dev/hidraw-virtual0, 1, ...
bool PlugVirtualControllers(const std::string& modes, VirtualHidPlatform& platform,
                            uint32_t latencyMs) {
  std::istringstream list(modes);
  std::string mode;
  int index = 0;
  while (std::getline(list, mode, ',')) {
    if (mode != "boot" && mode != "app")
      return false;
    DemoController controller = MakeDemoController(mode == "app");
    const std::string number = std::to_string(index++);
    std::string path = "/dev/hidraw-virtual" + number;
    // As if each sat in a port of its own of a bus 9, with a serial number of its own.
    platform.SetLocation(path, "TVX-VIRTUAL-" + number, "9-" + std::to_string(index));
    platform.Faults(path).latencyMs = latencyMs;
    platform.Plug(path, controller.vendorId, controller.productId, controller.model);
  }
  return index > 0;
}

int Dispatch(Cli& cli, std::vector<std::string> args) {
  std::string virtualModes;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--virtual")
      continue;
    if (i + 1 == args.size())
      return cli.Fail(kExitRefused, "--virtual needs boot, app or a list of them");
    virtualModes = args[i + 1];
    args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    break;
  }
  if (args.empty())
    return PrintUsage(cli.err), kExitRefused;
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help")
    return PrintUsage(cli.out), kExitOk;
  const Command* command = nullptr;
  for (const Command* candidate : kCommands) {
    if (args[0] == candidate->name)
      command = candidate;
  }
  if (!command)
    return cli.Fail(kExitRefused, "unknown command '" + args[0] + "' (see tarvix-flash --help)");
  CommandLine line;
  std::string error = ParseCommandLine(*command, {args.begin() + 1, args.end()}, &line);
  if (line.Has("--help"))
    return cli.out << command->usage, kExitOk;
  if (!error.empty())
    return cli.Fail(kExitRefused, std::string(command->name) + ": " + error);

  std::unique_ptr<VirtualHidPlatform> virtualPlatform;
  if (!virtualModes.empty()) {
    virtualPlatform = std::make_unique<VirtualHidPlatform>(cli.env.clock);
    if (!PlugVirtualControllers(virtualModes, *virtualPlatform, cli.env.virtualLatencyMs))
      return cli.Fail(kExitRefused, "--virtual takes boot, app or a list of them: boot,app,boot");
  }
  cli.platform = virtualPlatform ? virtualPlatform.get() : cli.env.platform;
  return command->run(cli, line);
}

}  // namespace

int FlashMain(int argc, char** argv, const FlashEnv& env) {
  std::mutex outputMutex;
  Cli cli{env,         *env.out, *env.err,
          outputMutex, nullptr,  env.keepTraces ? TraceSink{} : QuietTraceSink()};
  g_bInterrupted = 0;
  return Dispatch(cli, std::vector<std::string>(argv + 1, argv + argc));
}
