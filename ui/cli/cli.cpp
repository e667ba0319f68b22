#include "ui/cli/cli.h"

#include <cstdio>

#include "base/wide_string.h"
#include "ui/cli/terminal_window_system.h"
#include "update/update_dlg.h"

int WorseExit(int a, int b) {
  // Ranked from the least to the most telling.
  constexpr int kRank[] = {0, 4, 3, 1, 2};  // by exit code 0..4
  auto rank = [&](int code) { return code >= 0 && code <= 4 ? kRank[code] : 4; };
  return rank(a) >= rank(b) ? a : b;
}

int Cli::Fail(int code, const std::string& line) const {
  std::lock_guard lock(outputMutex);
  err << "tarvix-flash: " << line << "\n" << std::flush;
  return code;
}

std::string VersionFigure(uint16_t version, uint16_t beta) {
  std::string figure = FormatHundredths(version);
  return beta ? figure + " beta" + std::to_string(beta) : figure;
}

std::string VersionText(uint32_t word) {
  if (word == VERSION_UNKNOWN)
    return "unknown";
  std::string figure = word == 0xFFFFFFFF ? std::string("erased")
                                          : VersionFigure(static_cast<uint16_t>(word),
                                                          static_cast<uint16_t>(word >> 16));
  return figure + " (" + Hex(word, 8) + ")";
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

int ChooseControllers(const Cli& cli, const CommandLine& line, std::vector<std::string>* paths) {
  auto device = line.values.find("--device");
  if (device != line.values.end() && line.Has("--all"))
    return cli.Fail(kExitRefused, "--device and --all exclude each other");
  if (device != line.values.end()) {
    // An empty path (an unset variable) must not fall back to the first controller found.
    if (device->second.empty())
      return cli.Fail(kExitRefused,
                      "--device needs a path, a serial number or a port path (see tarvix-flash "
                      "list)");
    paths->push_back(SelectedPath(ListedControllers(cli), device->second));
    return kExitOk;
  }
  std::vector<ControllerInterface> controllers = ListedControllers(cli);
  for (const ControllerInterface& c : controllers)
    paths->push_back(c.path);
  if (paths->empty())
    return cli.Fail(kExitNoDevice, "no controller found");
  if (paths->size() > 1 && !line.Has("--all")) {
    std::string list;
    for (const std::string& path : *paths)
      list += "\n  " + path;
    paths->clear();
    return cli.Fail(kExitRefused,
                    "several controllers are attached; name one with --device (a path, serial "
                    "number or port path), or use --all:" +
                        list);
  }
  return kExitOk;
}

std::string FailureText(const CUpdateDlg& dlg, const std::string& message) {
  std::string text = message.empty() ? "the update did not complete" : message;
  return dlg.m_failureCause.empty() ? text : text + " (" + dlg.m_failureCause + ")";
}

int OpenFailure(const Cli& cli, const std::string& path, HidOpenResult result,
                const std::string& cause) {
  if (result == HidOpenResult::kAccessDenied)
    return cli.Fail(kExitNoAccess, path + ": " + cause);
  if (result == HidOpenResult::kBusy)
    return cli.Fail(kExitFailed, path + ": " + cause);
  return cli.Fail(kExitNoDevice, path + ": " + (cause.empty() ? "no controller found" : cause));
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
  options.outputMutex = &cli.outputMutex;
  options.stopsAsked = cli.env.stopsAsked;
  options.seams = {cli.platform, cli.trace, cli.env.language};
  return options;
}
