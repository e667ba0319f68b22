// What tarvix-flash's commands share: the parsed command line, the streams, the exit codes and the
// formatting of versions, words and JSON strings.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "device/hid.h"
#include "ui/cli/flash_main.h"
#include "update/update_dlg.h"

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;    // an update or a read-back failed
constexpr int kExitRefused = 2;   // usage error, or the firmware file was refused
constexpr int kExitNoDevice = 3;  // no controller found
constexpr int kExitNoAccess = 4;  // a controller may not be opened (the udev rule is missing)

// The exit code of several results: a failure outweighs a refused file, which outweighs a
// controller that may not be opened or is missing.
int WorseExit(int a, int b);

// A command's words and options after the command name.
struct CommandLine {
  std::vector<std::string> words;             // the operands (FILE.dat)
  std::set<std::string> flags;                // --json, --yes, ...
  std::map<std::string, std::string> values;  // --device PATH
  bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
};

struct Cli {
  const FlashEnv& env;
  std::ostream& out;
  std::ostream& err;
  // Held while a line goes out: controllers updated at once write to the same streams.
  std::mutex& outputMutex;
  // The controllers this run talks to (env.platform, or the --virtual ones) and where the core's
  // trace goes.
  IHidPlatform* platform = nullptr;
  TraceSink trace;
  // One line on stderr ("tarvix-flash: what: why"); answers code.
  int Fail(int code, const std::string& line) const;
};

// A command: its name, its one-line summary, its usage (the --help text), what it takes, its run.
struct Command {
  const char* name;
  const char* summary;
  const char* usage;
  std::set<std::string> flags;
  std::set<std::string> valueOptions;
  int (*run)(const Cli& cli, const CommandLine& line);
};
extern const Command kListCommand;
extern const Command kInfoCommand;
extern const Command kFlashCommand;
extern const Command kVerifyCommand;

// "1.37", "1.37 beta3"; for a word: "unknown", "erased", and the word itself: "1.37 (0x00000089)".
std::string VersionFigure(uint16_t version, uint16_t beta);
std::string VersionText(uint32_t word);
std::string Hex(uint32_t value, int digits);  // "0x08003400"
std::string JsonString(const std::string& text);
// A text of the dialog's (line breaks, "\r\n", blanks around) as one line.
std::string OneLine(const std::u16string& text);
// A file operand as the path to open: its bytes as they are, whatever their encoding.
std::u16string FileArgument(const std::string& arg);

// The controllers a command works on: --device PATH, every controller with --all, else the only
// one attached. Answers kExitOk, or the exit code after telling why there are none: an empty
// --device, or several controllers and none named, is a usage error that lists them.
int ChooseControllers(const Cli& cli, const CommandLine& line, std::vector<std::string>* paths);
// Every controller of the run's platform (none without one).
std::vector<ControllerInterface> ListedControllers(const Cli& cli);
// The path of the controller a --device value names: its path, else the one controller with that
// serial number, else the one at that port path; anything else is taken as a path.
std::string SelectedPath(const std::vector<ControllerInterface>& controllers,
                         const std::string& selector);
// Why an update failed, for its result line: the dialog's message (in the user's language) and
// the cause the update kept, e.g. "Firmware update failure (no answer to the erase at 0x08003400)".
std::string FailureText(const CUpdateDlg& dlg, const std::string& message);
// After a session's Open failed: tells why and answers the exit code.
int OpenFailure(const Cli& cli, const std::string& path, HidOpenResult result,
                const std::string& cause);
// The terminal answers and draws as the environment and the command line say.
struct TerminalOptions;
// Several controllers at once (--all) share the terminal: no bar redrawn in place, a line for each
// ten per cent.
TerminalOptions TerminalFor(const Cli& cli, const CommandLine& line, bool shared = false);
