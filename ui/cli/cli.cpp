#include "ui/cli/cli.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <iterator>

#include "base/local_text.h"

#include "base/wide_string.h"
#include "ui/cli/options.h"
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
  if (board)
    board->Clear(out);
  err << "tarvix-flash: " << line << "\n" << std::flush;
  return code;
}

void Cli::Print(const std::string& line) const {
  if (log)
    log->Line(line);
  std::lock_guard lock(outputMutex);
  if (board)
    board->Clear(out);
  out << line << "\n" << std::flush;
}

std::string VersionText(uint32_t word, uint16_t language) {
  if (word == VERSION_UNKNOWN)
    return SayText(Say::kUnknownVersion, language);
  std::string figure =
      word == kErasedVersionWord ? SayText(Say::kErasedVersion, language) : FormatVersionWord(word);
  return figure + " (" + Hex(word, 8) + ")";
}

std::string JsonVersion(uint32_t word) {
  if (word == VERSION_UNKNOWN)
    return "null";
  if (word == kErasedVersionWord)
    return JsonString("erased");
  return JsonString(FormatVersionWord(word));
}

std::string JsonWord(uint32_t word) {
  return word == VERSION_UNKNOWN ? "null" : JsonString(Hex(word, 8));
}

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*x", digits, value);
  return text;
}

namespace {

// The length of the well-formed UTF-8 sequence at text[at] (no overlong form, no surrogate, at
// most U+10FFFF), or 0 when the byte there begins none.
size_t Utf8SequenceAt(const std::string& text, size_t at) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    low = lead == 0xE0 ? 0xA0 : 0x80;
    high = lead == 0xED ? 0x9F : 0xBF;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    low = lead == 0xF0 ? 0x90 : 0x80;
    high = lead == 0xF4 ? 0x8F : 0xBF;
  } else {
    return 0;
  }
  if (at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high)
    return 0;
  for (size_t i = 2; i < length; ++i)
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
      return 0;
  return length;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string quoted = "\"";
  for (size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    char escaped[16];
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      quoted += escaped;
    } else if (c < 0x80) {
      quoted += static_cast<char>(c);
    } else if (size_t length = Utf8SequenceAt(text, at)) {
      quoted.append(text, at, length);
      at += length;
      continue;
    } else {
      // A byte of no UTF-8 character (a file name in another encoding) is the private-use
      // character U+10FE00 + the byte, written as its surrogate pair: the line stays JSON and the
      // byte can be taken back.
      std::snprintf(escaped, sizeof escaped, "\\udbff\\u%04x", 0xDC00 + 0x200 + c);
      quoted += escaped;
    }
    ++at;
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
  // The value was checked by the parse: none (for ever), or the seconds.
  uint64_t seconds = 0;
  const uint64_t limitMs =
      ParseNumber(wait->second, 0, UINT64_MAX, &seconds) ? seconds * 1000 : UINT64_MAX;
  IClock& clock = cli.platform->Clock();
  const uint64_t start = clock.NowMs();
  bool told = false;
  while (!Attached(cli, line)) {
    if (int signal = cli.stops->Signal())
      return kExitSignalBase + signal;
    if (clock.NowMs() - start >= limitMs)
      return FailBeforeAny(cli, kExitNoDevice, "failed", "not-found",
                           cli.Text(Say::kNoControllerInTime, {wait->second}));
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
    return FailBeforeAny(cli, kExitNoDevice, "failed", "not-found", cli.Text(Say::kNoController));
  if (paths->size() > 1 && !line.Has("--all")) {
    std::string list;
    for (const std::string& path : *paths)
      list += "\n  " + path;
    paths->clear();
    return FailBeforeAny(cli, kExitRefused, "refused", "several-controllers",
                         cli.Text(Say::kSeveralAttached) + list);
  }
  return kExitOk;
}

std::string FailureText(const Cli& cli, const std::string& failureCause,
                        const std::string& message) {
  std::string text = message.empty() ? cli.Text(Say::kDidNotComplete) : message;
  return failureCause.empty()
             ? text
             : cli.Text(Say::kWithCause, {text, CauseText(failureCause, cli.language)});
}

const char* CauseWord(UpdateCause cause) {
  constexpr const char* kWords[] = {
      nullptr,          "declined",         "older",          "same-version",   nullptr,
      "no-backup",      "nothing-written",  "image-touched",  "read-back",      "finishing",
      "verify-differs", "verify-no-answer", "verify-stopped", "file-unreadable"};
  return kWords[static_cast<int>(cause)];
}

Result ResultOf(const Cli& cli, const UpdateResult& result, const CUpdateRun& run,
                const std::string& message, bool verified) {
  const char* why = CauseWord(result.why);
  switch (result.outcome) {
    case UpdateOutcome::kDone:
      return {kExitOk, "done", nullptr, message + (verified ? cli.Text(Say::kVerified) : ""),
              run.m_desVersion};
    case UpdateOutcome::kRefused:
      return {kExitRefused, "refused", RefusalCause(result.refusal),
              cli.Text(Say::kFileRefused, {RefusalText(result.refusal, cli.language), message})};
    case UpdateOutcome::kNothingDone: {
      const uint32_t word = result.deviceVersion;
      const std::string current = FormatVersionWord(word);
      const std::string next = FormatVersion(result.record.version, result.record.beta);
      const std::string line =
          result.why == UpdateCause::kOlder         ? cli.Text(Say::kOlderRefused, {next, current})
          : result.why == UpdateCause::kSameVersion ? cli.Text(Say::kSameRefused, {current})
                                                    : cli.Text(Say::kNotConfirmed);
      return {kExitNothingDone, "nothing-done", why, line};
    }
    case UpdateOutcome::kStopped: {
      const int signal = cli.stops->Signal();
      // A boot loader stays one: the update only needs to run again.
      const Say touched =
          run.m_Hid.m_bBootMode ? Say::kStoppedTouchedInBootLoader : Say::kStoppedTouched;
      const Say line = result.why == UpdateCause::kReadBack       ? Say::kStoppedReadBack
                       : result.why == UpdateCause::kFinishing    ? Say::kStoppedFinishing
                       : result.why == UpdateCause::kImageTouched ? touched
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
      return {kExitFailed, "failed", why, CauseText(run.m_failureCause, cli.language)};
    default:
      break;
  }
  return {kExitFailed, "failed", why ? why : "nothing-written",
          cli.Text(Say::kUpdateFailed, {FailureText(cli, run.m_failureCause, message)})};
}

int FailBeforeAny(const Cli& cli, int code, const char* outcome, const char* cause,
                  const std::string& line) {
  if (cli.json) {
    cli.Print(JsonEvent("result")
                  .Add("device", "null")
                  .Add("outcome", JsonString(outcome))
                  .Add("cause", JsonString(cause))
                  .Add("exit", code)
                  .Add("message", JsonString(line))
                  .Line());
  }
  return cli.Fail(code, line);
}

namespace {

// Tenths as "3.2", whatever the locale.
std::string Tenths(uint64_t tenths) {
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

// Bytes per second, 0 when no time passed.
uint64_t Rate(const Result& result) {
  return result.elapsedMs ? result.bytes * 1000 / result.elapsedMs : 0;
}

}  // namespace

std::string TransferFigures(const Cli& cli, const Result& result) {
  if (!result.measured)
    return "";
  const std::string bytes = std::to_string(result.bytes);
  const std::string seconds = Tenths((result.elapsedMs + 50) / 100);
  if (result.elapsedMs == 0)
    return cli.Text(Say::kTransferTime, {bytes, seconds});
  return cli.Text(Say::kTransferFigures,
                  {bytes, seconds, Tenths((Rate(result) * 10 + 512) / 1024)});
}

int Report(const Cli& cli, const std::string& path, const Result& result) {
  const std::string line = result.line + TransferFigures(cli, result);
  if (cli.json) {
    JsonEvent event("result");
    event.Add("device", JsonString(path))
        .Add("outcome", JsonString(result.outcome))
        .Add("cause", result.cause ? JsonString(result.cause) : "null")
        .Add("exit", result.exitCode)
        .Add("message", JsonString(result.line));
    if (result.measured) {
      event.Add("bytes", std::to_string(result.bytes))
          .Add("elapsedMs", std::to_string(result.elapsedMs))
          .Add("bytesPerSecond", result.elapsedMs ? std::to_string(Rate(result)) : "null");
    }
    cli.Print(event.Line());
  } else if (result.exitCode == kExitOk) {
    cli.Print(path + ": " + line);
  } else {
    cli.Fail(result.exitCode, path + ": " + line);
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

std::string RefusalText(RecordRefusal refusal, uint16_t language) {
  if (language != LANG_ZH_CN || refusal == RecordRefusal::kNone)
    return RecordRefusalText(refusal);
  // In the order of RecordRefusal, from kCannotOpen on.
  constexpr Say kTexts[] = {Say::kRefusalCannotOpen, Say::kRefusalNoRecord,
                            Say::kRefusalCutShort,   Say::kRefusalEmptyImage,
                            Say::kRefusalPastEnd,    Say::kRefusalOtherAddress,
                            Say::kRefusalBelowFloor};
  const auto index = static_cast<size_t>(refusal) - 1;
  return index < std::size(kTexts) ? SayText(kTexts[index], language) : RecordRefusalText(refusal);
}

std::string FileOpenText(FileOpenResult result, uint16_t language) {
  if (language != LANG_ZH_CN || result == FileOpenResult::kOk)
    return FileOpenResultText(result);
  switch (result) {
    case FileOpenResult::kMissing:
      return SayText(Say::kFileMissing, language);
    case FileOpenResult::kNoPermission:
      return SayText(Say::kFileNoPermission, language);
    case FileOpenResult::kNotAFile:
      return SayText(Say::kFileNotAFile, language);
    case FileOpenResult::kHeld:
      return SayText(Say::kFileHeld, language);
    case FileOpenResult::kOk:
    case FileOpenResult::kOther:
      break;
  }
  return SayText(Say::kFileCannotOpen, language);
}

std::string OpenText(HidOpenResult result, const IHidPlatform* platform, uint16_t language) {
  if (language != LANG_ZH_CN || result == HidOpenResult::kOk)
    return OpenResultText(result, platform);
  if (result == HidOpenResult::kAccessDenied)
    return SayText(Say::kOpenAccessDenied, language);
  if (result == HidOpenResult::kBusy)
    return SayText(Say::kOpenBusy, language);
  return SayText(Say::kOpenFailed, language);
}

std::string CheckText(const CUpdateRun::ImageCheck& check, uint16_t language) {
  if (language != LANG_ZH_CN)
    return ImageCheckText(check);
  using ImageCheck = CUpdateRun::ImageCheck;
  switch (check.outcome) {
    case ImageCheck::kSame:
      return SayText(Say::kCheckSame, language);
    case ImageCheck::kDiffers:
      return SayText(Say::kCheckDiffers, language,
                     {Hex(check.address, 8), Hex(check.expected, 2), Hex(check.found, 2)});
    case ImageCheck::kNoAnswer:
      return SayText(Say::kCheckNoAnswer, language, {Hex(check.address, 8)});
    case ImageCheck::kStopped:
      return SayText(Say::kCheckStopped, language, {Hex(check.address, 8)});
    case ImageCheck::kFileUnreadable:
      break;
  }
  return SayText(Say::kCheckUnreadable, language);
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
  options.board = cli.board;
  return options;
}
