// tarvix-flash verify FILE.dat: reads a boot loader's image back and compares it with the record of
// the file it would take, without writing anything.
#include "base/wide_string.h"
#include "ui/cli/cli.h"
#include "ui/cli/controller_session.h"

namespace {

Result VerifyOne(const Cli& cli, const CommandLine& line, const std::string& path) {
  ControllerSession session(path, TerminalFor(cli, line));
  if (!session.Open())
    return OpenFailure(cli, session.Run().m_Hid.m_nLastOpenResult, session.Run().m_Hid.m_LastError);
  if (!session.IsBootLoader())
    return {kExitFailed, "failed", "no-read-back", cli.Text(Say::kCannotReadBack)};
  session.Run().m_strFirmwarePath = FileArgument(line.words[0]);
  RecordRefusal refusal = session.Run().LoadFirmwareRecord();
  if (refusal != RecordRefusal::kNone) {
    return {kExitRefused, "refused", RefusalCause(refusal),
            cli.Text(Say::kRecordRefused, {line.words[0], RefusalText(refusal, cli.language)})};
  }
  if (!session.Run().LoadConfirmedImage())
    return {kExitFailed, "failed", "file-unreadable",
            CauseText(session.Run().m_failureCause, cli.language)};
  CUpdateRun::ImageCheck check;
  if (!session.Verify(&check)) {
    return {kExitFailed, "failed", ImageCheckCause(check),
            cli.Text(Say::kVerifyFailed, {CheckText(check, cli.language)})};
  }
  return {kExitOk, "done", nullptr,
          cli.Text(Say::kReadsBack,
                   {CheckText(check, cli.language), std::to_string(session.Run().m_imageSize)})};
}

int RunVerify(const Cli& cli, const CommandLine& line) {
  if (line.words.size() != 1)
    return cli.Fail(kExitRefused, cli.Text(Say::kGiveOneFile, {"verify"}));
  std::vector<std::string> paths;
  if (int exitCode = ChooseControllers(cli, line, &paths))
    return exitCode;
  return Report(cli, paths.front(), VerifyOne(cli, line, paths.front()));
}

}  // namespace

const Command kVerifyCommand{
    "verify", "FILE.dat", "read a boot loader's image back and compare it with a firmware file",
    "Reads the image of the controller (the only one attached, or --device ID) back and\n"
    "compares it with the record of FILE.dat that it would take. Only a boot loader can be read\n"
    "back.\n",
    RunVerify};
