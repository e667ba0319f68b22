// tarvix-flash's options, one table for all of them, and the command line parsed with getopt_long
// as other tools parse theirs: short forms that may be grouped (-ya), --opt=value or --opt value,
// a long option shortened to any unique beginning, options before or after the operands, and --
// ending the options.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "ui/cli/cli.h"

enum class ValueKind { kNone, kRequired, kOptional };

struct Option {
  const char* name;  // "device" for --device
  char shortName;    // 'd' for -d; 0: none
  ValueKind value;
  const char* valueName;  // "PATH" in the help
  const char* commands;   // the commands that take it, separated by blanks; "": every command
  const char* help;       // one line or more (separated by \n)
  // What a shell completes the value with: "files", "devices" (the hidraw nodes), or the words
  // offered, separated by blanks; "": nothing.
  const char* completes = "";
  // A number option: its value is decimal digits only, from minNumber to maxNumber; anything
  // else (blanks, a sign, an empty value, too large) is a usage error naming the option.
  bool number = false;
  uint64_t minNumber = 0;
  uint64_t maxNumber = 0;
  Say numberRefusal = Say::kCount;  // the usage error of a value that is no such number
};

// The value of a number option as ParseArguments took it: digits only, within min..max. False
// for anything else.
bool ParseNumber(const std::string& text, uint64_t min, uint64_t max, uint64_t* value);

// Every option; adding one is one row here.
const std::vector<Option>& Options();
// Whether the command takes the option.
bool TakesOption(const Option& option, const std::string& command);
const Option* FindOption(const std::string& name);

// Splits argv (without the program's name) into the operands (the command first) and the
// options, keyed by their long name with its dashes: "--device". Answers "" or the usage error,
// which names the option at fault, in the language. getopt_long keeps its state in the C
// library's globals: one parse at a time in a process (FlashMain runs one command line at a time).
std::string ParseArguments(const std::vector<std::string>& args, uint16_t language,
                           CommandLine* line);
// The option lines of a command's help (its own options, then those of every command).
void PrintOptionHelp(std::ostream& out, const std::string& command, uint16_t language);
