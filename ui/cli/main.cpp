// tarvix-flash: the command-line companion of the updater, on the controllers attached by USB
// (hidapi, hidraw backend). Ctrl-C, SIGTERM or SIGHUP during an update stops it as closing the
// window does.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "base/trace.h"
#include "device/hidapi/hidapi_platform.h"
#include "ui/cli/flash_main.h"
#include "ui/cli/stop_state.h"

int main(int argc, char** argv) {
  InstallStopSignals();

  HidapiPlatform platform;
  LeftBehindWorkers leftBehind;
  FlashEnv env;
  env.platform = &platform;
  env.leftBehind = &leftBehind;
  env.out = &std::cout;
  env.err = &std::cerr;
  env.in = &std::cin;
  env.inFd = STDIN_FILENO;
  env.inIsTerminal = ::isatty(STDIN_FILENO) == 1;
  env.outIsTerminal = ::isatty(STDOUT_FILENO) == 1;
  winsize size{};
  if (env.outIsTerminal && ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0)
    env.columns = size.ws_col;
  env.keepTraces = TracesRequested();
  int exitCode = FlashMain(argc, argv, env);
  if (leftBehind.count) {
    // An update thread stuck in a system call still uses the HID platform: end without tearing
    // anything down. Every other controller's update has ended in order by now.
    std::fflush(nullptr);
    std::_Exit(exitCode);
  }
  return exitCode;
}
