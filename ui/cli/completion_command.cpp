// tarvix-flash completion SHELL: the completion script of bash, zsh or fish, written from the
// command and option tables, so that a new option or command completes without another edit. The
// build writes the three scripts with it, and they are installed with the program.
#include <functional>
#include <sstream>

#include "ui/cli/cli.h"
#include "ui/cli/options.h"

namespace {

// What --device completes in zsh and fish: the ids that list shows, as completion devices
// writes them.
constexpr char kDevicesCommand[] = "tarvix-flash completion devices 2>/dev/null";

std::string OneLineHelp(const Option& option) {
  std::string help = option.help;
  for (char& c : help)
    c = c == '\n' ? ' ' : c;
  return help;
}

// text inside single quotes of sh and zsh: ' becomes '\''.
std::string ShQuoted(const std::string& text) {
  std::string quoted;
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted;
}

// "list info ... help", or with another separator: "list|info|...|help".
std::string CommandNames(const std::string& separator = " ") {
  std::string names;
  for (const Command* command : Commands())
    names += std::string(command->name) + separator;
  return names + "help";
}

bool TakesFile(const Command& command) {
  return std::string(command.operands).find(".dat") != std::string::npos;
}

std::string OptionWords(const std::string& command) {
  std::string words;
  for (const Option& o : Options()) {
    if (!TakesOption(o, command))
      continue;
    if (o.shortName)
      words += std::string("-") + o.shortName + " ";
    words += "--" + std::string(o.name) + " ";
  }
  return words;
}

// The bash script needs nothing but bash: bash-completion's _init_completion and _filedir are used
// where they are loaded, and plain compgen otherwise (a script sourced by hand). The controllers
// that --device completes come from "tarvix-flash completion devices", given the --virtual of the
// line typed so far.
void Bash(std::ostream& out) {
  out << "# bash completion for tarvix-flash (tarvix-flash completion bash)\n"
         "_tarvix_flash_files() {\n"
         "  if declare -F _filedir >/dev/null; then _filedir \"$@\"; return; fi\n"
         "  local IFS=$'\\n'\n"
         "  if [[ -n $1 ]]; then\n"
         "    COMPREPLY=($(compgen -d -- \"$cur\") $(compgen -f -X \"!*.$1\" -- \"$cur\"))\n"
         "  else\n"
         "    COMPREPLY=($(compgen -f -- \"$cur\"))\n"
         "  fi\n"
         "}\n"
         "_tarvix_flash() {\n"
         "  local cur prev words cword command= virtual=() i\n"
         "  if declare -F _init_completion >/dev/null; then\n"
         "    _init_completion || return\n"
         "  else\n"
         "    words=(\"${COMP_WORDS[@]}\") cword=$COMP_CWORD cur=${COMP_WORDS[COMP_CWORD]}\n"
         "    prev=${COMP_WORDS[COMP_CWORD-1]}\n"
         "  fi\n"
         "  for ((i = 1; i < cword; i++)); do\n"
         "    case ${words[i]} in\n"
         "      --virtual=*) virtual=(\"${words[i]}\") ;;\n"
         "      --virtual) virtual=(--virtual=\"${words[i+1]}\") ;;\n"
         "      "
      << CommandNames("|") << ") [[ -z $command ]] && command=${words[i]} ;;\n"
      << "    esac\n  done\n  case $prev in\n";
  for (const Option& o : Options()) {
    if (o.value == ValueKind::kNone)
      continue;
    const std::string completes = o.completes;
    out << "    " << (o.shortName ? std::string("-") + o.shortName + "|" : "") << "--" << o.name
        << ") ";
    if (completes == "files")
      out << "_tarvix_flash_files";
    else if (completes == "devices")
      out << "local IFS=$'\\n'; COMPREPLY=($(compgen -W \"$(\"${words[0]}\" \"${virtual[@]}\" "
             "completion devices 2>/dev/null)\" -- \"$cur\"))";
    else
      out << "COMPREPLY=($(compgen -W '" << completes << "' -- \"$cur\"))";
    out << "; return ;;\n";
  }
  out << "  esac\n  if [[ $cur == -* ]]; then\n    case $command in\n";
  for (const Command* command : Commands())
    out << "      " << command->name << ") COMPREPLY=($(compgen -W '" << OptionWords(command->name)
        << "' -- \"$cur\")) ;;\n";
  out << "      *) COMPREPLY=($(compgen -W '" << OptionWords("") << "' -- \"$cur\")) ;;\n"
      << "    esac\n    return\n  fi\n  case $command in\n"
      << "    '') COMPREPLY=($(compgen -W '" << CommandNames() << "' -- \"$cur\")) ;;\n"
      << "    help) COMPREPLY=($(compgen -W '" << CommandNames() << "' -- \"$cur\")) ;;\n";
  for (const Command* command : Commands()) {
    if (TakesFile(*command))
      out << "    " << command->name << ") _tarvix_flash_files dat ;;\n";
    else if (std::string(command->name) == "completion")
      out << "    completion) COMPREPLY=($(compgen -W 'bash zsh fish' -- \"$cur\")) ;;\n";
  }
  out << "  esac\n}\ncomplete -F _tarvix_flash tarvix-flash\n";
}

// One _arguments entry of an option: '(-d --device)'{-d+,--device=}'[help]:PATH:action'.
std::string ZshSpec(const Option& o) {
  const std::string help = "[" + ShQuoted(OneLineHelp(o)) + "]";
  const std::string name = "--" + std::string(o.name);
  const bool value = o.value != ValueKind::kNone;
  std::string action;
  if (value) {
    const std::string completes = o.completes;
    action = ":" + std::string(o.valueName) + ":" +
             (completes == "files"     ? "_files"
              : completes == "devices" ? std::string("_tarvix-flash_devices")
                                       : "(" + completes + ")");
  }
  if (!o.shortName)
    return "'" + name + (value ? "=" : "") + help + action + "'";
  const std::string shortName = std::string("-") + o.shortName;
  return "'(" + shortName + " " + name + ")'{" + shortName + (value ? "+" : "") + "," + name +
         (value ? "=" : "") + "}'" + help + action + "'";
}

void Zsh(std::ostream& out) {
  out << "#compdef tarvix-flash\n# zsh completion for tarvix-flash (tarvix-flash completion zsh)\n"
         "_tarvix-flash_devices() {\n  local -a ids=(${(f)\"$("
      << kDevicesCommand
      << ")\"})\n  compadd -a ids\n}\n"
         "_tarvix-flash() {\n  local curcontext=$curcontext state line\n"
         "  local -a commands=(\n";
  for (const Command* command : Commands())
    out << "    '" << command->name << ":" << ShQuoted(command->summary) << "'\n";
  out << "    'help:the help of a command'\n  )\n  _arguments -C";
  for (const Option& o : Options()) {
    if (!*o.commands)
      out << " \\\n    " << ZshSpec(o);
  }
  out << " \\\n    '1:command:->command' '*::argument:->argument'\n"
         "  case $state in\n    command) _describe command commands ;;\n"
         "    argument)\n      case $line[1] in\n";
  for (const Command* command : Commands()) {
    out << "        " << command->name << ") _arguments";
    for (const Option& o : Options()) {
      if (TakesOption(o, command->name))
        out << " \\\n            " << ZshSpec(o);
    }
    if (TakesFile(*command))
      out << " \\\n            '1:firmware file:_files -g \"*.dat\"'";
    else if (std::string(command->name) == "completion")
      out << " \\\n            '1:shell:(bash zsh fish)'";
    out << " ;;\n";
  }
  out << "        help) _describe command commands ;;\n      esac ;;\n  esac\n}\n"
         "_tarvix-flash \"$@\"\n";
}

void Fish(std::ostream& out) {
  out << "# fish completion for tarvix-flash (tarvix-flash completion fish)\n"
         "set -l commands "
      << CommandNames()
      << "\ncomplete -c tarvix-flash -f\n"
         "complete -c tarvix-flash -n \"not __fish_seen_subcommand_from $commands\" -a help -d "
         "'the help of a command'\n"
         "complete -c tarvix-flash -n \"__fish_seen_subcommand_from help\" -a \"$commands\"\n";
  auto quoted = [](const std::string& text) {
    std::string q;
    for (char c : text)
      q += c == '\'' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return "'" + q + "'";
  };
  for (const Command* command : Commands()) {
    out << "complete -c tarvix-flash -n \"not __fish_seen_subcommand_from $commands\" -a "
        << command->name << " -d " << quoted(command->summary) << "\n";
    const std::string when = " -n \"__fish_seen_subcommand_from " + std::string(command->name);
    if (TakesFile(*command))
      out << "complete -c tarvix-flash" << when << "\" -k -a \"(__fish_complete_suffix .dat)\"\n";
    else if (std::string(command->name) == "completion")
      out << "complete -c tarvix-flash" << when << "\" -a 'bash zsh fish'\n";
  }
  for (const Option& o : Options()) {
    out << "complete -c tarvix-flash";
    if (*o.commands)
      out << " -n \"__fish_seen_subcommand_from " << o.commands << "\"";
    if (o.shortName)
      out << " -s " << o.shortName;
    out << " -l " << o.name;
    const std::string completes = o.completes;
    if (completes == "files")
      out << " -r -F";
    else if (completes == "devices")
      out << " -x -a \"(" << kDevicesCommand << ")\"";
    else if (o.value != ValueKind::kNone)
      out << " -x -a " << quoted(completes);
    out << " -d " << quoted(OneLineHelp(o)) << "\n";
  }
}

// The ids --device takes, one a line, as list shows them: serial numbers, port paths, then paths.
// Nothing is opened for a conversation: a key press must not wait for a controller.
int CompleteDevices(const Cli& cli) {
  const std::vector<ControllerInterface> controllers = ListedControllers(cli);
  for (auto field :
       {&ControllerInterface::serial, &ControllerInterface::portPath, &ControllerInterface::path}) {
    for (const ControllerInterface& c : controllers) {
      if (!(c.*field).empty())
        cli.out << c.*field << "\n";
    }
  }
  return kExitOk;
}

int RunCompletion(const Cli& cli, const CommandLine& line) {
  const std::string shell = line.words.size() == 1 ? line.words[0] : "";
  if (shell == "devices")
    return CompleteDevices(cli);
  std::ostringstream script;
  if (shell == "bash")
    Bash(script);
  else if (shell == "zsh")
    Zsh(script);
  else if (shell == "fish")
    Fish(script);
  else
    return cli.Fail(kExitRefused, "completion: give one shell: bash, zsh or fish");
  cli.out << script.str();
  return kExitOk;
}

}  // namespace

const Command kCompletionCommand{
    "completion", "SHELL", "the completion script of a shell: bash, zsh or fish",
    "Writes the completion script of SHELL (bash, zsh or fish) for tarvix-flash's commands and\n"
    "options. The packages install all three; by hand, for example:\n"
    "  tarvix-flash completion bash > ~/.local/share/bash-completion/completions/tarvix-flash\n"
    "or, in bash alone: source <(tarvix-flash completion bash).\n"
    "tarvix-flash completion devices writes the serial numbers, port paths and paths of the\n"
    "attached controllers, one a line: what the scripts offer after --device.\n",
    RunCompletion};
