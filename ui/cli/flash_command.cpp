// tarvix-flash flash FILE.dat: the dialog's update of one controller, or of every controller all at
// once, each with its result; --verify reads a boot loader's image back before it is told to
// finish.
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <list>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "base/wide_string.h"
#include "firmware/firmware_file.h"
#include "ui/cli/backup.h"
#include "ui/cli/cli.h"
#include "ui/cli/controller_session.h"
#include "ui/cli/options.h"
#include "ui/cli/terminal_view.h"

namespace {

Result FlashOne(const Cli& cli, const CommandLine& line, const std::string& path, bool shared,
                const std::map<std::string, std::u16string>* answeredAtOnce = nullptr) {
  TerminalOptions options = TerminalFor(cli, line, shared);
  options.answeredAtOnce = answeredAtOnce;
  ControllerSession session(path, options);
  if (!session.Open())
    return OpenFailure(cli, session.Run().m_Hid.m_nLastOpenResult, session.Run().m_Hid.m_LastError);
  UpdateRequest request;
  request.firmwarePath = FileArgument(line.words[0]);
  request.verify = line.Has("--verify");
  request.allowOlder = line.Has("--allow-older");
  request.allowReinstall = line.Has("--allow-reinstall");
  if (request.verify && !session.IsBootLoader())
    return {kExitFailed, "failed", "no-read-back", cli.Text(Say::kVerifyNeedsBootLoader)};
  const Say mode = session.IsBootLoader() ? Say::kBootLoader : Say::kRunningFirmware;
  if (cli.json) {
    cli.Print(JsonEvent("controller")
                  .Add("device", JsonString(path))
                  .Add("mode", JsonString(session.IsBootLoader() ? "boot" : "app"))
                  .Add("version", JsonVersion(session.Version()))
                  .Add("versionWord", JsonWord(session.Version()))
                  .Line());
  } else if (!cli.quiet) {
    cli.Print(path + ": " +
              cli.Text(Say::kModeAndVersion,
                       {cli.Text(mode), VersionText(session.Version(), cli.language)}));
  }
  // The backup is read after the confirmation and before the erase: without it nothing is erased.
  const auto backup = line.values.find("--backup");
  std::atomic<bool> backedUp{false};
  if (backup != line.values.end()) {
    if (!session.IsBootLoader())
      return {kExitFailed, "failed", "no-backup", cli.Text(Say::kBackupNeedsBootLoader)};
    request.beforeErase = [&cli, &session, &backedUp, &backup](CBootSession&) {
      backedUp = WriteBackup(session.Run(), backup->second, *cli.stops) != 0;
      return backedUp ? 1 : 0;
    };
  }
  std::string message;
  const UpdateResult ended = session.Update(request, &message);
  if (backedUp) {
    cli.Print(cli.json ? JsonEvent("backup")
                             .Add("device", JsonString(path))
                             .Add("file", JsonString(backup->second))
                             .Line()
                       : path + ": " + cli.Text(Say::kBackupSaved, {backup->second}));
  }
  Result result = ResultOf(cli, ended, session.Run(), message, request.verify);
  result.measured = session.Measure(&result.elapsedMs, &result.bytes);
  return result;
}

// "3 controllers: 2 upgraded, 1 failed" after an update of several.
void PrintSummary(const Cli& cli, const std::vector<int>& results) {
  // By exit code 0..5, and a stop on a signal last.
  constexpr Say kKinds[] = {Say::kUpgradedCount, Say::kFailedCount,       Say::kRefusedCount,
                            Say::kNotFoundCount, Say::kNotPermittedCount, Say::kNotUpdatedCount,
                            Say::kStoppedCount};
  constexpr const char* kJsonKinds[] = {"done",          "failed",       "refused", "not-found",
                                        "no-permission", "nothing-done", "stopped"};
  constexpr int kKindCount = 7;
  int counts[kKindCount] = {};
  for (int result : results)
    ++counts[result >= 0 && result < kKindCount - 1 ? result : kKindCount - 1];
  JsonEvent json("summary");
  json.Add("controllers", static_cast<int>(results.size()));
  std::string line = results.size() == 1
                         ? cli.Text(Say::kOneController)
                         : cli.Text(Say::kControllers, {std::to_string(results.size())});
  const char* separator = " ";
  for (int kind = 0; kind < kKindCount; ++kind) {
    json.Add(kJsonKinds[kind], counts[kind]);
    if (counts[kind] == 0)
      continue;
    line += separator + cli.Text(kKinds[kind], {std::to_string(counts[kind])});
    separator = ", ";
  }
  cli.Print(cli.json ? json.Line() : line);
}

// The firmware file of flash and watch opens, and the confirmation can be asked or is given:
// kExitOk, or the exit code after saying why not.
int CheckFlashStart(const Cli& cli, const CommandLine& line, const char* command) {
  if (line.words.size() != 1)
    return cli.Fail(kExitRefused, cli.Text(Say::kGiveOneFile, {command}));
  CFirmwareFile file;
  if (!file.Open(FileArgument(line.words[0]))) {
    // A file that is there but held by another program is a failure; one that is not there, or
    // is no file, a usage error.
    bool held = file.LastOpenResult() == FileOpenResult::kHeld;
    return FailBeforeAny(
        cli, held ? kExitFailed : kExitRefused, held ? "failed" : "refused", "cannot-open",
        cli.Text(Say::kCannotOpenFile,
                 {line.words[0], FileOpenText(file.LastOpenResult(), cli.language)}));
  }
  file.Close();
  if (!cli.env.inIsTerminal && !line.Has("--yes"))
    return FailBeforeAny(cli, kExitRefused, "refused", "no-confirmation",
                         std::string(command) + ": " + cli.Text(Say::kNoTerminal));
  return kExitOk;
}

// The confirmations of controllers updated at once, asked as one question before any of them
// starts: each controller that would ask (its record found, the version guard passed) is listed
// with its confirmation, then "Update these N controllers?". Answers them by path when the user
// answered yes; none when the user answered no or there is nothing to ask.
std::map<std::string, std::u16string> AskForEveryController(const Cli& cli, const CommandLine& line,
                                                            const std::vector<std::string>& paths) {
  TerminalOptions quiet;
  quiet.out = &cli.out;
  quiet.in = cli.env.in;
  quiet.outputMutex = &cli.outputMutex;
  quiet.seams = {cli.platform, cli.trace, cli.language};
  std::map<std::string, std::u16string> asked;
  for (const std::string& path : paths) {
    ControllerSession session(path, quiet);
    if (!session.Open())
      continue;
    CUpdateRun& run = session.Run();
    run.m_strFirmwarePath = FileArgument(line.words[0]);
    if (run.LoadFirmwareRecord() != RecordRefusal::kNone)
      continue;
    const FirmwareRecordHeader& record = run.m_recordHeader;
    if (CheckVersionGuard(record.version, record.beta, session.Version(), line.Has("--allow-older"),
                          line.Has("--allow-reinstall")) != GuardRefusal::kNone)
      continue;
    asked[path] = ConfirmationText(record, session.Version(), cli.language);
  }
  if (asked.empty())
    return asked;
  const std::string question = asked.size() == 1
                                   ? cli.Text(Say::kAskUpdateOne)
                                   : cli.Text(Say::kAskUpdateAll, {std::to_string(asked.size())});
  {
    std::lock_guard lock(cli.outputMutex);
    // On the terminal, as every question: with the output redirected it is still seen.
    for (const auto& [path, text] : asked)
      cli.err << path << ": " << OneLine(text) << "\n";
    cli.err << question << " " << std::flush;
  }
  std::string answer;
  const bool yes =
      ReadTerminalAnswer(cli.env.in, cli.env.inFd, *cli.stops, &answer) && IsYes(answer);
  if (cli.log)
    cli.log->Line(question + " " + answer);
  if (!yes)
    asked.clear();
  return asked;
}

int RunFlash(const Cli& cli, const CommandLine& line) {
  if (int exitCode = CheckFlashStart(cli, line, "flash"))
    return exitCode;
  const auto backup = line.values.find("--backup");
  if (backup != line.values.end() && line.Has("--all"))
    return cli.Fail(kExitRefused, cli.Text(Say::kBackupExcludesAll));
  if (backup != line.values.end() && IsSameFile(backup->second, line.words[0]))
    return cli.Fail(kExitRefused, cli.Text(Say::kBackupOverwritesFile, {backup->second}));
  std::vector<std::string> paths;
  int exitCode = ChooseControllers(cli, line, &paths);
  if (paths.size() == 1)
    return Report(cli, paths.front(), FlashOne(cli, line, paths.front(), false));
  if (paths.empty())
    return exitCode;
  // Every controller at once, each with its own session and worker; each line names its
  // controller. One question first, for all of them, where the terminal can ask it; on a terminal
  // their progress shares one line.
  std::map<std::string, std::u16string> answered;
  const bool askOnce = !line.Has("--yes") && cli.env.inIsTerminal;
  if (askOnce)
    answered = AskForEveryController(cli, line, paths);
  ProgressBoard board(cli.env.columns);
  Cli shared = cli;
  if (cli.env.outIsTerminal && !cli.quiet && !cli.json)
    shared.board = &board;
  std::vector<int> results(paths.size(), kExitOk);
  std::vector<std::thread> sessions;
  for (size_t i = 0; i < paths.size(); ++i) {
    sessions.emplace_back([&, i] {
      Result result = FlashOne(shared, line, paths[i], true, askOnce ? &answered : nullptr);
      {
        std::lock_guard lock(cli.outputMutex);
        board.Drop(paths[i]);
      }
      results[i] = Report(shared, paths[i], result);
    });
  }
  for (std::thread& session : sessions)
    session.join();
  for (int result : results)
    exitCode = WorseExit(exitCode, result);
  PrintSummary(shared, results);
  return exitCode;
}

// How often watch looks for controllers plugged in and unplugged, at the latest.
constexpr uint32_t kWatchPollMs = 250;
// The notices a watch takes at one wake-up, at most: more wait for the next look.
constexpr int kNoticesAtOnce = 64;

// The watch's wait between two looks. Where the platform's monitor offers a descriptor (udev's
// on Linux) the wait ends at the first arrival or removal notice, so that the watch looks at once:
// a controller unplugged and plugged in again between two timed looks is still seen gone and back.
// Elsewhere (the virtual controllers), the next look comes kWatchPollMs later on the platform's
// clock.
class WatchWait {
 public:
  explicit WatchWait(IHidPlatform& platform)
      : m_clock(platform.Clock()), m_monitor(platform.CreateMonitor()) {}

  void Wait() {
    const int fd = m_monitor ? m_monitor->Descriptor() : -1;
    if (fd < 0) {
      m_clock.SleepMs(kWatchPollMs);
      return;
    }
    // A signal ends the wait early too (EINTR): the loop then sees it.
    pollfd watched{fd, POLLIN, 0};
    if (::poll(&watched, 1, static_cast<int>(kWatchPollMs)) <= 0)
      return;
    for (int i = 0; i < kNoticesAtOnce && m_monitor->ReceiveEvent() != IDeviceMonitor::kNone; ++i) {
    }
  }

 private:
  IClock& m_clock;
  std::unique_ptr<IDeviceMonitor> m_monitor;
};

// One controller's update in a watch, on a thread of its own.
struct Station {
  std::string path;
  std::string key;  // WatchKey
  std::thread thread;
  std::atomic<bool> ended{false};
  bool busy = false;  // another program held the controller: no result
  Result result;
};

// Who a controller is for the watch: its serial number, else its port, else its path. A boot
// loader that restarts into its new firmware comes back at another path, as the same controller.
std::string WatchKey(const ControllerInterface& c) {
  return !c.serial.empty()     ? "serial " + c.serial
         : !c.portPath.empty() ? "port " + c.portPath
                               : "path " + c.path;
}

// The version word the controller at path reports now, or VERSION_UNKNOWN.
uint32_t CurrentVersion(const Cli& cli, const std::string& path) {
  TerminalOptions quiet;
  quiet.out = &cli.out;
  quiet.in = cli.env.in;
  quiet.outputMutex = &cli.outputMutex;
  quiet.seams = {cli.platform, cli.trace, cli.language};
  ControllerSession session(path, quiet);
  return session.Open() ? session.Version() : VERSION_UNKNOWN;
}

// watch FILE.dat: every controller plugged in is flashed, at once with those already running; a
// controller is flashed again only after it was unplugged (one plugged in again while its last
// update still ends is taken once that has ended). Ends on a signal (the running updates stop
// through their close handshake first) or after --count results, with the summary.
int RunWatch(const Cli& cli, const CommandLine& line) {
  if (int exitCode = CheckFlashStart(cli, line, "watch"))
    return exitCode;
  // The value was checked by the parse.
  uint64_t count = UINT64_MAX;
  if (auto limit = line.values.find("--count"); limit != line.values.end())
    ParseNumber(limit->second, 1, UINT64_MAX, &count);
  if (!cli.platform)
    return cli.Fail(kExitNoDevice, cli.Text(Say::kNoController));
  // While the station runs, a signal ends it in order instead of ending the program at once.
  cli.stops->BeginStoppable();
  if (!cli.quiet && !cli.json)
    cli.Fail(kExitOk, cli.Text(Say::kWatching));
  WatchWait wait(*cli.platform);
  std::set<std::string> present;  // the controllers (WatchKey) of the last look
  std::set<std::string> again;    // plugged in again while their last update still ends
  // Controllers this watch has updated, with the version written: one that comes back with it
  // (a boot loader restarted into its new firmware, or plugged in again) is finished, not new.
  std::map<std::string, uint32_t> finished;
  std::list<Station> stations;
  std::vector<int> results;
  auto running = [&](const std::string& key) {
    return std::any_of(stations.begin(), stations.end(),
                       [&](const Station& station) { return station.key == key; });
  };
  auto start = [&](const std::string& key, const std::string& path) {
    if (results.size() + stations.size() >= count)
      return;
    if (auto done = finished.find(key); done != finished.end()) {
      if (CurrentVersion(cli, path) == done->second)
        return;
      finished.erase(done);
    }
    Station& station = stations.emplace_back();
    station.path = path;
    station.key = key;
    station.thread = std::thread([&cli, &line, &station] {
      station.result = FlashOne(cli, line, station.path, true);
      // Another program talking to it for a moment (a list) is no result: it is tried again.
      station.busy = station.result.cause && std::string(station.result.cause) == "busy";
      if (!station.busy)
        Report(cli, station.path, station.result);
      station.ended = true;
    });
  };
  auto reap = [&](bool wait) {
    for (auto it = stations.begin(); it != stations.end();) {
      if (!wait && !it->ended) {
        ++it;
        continue;
      }
      it->thread.join();
      if (it->busy) {
        present.erase(it->key);  // taken again at the next look
        it = stations.erase(it);
        continue;
      }
      results.push_back(it->result.exitCode);
      if (it->result.exitCode == kExitOk)
        finished[it->key] = it->result.version;
      it = stations.erase(it);
      PrintSummary(cli, results);  // the running tally
    }
  };
  for (;;) {
    reap(false);
    if (cli.stops->Signal() || results.size() >= count)
      break;
    std::map<std::string, std::string> now;  // WatchKey: path
    for (const ControllerInterface& c : ListedControllers(cli))
      now.emplace(WatchKey(c), c.path);
    for (const auto& [key, path] : now) {
      if (present.count(key) != 0)
        continue;
      if (running(key))
        again.insert(key);
      else
        start(key, path);
    }
    for (auto it = again.begin(); it != again.end();) {
      const auto plugged = now.find(*it);
      if (plugged == now.end() || !running(*it)) {
        if (plugged != now.end())
          start(*it, plugged->second);
        it = again.erase(it);
      } else {
        ++it;
      }
    }
    present.clear();
    for (const auto& [key, path] : now)
      present.insert(key);
    wait.Wait();
  }
  reap(true);
  cli.stops->EndStoppable();
  int exitCode = kExitOk;
  for (int result : results)
    exitCode = WorseExit(exitCode, result);
  return exitCode;
}

}  // namespace

const Command kWatchCommand{
    "watch", "FILE.dat", "flash every controller that is plugged in, until Ctrl-C",
    "A station: every controller plugged in is updated with its record of FILE.dat, at once with\n"
    "those already running, each with its result line and then the running tally. A controller\n"
    "is updated again only after it was unplugged. Ctrl-C (SIGTERM, SIGHUP) ends the watch: the\n"
    "running updates are stopped in order first, then the summary; --count N ends it after N\n"
    "results. The exit status is the worst of the results (0 when every one is done).\n",
    RunWatch};

const Command kFlashCommand{
    "flash", "FILE.dat", "write a firmware file into controllers",
    "Updates the controller (the only one attached, --device ID, or every one with --all) with\n"
    "its record of FILE.dat, in its boot loader or while it runs its firmware, after confirming\n"
    "the new version. A version older than the controller's needs --allow-older, the same one\n"
    "--allow-reinstall. Ctrl-C (or SIGTERM, SIGHUP) stops the update; a controller stopped\n"
    "part-way needs a whole update.\n",
    RunFlash};
