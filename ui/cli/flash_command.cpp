// tarvix-flash flash FILE.dat: the dialog's update of one controller, or of every controller one
// after the other, each with its result line; --verify reads a boot loader's image back before
// it is told to finish.
#include <thread>
#include <vector>

#include "base/wide_string.h"
#include "firmware/firmware_file.h"
#include "ui/cli/cli.h"
#include "ui/cli/controller_session.h"

namespace {

// What a stopped update left in the controller, for the line that says so.
std::string StoppedText(const CUpdateDlg& dlg) {
  if (dlg.m_boot.m_imageCheck.outcome == CUpdateDlg::ImageCheck::kStopped)
    return "update stopped during the read-back: the image and version are written but were not "
           "verified, and the boot loader was not told to finish";
  if (dlg.m_bImageComplete)
    return "update stopped at the finishing command; the image and version are written whole";
  if (dlg.m_bImageTouched)
    return "update stopped; the controller needs a whole update: put it in its boot loader "
           "(L+R+HOME) and flash it again";
  return "update stopped; nothing was written";
}

int FlashOne(const Cli& cli, const CommandLine& line, const std::string& path, bool shared) {
  const std::u16string file = FileArgument(line.words[0]);
  ControllerSession session(path, TerminalFor(cli, line, shared));
  if (!session.Open()) {
    return OpenFailure(cli, path, session.m_dlg.m_Hid.m_nLastOpenResult,
                       session.m_dlg.m_Hid.m_LastError);
  }
  const bool verify = line.Has("--verify");
  if (verify && !session.IsBootLoader()) {
    return cli.Fail(kExitFailed, path +
                                     ": --verify: a controller running its firmware cannot be "
                                     "read back; nothing was written (put it in its boot loader)");
  }
  session.m_window.PrintLine(path + ": " +
                             (session.IsBootLoader() ? "boot loader" : "running firmware") +
                             ", version " + VersionText(session.Version()));
  // The read-back runs before the finishing command, which may start the new firmware.
  session.m_dlg.m_boot.m_bVerifyAfterWrite = verify ? 1 : 0;
  std::string message;
  const CUpdateDlg& dlg = session.m_dlg;
  switch (session.Update(file, &message)) {
    case ControllerSession::Result::kUpgraded:
      break;
    case ControllerSession::Result::kRefused:
      return cli.Fail(kExitRefused, path + ": file refused (" +
                                        RecordRefusalText(dlg.m_recordRefusal) + "): " + message);
    case ControllerSession::Result::kCancelled:
      return cli.Fail(kExitFailed, path + ": not updated: the new version was not confirmed");
    case ControllerSession::Result::kStopped:
      return cli.Fail(kExitFailed, path + ": " + StoppedText(dlg));
    case ControllerSession::Result::kFailed:
      if (dlg.m_boot.m_imageCheck.outcome !=
          CUpdateDlg::ImageCheck::kSame)  // written, did not read back
        return cli.Fail(kExitFailed, path + ": " + dlg.m_failureCause);
      return cli.Fail(kExitFailed, path + ": update failed: " + FailureText(dlg, message));
  }
  session.m_window.PrintLine(path + ": " + message + (verify ? " (verified)" : ""));
  return kExitOk;
}

// "3 controllers: 2 upgraded, 1 failed" after an update of several.
void PrintSummary(const Cli& cli, const std::vector<int>& results) {
  static const char* const kKinds[] = {"upgraded", "failed", "refused the file", "not found",
                                       "not permitted"};
  int counts[5] = {};
  for (int result : results)
    ++counts[result >= 0 && result < 5 ? result : kExitFailed];
  std::string line = std::to_string(results.size()) + " controllers:";
  const char* separator = " ";
  for (int kind = 0; kind < 5; ++kind) {
    if (counts[kind] == 0)
      continue;
    line += separator + std::to_string(counts[kind]) + " " + kKinds[kind];
    separator = ", ";
  }
  std::lock_guard lock(cli.outputMutex);
  cli.out << line << "\n" << std::flush;
}

int RunFlash(const Cli& cli, const CommandLine& line) {
  if (line.words.size() != 1)
    return cli.Fail(kExitRefused, "flash: give one firmware file (see tarvix-flash flash --help)");
  CFirmwareFile file;
  if (!file.Open(FileArgument(line.words[0]))) {
    // A file that is there but held by another program is a failure; one that is not there, or
    // is no file, a usage error.
    bool held = file.LastOpenResult() == FileOpenResult::kHeld;
    return cli.Fail(
        held ? kExitFailed : kExitRefused,
        line.words[0] + ": cannot be opened: " + FileOpenResultText(file.LastOpenResult()));
  }
  file.Close();
  if (!cli.env.inIsTerminal && !line.Has("--yes")) {
    return cli.Fail(
        kExitRefused,
        "flash: no terminal to ask for the confirmation on; add --yes to update anyway");
  }
  std::vector<std::string> paths;
  int exitCode = ChooseControllers(cli, line, &paths);
  if (paths.size() == 1)
    return FlashOne(cli, line, paths.front(), false);
  if (paths.empty())
    return exitCode;
  // Every controller at once, each with its own session and worker; each line names its
  // controller.
  std::vector<int> results(paths.size(), kExitOk);
  std::vector<std::thread> sessions;
  for (size_t i = 0; i < paths.size(); ++i)
    sessions.emplace_back([&, i] { results[i] = FlashOne(cli, line, paths[i], true); });
  for (std::thread& session : sessions)
    session.join();
  for (int result : results)
    exitCode = WorseExit(exitCode, result);
  PrintSummary(cli, results);
  return exitCode;
}

}  // namespace

const Command kFlashCommand{
    "flash",
    "write a firmware file into controllers",
    "usage: tarvix-flash flash FILE.dat [--device ID | --all] [--yes] [--verify]\n"
    "Updates the controller (the only one attached, or ID) with its record of FILE.dat, in its\n"
    "boot loader or while it runs its firmware, after confirming the new version.\n"
    "  --device ID    the controller whose path, serial number or port path is ID (see list)\n"
    "  --all          every attached controller, all at once\n"
    "  --yes          confirm without asking (needed when the input is not a terminal)\n"
    "  --verify       boot loader: read the image back after writing, before the finishing\n"
    "                 command, and compare it\n"
    "Ctrl-C (or SIGTERM, SIGHUP) stops the update; a controller stopped part-way needs a whole\n"
    "update. Several controllers attached: name one with --device, or take every one with --all.\n",
    {"--all", "--yes", "--verify"},
    {"--device"},
    RunFlash};
