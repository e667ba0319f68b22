// tarvix-flash: the command-line companion of the updater, on the controllers attached by USB
// (hidapi, hidraw backend). Ctrl-C during an update stops it as closing the window does.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <iostream>

#include "device/hidapi/hidapi_platform.h"
#include "ui/cli/flash_main.h"
#include "ui/cli/terminal_window_system.h"

namespace {

// Only an update is stopped in order; at any other moment nothing has been written yet and the
// program ends as usual.
void OnInterrupt(int signal) {
  if (g_bUpdateEventsRunning) {
    g_bInterrupted = 1;
    return;
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

}  // namespace

int main(int argc, char** argv) {
  struct sigaction action = {};
  action.sa_handler = OnInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);

  HidapiPlatform platform;
  FlashEnv env;
  env.platform = &platform;
  env.out = &std::cout;
  env.err = &std::cerr;
  env.in = &std::cin;
  env.inFd = STDIN_FILENO;
  env.inIsTerminal = ::isatty(STDIN_FILENO) == 1;
  env.outIsTerminal = ::isatty(STDOUT_FILENO) == 1;
  const char* trace = std::getenv("TARVIX_TRACE");
  env.keepTraces = trace != nullptr && trace[0] != '\0' && trace[0] != '0';
  return FlashMain(argc, argv, env);
}
