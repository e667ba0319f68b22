// tarvix-flash: the command table, the command line, and the controllers it runs on (the real
// ones, or the virtual ones of the demo with --virtual).
#include "ui/cli/flash_main.h"

#include <memory>
#include <sstream>

#include "base/clock.h"
#include "base/local_text.h"
#include "base/trace.h"
#include "emulator/demo_sample.h"
#include "ui/cli/cli.h"
#include "ui/cli/options.h"
#include "ui/cli/rehearsal.h"
#include "ui/cli/report_trace.h"
#include "ui/cli/terminal_view.h"

#ifndef TARVIX_VERSION
#define TARVIX_VERSION "unknown"
#endif

namespace {

// Every command; adding one is one row here (and its Command, in a file of its own).
const std::vector<const Command*> kCommands = {&kListCommand,      &kInfoCommand,  &kFlashCommand,
                                               &kVerifyCommand,    &kWatchCommand, &kBackupCommand,
                                               &kCompletionCommand};

// A help text of the command table in the language (its English where the table has no Chinese).
const char* Help(const char* english, uint16_t language) {
  const char* text = HelpText(english, language);
  return text ? text : english;
}

void PrintUsage(std::ostream& out, uint16_t language) {
  out << SayText(Say::kUsage, language, {"tarvix-flash [OPTIONS] COMMAND [ARGS]"}) << "\n"
      << SayText(Say::kUsageSummary, language) << "\n"
      << SayText(Say::kCommandsHeading, language) << "\n";
  for (const Command* command : kCommands)
    out << "  " << command->name << std::string(12 - std::string(command->name).size(), ' ')
        << Help(command->summary, language) << "\n";
  out << "  help        " << SayText(Say::kHelpSummary, language) << "\n";
  PrintOptionHelp(out, "", language);
  out << SayText(Say::kTellsMore, language) << "\n" << SayText(Say::kExitCodes, language) << "\n";
}

void PrintCommandHelp(std::ostream& out, const Command& command, uint16_t language) {
  const std::string usage = std::string("tarvix-flash ") + command.name +
                            (*command.operands ? " " : "") + command.operands + " [OPTIONS]";
  out << SayText(Say::kUsage, language, {usage}) << "\n" << Help(command.description, language);
  PrintOptionHelp(out, command.name, language);
  out << SayText(Say::kExitCodes, language) << "\n";
}

const Command* FindCommand(const std::string& name) {
  for (const Command* command : kCommands) {
    if (name == command->name)
      return command;
  }
  return nullptr;
}

// The option given that the command does not take, or "".
std::string OptionNotTaken(const Command& command, const CommandLine& line) {
  std::vector<std::string> given(line.flags.begin(), line.flags.end());
  for (const auto& [name, value] : line.values)
    given.push_back(name);
  for (const std::string& name : given) {
    const Option* option = FindOption(name.substr(2));
    if (option && !TakesOption(*option, command.name))
      return name;
  }
  return "";
}

// Plugs one virtual controller per mode of "boot,app,...": /dev/hidraw-virtual0, 1, ... Answers
// them, or none for a list with another word.
std::vector<PluggedVirtual> PlugVirtualControllers(const std::string& modes,
                                                   VirtualHidPlatform& platform,
                                                   uint32_t latencyMs) {
  std::istringstream list(modes);
  std::string mode;
  std::vector<PluggedVirtual> plugged;
  while (std::getline(list, mode, ',')) {
    if (mode != "boot" && mode != "app")
      return {};
    DemoController controller = MakeDemoController(mode == "app");
    const std::string number = std::to_string(plugged.size());
    std::string path = "/dev/hidraw-virtual" + number;
    // As if each sat in a port of its own of a bus 9, with a serial number of its own.
    platform.SetLocation(path, "TVX-VIRTUAL-" + number, "9-" + std::to_string(plugged.size() + 1));
    platform.Faults(path).latencyMs = latencyMs;
    platform.Plug(path, controller.vendorId, controller.productId, controller.model);
    plugged.push_back({"virtual" + number + "-" + mode, controller});
  }
  return plugged;
}

// Where the core's trace goes: stderr with -v (or TARVIX_TRACE), and the log. The sink may outlive
// this run in a worker left behind: it holds what it writes to.
TraceSink TraceFor(std::ostream* err, bool verbose, const std::shared_ptr<LogFile>& log) {
  if (!verbose && !log)
    return QuietTraceSink();
  // The lines of controllers updated at once go to stderr one whole line at a time.
  auto writing = std::make_shared<std::mutex>();
  return [err = verbose ? err : nullptr, log, writing](const std::string& line) {
    if (err) {
      std::lock_guard lock(*writing);
      *err << line << std::flush;
    }
    if (log)
      log->Line(line);
  };
}

// The command line's command, after the help, the version and the options it does not take.
// Answers -1 to run it, else the exit code.
int Prepare(Cli& cli, CommandLine& line, const Command** command) {
  if (line.Has("--version"))
    return cli.out << "tarvix-flash (Tarvix Update) " << TARVIX_VERSION << "\n", kExitOk;
  if (line.words.empty()) {
    PrintUsage(line.Has("--help") ? cli.out : cli.err, cli.language);
    return line.Has("--help") ? kExitOk : kExitRefused;
  }
  const bool helpOf = line.words[0] == "help";
  if (helpOf && line.words.size() == 1)
    return PrintUsage(cli.out, cli.language), kExitOk;
  const std::string& name = line.words[helpOf ? 1 : 0];
  *command = FindCommand(name);
  if (!*command)
    return cli.Fail(kExitRefused, cli.Text(Say::kUnknownCommand, {name}));
  if (helpOf || line.Has("--help"))
    return PrintCommandHelp(cli.out, **command, cli.language), kExitOk;
  const std::string notTaken = OptionNotTaken(**command, line);
  if (!notTaken.empty())
    return cli.Fail(kExitRefused, cli.Text(Say::kNotAnOptionOf, {notTaken, name}));
  line.words.erase(line.words.begin());
  return -1;
}

int Dispatch(Cli& cli, const std::vector<std::string>& args) {
  CommandLine line;
  const std::string error = ParseArguments(args, cli.language, &line);
  if (!error.empty())
    return cli.Fail(kExitRefused, error);
  const Command* command = nullptr;
  if (int exitCode = Prepare(cli, line, &command); exitCode >= 0)
    return exitCode;

  std::shared_ptr<LogFile> log;
  if (auto file = line.values.find("--log"); file != line.values.end()) {
    log = std::make_shared<LogFile>();
    if (!log->Open(file->second))
      return cli.Fail(kExitRefused, cli.Text(Say::kLogNotWritten, {file->second}));
    cli.log = log.get();
  }
  cli.quiet = line.Has("--quiet");
  cli.json = line.Has("--json");
  cli.trace = TraceFor(&cli.err, cli.env.keepTraces || line.Has("--verbose"), log);

  std::unique_ptr<VirtualHidPlatform> virtualPlatform;
  std::vector<PluggedVirtual> plugged;
  const auto rehearsal = line.values.find("--virtual-state");
  if (auto modes = line.values.find("--virtual"); modes != line.values.end()) {
    virtualPlatform = std::make_unique<VirtualHidPlatform>(cli.env.clock);
    plugged = PlugVirtualControllers(modes->second, *virtualPlatform, cli.env.virtualLatencyMs);
    if (plugged.empty())
      return cli.Fail(kExitRefused, cli.Text(Say::kVirtualModes));
  } else if (rehearsal != line.values.end()) {
    return cli.Fail(kExitRefused, cli.Text(Say::kVirtualStateNeedsVirtual));
  }
  if (rehearsal != line.values.end()) {
    if (std::string file = LoadRehearsal(rehearsal->second, plugged); !file.empty())
      return cli.Fail(kExitRefused, cli.Text(Say::kVirtualStateUnreadable, {file}));
  }
  cli.platform = virtualPlatform ? virtualPlatform.get() : cli.env.platform;
  // -vv: every report on the trace, decoded, around whichever platform the command talks through.
  std::unique_ptr<ReportTracePlatform> reportTrace;
  if (cli.platform && line.repeats["--verbose"] >= 2) {
    reportTrace = std::make_unique<ReportTracePlatform>(*cli.platform, cli.trace);
    cli.platform = reportTrace.get();
  }
  int exitCode = command->run(cli, line);
  if (rehearsal != line.values.end()) {
    if (std::string file = SaveRehearsal(rehearsal->second, plugged); !file.empty())
      exitCode = cli.Fail(kExitFailed, cli.Text(Say::kVirtualStateNotSaved, {file}));
  }
  // Whatever did not end as asked was stopped by the signal: the exit code says which one.
  if (exitCode != kExitOk && cli.stops->Signal() > 0)
    exitCode = kExitSignalBase + cli.stops->Signal();
  return exitCode;
}

}  // namespace

const std::vector<const Command*>& Commands() {
  return kCommands;
}

int FlashMain(int argc, char** argv, const FlashEnv& env) {
  std::mutex outputMutex;
  Cli cli{env, *env.out, *env.err, outputMutex, nullptr, QuietTraceSink()};
  cli.language = env.language.value_or(UiLanguage());
  StopState stops(env.leftBehind);
  cli.stops = &stops;
  return Dispatch(cli, std::vector<std::string>(argv + 1, argv + argc));
}
