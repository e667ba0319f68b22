#include "ui/cli/cli.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "base/wide_string.h"
#include "ui/cli/terminal_view.h"
#include "update/update_run.h"

int WorseExit(int a, int b) {
  // Ranked from the least to the most telling; a stop on a signal outweighs everything.
  constexpr int kRank[] = {0, 5, 4, 2, 3, 1};  // by exit code 0..5
  auto rank = [&](int code) { return code >= 0 && code <= 5 ? kRank[code] : 6; };
  return rank(a) >= rank(b) ? a : b;
}

bool LogFile::Open(const std::string& path) {
  m_file.open(path, std::ios::app);
  return m_file.is_open();
}

void LogFile::Line(const std::string& line) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char stamp[40];
  const size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &local);
  std::snprintf(stamp + length, sizeof stamp - length, ".%03d", static_cast<int>(millis));
  std::lock_guard lock(m_mutex);
  m_file << stamp << " " << line << (line.empty() || line.back() != '\n' ? "\n" : "") << std::flush;
}

int Cli::Fail(int code, const std::string& line) const {
  if (log)
    log->Line("tarvix-flash: " + line);
  std::lock_guard lock(outputMutex);
  err << "tarvix-flash: " << line << "\n" << std::flush;
  return code;
}

void Cli::Print(const std::string& line) const {
  if (log)
    log->Line(line);
  std::lock_guard lock(outputMutex);
  out << line << "\n" << std::flush;
}

std::string VersionFigure(uint16_t version, uint16_t beta) {
  std::string figure = FormatHundredths(version);
  return beta ? figure + " beta" + std::to_string(beta) : figure;
}

std::string VersionText(uint32_t word, uint16_t language) {
  if (word == VERSION_UNKNOWN)
    return SayText(Say::kUnknownVersion, language);
  std::string figure =
      word == kErasedVersionWord
          ? SayText(Say::kErasedVersion, language)
          : VersionFigure(static_cast<uint16_t>(word), static_cast<uint16_t>(word >> 16));
  return figure + " (" + Hex(word, 8) + ")";
}

std::string JsonVersion(uint32_t word) {
  if (word == VERSION_UNKNOWN)
    return "null";
  if (word == kErasedVersionWord)
    return JsonString("erased");
  return JsonString(VersionFigure(static_cast<uint16_t>(word), static_cast<uint16_t>(word >> 16)));
}

std::string JsonWord(uint32_t word) {
  return word == VERSION_UNKNOWN ? "null" : JsonString(Hex(word, 8));
}

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      quoted += escaped;
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + "\"";
}

JsonEvent::JsonEvent(const char* event)
    : m_text(std::string("{\"schema\":1,\"event\":") + JsonString(event)) {}

JsonEvent& JsonEvent::Add(const char* key, const std::string& json) {
  m_text += "," + JsonString(key) + ":" + json;
  return *this;
}

std::u16string FileArgument(const std::string& arg) {
  return PathFromBytes(arg);
}

std::string OneLine(const std::u16string& text) {
  std::string line;
  for (char c : Utf16ToUtf8(text))
    line += (c == '\r' || c == '\n') ? ' ' : c;
  size_t first = line.find_first_not_of(' ');
  size_t last = line.find_last_not_of(' ');
  return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
}

std::vector<ControllerInterface> ListedControllers(const Cli& cli) {
  return cli.platform ? ListControllers(*cli.platform) : std::vector<ControllerInterface>{};
}

std::string SelectedPath(const std::vector<ControllerInterface>& controllers,
                         const std::string& selector) {
  // A path names itself; then a serial number, then a port path, each of one controller only.
  for (const ControllerInterface& c : controllers)
    if (c.path == selector)
      return c.path;
  for (auto field : {&ControllerInterface::serial, &ControllerInterface::portPath}) {
    const ControllerInterface* match = nullptr;
    int matches = 0;
    for (const ControllerInterface& c : controllers) {
      if (!(c.*field).empty() && c.*field == selector) {
        match = &c;
        ++matches;
      }
    }
    if (matches == 1)
      return match->path;
  }
  return selector;  // tried as a path: the open says what is there
}

namespace {

// How often --wait looks for the controller again.
constexpr uint32_t kWaitPollMs = 250;

// Whether the controllers a command asks for are there: the one --device names, else any.
bool Attached(const Cli& cli, const CommandLine& line) {
  const std::vector<ControllerInterface> controllers = ListedControllers(cli);
  auto device = line.values.find("--device");
  if (device == line.values.end())
    return !controllers.empty();
  const std::string path = SelectedPath(controllers, device->second);
  for (const ControllerInterface& c : controllers)
    if (c.path == path)
      return true;
  return false;
}

// --wait[=SECONDS]: until the controllers asked for are attached, SECONDS have passed (by the
// platform's clock) or a signal came. Answers kExitOk to go on, or the exit code to end with.
int WaitForControllers(const Cli& cli, const CommandLine& line) {
  auto wait = line.values.find("--wait");
  if (wait == line.values.end() || !cli.platform)
    return kExitOk;
  uint64_t limitMs = UINT64_MAX;
  if (!wait->second.empty()) {
    char* end = nullptr;
    const unsigned long long seconds = std::strtoull(wait->second.c_str(), &end, 10);
    if (*end != '\0' || wait->second[0] == '-' || seconds > 1000000)
      return cli.Fail(kExitRefused, cli.Text(Say::kWaitSeconds));
    limitMs = seconds * 1000;
  }
  IClock& clock = cli.platform->Clock();
  const uint64_t start = clock.NowMs();
  bool told = false;
  while (!Attached(cli, line)) {
    if (int signal = cli.stops->Signal())
      return kExitSignalBase + signal;
    if (clock.NowMs() - start >= limitMs)
      return cli.Fail(kExitNoDevice, cli.Text(Say::kNoControllerInTime, {wait->second}));
    if (!told && !cli.quiet && !cli.json)
      cli.Fail(kExitOk, cli.Text(Say::kWaiting));
    told = true;
    clock.SleepMs(kWaitPollMs);
  }
  return kExitOk;
}

}  // namespace

int ChooseControllers(const Cli& cli, const CommandLine& line, std::vector<std::string>* paths) {
  if (int exitCode = WaitForControllers(cli, line))
    return exitCode;
  auto device = line.values.find("--device");
  if (device != line.values.end() && line.Has("--all"))
    return cli.Fail(kExitRefused, cli.Text(Say::kDeviceAndAll));
  if (device != line.values.end()) {
    // An empty path (an unset variable) must not fall back to the first controller found.
    if (device->second.empty())
      return cli.Fail(kExitRefused, cli.Text(Say::kDeviceNeedsPath));
    paths->push_back(SelectedPath(ListedControllers(cli), device->second));
    return kExitOk;
  }
  std::vector<ControllerInterface> controllers = ListedControllers(cli);
  for (const ControllerInterface& c : controllers)
    paths->push_back(c.path);
  if (paths->empty())
    return cli.Fail(kExitNoDevice, cli.Text(Say::kNoController));
  if (paths->size() > 1 && !line.Has("--all")) {
    std::string list;
    for (const std::string& path : *paths)
      list += "\n  " + path;
    paths->clear();
    return cli.Fail(kExitRefused, cli.Text(Say::kSeveralAttached) + list);
  }
  return kExitOk;
}

std::string FailureText(const Cli& cli, const std::string& failureCause,
                        const std::string& message) {
  std::string text = message.empty() ? cli.Text(Say::kDidNotComplete) : message;
  return failureCause.empty() ? text : text + " (" + failureCause + ")";
}

const char* CauseWord(UpdateCause cause) {
  constexpr const char* kWords[] = {
      nullptr,          "declined",         "older",          "same-version",   nullptr,
      "no-backup",      "nothing-written",  "image-touched",  "read-back",      "finishing",
      "verify-differs", "verify-no-answer", "verify-stopped", "file-unreadable"};
  return kWords[static_cast<int>(cause)];
}

Result ResultOf(const Cli& cli, const UpdateResult& result, const std::string& failureCause,
                const std::string& message, bool verified) {
  const char* why = CauseWord(result.why);
  switch (result.outcome) {
    case UpdateOutcome::kDone:
      return {kExitOk, "done", nullptr, message + (verified ? cli.Text(Say::kVerified) : "")};
    case UpdateOutcome::kRefused:
      return {kExitRefused, "refused", RefusalCause(result.refusal),
              cli.Text(Say::kFileRefused, {RecordRefusalText(result.refusal), message})};
    case UpdateOutcome::kNothingDone: {
      const uint32_t word = result.deviceVersion;
      const std::string current =
          VersionFigure(static_cast<uint16_t>(word), static_cast<uint16_t>(word >> 16));
      const std::string next = VersionFigure(result.record.version, result.record.beta);
      const std::string line =
          result.why == UpdateCause::kOlder         ? cli.Text(Say::kOlderRefused, {next, current})
          : result.why == UpdateCause::kSameVersion ? cli.Text(Say::kSameRefused, {current})
                                                    : cli.Text(Say::kNotConfirmed);
      return {kExitNothingDone, "nothing-done", why, line};
    }
    case UpdateOutcome::kStopped: {
      const int signal = cli.stops->Signal();
      const Say line = result.why == UpdateCause::kReadBack       ? Say::kStoppedReadBack
                       : result.why == UpdateCause::kFinishing    ? Say::kStoppedFinishing
                       : result.why == UpdateCause::kImageTouched ? Say::kStoppedTouched
                                                                  : Say::kStoppedNothing;
      return {signal > 0 ? kExitSignalBase + signal : kExitFailed, "stopped", why, cli.Text(line)};
    }
    case UpdateOutcome::kNone:
    case UpdateOutcome::kFailed:
      break;
  }
  switch (result.why) {
    case UpdateCause::kVerifyDiffers:
    case UpdateCause::kVerifyNoAnswer:
    case UpdateCause::kVerifyStopped:
    case UpdateCause::kFileUnreadable:
      return {kExitFailed, "failed", why, failureCause};
    default:
      break;
  }
  return {kExitFailed, "failed", why ? why : "nothing-written",
          cli.Text(Say::kUpdateFailed, {FailureText(cli, failureCause, message)})};
}

int Report(const Cli& cli, const std::string& path, const Result& result) {
  if (cli.json) {
    cli.Print(JsonEvent("result")
                  .Add("device", JsonString(path))
                  .Add("outcome", JsonString(result.outcome))
                  .Add("cause", result.cause ? JsonString(result.cause) : "null")
                  .Add("exit", result.exitCode)
                  .Add("message", JsonString(result.line))
                  .Line());
  } else if (result.exitCode == kExitOk) {
    cli.Print(path + ": " + result.line);
  } else {
    cli.Fail(result.exitCode, path + ": " + result.line);
  }
  return result.exitCode;
}

const char* RefusalCause(RecordRefusal refusal) {
  constexpr const char* kCauses[] = {"none",        "cannot-open", "no-record",     "cut-short",
                                     "empty-image", "past-end",    "other-address", "below-floor"};
  return kCauses[static_cast<int>(refusal)];
}

const char* ImageCheckCause(const CUpdateRun::ImageCheck& check) {
  constexpr const char* kCauses[] = {"none", "verify-differs", "verify-no-answer", "verify-stopped",
                                     "file-unreadable"};
  return kCauses[check.outcome];
}

Result OpenFailure(const Cli& cli, HidOpenResult result, const std::string& cause) {
  if (result == HidOpenResult::kAccessDenied)
    return {kExitNoAccess, "failed", "no-permission", cause};
  if (result == HidOpenResult::kBusy)
    return {kExitFailed, "failed", "busy", cause};
  return {kExitNoDevice, "failed", "not-found",
          cause.empty() ? cli.Text(Say::kNoController) : cause};
}

TerminalOptions TerminalFor(const Cli& cli, const CommandLine& line, bool shared) {
  TerminalOptions options;
  options.out = &cli.out;
  options.ask = &cli.err;
  options.in = cli.env.in;
  options.inFd = cli.env.inFd;
  options.canAsk = cli.env.inIsTerminal;
  options.assumeYes = line.Has("--yes");
  options.drawBar = cli.env.outIsTerminal && !shared;
  options.columns = cli.env.columns;
  options.quiet = cli.quiet;
  options.json = cli.json;
  options.log = cli.log;
  options.outputMutex = &cli.outputMutex;
  options.stopsAsked = cli.env.stopsAsked;
  options.stops = cli.stops;
  options.seams = {cli.platform, cli.trace, cli.language};
  return options;
}
