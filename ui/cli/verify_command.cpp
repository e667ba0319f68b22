// tarvix-flash verify FILE.dat: reads a boot loader's image back and compares it with the record of
// the file it would take, without writing anything.
#include "base/wide_string.h"
#include "ui/cli/cli.h"
#include "ui/cli/controller_session.h"

namespace {

int RunVerify(const Cli& cli, const CommandLine& line) {
  if (line.words.size() != 1)
    return cli.Fail(kExitRefused,
                    "verify: give one firmware file (see tarvix-flash verify --help)");
  std::vector<std::string> paths;
  if (int exitCode = ChooseControllers(cli, line, &paths))
    return exitCode;
  const std::string& path = paths.front();
  ControllerSession session(path, TerminalFor(cli, line));
  if (!session.Open()) {
    return OpenFailure(cli, path, session.m_dlg.m_Hid.m_nLastOpenResult,
                       session.m_dlg.m_Hid.m_LastError);
  }
  if (!session.IsBootLoader()) {
    return cli.Fail(kExitFailed, path +
                                     ": a controller running its firmware cannot be read back "
                                     "(put it in its boot loader)");
  }
  session.m_dlg.m_strFirmwarePath = FileArgument(line.words[0]);
  RecordRefusal refusal = session.m_dlg.LoadFirmwareRecord();
  if (refusal != RecordRefusal::kNone)
    return cli.Fail(kExitRefused, line.words[0] + ": refused: " + RecordRefusalText(refusal));
  if (!session.m_dlg.LoadConfirmedImage())
    return cli.Fail(kExitFailed, line.words[0] + ": " + session.m_dlg.m_failureCause);
  CUpdateDlg::ImageCheck check;
  if (!session.Verify(&check))
    return cli.Fail(kExitFailed, path + ": verify failed: " + ImageCheckText(check));
  session.m_window.PrintLine(path + ": " + ImageCheckText(check) + " (" +
                             std::to_string(session.m_dlg.m_imageSize) + " bytes)");
  return kExitOk;
}

}  // namespace

const Command kVerifyCommand{
    "verify",
    "read a boot loader's image back and compare it with a firmware file",
    "usage: tarvix-flash verify FILE.dat [--device ID]\n"
    "Reads the image of the controller (the only one attached, or ID) back and compares it with\n"
    "the record of FILE.dat that it would take. Only a boot loader can be read back.\n"
    "  --device ID    the controller whose path, serial number or port path is ID (see list)\n",
    {},
    {"--device"},
    RunVerify};
