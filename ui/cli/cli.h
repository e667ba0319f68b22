// What tarvix-flash's commands share: the parsed command line, the streams, the exit codes and the
// formatting of versions, words and JSON strings.
#pragma once

#include <cstdint>
#include <fstream>
#include <map>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "device/hid.h"
#include "ui/cli/cli_text.h"
#include "ui/cli/flash_main.h"
#include "ui/cli/stop_state.h"
#include "update/update_run.h"

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;        // an update or a read-back failed
constexpr int kExitRefused = 2;       // usage error, or the firmware file was refused
constexpr int kExitNoDevice = 3;      // no controller found
constexpr int kExitNoAccess = 4;      // a controller may not be opened (the udev rule is missing)
constexpr int kExitNothingDone = 5;   // declined, or the version guard kept the controller as it is
constexpr int kExitSignalBase = 128;  // + the signal's number: an orderly stop on that signal

// The exit code of several results: a failure outweighs a refused file, which outweighs a
// controller that may not be opened or is missing, which outweighs one left as it was.
int WorseExit(int a, int b);

// A command's words and options after the command name.
struct CommandLine {
  std::vector<std::string> words;             // the operands (FILE.dat)
  std::set<std::string> flags;                // --json, --yes, ...
  std::map<std::string, std::string> values;  // --device ID
  std::map<std::string, int> repeats;         // how often each flag was given: -vv is 2
  bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
};

// --log FILE: every line the tool writes, the progress and the protocol trace, appended with the
// time each was written.
class LogFile {
 public:
  bool Open(const std::string& path);
  void Line(const std::string& line);

 private:
  std::mutex m_mutex;
  std::ofstream m_file;
};

class ProgressBoard;

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
  uint16_t language = 0;       // of the tool's own lines and the dialog's texts
  bool quiet = false;          // -q: result lines only
  bool json = false;           // --json: events, one JSON object a line
  LogFile* log = nullptr;      // --log FILE
  StopState* stops = nullptr;  // the signal that asks to stop, owned by FlashMain
  // Controllers updated at once on a terminal: their one progress line, cleared before each line.
  ProgressBoard* board = nullptr;
  // One line on stderr ("tarvix-flash: what: why"); answers code.
  int Fail(int code, const std::string& line) const;
  // One line on stdout.
  void Print(const std::string& line) const;
  // A line of the tool's own, in the user's language.
  std::string Text(Say line, std::initializer_list<std::string> values = {}) const {
    return SayText(line, language, values);
  }
};

// A command: its name, what follows it in its usage, its one-line summary, what it does (the
// --help text), and its run. The options it takes are in the option table (ui/cli/options.cpp).
struct Command {
  const char* name;
  const char* operands;
  const char* summary;
  const char* description;
  int (*run)(const Cli& cli, const CommandLine& line);
};
extern const Command kListCommand;
extern const Command kInfoCommand;
extern const Command kFlashCommand;
extern const Command kVerifyCommand;
extern const Command kCompletionCommand;
extern const Command kBackupCommand;
extern const Command kWatchCommand;
// Every command, in the order of the help (ui/cli/flash_main.cpp).
const std::vector<const Command*>& Commands();

// For a word: "unknown", "erased", or the version and the word itself: "1.37 (0x00000089)".
std::string VersionText(uint32_t word, uint16_t language = 0);
// A version word for JSON: the figure, "erased" for an erased version area, null when unknown.
std::string JsonVersion(uint32_t word);
std::string JsonWord(uint32_t word);          // "0x00000089", or null when unknown
std::string Hex(uint32_t value, int digits);  // "0x08003400"
std::string JsonString(const std::string& text);
// One JSON line of an event: {"schema":1,"event":"progress",...}. Values go in as JSON.
class JsonEvent {
 public:
  explicit JsonEvent(const char* event);
  JsonEvent& Add(const char* key, const std::string& json);
  JsonEvent& Add(const char* key, int number) { return Add(key, std::to_string(number)); }
  std::string Line() const { return m_text + "}"; }

 private:
  std::string m_text;
};
// A text of the dialog's (line breaks, "\r\n", blanks around) as one line.
std::string OneLine(const std::u16string& text);
// A file operand as the path to open: its bytes as they are, whatever their encoding.
std::u16string FileArgument(const std::string& arg);

// The controllers a command works on: --device ID, every controller with --all, else the only
// one attached. Answers kExitOk, or the exit code after telling why there are none: an empty
// --device, or several controllers and none named, is a usage error that lists them.
int ChooseControllers(const Cli& cli, const CommandLine& line, std::vector<std::string>* paths);
// Every controller of the run's platform (none without one).
std::vector<ControllerInterface> ListedControllers(const Cli& cli);
// The path of the controller a --device value names: its path, else the one controller with that
// serial number, else the one at that port path; anything else is taken as a path.
std::string SelectedPath(const std::vector<ControllerInterface>& controllers,
                         const std::string& selector);
// Why an update failed, for its result line: the update's last message (in the user's language)
// and the cause it kept, e.g. "Firmware update failure (no answer to the erase at 0x08003400)".
std::string FailureText(const Cli& cli, const std::string& failureCause,
                        const std::string& message);

// How one controller ended: its exit code, its outcome and cause as stable words for JSON, and
// its line (on stdout when it was done, else on stderr).
struct Result {
  int exitCode = kExitOk;
  const char* outcome = "done";  // done, failed, refused, stopped, nothing-done
  const char* cause = nullptr;   // null when done; the man page lists them
  std::string line;
  uint32_t version = 0;  // done: the version word written
  // Once an update was confirmed: the image bytes it wrote and how long it ran from the
  // confirmation to its end; its line ends with them, and its result event has them.
  bool measured = false;
  uint64_t bytes = 0;
  uint64_t elapsedMs = 0;
};
// " (12288 bytes in 3.2 s, 3.8 KiB/s)" of a measured result, "" of any other.
std::string TransferFigures(const Cli& cli, const Result& result);
// The JSON word of a cause ("image-touched", "older", ...); null for kNone and kRecordRefused,
// whose word is the refusal's (RefusalCause).
const char* CauseWord(UpdateCause cause);
// How an update of run ended (result), as tarvix-flash says it: the one mapping of the run's
// result to the exit code, the JSON words and the line. message: the run's last message;
// verified: the read-back was asked for.
Result ResultOf(const Cli& cli, const UpdateResult& result, const CUpdateRun& run,
                const std::string& message, bool verified);
// A command that ends before any controller is talked to (no file, no confirmation, no or several
// controllers): its line on stderr and, with --json, a result event with a null device too, so
// that a script always gets one. Answers code.
int FailBeforeAny(const Cli& cli, int code, const char* outcome, const char* cause,
                  const std::string& line);
// Says how a controller ended: its line, or its result event with --json. Answers the exit code.
int Report(const Cli& cli, const std::string& path, const Result& result);
// The stable word of a refused record: "empty-image", "below-floor"...
const char* RefusalCause(RecordRefusal refusal);
// The stable word of a read-back that found the image otherwise than written.
const char* ImageCheckCause(const CUpdateRun::ImageCheck& check);
// The core's own cause texts in the language: the core's English word for word, else the Chinese.
std::string RefusalText(RecordRefusal refusal, uint16_t language);
std::string FileOpenText(FileOpenResult result, uint16_t language);
std::string OpenText(HidOpenResult result, const IHidPlatform* platform, uint16_t language);
std::string CheckText(const CUpdateRun::ImageCheck& check, uint16_t language);
// After a session's Open failed: why (no permission, busy, not found).
Result OpenFailure(const Cli& cli, HidOpenResult result, const std::string& cause);
// The terminal answers and draws as the environment and the command line say.
struct TerminalOptions;
// Several controllers at once (--all) share the terminal: no bar redrawn in place, a line for each
// ten per cent.
TerminalOptions TerminalFor(const Cli& cli, const CommandLine& line, bool shared = false);
