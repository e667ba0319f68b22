// tarvix-flash flash FILE.dat: the dialog's update of one controller, or of every controller one
// after the other, each with its result line; --verify reads a boot loader's image back after.
#include "base/wide_string.h"
#include "firmware/firmware_file.h"
#include "ui/cli/cli.h"
#include "ui/cli/controller_session.h"

namespace {

int FlashOne(const Cli& cli, const CommandLine& line, const std::string& path) {
  const std::u16string file = Utf8ToUtf16(line.words[0]);
  ControllerSession session(path, TerminalFor(cli, line));
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
  std::string message;
  switch (session.Update(file, &message)) {
    case ControllerSession::Result::kUpgraded:
      break;
    case ControllerSession::Result::kRefused:
      return cli.Fail(kExitRefused, path + ": file refused (" +
                                        RecordRefusalText(session.m_dlg.m_recordRefusal) +
                                        "): " + message);
    case ControllerSession::Result::kCancelled:
      return cli.Fail(kExitFailed, path + ": not updated: the new version was not confirmed");
    case ControllerSession::Result::kStopped:
      return cli.Fail(kExitFailed,
                      path + ": update stopped; " +
                          (session.m_dlg.m_bImageTouched
                               ? "the controller needs a whole update: put it in its boot loader "
                                 "(L+R+HOME) and flash it again"
                               : "nothing was written"));
    case ControllerSession::Result::kFailed:
      return cli.Fail(kExitFailed, path + ": update failed: " +
                                       (message.empty() ? "the update did not complete" : message));
  }
  CUpdateDlg::ImageCheck check;
  if (verify && !session.Verify(&check))
    return cli.Fail(kExitFailed, path + ": verify failed: " + ImageCheckText(check));
  session.m_window.PrintLine(path + ": " + message + (verify ? " (verified)" : ""));
  return kExitOk;
}

int RunFlash(const Cli& cli, const CommandLine& line) {
  if (line.words.size() != 1)
    return cli.Fail(kExitRefused, "flash: give one firmware file (see tarvix-flash flash --help)");
  CFirmwareFile file;
  if (!file.Open(Utf8ToUtf16(line.words[0])))
    return cli.Fail(kExitRefused, line.words[0] + ": cannot be opened");
  file.Close();
  if (!cli.env.inIsTerminal && !line.Has("--yes")) {
    return cli.Fail(
        kExitRefused,
        "flash: no terminal to ask for the confirmation on; add --yes to update anyway");
  }
  std::vector<std::string> paths;
  int exitCode = ChooseControllers(cli, line, &paths);
  for (const std::string& path : paths) {
    if (g_bInterrupted)
      break;
    exitCode = WorseExit(exitCode, FlashOne(cli, line, path));
  }
  return exitCode;
}

}  // namespace

const Command kFlashCommand{
    "flash",
    "write a firmware file into controllers",
    "usage: tarvix-flash flash FILE.dat [--device PATH | --all] [--yes] [--verify]\n"
    "Updates the controller (the first one found, or PATH) with its record of FILE.dat, in its\n"
    "boot loader or while it runs its firmware, after confirming the new version.\n"
    "  --device PATH  the controller at PATH (see tarvix-flash list)\n"
    "  --all          every attached controller, one after the other\n"
    "  --yes          confirm without asking (needed when the input is not a terminal)\n"
    "  --verify       boot loader: read the image back after writing and compare it\n"
    "Ctrl-C stops the update; a controller stopped part-way needs a whole update.\n",
    {"--all", "--yes", "--verify"},
    {"--device"},
    RunFlash};
