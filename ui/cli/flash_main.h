// tarvix-flash's entry, with everything the process gives it passed in, so that tests run the
// real program in the same process: on the virtual controller, in virtual time, with their own
// streams.
#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <optional>

class IClock;
class IHidPlatform;
struct LeftBehindWorkers;

struct FlashEnv {
  IHidPlatform* platform = nullptr;  // the real controllers; --virtual attaches its own
  IClock* clock = nullptr;           // of the --virtual controllers; null: the system clock
  std::ostream* out = nullptr;
  std::ostream* err = nullptr;
  std::istream* in = nullptr;
  int inFd = -1;               // when >= 0, answers are read from it (Ctrl-C is seen meanwhile)
  bool inIsTerminal = false;   // the confirmation can be asked
  bool outIsTerminal = false;  // the progress is a bar redrawn in place
  int columns = 0;             // the terminal's width, for the bar; 0: 80
  bool keepTraces = false;     // the core's trace lines go to stderr (TARVIX_TRACE), as with -v
  std::optional<uint16_t> language;  // of the dialog's texts; unset: the user's
  uint32_t virtualLatencyMs = 1;     // --virtual: one USB frame per reply
  // Counts the updates a signal has asked to stop, once each has been asked (null: not counted),
  // for whoever must wait until a stop has taken effect.
  std::atomic<int>* stopsAsked = nullptr;
  // Keeps what update threads left behind stuck in a system call still use, for as long as the
  // caller lives (null: never destroyed); its count tells the caller to end with _Exit.
  LeftBehindWorkers* leftBehind = nullptr;
};

// Runs one command line (argv[0] is the program). Answers the exit code. One at a time in a
// process: the option parser is the C library's getopt_long, whose state is global.
int FlashMain(int argc, char** argv, const FlashEnv& env);
