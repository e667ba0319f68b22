// tarvix-flash backup OUT.dat --like FILE.dat: saves what an update of a boot loader with FILE.dat
// would erase, and the controller's version word, as a record that flash takes; writes nothing to
// the controller.
#include "base/wide_string.h"
#include "ui/cli/backup.h"
#include "ui/cli/cli.h"
#include "ui/cli/controller_session.h"
#include "ui/cli/stop_state.h"

namespace {

Result BackupOne(const Cli& cli, const CommandLine& line, const std::string& path,
                 const std::string& like) {
  ControllerSession session(path, TerminalFor(cli, line));
  if (!session.Open())
    return OpenFailure(cli, session.Run().m_Hid.m_nLastOpenResult, session.Run().m_Hid.m_LastError);
  if (!session.IsBootLoader())
    return {kExitFailed, "failed", "no-backup", cli.Text(Say::kBackupCommandNeedsBootLoader)};
  CUpdateRun& dlg = session.Run();
  dlg.m_strFirmwarePath = FileArgument(like);
  RecordRefusal refusal = dlg.LoadFirmwareRecord();
  if (refusal != RecordRefusal::kNone) {
    return {kExitRefused, "refused", RefusalCause(refusal),
            cli.Text(Say::kRecordRefused, {like, RefusalText(refusal, cli.language)})};
  }
  if (!session.ReadBack([&] { return WriteBackup(dlg, line.words[0], *cli.stops); })) {
    if (const int signal = cli.stops->Signal(); signal > 0)
      return {kExitSignalBase + signal, "stopped", "nothing-written",
              CauseText(dlg.m_failureCause, cli.language)};
    return {kExitFailed, "failed", "no-backup", CauseText(dlg.m_failureCause, cli.language)};
  }
  const uint32_t word = dlg.m_curDevVersion.load();
  return {
      kExitOk, "done", nullptr,
      cli.Text(Say::kBackupWritten, {std::to_string(dlg.m_imageSize), Hex(dlg.m_targetAddress, 8),
                                     VersionText(word, cli.language), line.words[0]})};
}

int RunBackup(const Cli& cli, const CommandLine& line) {
  const auto like = line.values.find("--like");
  if (line.words.size() != 1 || like == line.values.end())
    return cli.Fail(kExitRefused, cli.Text(Say::kBackupNeedsLike));
  if (IsSameFile(like->second, line.words[0]))
    return cli.Fail(kExitRefused, cli.Text(Say::kBackupOverwritesFile, {line.words[0]}));
  std::vector<std::string> paths;
  if (int exitCode = ChooseControllers(cli, line, &paths))
    return exitCode;
  // While the controller is read, a signal ends the command in order (with its result) instead
  // of ending the program at once.
  cli.stops->BeginStoppable();
  const int exitCode =
      Report(cli, paths.front(), BackupOne(cli, line, paths.front(), like->second));
  cli.stops->EndStoppable();
  return exitCode;
}

}  // namespace

const Command kBackupCommand{
    "backup", "OUT.dat", "save a boot loader's image as a firmware file, to put it back later",
    "Reads from the boot loader (the only one attached, or --device ID) the region that an update\n"
    "with the record of FILE.dat (--like) would erase, and its version word, and writes them to\n"
    "OUT.dat as a record that flash takes: 'tarvix-flash flash OUT.dat' puts the controller back\n"
    "as it was. Nothing is written to the controller. Only a boot loader can be read.\n",
    RunBackup};
