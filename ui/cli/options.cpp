#include "ui/cli/options.h"

#include <getopt.h>

#include <sstream>

#include "ui/cli/cli_text.h"

namespace {

const std::vector<Option> kOptions = {
    {"device", 'd', ValueKind::kRequired, "ID", "flash verify backup",
     "the controller whose path, serial number or port path is ID\n(see tarvix-flash list)",
     "devices"},
    {"all", 'a', ValueKind::kNone, nullptr, "flash", "every attached controller, all at once"},
    {"yes", 'y', ValueKind::kNone, nullptr, "flash watch",
     "confirm without asking (needed without a terminal)"},
    {"verify", 0, ValueKind::kNone, nullptr, "flash watch",
     "boot loader: read the image back after writing, before the\nfinishing command, and compare"},
    {"wait", 'w', ValueKind::kOptional, "SECONDS", "flash verify backup",
     "wait for the controller to be plugged in, for SECONDS or for\never (Ctrl-C ends the wait)",
     "", true, 0, 1000000, Say::kWaitSeconds},
    {"count", 0, ValueKind::kRequired, "N", "watch", "end the watch after N results", "", true, 1,
     UINT32_MAX, Say::kCountNumber},
    {"backup", 0, ValueKind::kRequired, "OLD.dat", "flash",
     "boot loader: before erasing, save what the erase destroys and\nthe version word as a "
     "record flash takes; no backup, no erase",
     "files"},
    {"like", 0, ValueKind::kRequired, "FILE.dat", "backup",
     "the firmware file whose record for the controller says which\nregion to save", "files"},
    {"allow-older", 0, ValueKind::kNone, nullptr, "flash watch",
     "write a version older than the controller's"},
    {"allow-reinstall", 0, ValueKind::kNone, nullptr, "flash watch",
     "write the version the controller has already"},
    {"json", 'j', ValueKind::kNone, nullptr, "list info flash verify backup watch",
     "JSON: one document (list, info), or one event a line"},
    {"quiet", 'q', ValueKind::kNone, nullptr, "", "result lines only: no progress"},
    {"verbose", 'v', ValueKind::kNone, nullptr, "",
     "the protocol trace on stderr; -vv adds a line for each report\n(direction, command, address, "
     "length, first bytes)"},
    {"log", 0, ValueKind::kRequired, "FILE", "",
     "append every line, the progress and the protocol trace to\nFILE, each with its time",
     "files"},
    {"virtual", 0, ValueKind::kRequired, "MODES", "",
     "virtual controllers instead of USB, one per mode: boot, app\nor a list (boot,app,boot)",
     "boot app boot,app"},
    {"virtual-state", 0, ValueKind::kRequired, "DIR", "",
     "with --virtual: the virtual controllers keep their memory in\nDIR from one run to the next "
     "(a rehearsal)",
     "files"},
    {"help", 'h', ValueKind::kNone, nullptr, "", "this help"},
    {"version", 'V', ValueKind::kNone, nullptr, "", "the program's version"},
};

// getopt_long's value for the option at index: its short name, or beyond every character.
int ValueOf(size_t index) {
  return kOptions[index].shortName ? kOptions[index].shortName : 256 + static_cast<int>(index);
}

const Option* OptionOfValue(int value) {
  for (size_t i = 0; i < kOptions.size(); ++i) {
    if (ValueOf(i) == value)
      return &kOptions[i];
  }
  return nullptr;
}

// The long options that begin with prefix, for an ambiguous abbreviation.
std::string Candidates(const std::string& prefix) {
  std::string names;
  for (const Option& option : kOptions) {
    if (std::string(option.name).rfind(prefix, 0) == 0)
      names += (names.empty() ? "--" : ", --") + std::string(option.name);
  }
  return names;
}

// Why getopt_long answered '?' for the element it was reading.
std::string Refusal(const std::string& element, int optionValue, uint16_t language) {
  const Option* known = OptionOfValue(optionValue);
  if (known && element.rfind("--", 0) == 0)
    return SayText(Say::kTakesNoValue, language, {"--" + std::string(known->name)});
  if (optionValue != 0)
    return SayText(Say::kUnknownOption, language,
                   {std::string("-") + static_cast<char>(optionValue)});
  const std::string name = element.substr(0, element.find('='));
  const std::string candidates = Candidates(name.substr(2));
  if (name.size() > 2 && candidates.find(',') != std::string::npos)
    return SayText(Say::kAmbiguousOption, language, {name, candidates});
  return SayText(Say::kUnknownOption, language, {name});
}

}  // namespace

bool ParseNumber(const std::string& text, uint64_t min, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 19)  // 19 digits never overflow 64 bits
    return false;
  uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9')
      return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  if (number < min || number > max)
    return false;
  *value = number;
  return true;
}

const std::vector<Option>& Options() {
  return kOptions;
}

bool TakesOption(const Option& option, const std::string& command) {
  std::istringstream commands(option.commands);
  std::string name;
  bool any = true;
  while (commands >> name) {
    any = false;
    if (name == command)
      return true;
  }
  return any;
}

const Option* FindOption(const std::string& name) {
  for (const Option& option : kOptions) {
    if (name == option.name)
      return &option;
  }
  return nullptr;
}

std::string ParseArguments(const std::vector<std::string>& args, uint16_t language,
                           CommandLine* line) {
  std::vector<std::string> copy = {"tarvix-flash"};
  copy.insert(copy.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : copy)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  // ':' first: a missing value answers ':', an unknown option '?'.
  std::string shorts = ":";
  std::vector<option> longs;
  for (size_t i = 0; i < kOptions.size(); ++i) {
    const Option& o = kOptions[i];
    const int kind = o.value == ValueKind::kNone       ? no_argument
                     : o.value == ValueKind::kRequired ? required_argument
                                                       : optional_argument;
    longs.push_back({o.name, kind, nullptr, ValueOf(i)});
    if (o.shortName)
      shorts += std::string(1, o.shortName) + std::string(static_cast<size_t>(kind), ':');
  }
  longs.push_back({nullptr, 0, nullptr, 0});

  // getopt_long starts from the start (optind 0) and says nothing of its own (opterr 0).
  optind = 0;
  opterr = 0;
  const int argc = static_cast<int>(copy.size());
  for (;;) {
    const int value = getopt_long(argc, argv.data(), shorts.c_str(), longs.data(), nullptr);
    if (value == -1)
      break;
    if (value == ':') {
      const Option* option = OptionOfValue(optopt);
      const std::string name = option ? "--" + std::string(option->name) : "?";
      return SayText(Say::kNeedsValue, language, {name});
    }
    const Option* option = value == '?' ? nullptr : OptionOfValue(value);
    if (!option)
      return Refusal(optind > 0 ? argv[static_cast<size_t>(optind - 1)] : "", optopt, language);
    const std::string key = "--" + std::string(option->name);
    uint64_t number = 0;
    // An optional number given without a value (--wait) has none; one given empty (--wait=) is
    // refused as any other value that is no number.
    if (option->number && (optarg || option->value == ValueKind::kRequired) &&
        !ParseNumber(optarg ? optarg : "", option->minNumber, option->maxNumber, &number)) {
      return SayText(option->numberRefusal, language);
    }
    if (option->value == ValueKind::kNone) {
      line->flags.insert(key);
      ++line->repeats[key];
    } else {
      line->values[key] = optarg ? optarg : "";
    }
  }
  for (int i = optind; i < argc; ++i)
    line->words.push_back(argv[static_cast<size_t>(i)]);
  return "";
}

void PrintOptionHelp(std::ostream& out, const std::string& command, uint16_t language) {
  constexpr size_t kHelpColumn = 26;
  auto print = [&](const Option& o) {
    std::string names = o.shortName ? std::string("  -") + o.shortName + ", " : "      ";
    names += "--" + std::string(o.name);
    if (o.value == ValueKind::kRequired)
      names += " " + std::string(o.valueName);
    else if (o.value == ValueKind::kOptional)
      names += "[=" + std::string(o.valueName) + "]";
    names += std::string(names.size() < kHelpColumn ? kHelpColumn - names.size() : 1, ' ');
    const char* text = HelpText(o.help, language);
    std::string help = text ? text : o.help;
    for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1))
      help.insert(at + 1, kHelpColumn, ' ');
    out << names << help << "\n";
  };
  if (!command.empty()) {
    out << SayText(Say::kOptionsHeading, language) << "\n";
    for (const Option& o : kOptions) {
      if (*o.commands && TakesOption(o, command))
        print(o);
    }
  }
  out << SayText(Say::kCommonOptionsHeading, language) << "\n";
  for (const Option& o : kOptions) {
    if (!*o.commands)
      print(o);
  }
}
